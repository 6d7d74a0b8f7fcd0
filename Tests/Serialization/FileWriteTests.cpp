// Saving replaces a file only once the new one is complete.

#include "SampleTypes.h"
#include "SerializationTestSupport.h"

#include "Serialization/AtomicFileWriter.h"
#include "Serialization/Json.h"
#include "Support/TempDirectory.h"
#include "Utility/Format.h"

#include <gmock/gmock.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

namespace {

using namespace Serialization;
using TestSupport::HasOnlyError;

class SafeWrites : public testing::Test {
protected:
    void SetUp() override
    {
        Sample::RegisterSampleTypes(mRegistry);
        mCapture = Sample::MakeSampleCapture(200);
        ErrorList errors;
        ASSERT_TRUE(WriteBinaryFile(BinaryPath(), {mCapture.get()}, errors)) << errors.ToString();
        ASSERT_TRUE(WriteJsonFile(JsonPath(), {mCapture.get()}, errors)) << errors.ToString();
        mBinaryBefore = TestSupport::ReadFile(BinaryPath());
        mJsonBefore = TestSupport::ReadFile(JsonPath());
    }

    std::filesystem::path BinaryPath() const { return mDirectory / "Capture.dat"; }
    std::filesystem::path JsonPath() const { return mDirectory / "Capture.json"; }

    void ExpectPreviousFilesOnly()
    {
        EXPECT_EQ(TestSupport::ReadFile(BinaryPath()), mBinaryBefore);
        EXPECT_EQ(TestSupport::ReadFile(JsonPath()), mJsonBefore);
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(mDirectory.GetPath()))
            ++entries;
        EXPECT_EQ(entries, 2u); // no temporary file left behind
    }

    RTTI::Registry mRegistry;
    TestSupport::TempDirectory mDirectory;
    std::unique_ptr<Sample::Capture> mCapture;
    std::string mBinaryBefore;
    std::string mJsonBefore;
};

TEST_F(SafeWrites, ASaveThatFailsWhileOrBeforeWritingKeepsThePreviousFile)
{
    // A file size limit makes the operating system refuse the write half-way through.
    struct rlimit previous {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit small = previous;
    small.rlim_cur = 4096;
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto larger = Sample::MakeSampleCapture(400);
    ErrorList binaryErrors;
    ErrorList jsonErrors;
    const bool binaryWritten = WriteBinaryFile(BinaryPath(), {larger.get()}, binaryErrors);
    const bool jsonWritten = WriteJsonFile(JsonPath(), {larger.get()}, jsonErrors);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(binaryWritten);
    EXPECT_TRUE(HasOnlyError(binaryErrors, EErrorCode::WriteFailed,
                             Utility::Format("Unable to write file %s", BinaryPath().c_str())));
    EXPECT_FALSE(jsonWritten);
    EXPECT_TRUE(HasOnlyError(jsonErrors, EErrorCode::WriteFailed,
                             Utility::Format("Unable to write file %s", JsonPath().c_str())));
    ExpectPreviousFilesOnly();

    // A save that fails before writing leaves the file alone too.
    mCapture->mModules.push_back(std::make_unique<Sample::UnregisteredModule>()); // a class no registry holds
    ErrorList errors;
    EXPECT_FALSE(WriteBinaryFile(BinaryPath(), {mCapture.get()}, errors));
    mCapture->mModules.pop_back();
    mCapture->mSettings->mScale = std::nanf(""); // JSON cannot hold it
    EXPECT_FALSE(WriteJsonFile(JsonPath(), {mCapture.get()}, errors));
    ExpectPreviousFilesOnly();
}

TEST_F(SafeWrites, ReplacingKeepsPermissionsAndFollowsSymbolicLinks)
{
    std::filesystem::permissions(BinaryPath(), std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::owner_write |
                                                   std::filesystem::perms::group_read);
    const std::filesystem::path link = mDirectory / "Link.dat";
    std::filesystem::create_symlink("Capture.dat", link);
    Sample::Settings settings;
    ErrorList errors;
    ASSERT_TRUE(WriteBinaryFile(link, {&settings}, errors)) << errors.ToString();
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(TestSupport::ReadFile(BinaryPath()), mBinaryBefore);
    EXPECT_EQ(std::filesystem::status(BinaryPath()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    ASSERT_TRUE(ReadBinaryFile(BinaryPath(), mRegistry, RTTI::GetDefaultObjectFactory(), {},
                               EReadMode::Strict, objects, errors))
        << errors.ToString();
    EXPECT_EQ(&objects.at(0)->GetType(), &Sample::Settings::StaticType());
}

} // namespace

namespace {

std::span<const uint8_t> Bytes(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(SyncBatch, TheCommittingFileTakesItsNameOnlyWhenEverythingItPointsToIsOnDisk)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path data = directory / "data.bin";
    const std::filesystem::path commit = directory / "commit.dat";
    std::filesystem::create_directories(directory / "Sub");
    {
        SyncBatch batch;
        SyncBatch::Scope scope(&batch);
        ASSERT_EQ(WriteFileAtomically(data, {Bytes("one")}), EFileWriteResult::Written);
        ASSERT_EQ(WriteFileAtomically(directory / "Sub" / "more.bin", {Bytes("two")}),
                  EFileWriteResult::Written);
        EXPECT_TRUE(batch.Contains(data));
        batch.CommitNext();
        ASSERT_EQ(WriteFileAtomically(commit, {Bytes("points at data")}), EFileWriteResult::Written);
        EXPECT_EQ(TestSupport::ReadFile(commit), "points at data");
        EXPECT_TRUE(batch.GetError().empty());
    }

    // A file of the batch that cannot be flushed (here: gone) stops the commit; the committed
    // file of before stays, and no temporary is left.
    SyncBatch batch;
    SyncBatch::Scope scope(&batch);
    ASSERT_EQ(WriteFileAtomically(data, {Bytes("three")}), EFileWriteResult::Written);
    batch.AddFile(directory / "appended.bin");
    batch.CommitNext();
    EXPECT_EQ(WriteFileAtomically(commit, {Bytes("points at nothing")}), EFileWriteResult::WriteFailed);
    EXPECT_THAT(batch.GetError(), testing::HasSubstr("appended.bin"));
    EXPECT_EQ(TestSupport::ReadFile(commit), "points at data");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory.GetPath()))
        ++entries;
    EXPECT_EQ(entries, 3u); // data.bin, commit.dat, Sub
}

} // namespace
