#include "SerializationTestSupport.h"

#include "Utility/Crc64.h"

#include <cstring>
#include <xxhash.h>

namespace TestSupport {

ReadResult ReadImage(const std::vector<uint8_t>& image, const RTTI::Registry& registry,
                     Serialization::EReadMode mode, const Serialization::CompatibilityHandlerMap& handlers)
{
    ReadResult result;
    result.ok = Serialization::ReadBinaryBuffer(image, registry, RTTI::GetDefaultObjectFactory(), handlers,
                                                mode, result.objects, result.errors);
    return result;
}

std::vector<uint8_t> WriteImage(const std::vector<const RTTI::Object*>& roots)
{
    std::vector<uint8_t> image;
    Serialization::ErrorList errors;
    EXPECT_TRUE(Serialization::WriteBinaryBuffer(roots, image, errors)) << errors.ToString();
    return image;
}

ImageLayout ParseLayout(const std::vector<uint8_t>& image)
{
    ImageLayout layout;
    uint64_t blockSize = 0;
    std::memcpy(&blockSize, image.data() + 8, 8);
    layout.blockStart = 16;
    layout.blockSize = blockSize;
    layout.dataStart = 16 + blockSize;
    uint64_t textLength = 0;
    std::memcpy(&textLength, image.data() + 16, 8);
    layout.schemaText.assign(reinterpret_cast<const char*>(image.data()) + 24, textLength);
    return layout;
}

std::vector<uint8_t> MakeLegacyImage(const std::vector<uint8_t>& image, uint32_t version)
{
    const ImageLayout layout = ParseLayout(image);
    std::vector<uint8_t> legacy(image.begin(), image.begin() + 8);
    std::memcpy(legacy.data() + 4, &version, 4);
    const uint64_t textLength = layout.schemaText.size();
    legacy.insert(legacy.end(), reinterpret_cast<const uint8_t*>(&textLength),
                  reinterpret_cast<const uint8_t*>(&textLength) + 8);
    legacy.insert(legacy.end(), layout.schemaText.begin(), layout.schemaText.end());
    legacy.insert(legacy.end(), image.begin() + static_cast<std::ptrdiff_t>(layout.dataStart), image.end());
    const uint64_t checksum =
        version == 1 ? Utility::Crc64(legacy.data(), legacy.size()) : XXH64(legacy.data(), legacy.size(), 0);
    legacy.insert(legacy.end(), reinterpret_cast<const uint8_t*>(&checksum),
                  reinterpret_cast<const uint8_t*>(&checksum) + 8);
    return legacy;
}

std::string ToText(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> ToBytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

} // namespace TestSupport

#include "SampleTypes.h"

namespace TestSupport {

void ExpectSameCapture(const Sample::Capture& expected, const Sample::Capture& actual)
{
    EXPECT_EQ(actual.mRootFrame, expected.mRootFrame);
    EXPECT_EQ(actual.mThreads, expected.mThreads);
    EXPECT_EQ(actual.mThreadsByID, expected.mThreadsByID);
    EXPECT_EQ(actual.mSelected, expected.mSelected);
    EXPECT_EQ(actual.mLabels, expected.mLabels);
    EXPECT_EQ(actual.mBlob, expected.mBlob);
    ASSERT_EQ(actual.mModules.size(), expected.mModules.size());
    for (std::size_t i = 0; i < expected.mModules.size(); ++i) {
        const Sample::Module* want = expected.mModules[i].get();
        const Sample::Module* got = actual.mModules[i].get();
        ASSERT_EQ(got == nullptr, want == nullptr) << i;
        if (!want)
            continue;
        ASSERT_EQ(&got->GetType(), &want->GetType()) << i; // the dynamic class survives
        EXPECT_EQ(got->mName, want->mName);
        if (auto* native = dynamic_cast<const Sample::NativeModule*>(want)) {
            EXPECT_EQ(static_cast<const Sample::NativeModule*>(got)->mFunctions, native->mFunctions);
            EXPECT_EQ(static_cast<const Sample::NativeModule*>(got)->mPath, native->mPath);
        }
        if (auto* jit = dynamic_cast<const Sample::JITModule*>(want)) {
            EXPECT_EQ(static_cast<const Sample::JITModule*>(got)->mNote, jit->mNote);
            EXPECT_EQ(static_cast<const Sample::JITModule*>(got)->mModuleID, jit->mModuleID);
        }
    }
    ASSERT_EQ(actual.mModulesByName.size(), expected.mModulesByName.size());
    for (const auto& [name, module] : expected.mModulesByName) {
        ASSERT_TRUE(actual.mModulesByName.contains(name));
        EXPECT_EQ(actual.mModulesByName.at(name) == nullptr, module == nullptr) << name;
    }
    ASSERT_EQ(actual.mSettings == nullptr, expected.mSettings == nullptr);
    if (expected.mSettings) {
        EXPECT_EQ(actual.mSettings->mScale, expected.mSettings->mScale);
        EXPECT_EQ(actual.mSettings->mSmall, expected.mSettings->mSmall);
        EXPECT_EQ(actual.mSettings->mMedium, expected.mSettings->mMedium);
        EXPECT_EQ(actual.mSettings->mDefaultState, expected.mSettings->mDefaultState);
        EXPECT_EQ(actual.mSettings->mVisibleStates, expected.mSettings->mVisibleStates);
        EXPECT_EQ(actual.mSettings->mRecentFiles, expected.mSettings->mRecentFiles);
    }
    ASSERT_EQ(actual.mOptionalValue == nullptr, expected.mOptionalValue == nullptr);
    if (expected.mOptionalValue) {
        EXPECT_EQ(*actual.mOptionalValue, *expected.mOptionalValue);
    }
    ASSERT_EQ(actual.mChild == nullptr, expected.mChild == nullptr);
    if (expected.mChild)
        ExpectSameCapture(*expected.mChild, *actual.mChild);
}

void Reseal(std::vector<uint8_t>& image)
{
    const ImageLayout layout = ParseLayout(image);
    auto read64 = [&](std::size_t offset) {
        uint64_t value = 0;
        std::memcpy(&value, image.data() + offset, 8);
        return value;
    };
    std::size_t position = layout.blockStart + 8 + layout.schemaText.size();
    const uint64_t entries = read64(position);
    position += 8;
    for (uint64_t i = 0; i < entries; ++i) {
        position += 8 + read64(position); // type name
        const uint64_t offset = read64(position);
        const uint64_t chunks = read64(position + 16);
        position += 24;
        for (uint64_t c = 0; c < chunks; ++c, position += 24) {
            const uint64_t start = layout.dataStart + offset + read64(position);
            Patch(image, position + 16, XXH64(image.data() + start, read64(position + 8), 0));
        }
    }
    Patch(image, position, XXH64(image.data() + layout.blockStart, position - layout.blockStart, 0));
}

} // namespace TestSupport
