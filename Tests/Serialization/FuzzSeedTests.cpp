// Writes the seed corpora of the serialization fuzz targets, and checks that each seed is a
// valid input for them.

#include "SampleTypes.h"
#include "SerializationTestSupport.h"

#include "Serialization/Json.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"

namespace {

using namespace Serialization;

TEST(FuzzSeeds, WritesValidSeedsForTheReaders)
{
    RTTI::Registry registry;
    Sample::RegisterSampleTypes(registry);

    auto small = Sample::MakeSampleCapture(1);
    small->mChild.reset();
    const auto full = Sample::MakeSampleCapture(3);
    Sample::Settings settings;
    const std::vector<std::vector<const RTTI::Object*>> documents = {
        {}, {&settings}, {small.get()}, {full.get()}, {&settings, small.get()}};

    const std::filesystem::path binaryDirectory = TestSupport::FuzzCorpusDirectory("ReadBinaryBufferFuzzer");
    const std::filesystem::path jsonDirectory = TestSupport::FuzzCorpusDirectory("ReadJsonFuzzer");
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const std::vector<uint8_t> image = TestSupport::WriteImage(documents[i]);
        EXPECT_TRUE(TestSupport::ReadImage(image, registry).ok);
        TestSupport::WriteFile(binaryDirectory / ("seed-" + std::to_string(i) + ".bin"),
                               TestSupport::ToText(image));

        std::string text;
        ErrorList errors;
        ASSERT_TRUE(WriteJson(documents[i], text, errors)) << errors.ToString();
        std::vector<std::unique_ptr<RTTI::Object>> objects;
        EXPECT_TRUE(ReadJson(text, registry, RTTI::GetDefaultObjectFactory(), objects, errors))
            << errors.ToString();
        TestSupport::WriteFile(jsonDirectory / ("seed-" + std::to_string(i) + ".json"), text);
    }
    TestSupport::WriteFile(jsonDirectory / "seed-bare.json",
                           R"({"Type": "Sample::Settings", "Port": 7, "VisibleStates": ["Waiting"]})");
}

} // namespace
