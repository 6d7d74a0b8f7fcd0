// JSON object files: the exact text written, both document forms, lenient member handling and
// the message of every rejected document.

#include "SampleTypes.h"
#include "SerializationTestSupport.h"

#include "Serialization/Json.h"
#include "Support/TempDirectory.h"
#include "Utility/Format.h"

#include <cmath>
#include <cstring>
#include <random>

namespace JsonShapes {

class Point : public RTTI::Object {
public:
    QX_RTTI_CLASS(Point);
    float mX = 0.1f;
    int8_t mZ = -1;
    bool mFlag = true;
    Sample::EState mState = static_cast<Sample::EState>(7);
    std::vector<std::string> mTags{"a"};
    std::map<std::string, int32_t> mCounts{{"k", 2}};
    std::unique_ptr<int32_t> mBoxed;
    std::unique_ptr<Point> mNext;
};

} // namespace JsonShapes

QX_RTTI_DEFINE_CLASS(JsonShapes::Point, 1)
{
    type.Property("X", &Point::mX)
        .Property("Z", &Point::mZ)
        .Property("Flag", &Point::mFlag)
        .Property("State", &Point::mState)
        .Property("Tags", &Point::mTags)
        .Property("Counts", &Point::mCounts)
        .Property("Boxed", &Point::mBoxed)
        .Property("Next", &Point::mNext);
}

namespace {

using namespace Serialization;
using TestSupport::HasOnlyError;

class Json : public testing::Test {
protected:
    void SetUp() override
    {
        Sample::RegisterSampleTypes(mRegistry);
        mRegistry.Register<JsonShapes::Point>();
    }

    bool Read(const std::string& text)
    {
        mObjects.clear();
        mErrors.Clear();
        return ReadJson(text, mRegistry, RTTI::GetDefaultObjectFactory(), mObjects, mErrors);
    }

    template <class T> const T& Root(std::size_t index = 0)
    {
        return static_cast<const T&>(*mObjects.at(index));
    }

    RTTI::Registry mRegistry;
    std::vector<std::unique_ptr<RTTI::Object>> mObjects;
    ErrorList mErrors;
};

TEST_F(Json, WritesIndentedDocumentsAndFilesEndWithALineEnd)
{
    JsonShapes::Point point;
    point.mNext = std::make_unique<JsonShapes::Point>();
    point.mNext->mBoxed = std::make_unique<int32_t>(5);
    point.mNext->mState = Sample::EState::Waiting;
    std::string text;
    ASSERT_TRUE(WriteJson({&point}, text, mErrors)) << mErrors.ToString();
    const std::string expected = R"({
    "Objects": [
        {
            "Type": "JsonShapes::Point",
            "X": 0.10000000149011612,
            "Z": -1,
            "Flag": true,
            "State": "<invalid enum value>",
            "Tags": [
                "a"
            ],
            "Counts": [
                {
                    "Key": "k",
                    "Value": 2
                }
            ],
            "Boxed": {},
            "Next": {
                "Type": "JsonShapes::Point",
                "X": 0.10000000149011612,
                "Z": -1,
                "Flag": true,
                "State": "Waiting",
                "Tags": [
                    "a"
                ],
                "Counts": [
                    {
                        "Key": "k",
                        "Value": 2
                    }
                ],
                "Boxed": {
                    "Value": 5
                },
                "Next": {}
            }
        }
    ]
})";
    EXPECT_EQ(text, expected);

    TestSupport::TempDirectory directory;
    ASSERT_TRUE(WriteJsonFile(directory / "Point.json", {&point}, mErrors));
    EXPECT_EQ(TestSupport::ReadFile(directory / "Point.json"), expected + "\n");

    // Reading it back gives the same document; the unnamed enum value cannot be read back.
    std::string next;
    ASSERT_TRUE(WriteJson({point.mNext.get()}, next, mErrors));
    ASSERT_TRUE(Read(next)) << mErrors.ToString();
    EXPECT_EQ(*Root<JsonShapes::Point>().mBoxed, 5);
    EXPECT_FALSE(Read(text));
    EXPECT_TRUE(HasOnlyError(mErrors, EErrorCode::Corrupt, "Invalid value for enum Sample::EState"));
}

TEST_F(Json, RoundTripsTheSampleCapture)
{
    const auto capture = Sample::MakeSampleCapture();
    Sample::Settings settings;
    std::string text;
    ASSERT_TRUE(WriteJson({capture.get(), &settings}, text, mErrors)) << mErrors.ToString();
    ASSERT_TRUE(Read(text)) << mErrors.ToString();
    ASSERT_EQ(mObjects.size(), 2u);
    TestSupport::ExpectSameCapture(*capture, Root<Sample::Capture>(0));
    EXPECT_EQ(&mObjects[1]->GetType(), &Sample::Settings::StaticType());
}

TEST_F(Json, AcceptsABareRootAndIsLenientAboutMembers)
{
    // A settings file whose root is the object itself; members it lacks keep their defaults,
    // members that match nothing are ignored, and a pointer to a class that is gone is null.
    ASSERT_TRUE(Read(R"({"Type": "Sample::Capture", "Unknown": [1, {}], "Blob": [7],
                         "Settings": {"Type": "Sample::Gone", "Port": 1},
                         "Modules": [{"Type": "Sample::JITModule", "Note": "n"}, {"Type": "Sample::Removed"}]})"))
        << mErrors.ToString();
    ASSERT_EQ(mObjects.size(), 1u);
    const auto& capture = Root<Sample::Capture>();
    EXPECT_EQ(capture.mBlob, (std::vector<uint8_t>{7}));
    EXPECT_EQ(capture.mSettings, nullptr);
    ASSERT_EQ(capture.mModules.size(), 2u);
    EXPECT_EQ(static_cast<const Sample::JITModule&>(*capture.mModules[0]).mNote, "n");
    EXPECT_EQ(capture.mModules[1], nullptr);

    ASSERT_TRUE(Read(R"({"Objects": [{"Type": "Sample::Settings", "Port": 9}]})"));
    EXPECT_EQ(Root<Sample::Settings>().mPort, 9);
    EXPECT_EQ(Root<Sample::Settings>().mRecentFiles, std::vector<std::string>());
    EXPECT_EQ(Root<Sample::Settings>().mVisibleStates.size(), 2u);
    // "Objects" that is not an array: the document is read as one root object.
    ASSERT_TRUE(Read(R"({"Type": "Sample::Settings", "Objects": 3, "Port": 4})"));
    EXPECT_EQ(Root<Sample::Settings>().mPort, 4);
    ASSERT_TRUE(Read(R"({"Objects": []})"));
    EXPECT_TRUE(mObjects.empty());
}

TEST_F(Json, ReportsEachRejectedDocument)
{
    const auto settings = [](const std::string& members) {
        return R"({"Objects": [{"Type": "Sample::Settings"}, {"Type": "Sample::Capture", )" + members + "}]}";
    };
    const std::vector<std::tuple<std::string, EErrorCode, std::string>> cases = {
        {"", EErrorCode::Corrupt, "Error parsing json: The document is empty. (line: 1)"},
        {"{\n  \"Type\": 1,\n  \"X\" 2\n}", EErrorCode::Corrupt,
         "Error parsing json: Missing a colon after a name of object member. (line: 3)"},
        {"[]", EErrorCode::Corrupt, "Root JSON value must be an object"},
        {R"({"Type": 3})", EErrorCode::Corrupt, "Unable to find required 'Type' property for object"},
        {R"({"Type": "Sample::Nothing"})", EErrorCode::Corrupt,
         "Unknown object type Sample::Nothing encountered."},
        {R"({"Type": "Sample::EState"})", EErrorCode::Corrupt,
         "Root object Sample::EState is not a compound."},
        {R"({"Type": "Sample::Frame"})", EErrorCode::Corrupt, "Root objects must be of type RTTI::Object"},
        {R"({"Type": "RTTI::Object"})", EErrorCode::Corrupt,
         "Failed to instantiate object of type RTTI::Object."},
        {settings(R"("RootFrame": 1)"), EErrorCode::Corrupt,
         "Expected primitive or enum type for Sample::Frame"},
        {settings(R"("RootFrame": [])"), EErrorCode::Corrupt, "Expected array, map or set type"},
        {settings(R"("Blob": {})"), EErrorCode::Corrupt,
         "Expected compound or pointer type for Array_uint8_t"},
        {settings(R"("Labels": [{"Value": "x"}])"), EErrorCode::Corrupt,
         "Missing Key property for map element"},
        {settings(R"("Threads": [{"State": 1}])"), EErrorCode::Corrupt,
         "Expected enum type for Sample::EState"},
        {settings(R"("Threads": [{"State": "Asleep"}])"), EErrorCode::Corrupt,
         "Invalid value for enum Sample::EState"},
        {settings(R"("Threads": [{"Name": 5}])"), EErrorCode::Corrupt,
         "Invalid value for primitive std::string"},
        {settings(R"("Settings": {"Port": 5})"), EErrorCode::Corrupt,
         "Unable to find required 'Type' property for object"},
        {settings(R"("OptionalValue": {"Other": 5})"), EErrorCode::Corrupt,
         "Unable to find required 'Value' property for object"},
        {settings(R"("Settings": {"Type": "Sample::NativeModule"})"), EErrorCode::Compatibility,
         "Compatibility issue: object of type Sample::NativeModule used to be derived from Sample::Settings "
         "but isn't anymore"},
    };
    for (const auto& [text, code, message] : cases) {
        EXPECT_FALSE(Read(text)) << text;
        EXPECT_TRUE(HasOnlyError(mErrors, code, message)) << text;
        EXPECT_TRUE(mObjects.empty()) << text; // the roots read before the failure are dropped too
    }
}

TEST_F(Json, ObjectsAreMadeByTheCallersFactory)
{
    // Builds settings with context the reader does not have, and refuses native modules.
    class Factory : public RTTI::ObjectFactory {
    public:
        void* Create(const RTTI::Type& type) const override
        {
            if (type.GetName() == "Sample::NativeModule")
                return nullptr;
            if (type.GetName() == "Sample::Settings") {
                auto* settings = new Sample::Settings();
                settings->mRecentFiles = {"from the factory"};
                return settings;
            }
            return RTTI::ObjectFactory::Create(type);
        }
    } factory;
    ASSERT_TRUE(ReadJson(R"({"Type": "Sample::Capture", "Settings": {"Type": "Sample::Settings"}})",
                         mRegistry, factory, mObjects, mErrors));
    EXPECT_EQ(Root<Sample::Capture>().mSettings->mRecentFiles, std::vector<std::string>{"from the factory"});
    EXPECT_FALSE(ReadJson(R"({"Type": "Sample::Capture", "Modules": [{"Type": "Sample::NativeModule"}]})",
                          mRegistry, factory, mObjects, mErrors));
    EXPECT_TRUE(
        HasOnlyError(mErrors, EErrorCode::Corrupt, "Failed to create object of type Sample::NativeModule"));
}

TEST_F(Json, ConvertsNumbersTheWayTheAccessorsDoAndDoublesReadBackExactly)
{
    ASSERT_TRUE(
        Read(R"({"Type": "Sample::Settings", "Small": 300, "Medium": -1.9e30, "Port": 65537.5, "Scale": 1e300,
                         "Enabled": false})"))
        << mErrors.ToString();
    const auto& settings = Root<Sample::Settings>();
    EXPECT_EQ(settings.mSmall, 44); // 300 truncated to 8 bits
    EXPECT_EQ(settings.mMedium, 0); // saturated to INT64_MIN, then truncated to 16 bits
    EXPECT_EQ(settings.mPort, 1);   // 65537 truncated to 16 bits
    EXPECT_TRUE(std::isinf(settings.mScale));
    EXPECT_FALSE(settings.mEnabled);
    EXPECT_FALSE(Read(R"({"Type": "Sample::Settings", "Enabled": 1})"));
    EXPECT_TRUE(HasOnlyError(mErrors, EErrorCode::Corrupt, "Invalid value for primitive bool"));

    // Doubles read back exactly.
    // Random bit patterns (fixed seed) cover denormals and every exponent.
    std::mt19937_64 random(7);
    Sample::Capture capture;
    while (capture.mThreads.size() < 500) {
        const uint64_t bits = random();
        double value = 0;
        std::memcpy(&value, &bits, sizeof(value));
        if (!std::isfinite(value))
            continue;
        Sample::ThreadInfo thread;
        thread.mStartTimeMs = value;
        thread.mEndTimeMs = -value / 3;
        capture.mThreads.push_back(thread);
    }
    std::string text;
    ASSERT_TRUE(WriteJson({&capture}, text, mErrors)) << mErrors.ToString();
    ASSERT_TRUE(Read(text)) << mErrors.ToString();
    EXPECT_EQ(Root<Sample::Capture>().mThreads, capture.mThreads);

    ASSERT_TRUE(Read(R"({"Type": "Sample::Capture", "Threads": [{"StartTimeMs": 1e-400, "EndTimeMs": -0.0,
                         "Samples": [18446744073709551615, 18446744073709551616, -1]}]})"))
        << mErrors.ToString();
    const Sample::ThreadInfo& thread = Root<Sample::Capture>().mThreads.at(0);
    EXPECT_EQ(thread.mStartTimeMs, 0.0); // below the smallest double
    EXPECT_TRUE(std::signbit(thread.mEndTimeMs));
    EXPECT_EQ(thread.mSamples, (std::vector<uint64_t>{~0ull, ~0ull, ~0ull})); // too large saturates
    EXPECT_FALSE(Read("{\n  \"Type\": \"Sample::Capture\",\n  \"Threads\": [{\"StartTimeMs\": 2e308}]}"));
    EXPECT_TRUE(HasOnlyError(mErrors, EErrorCode::Corrupt,
                             "Error parsing json: Number too big to be stored in double. (line: 3)"));
}

TEST_F(Json, FileFailuresNameTheFile)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path missing = directory / "missing.json";
    EXPECT_FALSE(ReadJsonFile(missing, mRegistry, RTTI::GetDefaultObjectFactory(), mObjects, mErrors));
    EXPECT_TRUE(HasOnlyError(mErrors, EErrorCode::WriteFailed,
                             Utility::Format("Could not read file %s", missing.c_str())));
    EXPECT_EQ(mErrors.GetErrors().front().context, missing.string());

    mErrors.Clear();
    TestSupport::WriteFile(directory / "broken.json", "{\n\n  \"Type\": \n");
    EXPECT_FALSE(ReadJsonFile(directory / "broken.json", mRegistry, RTTI::GetDefaultObjectFactory(), mObjects,
                              mErrors));
    EXPECT_TRUE(HasOnlyError(mErrors, EErrorCode::Corrupt, "Error parsing json: Invalid value. (line: 4)"));
    EXPECT_EQ(mErrors.GetErrors().front().context, (directory / "broken.json").string());

    mErrors.Clear();
    Sample::Settings settings;
    EXPECT_FALSE(WriteJsonFile(directory / "no" / "such.json", {&settings}, mErrors));
    EXPECT_TRUE(
        HasOnlyError(mErrors, EErrorCode::WriteFailed,
                     Utility::Format("Unable to write file %s", (directory / "no" / "such.json").c_str())));

    // A value JSON cannot hold fails the value, then the object.
    mErrors.Clear();
    settings.mScale = std::nanf("");
    std::string text;
    EXPECT_FALSE(WriteJson({&settings}, text, mErrors));
    ASSERT_EQ(mErrors.GetCount(), 2u);
    EXPECT_EQ(mErrors.GetErrors()[0].message, "Error serializing primitive float");
    EXPECT_EQ(mErrors.GetErrors()[1].message,
              "There was an error serializing object Sample::Settings to json");
}

} // namespace
