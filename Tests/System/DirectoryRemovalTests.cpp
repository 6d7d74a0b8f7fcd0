#include "Support/ErrorAssertions.h"
#include "Support/TempDirectory.h"
#include "System/DirectoryRemoval.h"
#include "Utility/ErrorList.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <optional>

namespace {

namespace fs = std::filesystem;
using Serialization::ErrorList;
using TestSupport::TempDirectory;
using TestSupport::WriteFile;

/// a.txt, b/ (a hidden file, an empty directory), m/locked.txt, z.txt, zz/y.txt: the walk visits
/// them in this order, so a failure at m leaves m, z.txt and zz behind.
fs::path MakeTree(const fs::path& top)
{
    fs::create_directories(top / "b" / "empty");
    fs::create_directories(top / "m");
    fs::create_directories(top / "zz");
    for (const char* file : {"a.txt", "b/.hidden", "m/locked.txt", "z.txt", "zz/y.txt"})
        WriteFile(top / file, "x");
    return top / "m" / "locked.txt";
}

void ExpectStoppedAt(const fs::path& top, const fs::path& failed)
{
    EXPECT_FALSE(fs::exists(top / "a.txt"));
    EXPECT_FALSE(fs::exists(top / "b"));
    EXPECT_TRUE(fs::exists(failed));
    EXPECT_TRUE(fs::exists(top / "z.txt"));
    EXPECT_TRUE(fs::exists(top / "zz" / "y.txt"));
}

TEST(DirectoryRemoval, ClearKeepsTheDirectoryRemoveDeletesItAndMissingIsNothingToDelete)
{
    TempDirectory directory;
    ErrorList errors;
    const fs::path top = directory / "top";
    MakeTree(top);
    EXPECT_EQ(System::ClearDirectory(top, errors), System::kRemoveSucceeded);
    EXPECT_TRUE(fs::is_directory(top));
    EXPECT_TRUE(fs::is_empty(top));
    MakeTree(top);
    EXPECT_EQ(System::RemoveDirectory(top, errors), System::kRemoveSucceeded);
    EXPECT_FALSE(fs::exists(top));

    EXPECT_EQ(System::ClearDirectory(top, errors), System::kRemoveSucceeded);
    EXPECT_EQ(System::RemoveDirectory(top, errors), System::kRemoveSucceeded);
    EXPECT_EQ(System::DeleteFile(top), System::kRemoveSucceeded);
    EXPECT_FALSE(fs::exists(top));
    EXPECT_TRUE(errors.IsEmpty());
}

TEST(DirectoryRemoval, SymbolicLinksAreRemovedNotFollowed)
{
    TempDirectory directory;
    ErrorList errors;
    const fs::path outside = directory / "outside", top = directory / "top";
    fs::create_directories(outside);
    fs::create_directories(top);
    WriteFile(outside / "keep.txt", "keep");
    fs::create_directory_symlink(outside, top / "link-to-dir");
    fs::create_symlink(directory / "nowhere", top / "dangling");
    fs::create_directory_symlink(outside, directory / "link");

    EXPECT_EQ(System::RemoveDirectory(top, errors), System::kRemoveSucceeded);
    EXPECT_EQ(System::RemoveDirectory(directory / "link", errors), System::kRemoveSucceeded);
    EXPECT_FALSE(fs::exists(fs::symlink_status(top)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(directory / "link")));
    EXPECT_TRUE(fs::exists(outside / "keep.txt"));
    EXPECT_TRUE(errors.IsEmpty());
}

TEST(DirectoryRemoval, FailuresOutsideAWalkAreReported)
{
    TempDirectory directory;
    WriteFile(directory / "file", "x");
    EXPECT_EQ(System::DeleteFile(directory / "file"), System::kRemoveSucceeded);
    EXPECT_FALSE(fs::exists(directory / "file"));
    fs::create_directories(directory / "dot" / "sub");
    EXPECT_EQ(System::DeleteFile(directory / "dot"), System::kRemoveFailed);

    // Clearing a regular file is a failure, not "nothing to delete".
    ErrorList errors;
    WriteFile(directory / "plain", "x");
    EXPECT_EQ(System::ClearDirectory(directory / "plain", errors), System::kRemoveFailed);
    // A directory that the system refuses to remove once emptied.
    const fs::path dot = directory / "dot" / ".";
    EXPECT_EQ(System::RemoveDirectory(dot, errors), System::kRemoveFailed);
    EXPECT_FALSE(fs::exists(directory / "dot" / "sub"));
    ASSERT_EQ(errors.GetCount(), 2u);
    EXPECT_EQ(errors.GetErrors()[0].message,
              "An unknown error occurred while deleting directory " + (directory / "plain").string());
    EXPECT_EQ(errors.GetErrors()[1].message, "Could not delete directory " + dot.string());
}

/// Sets the immutable attribute on a file while it lives (needs privileges and a file system
/// that supports it), which even root cannot delete.
class ImmutableFile {
public:
    explicit ImmutableFile(const fs::path& path) : mPath(path), mSet(Change(true)) {}
    ~ImmutableFile()
    {
        if (mSet)
            Change(false);
    }
    bool IsSet() const { return mSet; }

private:
    bool Change(bool on)
    {
        const int fd = open(mPath.c_str(), O_RDONLY);
        int flags = 0;
        bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        return done;
    }

    fs::path mPath;
    bool mSet;
};

TEST(DirectoryRemoval, AnEntryThatCannotBeDeletedStopsTheWalkWithAccessDenied)
{
    // A read-only directory stops a user; root, whom permissions do not stop, an immutable file.
    TempDirectory directory;
    const fs::path top = directory / "top";
    const fs::path locked = MakeTree(top);
    const bool root = geteuid() == 0;
    std::optional<ImmutableFile> immutable;
    if (root) {
        immutable.emplace(locked);
        if (!immutable->IsSet())
            GTEST_SKIP() << "cannot set the immutable attribute here (needs a supporting file system)";
    } else {
        fs::create_directory(top / "m" / "sub");
        fs::permissions(top / "m", fs::perms::owner_read | fs::perms::owner_exec);
    }
    ErrorList errors;
    EXPECT_EQ(System::ClearDirectory(top, errors), System::kRemoveAccessDenied);
    EXPECT_TRUE(TestSupport::HasOnlyError(errors, Serialization::EErrorCode::FileAccess,
                                          "Access to " + locked.string() + " was denied"));
    ExpectStoppedAt(top, locked);
    if (!root) {
        errors.Clear();
        EXPECT_EQ(System::RemoveDirectory(top / "m" / "sub", errors), System::kRemoveAccessDenied);
        EXPECT_TRUE(
            TestSupport::HasOnlyError(errors, Serialization::EErrorCode::FileAccess,
                                      "Access to directory " + (top / "m" / "sub").string() + " was denied"));
    }
}

TEST(DirectoryRemoval, AFileWithAPathTooLongToNameStopsTheWalkWithFailure)
{
    // Fails for any user, root included. Built through descriptors: the path cannot be named.
    TempDirectory directory;
    const fs::path top = directory / "top";
    MakeTree(top);
    fs::create_directory(top / "m-deep");
    const std::string segment(200, 'd');
    int fd = open((top / "m-deep").c_str(), O_RDONLY | O_DIRECTORY);
    fs::path deepest = top / "m-deep";
    while (deepest.string().size() + 1 + segment.size() < PATH_MAX) {
        mkdirat(fd, segment.c_str(), 0755);
        const int child = openat(fd, segment.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = child;
        deepest /= segment;
    }
    close(openat(fd, segment.c_str(), O_CREAT | O_WRONLY, 0644)); // its path exceeds PATH_MAX
    close(fd);

    ErrorList errors;
    EXPECT_EQ(System::RemoveDirectory(top, errors), System::kRemoveFailed);
    EXPECT_TRUE(TestSupport::HasOnlyError(errors, Serialization::EErrorCode::WriteFailed,
                                          "Could not delete file " + (deepest / segment).string()));
    EXPECT_FALSE(fs::exists(top / "m")); // enumerated before "m-deep"
    ExpectStoppedAt(top, top / "m-deep");
}

} // namespace
