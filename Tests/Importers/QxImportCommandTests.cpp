#include "CaptureReading.h"
#include "Importers/CaptureStackFolder.h"
#include "Importers/FoldedStackCollector.h"
#include "Importers/PerfRecordCommand.h"
#include "Importers/PerfRecorder.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "Importers/PerfWaitReasonMapper.h"
#include "Support/ShellCommand.h"
#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

// The qx commands as users run them: the built binary, its exit codes and messages.

namespace {

using namespace Profiler;

using TestSupport::ShellQuote;

TestSupport::ShellResult RunQx(const TestSupport::TempDirectory& directory, const std::string& arguments)
{
    return TestSupport::RunShell(ShellQuote(QX_BINARY) + " " + arguments, directory.GetPath());
}

std::string FoldText(const std::string& path, const FoldOptions& options)
{
    FoldedStackCollector collector(options);
    PerfScriptParser parser(collector);
    Serialization::ErrorList errors;
    EXPECT_TRUE(PerfScriptReader::Read(path, parser, errors)) << errors.ToString();
    return collector.ToText();
}

TEST(QxImportCommand, ImportedRecordingFoldsLikeItsText)
{
    TestSupport::TempDirectory directory;
    const std::string input = std::string(QX_IMPORTERS_TEST_DATA) + "/demo-small.txt.gz";
    const std::string capture = (directory / "capture").string();

    const auto imported = RunQx(directory, "import " + ShellQuote(input) + " -o " + ShellQuote(capture));
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_THAT(imported.out, testing::HasSubstr("samples of cpu-clock"));

    for (const char* flag : {"tid", "all"}) {
        const auto folded = RunQx(directory, "folded " + ShellQuote(capture) + " --" + flag);
        ASSERT_EQ(folded.exitCode, 0) << folded.err;
        EXPECT_EQ(folded.out, FoldText(input, *FoldOptions::FromFlag(flag))) << flag;
    }

    // The folded text is streamed; a failed write is an error, never a silent short output.
    const auto full = RunQx(directory, "folded " + ShellQuote(capture) + " > /dev/full");
    EXPECT_EQ(full.exitCode, 2);
    EXPECT_THAT(full.err, testing::HasSubstr("cannot write"));

    // Ranges count from the capture's start, not from perf's clock (the machine's uptime).
    auto total = [&](const std::string& range) {
        const auto graph = RunQx(directory, "callgraph " + ShellQuote(capture) + range + " --depth 1");
        EXPECT_EQ(graph.exitCode, 0) << graph.err;
        const std::size_t at = graph.out.find("Total: ");
        return at == std::string::npos ? -1.0 : std::strtod(graph.out.c_str() + at + 7, nullptr);
    };
    const double whole = total("");
    const double firstTenth = total(" --from 0 --to 30");
    EXPECT_GT(firstTenth, 0.0);
    EXPECT_LT(firstTenth, whole);

    // A second import into the same directory is refused and changes nothing.
    const auto again = RunQx(directory, "import " + ShellQuote(input) + " -o " + ShellQuote(capture));
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_THAT(again.err, testing::HasSubstr(capture));
    EXPECT_THAT(again.err, testing::HasSubstr("not an empty directory"));
}

// Every sample a recording (the demo's among them) holds reaches the call graph, those perf
// printed without any frame included; qx process checks it and fails when one is lost.
TEST(QxImportCommand, EveryRecordingProcessesWithAllItsSamples)
{
    TestSupport::TempDirectory directory;
    int recordings = 0;
    std::vector<std::filesystem::path> inputs{QX_DEMO_RECORDING};
    for (const auto& entry : std::filesystem::directory_iterator(QX_IMPORTERS_RECORDINGS))
        if (entry.path().extension() == ".gz")
            inputs.push_back(entry.path());
    for (const std::filesystem::path& input : inputs) {
        const std::string capture = (directory / ("capture" + std::to_string(recordings++))).string();
        const auto imported =
            RunQx(directory, "import " + ShellQuote(input.string()) + " -o " + ShellQuote(capture));
        ASSERT_EQ(imported.exitCode, 0) << input << imported.err;
        const auto processed = RunQx(directory, "process " + ShellQuote(capture));
        EXPECT_EQ(processed.exitCode, 0) << input << processed.err;
    }
    EXPECT_GE(recordings, 11);
}

TEST(QxImportCommand, ExitCodesAndMessagesForBadArguments)
{
    TestSupport::TempDirectory directory;
    const auto noOutput = RunQx(directory, "import x.txt");
    EXPECT_EQ(noOutput.exitCode, 1);
    EXPECT_THAT(noOutput.err, testing::HasSubstr("-o CAPTURE_DIR is required"));
    EXPECT_EQ(RunQx(directory, "import x.txt -o y --interval-ms -3").exitCode, 1);
    EXPECT_EQ(RunQx(directory, "folded").exitCode, 1);
    EXPECT_EQ(RunQx(directory, "folded c --frames").exitCode, 1);

    const std::string missing = (directory / "missing.txt").string();
    const auto unreadable =
        RunQx(directory, "import " + ShellQuote(missing) + " -o " + ShellQuote((directory / "c").string()));
    EXPECT_EQ(unreadable.exitCode, 2);
    EXPECT_THAT(unreadable.err, testing::HasSubstr(missing));
    EXPECT_FALSE(std::filesystem::exists(directory / "c"));

    const std::filesystem::path bad = directory / "bad";
    std::filesystem::create_directories(bad);
    TestSupport::WriteFile(bad / "bad.session", "not a session");
    const auto corrupt = RunQx(directory, "folded " + ShellQuote(bad.string()));
    EXPECT_EQ(corrupt.exitCode, 2);
    EXPECT_THAT(corrupt.err, testing::HasSubstr("bad.session"));
}

// An input without a sample of the chosen event is an error that says what the input held, and
// leaves no capture that would answer every question with zero.
TEST(QxImportCommand, InputsWithoutSamplesFailWithWhatTheyHeld)
{
    TestSupport::TempDirectory directory;
    TestSupport::WriteFile(directory / "garbage.txt", "garbage here\n");
    TestSupport::WriteFile(directory / "one.txt",
                           "app 1/1 1.0: 1000000 cpu-clock:\n\t1000 main (/bin/app)\n\n");
    const struct {
        std::string arguments;
        std::string says;
    } cases[] = {
        {"garbage.txt", "lines that are not perf script text"},
        {"/dev/null", "it is empty"},
        {"one.txt --event cycles", "1 samples of 'cpu-clock'"},
    };
    for (const auto& [arguments, says] : cases) {
        SCOPED_TRACE(arguments);
        const auto result = RunQx(directory, "import " + arguments + " -o capture");
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_THAT(result.err, testing::HasSubstr(says));
        EXPECT_FALSE(std::filesystem::exists(directory / "capture"));
    }
}

// A cut gzip keeps what came before the cut and says so; a retry into what a killed import left
// says what it is and how to remove it.
TEST(QxImportCommand, CutInputsAndKilledImportsAreNamed)
{
    TestSupport::TempDirectory directory;
    const std::string whole = TestSupport::ReadFile(QX_DEMO_RECORDING);
    TestSupport::WriteFile(directory / "cut.txt.gz", whole.substr(0, whole.size() / 3));
    const auto cut = RunQx(directory, "import cut.txt.gz -o cut");
    EXPECT_EQ(cut.exitCode, 2);
    EXPECT_THAT(cut.err, testing::HasSubstr("holds only the"));

    std::filesystem::remove(directory / "cut" / "cut.session"); // what a kill before the end leaves
    const auto retry = RunQx(directory, "import cut.txt.gz -o cut");
    EXPECT_EQ(retry.exitCode, 2);
    EXPECT_THAT(retry.err, testing::HasSubstr("holds an incomplete capture"));
    EXPECT_THAT(retry.err, testing::HasSubstr("rm -r"));
}

/// Why perf cannot record on this machine, or empty.
std::string RecordingProblem()
{
    return PerfRecordCommand::DescribeAccessProblem(PerfRecordCommand::ProbeAccess(), true);
}

// Records the demo program with perf where this machine allows it.
/// The part of the folded samples of `a` that `b` folds the same way (stack and count).
double SharedWeight(const std::string& a, const std::string& b)
{
    auto parse = [](const std::string& text) {
        std::map<std::string, uint64_t> stacks;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (const std::size_t space = line.rfind(' '); space != std::string::npos)
                stacks[line.substr(0, space)] += std::stoull(line.substr(space + 1));
        return stacks;
    };
    const auto left = parse(a), right = parse(b);
    uint64_t total = 0, shared = 0;
    for (const auto& [stack, count] : left) {
        total += count;
        if (auto other = right.find(stack); other != right.end())
            shared += std::min(count, other->second);
    }
    return total == 0 ? 0.0 : static_cast<double>(shared) / static_cast<double>(total);
}

TEST(QxRecordCommand, RecordsTheDemoWithSleepSwitchesOnItsSleeper)
{
    if (const std::string problem = RecordingProblem(); !problem.empty())
        GTEST_SKIP() << "perf cannot record here: " << problem;
    TestSupport::TempDirectory directory;
    const std::string capture = (directory / "recording").string();
    const auto recorded = RunQx(directory, "record -o " + ShellQuote(capture) + " -- " +
                                               ShellQuote(QX_DEMO_PROGRAM) + " --seconds 1");
    if (recorded.exitCode == 2 && recorded.err.find("perf record") != std::string::npos)
        GTEST_SKIP() << "perf is installed but could not record on this machine: " << recorded.err;
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;

    const std::unique_ptr<Session> session = CaptureReading::Load(capture);
    ASSERT_TRUE(session);
    int32_t sleeper = 0;
    for (const Thread& thread : session->GetThreadList())
        if (thread.mThreadName == "sleeper")
            sleeper = thread.mThreadID;
    ASSERT_NE(sleeper, 0) << "no thread named sleeper";

    int sleeps = 0;
    CaptureReading::ForEachEvent(*session, [&](const TraceEvent& event) {
        sleeps += event.kind == ETraceEventKind::ContextSwitchOut &&
                  CaptureReading::Id(event.threadId) == sleeper &&
                  event.GetWaitReason() == PerfWaitReasonMapper::kReasonSleep;
    });
    // 20 ms naps for a second.
    EXPECT_GT(sleeps, 10);

    // The import searched the symbols of the modules its stacks use and kept where each search
    // ended; the demo is built with debug information.
    const std::string demoName = std::filesystem::path(QX_DEMO_PROGRAM).filename().string();
    bool demoFound = false;
    for (const auto& module : session->GetModuleDatabase().GetNativeModules())
        if (module != nullptr && module->mName == demoName) {
            demoFound = true;
            EXPECT_EQ(module->mResolveStatus, NativeModule::EResolveStatus::Resolved);
        }
    EXPECT_TRUE(demoFound);
    EXPECT_THAT(recorded.out, ::testing::HasSubstr(" modules that stacks use)"));
}

// perf script of a large file runs on slices of its time at once; the capture is the same as
// one perf script makes, every one-line record (threads, maps, switches) imported once. Reading
// the file directly gives the same capture but for the ends of a few stacks.
TEST(QxRecordCommand, TimeSlicedPerfScriptAndTheDirectReaderImportTheSameCapture)
{
    if (const std::string problem = RecordingProblem(); !problem.empty())
        GTEST_SKIP() << "perf cannot record here: " << problem;
    TestSupport::TempDirectory directory;
    const std::string data = (directory / "perf.data").string();
    const auto recorded = TestSupport::RunShell(
        "perf record -q -e cpu-clock -F 2000 --switch-events --call-graph dwarf -o " + ShellQuote(data) +
            " -- " + ShellQuote(QX_DEMO_PROGRAM) + " --seconds 1 > /dev/null 2>&1",
        directory.GetPath());
    if (recorded.exitCode != 0)
        GTEST_SKIP() << "perf could not record on this machine";

    auto import = [&](unsigned slices, const char* name, PerfImportStats& stats) {
        PerfRecordPlan plan = PerfRecorder::PlanForDataFile(data);
        plan.scriptSlices = slices;
        plan.viaPerfScript = slices != 0;
        std::string problems;
        Serialization::ErrorList errors;
        EXPECT_TRUE(PerfRecorder::Import(plan, directory / name, {}, stats, problems, errors))
            << errors.ToString();
        std::string folded;
        EXPECT_TRUE(
            CaptureStackFolder::Fold(directory / name, *FoldOptions::FromFlag("tid"), folded, errors));
        return folded;
    };
    PerfImportStats whole, sliced, direct;
    const std::string expected = import(1, "whole", whole);
    EXPECT_EQ(import(3, "sliced", sliced), expected);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(sliced.samples, whole.samples);
    EXPECT_EQ(sliced.switchOuts, whole.switchOuts);
    EXPECT_EQ(sliced.switchIns, whole.switchIns);
    EXPECT_EQ(sliced.threads, whole.threads);
    EXPECT_EQ(sliced.modules, whole.modules);
    EXPECT_EQ(sliced.order.concatenatedRecordings, 0u);

    // Read directly, the same records and nearly every stack the same: perf's unwinder ends some
    // stacks with a frame at the last address (where its walk failed), which the file's own
    // unwinding leaves off or continues past.
    const std::string read = import(0, "direct", direct);
    EXPECT_EQ(direct.samples, whole.samples);
    EXPECT_EQ(direct.switchOuts, whole.switchOuts);
    EXPECT_EQ(direct.switchIns, whole.switchIns);
    EXPECT_EQ(direct.threads, whole.threads);
    EXPECT_GE(SharedWeight(read, expected), 0.9);
}

// SIGTERM and SIGHUP stop a recording like Ctrl-C: perf and the program end, what was recorded
// is imported, and the work directory goes.
TEST(QxRecordCommand, StopSignalsEndTheRecordingCleanly)
{
    if (const std::string problem = RecordingProblem(); !problem.empty())
        GTEST_SKIP() << "perf cannot record here: " << problem;
    for (const char* signal : {"TERM", "HUP"}) {
        SCOPED_TRACE(signal);
        TestSupport::TempDirectory directory;
        std::filesystem::create_directories(directory / "tmp");
        // A program nobody else runs, so that a leftover is easy to find. It keeps a core busy:
        // a sleeping one gives the clock event no sample to import.
        const std::string program = (directory / "qx-stop-test").string();
        std::filesystem::copy_file("/bin/sh", program);
        const auto stopped = TestSupport::RunShell(
            "TMPDIR=" + ShellQuote((directory / "tmp").string()) + " " + ShellQuote(QX_BINARY) +
                " record -o capture -- " + ShellQuote(program) +
                " -c 'while :; do :; done' & pid=$!; "
                // Stop it once the program has run for a second, however long perf took to start.
                "for i in $(seq 300); do pgrep -x qx-stop-test >/dev/null && break; sleep 0.1; done; sleep "
                "1; "
                "kill -" +
                signal + " $pid; wait $pid; echo \"exit $?\"; pgrep -x qx-stop-test || echo none left",
            directory.GetPath());
        if (stopped.err.find("perf record") != std::string::npos &&
            stopped.out.find("exit 2") != std::string::npos)
            GTEST_SKIP() << "perf is installed but could not record on this machine: " << stopped.err;
        EXPECT_THAT(stopped.out, testing::HasSubstr("exit 0")) << stopped.err;
        EXPECT_THAT(stopped.out, testing::HasSubstr("none left")) << stopped.err;
        EXPECT_TRUE(std::filesystem::is_empty(directory / "tmp"));
        EXPECT_TRUE(std::filesystem::exists(directory / "capture"));
    }
}

} // namespace
