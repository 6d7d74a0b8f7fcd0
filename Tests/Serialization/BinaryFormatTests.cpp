// The binary object format: layout, round trips, damage detection, legacy layouts and the
// messages of every rejected input.

#include "SampleTypes.h"
#include "SerializationTestSupport.h"

#include "Support/TempDirectory.h"
#include "Utility/Format.h"

#include <fstream>
#include <xxhash.h>

namespace Layout {

class Tiny : public RTTI::Object {
public:
    QX_RTTI_CLASS(Tiny);
    int16_t mNumber = -2;
    std::string mText = "hi";
    std::vector<uint16_t> mValues{1, 2};
    Sample::EState mState = Sample::EState::Waiting;
    std::unique_ptr<Tiny> mNext;
};

} // namespace Layout

QX_RTTI_DEFINE_CLASS(Layout::Tiny, 1)
{
    type.Property("Number", &Tiny::mNumber)
        .Property("Text", &Tiny::mText)
        .Property("Values", &Tiny::mValues)
        .Property("State", &Tiny::mState)
        .Property("Next", &Tiny::mNext);
}

namespace {

using namespace Serialization;
using TestSupport::HasOnlyError;
using TestSupport::ReadImage;
using TestSupport::WriteImage;

class BinaryFormat : public testing::Test {
protected:
    void SetUp() override
    {
        Sample::RegisterSampleTypes(mRegistry);
        mRegistry.Register<Layout::Tiny>();
    }

    std::filesystem::path WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        TestSupport::WriteFile(mDirectory / name, TestSupport::ToText(bytes));
        return mDirectory / name;
    }

    RTTI::Registry mRegistry;
    TestSupport::TempDirectory mDirectory;
    CompatibilityHandlerMap mNoHandlers;
};

/// Appends little-endian values the way the format lays them out.
struct Bytes {
    std::vector<uint8_t> bytes;
    template <class T> Bytes& Add(T value)
    {
        bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(&value),
                     reinterpret_cast<uint8_t*>(&value) + sizeof(T));
        return *this;
    }
    Bytes& Text(const std::string& text)
    {
        Add<uint64_t>(text.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
};

TEST_F(BinaryFormat, WritesTheDocumentedLayout)
{
    Layout::Tiny tiny;
    const std::vector<uint8_t> image = WriteImage({&tiny});
    ASSERT_GE(image.size(), 16u);
    EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 8),
              (std::vector<uint8_t>{0x5D, 0xC2, 0x50, 0xF4, 4, 0, 0, 0}));

    Bytes record;
    record.Text("Layout::Tiny").Add<uint64_t>(45).Add<int16_t>(-2).Text("hi");
    record.Add<uint64_t>(12).Add<uint64_t>(2).Add<uint16_t>(1).Add<uint16_t>(2); // one block of uint16_t
    record.Add<uint8_t>(2).Text("null");
    Bytes data;
    data.Add<uint64_t>(1);
    data.bytes.insert(data.bytes.end(), record.bytes.begin(), record.bytes.end());

    const TestSupport::ImageLayout layout = TestSupport::ParseLayout(image);
    EXPECT_EQ(
        std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(layout.dataStart), image.end()),
        data.bytes);
    EXPECT_EQ(layout.schemaText.rfind(
                  "{\n    \"Objects\": [\n        {\n            \"Type\": \"Serialization::Schema\"", 0),
              0u);

    Bytes table;
    table.Add<uint64_t>(1)
        .Text("Layout::Tiny")
        .Add<uint64_t>(8)
        .Add<uint64_t>(record.bytes.size())
        .Add<uint64_t>(1);
    table.Add<uint64_t>(0)
        .Add<uint64_t>(record.bytes.size())
        .Add(XXH64(record.bytes.data(), record.bytes.size(), 0));
    const std::size_t tableStart = layout.blockStart + 8 + layout.schemaText.size();
    EXPECT_EQ(
        std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(tableStart),
                             image.begin() + static_cast<std::ptrdiff_t>(tableStart + table.bytes.size())),
        table.bytes);
    const std::size_t checksumAt = layout.dataStart - 8;
    EXPECT_EQ(checksumAt, tableStart + table.bytes.size());
    uint64_t checksum = 0;
    std::memcpy(&checksum, image.data() + checksumAt, 8);
    EXPECT_EQ(checksum, XXH64(image.data() + layout.blockStart, checksumAt - layout.blockStart, 0));

    // The schema describes every type the object uses, with the class's flattened properties.
    BinaryMemoryStreamReader reader(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(),
                                    mNoHandlers);
    ErrorList errors;
    ASSERT_TRUE(reader.Open(image, errors)) << errors.ToString();
    const Schema& schema = *reader.GetSchema();
    const CompoundSchema& tinySchema = *schema.mCompounds.at("Layout::Tiny");
    EXPECT_EQ(tinySchema.mVersion, 1);
    EXPECT_EQ(tinySchema.mFullVersion, Layout::Tiny::StaticType().GetFullVersion());
    std::vector<std::string> properties;
    for (const PropertySchema& property : tinySchema.mProperties)
        properties.push_back(property.mName + ":" + property.mType.mTypeName + ":" +
                             std::to_string(property.mType.mDataType));
    EXPECT_EQ(properties,
              (std::vector<std::string>{"Number:int16_t:1", "Text:std::string:1", "Values:Array_uint16_t:3",
                                        "State:Sample::EState:2", "Next:UniquePtr_Layout::Tiny:5"}));
    EXPECT_EQ(schema.mEnums.at("Sample::EState")->mSizeType.mTypeName, "uint8_t");
    EXPECT_EQ(schema.mEnums.at("Sample::EState")->mValues.at(2).mName, "Waiting");
    EXPECT_EQ(schema.mArrays.at("Array_uint16_t")->mEmbeddedType.mTypeName, "uint16_t");
    EXPECT_EQ(schema.mPointers.at("UniquePtr_Layout::Tiny")->mPointeeType.mTypeName, "Layout::Tiny");
}

TEST_F(BinaryFormat, RoundTripsEveryKindOfValueThroughBuffersAndFiles)
{
    const auto capture = Sample::MakeSampleCapture();
    Sample::Settings settings;
    settings.mPort = 1;
    ErrorList errors;
    const std::filesystem::path path = mDirectory / "Capture.dat";
    ASSERT_TRUE(WriteBinaryFile(path, {&settings, capture.get()}, errors)) << errors.ToString();

    std::vector<std::unique_ptr<RTTI::Object>> fromFile;
    ASSERT_TRUE(ReadBinaryFile(path, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers,
                               EReadMode::Strict, fromFile, errors))
        << errors.ToString();
    auto fromBuffer = ReadImage(TestSupport::ToBytes(TestSupport::ReadFile(path)), mRegistry);
    ASSERT_TRUE(fromBuffer.ok) << fromBuffer.errors.ToString();
    for (const auto* objects : {&fromFile, &fromBuffer.objects}) {
        ASSERT_EQ(objects->size(), 2u);
        EXPECT_EQ(static_cast<const Sample::Settings&>(*(*objects)[0]).mPort, 1);
        TestSupport::ExpectSameCapture(*capture, static_cast<const Sample::Capture&>(*(*objects)[1]));
    }

    BinaryFileReader reader(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers);
    ASSERT_TRUE(reader.Open(path, errors));
    EXPECT_TRUE(reader.Contains<RTTI::Object>());
    EXPECT_FALSE(reader.Contains<Sample::Module>());
    const auto only = reader.ReadObject<Sample::Capture>(errors);
    ASSERT_NE(only, nullptr) << errors.ToString();
    TestSupport::ExpectSameCapture(*capture, *only);
    EXPECT_EQ(reader.ReadObject<Sample::NativeModule>(errors), nullptr);
    EXPECT_TRUE(errors.IsEmpty()) << errors.ToString();
}

TEST_F(BinaryFormat, RejectsBadHeadersNamingTheFileOrBuffer)
{
    const std::vector<uint8_t> good = WriteImage({});
    auto withHeader = [&](uint32_t magic, uint32_t version, std::size_t size) {
        std::vector<uint8_t> bytes = good;
        TestSupport::Patch(bytes, 0, magic);
        TestSupport::Patch(bytes, 4, version);
        bytes.resize(size);
        return bytes;
    };
    std::vector<uint8_t> smallBlock = good;
    TestSupport::Patch<uint64_t>(smallBlock, 8, 7);
    struct Case {
        std::vector<uint8_t> bytes;
        EErrorCode code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {withHeader(0xF450C25D, 4, 7), EErrorCode::Corrupt,
         "The file is corrupt: expected 8 bytes available for reading"},
        {withHeader(0xF450C25D, 4, 8), EErrorCode::Corrupt, "There was an error reading from file"},
        {withHeader(0xF450C25E, 4, 64), EErrorCode::NotThisFormat,
         "The file is not a Quasarix file, or it is corrupted"},
        {withHeader(0xF450C25D, 5, 64), EErrorCode::NewerVersion,
         "The file has an unsupported version number (5)"},
        {withHeader(0xF450C25D, 0, 64), EErrorCode::NewerVersion,
         "The file has an unsupported version number (0)"},
        {smallBlock, EErrorCode::Corrupt, "The file is corrupt: unable to read header"},
    };
    for (const Case& test : cases) {
        const std::filesystem::path path = WriteFile("bad.dat", test.bytes);
        BinaryFileReader reader(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers);
        ErrorList errors;
        EXPECT_FALSE(reader.Open(path, errors));
        EXPECT_TRUE(HasOnlyError(errors, test.code, test.message)) << test.message;
        EXPECT_EQ(errors.GetErrors().front().context, path.string());
    }

    ErrorList errors;
    BinaryFileReader missing(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers);
    EXPECT_FALSE(missing.Open(mDirectory / "missing.dat", errors));
    EXPECT_TRUE(
        HasOnlyError(errors, EErrorCode::FileNotFound,
                     Utility::Format("The file %s does not exist", (mDirectory / "missing.dat").c_str())));
    errors.Clear();
    BinaryFileReader directory(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers);
    EXPECT_FALSE(directory.Open(mDirectory.GetPath(), errors));
    EXPECT_TRUE(
        HasOnlyError(errors, EErrorCode::FileAccess,
                     Utility::Format("Unable to determine size of file %s", mDirectory.GetPath().c_str())));

    // Buffers name themselves, and a block size is never trusted.
    std::vector<uint8_t> hugeBlock = WriteImage({});
    TestSupport::Patch<uint64_t>(hugeBlock, 8, ~0ull >> 1);
    EXPECT_TRUE(HasOnlyError(ReadImage({0x5D, 0xC2, 0x50, 0xF4, 4, 0, 0}, mRegistry).errors,
                             EErrorCode::NotThisFormat,
                             "The buffer is not a Quasarix buffer, or it is corrupted"));
    EXPECT_TRUE(
        HasOnlyError(ReadImage(hugeBlock, mRegistry).errors, EErrorCode::Corrupt,
                     "The buffer is corrupt: expected 9223372036854775807 bytes available for reading"));
}

TEST_F(BinaryFormat, AnyChangedByteOfTheSchemaBlockFailsItsChecksum)
{
    Layout::Tiny tiny;
    const std::vector<uint8_t> image = WriteImage({&tiny});
    const TestSupport::ImageLayout layout = TestSupport::ParseLayout(image);
    for (std::size_t offset = layout.blockStart; offset < layout.dataStart; ++offset) {
        std::vector<uint8_t> damaged = image;
        damaged[offset] ^= 0x20;
        const auto result = ReadImage(damaged, mRegistry);
        ASSERT_TRUE(HasOnlyError(result.errors, EErrorCode::Corrupt,
                                 "The buffer is corrupted: checksum check failed"))
            << "offset " << offset;
    }
}

TEST_F(BinaryFormat, ADamagedObjectFailsReadAllButOnlyItsOwnReadObject)
{
    Sample::Settings settings;
    const auto capture = Sample::MakeSampleCapture();
    std::vector<uint8_t> image = WriteImage({&settings, capture.get()});
    image[image.size() - 3] ^= 0xFF; // inside the capture's record
    std::vector<uint8_t> truncated = WriteImage({&settings, capture.get()});
    truncated.resize(truncated.size() - 3);
    const std::filesystem::path damagedPath = WriteFile("damaged.dat", image);
    const std::filesystem::path truncatedPath = WriteFile("truncated.dat", truncated);
    const std::string mismatch = "Failed to read object. Checksum mismatch.";
    const std::string cut = "Failed to read object. File appears to be truncated.";

    for (const auto& [bytes, message] : {std::pair{image, mismatch}, std::pair{truncated, cut}}) {
        EXPECT_TRUE(HasOnlyError(ReadImage(bytes, mRegistry).errors, EErrorCode::Corrupt, message));
        BinaryMemoryStreamReader reader(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(),
                                        mNoHandlers);
        ErrorList errors;
        ASSERT_TRUE(reader.Open(bytes, errors));
        EXPECT_NE(reader.ReadObject<Sample::Settings>(errors), nullptr);
        EXPECT_EQ(reader.ReadObject<Sample::Capture>(errors), nullptr);
        EXPECT_TRUE(HasOnlyError(errors, EErrorCode::Corrupt, message));
    }
    for (const auto& [path, message] : {std::pair{damagedPath, mismatch}, std::pair{truncatedPath, cut}}) {
        BinaryFileReader reader(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers);
        ErrorList errors;
        ASSERT_TRUE(reader.Open(path, errors));
        std::vector<std::unique_ptr<RTTI::Object>> objects;
        EXPECT_FALSE(reader.ReadAll(objects, errors));
        EXPECT_TRUE(objects.empty());
        EXPECT_TRUE(HasOnlyError(errors, EErrorCode::Corrupt, message));
        errors.Clear();
        EXPECT_NE(reader.ReadObject<Sample::Settings>(errors), nullptr);
        EXPECT_EQ(reader.ReadObject<Sample::Capture>(errors), nullptr);
        // A cut file cannot even supply the record's bytes.
        EXPECT_TRUE(HasOnlyError(errors, EErrorCode::Corrupt,
                                 path == truncatedPath ? "There was an error reading from file" : message));
    }
}

TEST_F(BinaryFormat, ReadsLegacyLayoutsWithEitherChecksum)
{
    const auto capture = Sample::MakeSampleCapture(2);
    const std::vector<uint8_t> image = WriteImage({capture.get()});
    for (uint32_t version : {1u, 2u}) {
        std::vector<uint8_t> legacy = TestSupport::MakeLegacyImage(image, version);
        const std::filesystem::path path = WriteFile("legacy.dat", legacy);
        BinaryFileReader reader(EReadMode::Strict, mRegistry, RTTI::GetDefaultObjectFactory(), mNoHandlers);
        ErrorList errors;
        ASSERT_TRUE(reader.Open(path, errors)) << errors.ToString();
        EXPECT_FALSE(reader.Contains<Sample::Capture>()); // no object table
        EXPECT_EQ(reader.ReadObject<Sample::Capture>(errors), nullptr);
        std::vector<std::unique_ptr<RTTI::Object>> objects;
        ASSERT_TRUE(reader.ReadAll(objects, errors)) << errors.ToString();
        ASSERT_EQ(objects.size(), 1u);
        TestSupport::ExpectSameCapture(*capture, static_cast<const Sample::Capture&>(*objects[0]));

        // A changed byte, or the other version's checksum, fails the whole-file check.
        std::vector<uint8_t> damaged = legacy;
        damaged[damaged.size() / 2] ^= 1;
        std::vector<uint8_t> otherChecksum = TestSupport::MakeLegacyImage(image, 3 - version);
        TestSupport::Patch(otherChecksum, 4, version);
        for (const auto* bytes : {&damaged, &otherChecksum}) {
            ErrorList damageErrors;
            std::vector<std::unique_ptr<RTTI::Object>> none;
            EXPECT_FALSE(ReadBinaryFile(WriteFile("bad.dat", *bytes), mRegistry,
                                        RTTI::GetDefaultObjectFactory(), mNoHandlers, EReadMode::Strict, none,
                                        damageErrors));
            EXPECT_TRUE(HasOnlyError(damageErrors, EErrorCode::Corrupt,
                                     "The buffer is possibly corrupted: CRC check failed"));
        }
    }
}

TEST_F(BinaryFormat, WriterRefusesUnregisteredClassesAndUnopenableFiles)
{
    Sample::UnregisteredModule unregistered;
    auto capture = Sample::MakeSampleCapture(1);
    capture->mModules.push_back(std::make_unique<Sample::UnregisteredModule>()); // nested, behind a pointer
    for (const RTTI::Object* root :
         std::initializer_list<const RTTI::Object*>{&unregistered, capture.get()}) {
        std::vector<uint8_t> image;
        ErrorList errors;
        EXPECT_FALSE(WriteBinaryBuffer({root}, image, errors));
        EXPECT_TRUE(HasOnlyError(
            errors, EErrorCode::WriteFailed,
            "Unable to write compound of type Sample::UnregisteredModule which has not been registered "
            "with the RTTI registry"));
    }
    Layout::Tiny tiny;
    ErrorList errors;
    const std::filesystem::path path = mDirectory / "missing" / "file.dat";
    EXPECT_FALSE(WriteBinaryFile(path, {&tiny}, errors));
    EXPECT_TRUE(HasOnlyError(errors, EErrorCode::WriteFailed,
                             Utility::Format("Unable to open file %s for writing", path.c_str())));
}

TEST_F(BinaryFormat, CountsBeyondTheDataFailWithoutAllocating)
{
    Layout::Tiny tiny;
    const std::vector<uint8_t> image = WriteImage({&tiny});
    const std::size_t dataStart = TestSupport::ParseLayout(image).dataStart;
    const std::size_t recordStart = dataStart + 8;
    const std::size_t valuesCount = recordStart + 20 + 8 + 2 + 10 + 8; // name, size, Number, Text, array size
    const std::vector<std::tuple<std::size_t, uint64_t, std::string>> cases = {
        {dataStart, 0xFFFFFFFF, "The buffer is corrupt: expected 68719476720 bytes available for reading"},
        {valuesCount, 1ull << 60,
         "The buffer is corrupt: expected 2305843009213693952 bytes available for reading"},
        {recordStart + 20, 1ull << 40,
         "The buffer is corrupt: expected 1099511627776 bytes available for reading"},
    };
    for (const auto& [offset, value, message] : cases) {
        std::vector<uint8_t> patched = image;
        TestSupport::Patch(patched, offset, value);
        TestSupport::Reseal(patched);
        EXPECT_TRUE(HasOnlyError(ReadImage(patched, mRegistry).errors, EErrorCode::Corrupt, message))
            << message;
    }
}

TEST_F(BinaryFormat, NestingIsLimitedOnBothSides)
{
    auto chain = [](int depth) {
        auto head = std::make_unique<Layout::Tiny>();
        Layout::Tiny* tail = head.get();
        for (int i = 1; i < depth; ++i)
            tail = (tail->mNext = std::make_unique<Layout::Tiny>()).get();
        return head;
    };
    const auto deep = chain(400);
    const auto result = ReadImage(WriteImage({deep.get()}), mRegistry);
    ASSERT_TRUE(result.ok) << result.errors.ToString();

    const auto tooDeep = chain(600);
    std::vector<uint8_t> image;
    ErrorList errors;
    EXPECT_FALSE(WriteBinaryBuffer({tooDeep.get()}, image, errors));
    EXPECT_TRUE(HasOnlyError(errors, EErrorCode::WriteFailed,
                             "Unable to write objects nested deeper than 512 levels"));
}

} // namespace
