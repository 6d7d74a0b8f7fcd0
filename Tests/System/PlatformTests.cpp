#include "Support/TempDirectory.h"
#include "System/Platform/FileSystem.h"
#include "System/Platform/Thread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

namespace Platform = System::Platform;

TEST(Platform, ThreadNamesAreCutToWhatTheSystemKeeps)
{
    std::thread([] {
        Platform::SetCurrentThreadName("Job Scheduler 1");
        EXPECT_EQ(Platform::GetCurrentThreadName(), "Job Scheduler 1");
        Platform::SetCurrentThreadName("Job Scheduler 12");
        EXPECT_EQ(Platform::GetCurrentThreadName(), "Job Scheduler 1");
        // A multi-byte character that would be cut in half is dropped whole.
        Platform::SetCurrentThreadName("abcdefghijklmn\u00e9");
        EXPECT_EQ(Platform::GetCurrentThreadName(), "abcdefghijklmn");
    }).join();
    EXPECT_EQ(Platform::GetMaxThreadNameLength(), 15u);
}

TEST(Platform, FileQueries)
{
    TestSupport::TempDirectory directory;
    const auto file = directory / "data.bin";
    TestSupport::WriteFile(file, "12345");
    EXPECT_TRUE(Platform::FileExists(file));
    EXPECT_FALSE(Platform::IsDirectory(file));
    EXPECT_TRUE(Platform::IsDirectory(directory.GetPath()));
    EXPECT_EQ(Platform::GetFileSize(file), 5);
    EXPECT_FALSE(Platform::IsReadOnly(file));
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    EXPECT_TRUE(Platform::IsReadOnly(file)); // an attribute of the file, whoever asks

    const auto missing = directory / "missing";
    EXPECT_FALSE(Platform::FileExists(missing));
    EXPECT_EQ(Platform::GetFileSize(missing), -1);
    EXPECT_FALSE(Platform::IsReadOnly(missing));
}

} // namespace
