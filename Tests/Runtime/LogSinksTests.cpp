#include "Runtime/LogSinks.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

using Profiler::RotatingFileLogSink;
using TestSupport::ReadFile;

void Write(System::LogSink sink, const std::string& line)
{
    sink.callback(line.c_str(), sink.userData);
}

/// Sets an environment variable for a scope, restoring the former value.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const char* value) : mName(name)
    {
        if (const char* previous = std::getenv(name))
            mPrevious = previous;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvironmentScope()
    {
        if (mPrevious)
            setenv(mName, mPrevious->c_str(), 1);
        else
            unsetenv(mName);
    }

private:
    const char* mName;
    std::optional<std::string> mPrevious;
};

TEST(LogSinks, TheFileSinkRotatesBeforeALineWouldOverflowAndKeepsTheNewestFiles)
{
    TestSupport::TempDirectory directory;
    const std::filesystem::path path = directory / "logs" / "host.log"; // the folder is created
    RotatingFileLogSink file(path, 10, 2);
    Serialization::ErrorList errors;
    ASSERT_TRUE(file.Open(errors)) << errors.ToString();

    for (const char* line : {"aaaa\n", "bbbb\n", "cccc\n", "dddd\n", "eeee\n", "ffff\n", "gggg\n"})
        Write(file.GetSink(), line);

    // Two lines of five bytes fill a file of ten; a third starts a new file. Two old files are
    // kept, so the first file's lines are gone.
    EXPECT_EQ(ReadFile(path), "gggg\n");
    EXPECT_EQ(ReadFile(path.string() + ".1"), "eeee\nffff\n");
    EXPECT_EQ(ReadFile(path.string() + ".2"), "cccc\ndddd\n");
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".3"));

    // A line longer than the limit is written whole into a file of its own.
    Write(file.GetSink(), "a line longer than ten bytes\n");
    EXPECT_EQ(ReadFile(path), "a line longer than ten bytes\n");

    // Reopened, the sink appends and counts what the file already holds.
    RotatingFileLogSink reopened(path, 35, 2);
    ASSERT_TRUE(reopened.Open(errors));
    Write(reopened.GetSink(), "more\n");
    EXPECT_EQ(ReadFile(path), "a line longer than ten bytes\nmore\n");
    Write(reopened.GetSink(), "rest\n");
    EXPECT_EQ(ReadFile(path), "rest\n");
}

TEST(LogSinks, AFileThatCannotBeOpenedLeavesTheConsoleAndAnError)
{
    TestSupport::TempDirectory directory;
    TestSupport::WriteFile(directory / "file", "");
    Profiler::HostLogSinks sinks(directory / "file" / "host.log"); // a file where a folder should be
    EXPECT_EQ(sinks.GetSinks().size(), 1u);
    EXPECT_EQ(sinks.GetErrors().GetCount(), 1u);
    EXPECT_TRUE(sinks.GetLogFilePath().empty());

    Profiler::HostLogSinks both(directory / "host.log");
    EXPECT_EQ(both.GetSinks().size(), 2u);
    EXPECT_EQ(both.GetLogFilePath(), directory / "host.log");
}

TEST(LogSinks, TheStateDirectoryFollowsXdgStateHomeOrFallsBackToHome)
{
    EnvironmentScope home("HOME", "/home/someone");
    {
        EnvironmentScope state("XDG_STATE_HOME", "/var/state");
        EXPECT_EQ(Profiler::GetStateDirectory(), "/var/state/quasarix");
    }
    {
        EnvironmentScope state("XDG_STATE_HOME", "relative/state"); // not absolute: ignored
        EXPECT_EQ(Profiler::GetStateDirectory(), "/home/someone/.local/state/quasarix");
    }
    {
        EnvironmentScope state("XDG_STATE_HOME", nullptr);
        EXPECT_EQ(Profiler::GetStateDirectory(), "/home/someone/.local/state/quasarix");
        EnvironmentScope noHome("HOME", nullptr);
        EXPECT_TRUE(Profiler::GetStateDirectory().empty());
    }
}

} // namespace
