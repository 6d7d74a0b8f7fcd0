#include "Importers/PerfRecordCommand.h"
#include "Support/TempDirectory.h"

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace Profiler;
using testing::HasSubstr;

TEST(PerfRecordCommand, RecordingAndAttachingCommandLines)
{
    PerfRecordOptions options;
    Serialization::ErrorList errors;
    ASSERT_TRUE(PerfRecordCommand::ParseArguments(
        {"-o", "cap", "--frequency", "997", "--", "./demo", "--seconds", "2"}, options, errors))
        << errors.ToString();
    PerfRecordPlan plan = PerfRecordCommand::BuildPlan(options, "/tmp/work");
    EXPECT_EQ(plan.dataFile, "/tmp/work/perf.data");
    EXPECT_THAT(plan.recordArguments,
                testing::ElementsAre("perf", "record", "-o", "/tmp/work/perf.data", "--call-graph", "dwarf",
                                     "-e", "cpu-clock/freq=997,name=cpu-clock/", "-e", "sched:sched_switch",
                                     "--switch-events", "--", "./demo", "--seconds", "2"));
    EXPECT_THAT(plan.scriptArguments,
                testing::ElementsAre("perf", "script", "-i", "/tmp/work/perf.data", "--no-inline", "-F",
                                     "hw:comm,pid,tid,time,period,event,ip,sym,symoff,dso", "-F",
                                     "sw:comm,pid,tid,time,period,event,ip,sym,symoff,dso", "-F",
                                     "trace:comm,pid,tid,time,period,event,ip,sym,symoff,dso,trace",
                                     "--show-task-events", "--show-mmap-events", "--show-switch-events"));

    // Attaching records for the duration with `sleep`; no switches means neither tracepoint nor records.
    ASSERT_TRUE(PerfRecordCommand::ParseArguments(
        {"--pid", "4321", "--duration", "2.5", "--no-switches", "--call-graph", "dwarf", "-o", "cap"},
        options = {}, errors));
    EXPECT_EQ(options.frequencyHz, PerfRecordOptions::kDefaultFrequencyHz);
    EXPECT_THAT(PerfRecordCommand::BuildPlan(options, "w").recordArguments,
                testing::ElementsAre("perf", "record", "-o", "w/perf.data", "--call-graph", "dwarf", "-e",
                                     "cpu-clock/freq=1000,name=cpu-clock/", "-p", "4321", "--", "sleep",
                                     "2.5"));
}

TEST(PerfRecordCommand, AProgramThatCannotRunIsNamed)
{
    EXPECT_THAT(PerfRecordCommand::DescribeProgramProblem("/nonexistent"),
                HasSubstr("/nonexistent: no such file"));
    TestSupport::TempDirectory directory;
    const std::filesystem::path plain = directory / "plain.txt";
    std::ofstream(plain) << "not a program";
    std::filesystem::permissions(plain,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_THAT(PerfRecordCommand::DescribeProgramProblem(plain.string()), HasSubstr("not an executable"));
    EXPECT_THAT(PerfRecordCommand::DescribeProgramProblem("no-such-program-qx"),
                HasSubstr("no such program on PATH"));
    EXPECT_EQ(PerfRecordCommand::DescribeProgramProblem("sh"), "");
}

TEST(PerfRecordCommand, BadCommandLinesSayWhatIsWrong)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--", "./demo"}, "-o CAPTURE_DIR is required"},
        {{"-o"}, "-o needs a value"},
        {{"-o", "c"}, "nothing to record"},
        {{"-o", "c", "--frequency", "0", "--", "x"}, "--frequency must be 1 to 100000 Hz, not '0'"},
        {{"-o", "c", "--frequency", "10k", "--", "x"}, "not '10k'"},
        {{"-o", "c", "--call-graph", "lbr", "--", "x"}, "--call-graph is fp or dwarf, not 'lbr'"},
        {{"-o", "c", "--pid", "12"}, "--pid needs --duration SECONDS"},
        {{"-o", "c", "--pid", "-3", "--duration", "1"}, "--pid needs a process id, not '-3'"},
        {{"-o", "c", "--pid", "3", "--duration", "nan"}, "--duration must be a number of seconds"},
        {{"-o", "c", "--pid", "3", "--duration", "1", "--", "x"}, "either --pid or a program"},
        {{"-o", "c", "--verbose", "--", "x"}, "unknown option '--verbose'"},
    };
    for (const auto& [arguments, message] : cases) {
        PerfRecordOptions options;
        Serialization::ErrorList errors;
        EXPECT_FALSE(PerfRecordCommand::ParseArguments(arguments, options, errors)) << message;
        EXPECT_THAT(errors.ToString(), HasSubstr(message));
    }
}

TEST(PerfRecordCommand, AccessProblemsComeWithTheirFix)
{
    PerfAccess missing;
    EXPECT_THAT(PerfRecordCommand::DescribeAccessProblem(missing, true),
                HasSubstr("sudo apt-get install linux-perf"));

    PerfAccess user{true, false, 2};
    EXPECT_THAT(PerfRecordCommand::DescribeAccessProblem(user, true),
                HasSubstr("sudo sysctl kernel.perf_event_paranoid=-1"));
    EXPECT_THAT(PerfRecordCommand::DescribeAccessProblem(user, true), HasSubstr("--no-switches"));
    EXPECT_THAT(PerfRecordCommand::DescribeAccessProblem(user, false),
                HasSubstr("sudo sysctl kernel.perf_event_paranoid=1"));
    user.paranoid = 1;
    EXPECT_EQ(PerfRecordCommand::DescribeAccessProblem(user, false), "");
    user.paranoid = -1;
    EXPECT_EQ(PerfRecordCommand::DescribeAccessProblem(user, true), "");

    PerfAccess root{true, true, 4};
    EXPECT_EQ(PerfRecordCommand::DescribeAccessProblem(root, true), "");
}

} // namespace
