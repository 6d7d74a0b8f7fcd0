#include "Plugin/PluginTestSupport.h"
#include "Support/AssertionCapture.h"
#include "System/Log.h"
#include "System/LogBuffer.h"
#include "Utility/Assert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using System::LogSink;
using testing::MatchesRegex;

void LogToSinks(const std::vector<LogSink>& sinks, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void LogToSinks(const std::vector<LogSink>& sinks, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    System::LogTo(sinks, format, args);
    va_end(args);
}

constexpr std::size_t kPrefixLength = 12; // "[HH:MM:SS]: "
constexpr const char* kPrefix = R"(\[[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\]: )";

// Each test's collector is the process's only sink while it lives, and puts the former ones back.
using PluginTests::LogCollector;

TEST(Log, LinesCarryTheTimePrefixAndALineFeedUnlessTextIsRaw)
{
    LogCollector log;
    System::Log("%s", "");
    System::Log("loaded %d of %s", 3, "files");
    System::LogText("plain text");
    System::LogText("no prefix, no line feed", false);
    // In the "C" locale a non-ASCII wide character cannot be converted: the formatter fails.
    System::Log("%ls", L"\u00e9t\u00e9");
    const std::vector<std::string> lines = log.GetLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_THAT(lines[0], MatchesRegex(std::string(kPrefix) + "\n"));
    EXPECT_THAT(lines[1], MatchesRegex(std::string(kPrefix) + "loaded 3 of files\n"));
    EXPECT_THAT(lines[2], MatchesRegex(std::string(kPrefix) + "plain text\n"));
    EXPECT_EQ(lines[3], "no prefix, no line feed");
    EXPECT_THAT(lines[4], MatchesRegex(std::string(kPrefix) + "\n"));
}

TEST(Log, SinksAreCalledInOrderAndReplacedByACopy)
{
    struct Named {
        std::string name;
        std::vector<std::string>* calls;
    };
    LogCollector restoresTheSinks;
    std::vector<std::string> calls;
    Named first{"first", &calls}, second{"second", &calls};
    const auto record = [](const char* line, void* self) {
        auto* named = static_cast<Named*>(self);
        named->calls->push_back(named->name + ": " + std::string(line).substr(kPrefixLength));
    };
    std::vector<LogSink> hostList = {{record, &first}, {record, &second}};
    System::InitializeTracing(hostList);
    hostList.clear();                                 // the logger keeps its own copy
    System::InitializeTracing(System::GetLogSinks()); // its own list: no change
    ASSERT_EQ(System::GetLogSinks().size(), 2u);

    System::Log("one");
    EXPECT_EQ(calls, (std::vector<std::string>{"first: one\n", "second: one\n"}));

    // A given list instead of the process-wide one.
    Named third{"third", &calls};
    LogToSinks({{record, &third}}, "%d", 2);
    EXPECT_EQ(calls.back(), "third: 2\n");

    System::InitializeTracing({});
    System::Log("dropped"); // nothing listens, nothing fails
    System::LogText("dropped", false);
    LogToSinks({}, "dropped");
    EXPECT_EQ(calls.size(), 3u);
}

TEST(Log, ALongerMessageGrowsTheThreadBufferOnceAndArrivesWhole)
{
    LogCollector log;
    // A fresh thread starts with an empty buffer.
    std::thread([&] {
        EXPECT_EQ(System::GetThreadLogBuffer().GetSize(), 0u);
        System::Log("short");
        EXPECT_EQ(System::GetThreadLogBuffer().GetSize(), 5u + 258u);
        const std::string longText(5000, 'y');
        System::Log("%s", longText.c_str());
        EXPECT_EQ(System::GetThreadLogBuffer().GetSize(), 5000u + 258u);
        System::LogText(longText.c_str());
        System::Log("short again");
        EXPECT_EQ(System::GetThreadLogBuffer().GetSize(), 5000u + 258u);
    }).join();
    const std::vector<std::string> lines = log.GetLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].size(), kPrefixLength + 5000u + 1u);
    EXPECT_EQ(lines[1].substr(kPrefixLength), std::string(5000, 'y') + "\n");
    EXPECT_EQ(lines[2], lines[1]);
}

TEST(Log, ThreadsLogConcurrentlyWithoutMixingLines)
{
    LogCollector log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                System::Log("thread %d line %d %s", t, i,
                            std::string(static_cast<std::size_t>(i), 'z').c_str());
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::vector<std::string> lines = log.GetLines();
    ASSERT_EQ(lines.size(), 800u);
    for (const std::string& line : lines)
        EXPECT_THAT(line, MatchesRegex(std::string(kPrefix) + "thread [0-3] line [0-9]+ z*\n"));
}

TEST(Log, FailedChecksAreLoggedAsTwoLines)
{
    LogCollector log;
    System::InstallAssertionLogging();
    const int expectedLine = __LINE__ + 1;
    const bool held = QX_ASSERT(1 + 1 == 3, "%d connections left on %s signal", 2, "ThemeChanged");
    QX_FAIL("Could not move registration");
    TestSupport::InstallFailingAssertionHandler();

    EXPECT_FALSE(held);
    const std::vector<std::string> lines = log.GetLines();
    ASSERT_EQ(lines.size(), 4u);
    const std::string where = std::string(" assertion failed at ") + __FILE__ + " (";
    EXPECT_EQ(lines[0].substr(kPrefixLength),
              "\"1 + 1 == 3\"" + where + std::to_string(expectedLine) + "):\n");
    EXPECT_EQ(lines[1].substr(kPrefixLength), "2 connections left on ThemeChanged signal\n");
    EXPECT_EQ(lines[2].substr(kPrefixLength),
              "\"false\"" + where + std::to_string(expectedLine + 1) + "):\n");
    EXPECT_EQ(lines[3].substr(kPrefixLength), "Could not move registration\n");
}

} // namespace
