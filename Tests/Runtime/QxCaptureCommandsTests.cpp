// The capture commands of qx end to end, through the built executable: generate, info,
// process, callgraph and functions, their output formats, usage errors and damaged captures.

#include "CaptureTestSupport.h"

#include "RTTI/Registry.h"
#include "Runtime/PluginLoader.h"

#include "Support/Paths.h"
#include "Support/ShellCommand.h"
#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using testing::HasSubstr;
using testing::Not;

using CommandResult = TestSupport::ShellResult;

/// Runs qx with `arguments` (shell words) in `directory`, standard input not a terminal.
CommandResult Qx(const std::filesystem::path& directory, const std::string& arguments)
{
    return TestSupport::RunShell(TestSupport::ShellQuote(QX_QX_EXECUTABLE) + " " + arguments, directory);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

/// Standard error without the progress lines that commands needing the model print first.
std::vector<std::string> ErrorLines(const std::string& err)
{
    std::vector<std::string> lines;
    for (const std::string& line : Lines(err))
        if (line.rfind("Processing", 0) != 0 && line.rfind("Processed ", 0) != 0)
            lines.push_back(line);
    return lines;
}

/// A capture generated through qx once per test program, processed by the first test that needs it.
struct GeneratedCapture {
    GeneratedCapture()
    {
        generate = Qx(directory.GetPath(), "generate -o cap --seconds 8 --threads 3 --seed 9");
    }
    TestSupport::TempDirectory directory;
    CommandResult generate;
};

GeneratedCapture& Capture()
{
    static GeneratedCapture capture;
    return capture;
}

TEST(QxCaptureCommands, GenerateInfoAndProcessTwice)
{
    GeneratedCapture& capture = Capture();
    ASSERT_EQ(capture.generate.exitCode, 0) << capture.generate.err;
    EXPECT_THAT(capture.generate.out, HasSubstr("Wrote cap: "));
    EXPECT_THAT(capture.generate.out, HasSubstr(", 3 threads,"));

    const CommandResult info = Qx(capture.directory.GetPath(), "info cap");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_THAT(info.out, HasSubstr("Capture:          cap/cap.session\n"));
    EXPECT_THAT(info.out, HasSubstr("Platform:         Linux\n"));
    EXPECT_THAT(info.out, HasSubstr("Sample interval:  1.000 ms\n"));
    EXPECT_THAT(info.out, HasSubstr("Threads:          3\n"));
    EXPECT_THAT(info.out, HasSubstr("Modules:          5"));
    EXPECT_THAT(info.out, HasSubstr("Call graph model: not processed"));

    const CommandResult first = Qx(capture.directory.GetPath(), "process cap");
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_THAT(first.out, HasSubstr("Processed "));
    // Not a terminal: plain progress lines, one per tenth.
    EXPECT_THAT(first.err, HasSubstr("Processing: 50%\n"));
    EXPECT_THAT(first.err, HasSubstr("Processing: 100%\n"));
    EXPECT_THAT(first.err, Not(HasSubstr("\r")));
    const auto modelTime = std::filesystem::last_write_time(capture.directory / "cap/CallGraph/Model.dat");

    const CommandResult second = Qx(capture.directory.GetPath(), "process cap");
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, "Already processed: cap/CallGraph\n");
    EXPECT_EQ(second.err, "");
    EXPECT_EQ(std::filesystem::last_write_time(capture.directory / "cap/CallGraph/Model.dat"), modelTime);

    const CommandResult processedInfo = Qx(capture.directory.GetPath(), "info cap");
    EXPECT_THAT(processedInfo.out, HasSubstr("Call graph model: processed (3 threads,"));
}

TEST(QxCaptureCommands, CallGraphAsTextJsonAndFoldedAgree)
{
    GeneratedCapture& capture = Capture();
    ASSERT_EQ(capture.generate.exitCode, 0);
    const std::filesystem::path& directory = capture.directory.GetPath();

    const CommandResult text = Qx(directory, "callgraph cap --depth 2");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const std::vector<std::string> lines = Lines(text.out);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Call graph of cap/cap.session (all threads, whole capture)");
    EXPECT_THAT(lines[3], HasSubstr("Inclusive ms"));

    const CommandResult json = Qx(directory, "callgraph cap --format json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    rapidjson::Document document;
    document.Parse(json.out.c_str());
    ASSERT_FALSE(document.HasParseError());
    ASSERT_TRUE(document["whole_capture"].GetBool());
    EXPECT_EQ(document["threads"].Size(), 3u);
    const rapidjson::Value& top = document["children"];
    ASSERT_GE(top.Size(), 2u);
    double sum = 0.0;
    uint64_t jsonSamples = 0;
    std::vector<const rapidjson::Value*> pending;
    for (const auto& node : top.GetArray()) {
        sum += node["inclusive_ms"].GetDouble();
        pending.push_back(&node);
    }
    EXPECT_NEAR(sum, document["total_ms"].GetDouble(), 1e-6);
    EXPECT_GE(top[0]["inclusive_ms"].GetDouble(), top[1]["inclusive_ms"].GetDouble());
    while (!pending.empty()) {
        const rapidjson::Value& node = *pending.back();
        pending.pop_back();
        jsonSamples += node["samples"].GetUint64();
        double states = 0.0;
        for (const auto& state : node["states"].GetObject())
            states += state.value.GetDouble();
        EXPECT_NEAR(states, node["inclusive_ms"].GetDouble(), 1e-6);
        for (const auto& child : node["children"].GetArray())
            pending.push_back(&child);
    }

    const CommandResult folded = Qx(directory, "callgraph cap --format folded");
    ASSERT_EQ(folded.exitCode, 0) << folded.err;
    uint64_t foldedSamples = 0;
    for (const std::string& line : Lines(folded.out)) {
        const std::size_t space = line.rfind(' ');
        ASSERT_NE(space, std::string::npos) << line;
        foldedSamples += std::stoull(line.substr(space + 1));
        EXPECT_THAT(line.substr(0, space), Not(HasSubstr("+0x")));
    }
    EXPECT_GT(foldedSamples, 10000u);
    EXPECT_EQ(foldedSamples, jsonSamples);

    const CommandResult csv = Qx(directory, "functions cap --format csv");
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const std::vector<std::string> rows = Lines(csv.out);
    ASSERT_GE(rows.size(), 10u);
    EXPECT_EQ(rows[0],
              "function,module,inclusive_ms,exclusive_ms,unknown_executing_ms,unknown_wait_ms,samples");
    uint64_t csvSamples = 0;
    for (std::size_t i = 1; i < rows.size(); ++i)
        csvSamples += std::stoull(rows[i].substr(rows[i].rfind(',') + 1));
    EXPECT_EQ(csvSamples, foldedSamples);
}

TEST(QxCaptureCommands, SelectionsNarrowTheGraphAndTheFunctionList)
{
    GeneratedCapture& capture = Capture();
    ASSERT_EQ(capture.generate.exitCode, 0);
    const std::filesystem::path& directory = capture.directory.GetPath();

    const CommandResult range =
        Qx(directory, "callgraph cap --threads 2001 --from 1000 --to=3000 --format json");
    ASSERT_EQ(range.exitCode, 0) << range.err;
    rapidjson::Document document;
    document.Parse(range.out.c_str());
    ASSERT_FALSE(document.HasParseError());
    EXPECT_FALSE(document["whole_capture"].GetBool());
    EXPECT_EQ(document["from_ms"].GetDouble(), 1000.0);
    ASSERT_EQ(document["threads"].Size(), 1u);
    // One thread for 2000 ms, all of it under its thread's entry.
    EXPECT_NEAR(document["total_ms"].GetDouble(), 2000.0, 1e-6);

    const CommandResult depthOne =
        Qx(directory, "callgraph cap --threads 2000,2002 --depth 1 --min-percent 1");
    ASSERT_EQ(depthOne.exitCode, 0) << depthOne.err;
    EXPECT_THAT(depthOne.out, HasSubstr("(threads 2000,2002, whole capture)"));
    const std::vector<std::string> lines = Lines(depthOne.out);
    EXPECT_EQ(lines.size(), 4u + 2u); // two entry functions, nothing below them

    const CommandResult functions = Qx(directory, "functions cap --top 5 --from 2000 --to 4000");
    ASSERT_EQ(functions.exitCode, 0) << functions.err;
    EXPECT_THAT(functions.out, HasSubstr("Functions of cap/cap.session: 5 of "));
    EXPECT_EQ(Lines(functions.out).size(), 3u + 5u);

    const CommandResult json = Qx(directory, "functions cap --top 3 --format json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    rapidjson::Document list;
    list.Parse(json.out.c_str());
    ASSERT_FALSE(list.HasParseError());
    ASSERT_EQ(list["functions"].Size(), 3u);
    EXPECT_TRUE(list["functions"][0].HasMember("unknown_wait_ms"));
}

TEST(QxCaptureCommands, UsageErrorsExitOneWithTheReason)
{
    const std::filesystem::path& directory = Capture().directory.GetPath();
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"info", "qx info: expected one capture"},
        {"process cap --fast", "qx process: unknown option '--fast'"},
        {"callgraph cap --format xml", "--format is text, json or folded, not 'xml'"},
        {"callgraph cap --depth", "option '--depth' needs a value"},
        {"callgraph cap --depth 0", "--depth wants a positive number"},
        {"callgraph cap --threads 12,x", "--threads wants thread IDs"},
        {"callgraph cap --threads 4242", "the capture has no events of thread 4242"},
        {"callgraph cap --from 5 --to 2", "--from must not be later than --to"},
        {"callgraph cap --from 9000", "--from must not be later than the capture's end (8"},
        {"callgraph cap --min-percent 101", "--min-percent wants a percentage"},
        {"functions cap --top -1", "--top wants a number"},
        {"functions cap --format yaml", "--format is text, json or csv"},
        {"generate", "-o DIR is required"},
        {"generate -o x --threads 0", "--threads wants a count"},
        {"generate -o x --seconds 0", "--seconds wants a length of more than 0"},
    };
    for (const Case& c : cases) {
        const CommandResult result = Qx(directory, c.arguments);
        EXPECT_EQ(result.exitCode, 1) << c.arguments << "\n" << result.err;
        const std::vector<std::string> lines = ErrorLines(result.err);
        ASSERT_FALSE(lines.empty()) << c.arguments;
        EXPECT_THAT(lines.front(), HasSubstr(c.message)) << c.arguments;
        EXPECT_THAT(result.err, HasSubstr("Usage: qx ")) << c.arguments;
        EXPECT_EQ(result.out, "") << c.arguments;
    }
    // Every command has its help; the capture commands (the first five) tell their exit statuses.
    const CommandResult list = Qx(directory, "--help");
    const std::string commands[] = {"info",    "process", "callgraph", "functions", "generate",
                                    "plugins", "import",  "record",    "folded"};
    for (const std::string& command : commands) {
        const CommandResult help = Qx(directory, command + " --help");
        EXPECT_EQ(help.exitCode, 0) << command << "\n" << help.err;
        EXPECT_THAT(help.out, HasSubstr("Usage: qx " + command)) << command;
        if (&command < commands + 5) {
            EXPECT_THAT(help.out, HasSubstr("Exit status:")) << command;
        }
        EXPECT_THAT(list.out, HasSubstr("  " + command + " ")) << command;
    }
}

TEST(QxCaptureCommands, BadCapturesExitTwoWithOneLineNamingTheFile)
{
    TestSupport::TempDirectory directory;
    RuntimeTest::CopyCapture(directory / "damaged");
    std::filesystem::resize_file(directory / "damaged" / "CallstackDatabase.dat", 64);
    RuntimeTest::CopyCapture(directory / "cut");
    std::filesystem::resize_file(directory / "cut" / "events.dat", 1000);
    std::filesystem::create_directory(directory / "empty");
    RuntimeTest::CopyCapture(directory / "existing");
    RuntimeTest::CopyCapture(directory / "nostacks");
    std::filesystem::remove(directory / "nostacks" / "CallstackDatabase.dat");
    RuntimeTest::CopyCapture(directory / "noindex");
    std::filesystem::resize_file(directory / "noindex" / "events.index", 10);
    // Copies keep the session file's name, which follows the generated directory's.
    for (const char* lost : {"capture.session", "events.dat", "events.index"}) {
        RuntimeTest::CopyCapture(directory / ("without-" + std::string(lost)));
        std::filesystem::remove(directory / ("without-" + std::string(lost)) / lost);
    }
    RuntimeTest::CopyCapture(directory / "cutsession");
    std::filesystem::resize_file(directory / "cutsession" / "capture.session", 200);

    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"info missing", "qx info: missing: No such capture directory or session file"},
        {"info empty", "qx info: empty: Not a capture"},
        {"callgraph damaged", "CallstackDatabase.dat"},
        {"process cut", "events.dat"},
        {"functions cut", "events.dat"},
        {"generate -o existing", "is not empty"},
        {"process nostacks", "CallstackDatabase.dat"},
        {"folded nostacks", "CallstackDatabase.dat"},
        {"folded cut", "events.dat"},
        {"folded noindex", "events.index"},
        {"info without-capture.session", "Not a capture"},
        {"info cutsession", "capture.session"},
        {"process without-events.dat", "events.dat"},
        {"process without-events.index", "events.index"},
    };
    for (const Case& c : cases) {
        const CommandResult result = Qx(directory.GetPath(), c.arguments);
        EXPECT_EQ(result.exitCode, 2) << c.arguments << "\n" << result.err;
        // The error is one line of its own.
        const std::vector<std::string> errorLines = ErrorLines(result.err);
        ASSERT_EQ(errorLines.size(), 1u) << c.arguments << "\n" << result.err;
        EXPECT_THAT(errorLines[0], HasSubstr(c.message)) << c.arguments;
    }
    EXPECT_FALSE(std::filesystem::exists(directory / "cut" / "CallGraph" / "Model.dat"));
}

TEST(QxCaptureCommands, FailedReprocessingKeepsTheModelAndGivesAdviceThatCanHelp)
{
    TestSupport::TempDirectory directory;
    RuntimeTest::CopyCapture(directory / "cap");
    ASSERT_EQ(Qx(directory.GetPath(), "process cap").exitCode, 0);
    const CommandResult before = Qx(directory.GetPath(), "callgraph cap --format folded");
    std::filesystem::resize_file(directory / "cap" / "events.dat",
                                 std::filesystem::file_size(directory / "cap" / "events.dat") / 2);
    const CommandResult again = Qx(directory.GetPath(), "process cap --force");
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_THAT(again.err, HasSubstr("events.dat"));
    EXPECT_THAT(again.err, Not(HasSubstr("Snapshots.dat"))); // the damaged file, not the stored model's
    EXPECT_THAT(again.err, HasSubstr("import the recording again; its stored model still answers"));
    EXPECT_THAT(again.err, Not(HasSubstr("--force")));
    EXPECT_FALSE(std::filesystem::exists(directory / "cap" / "CallGraph.building"));
    const CommandResult after = Qx(directory.GetPath(), "callgraph cap --format folded");
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, before.out);
}

TEST(QxCaptureCommands, WriteErrorsOnTheOutputExitNonZero)
{
    GeneratedCapture& capture = Capture();
    ASSERT_EQ(capture.generate.exitCode, 0);
    for (const char* arguments : {"info cap", "callgraph cap --format json", "functions cap", "--help"}) {
        const CommandResult result = Qx(capture.directory.GetPath(), std::string(arguments) + " > /dev/full");
        EXPECT_NE(result.exitCode, 0) << arguments;
        EXPECT_THAT(result.err, HasSubstr("cannot write the output")) << arguments;
    }
}

/// Runs the shell commands at once and returns their exit codes in order.
std::vector<int> RunConcurrently(const std::filesystem::path& directory,
                                 const std::vector<std::string>& commands)
{
    std::string script;
    for (std::size_t i = 0; i < commands.size(); ++i)
        script += "(" + commands[i] + " >out" + std::to_string(i) + " 2>err" + std::to_string(i) +
                  "; echo $? >status" + std::to_string(i) + ") & ";
    TestSupport::RunShell(script + "wait", directory);
    std::vector<int> codes;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        std::ifstream status(directory / ("status" + std::to_string(i)));
        int code = -1;
        status >> code;
        codes.push_back(code);
    }
    return codes;
}

TEST(QxCaptureCommands, ConcurrentWritersNeitherMixNorCorruptACapture)
{
    TestSupport::TempDirectory directory;
    const std::string qx = TestSupport::ShellQuote(QX_QX_EXECUTABLE);
    ASSERT_EQ(Qx(directory.GetPath(), "generate -o cap --seconds 3 --threads 2 --seed 4").exitCode, 0);
    const CommandResult expected = Qx(directory.GetPath(), "callgraph cap --format folded");
    ASSERT_EQ(expected.exitCode, 0) << expected.err;

    // Two forced processings and a query that would process on its own, many times over: each
    // succeeds and the model they leave answers exactly as the first one did.
    for (int trial = 0; trial < 8; ++trial) {
        const std::vector<int> codes =
            RunConcurrently(directory.GetPath(), {qx + " process --force cap", qx + " process --force cap",
                                                  qx + " callgraph cap --from 500 --to 1500"});
        EXPECT_THAT(codes, testing::Each(0)) << "trial " << trial;
        const CommandResult after = Qx(directory.GetPath(), "callgraph cap --format folded");
        ASSERT_EQ(after.exitCode, 0) << after.err;
        EXPECT_EQ(after.out, expected.out) << "trial " << trial;
        EXPECT_FALSE(std::filesystem::exists(directory / "cap" / "CallGraph.building"));
    }

    // Two imports into one new directory: one writes the capture, the other is refused.
    const std::string input = TestSupport::ShellQuote(
        (TestSupport::SourceDirectory() / "Tests/Importers/Data/demo-small.txt.gz").string());
    for (int trial = 0; trial < 6; ++trial) {
        const std::string target = "imported" + std::to_string(trial);
        const std::vector<int> codes =
            RunConcurrently(directory.GetPath(), {qx + " import " + input + " -o " + target,
                                                  qx + " import " + input + " -o " + target});
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 1) << "trial " << trial;
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 2), 1) << "trial " << trial;
        const CommandResult info = Qx(directory.GetPath(), "info " + target);
        EXPECT_EQ(info.exitCode, 0) << "trial " << trial << ": " << info.err;
        EXPECT_THAT(info.out, HasSubstr("Threads:          7\n")) << "trial " << trial;
    }
}

/// The number of types the plugin registers into a fresh registry of this process.
std::size_t RegisteredTypeCount()
{
    Profiler::PluginLoader loader;
    Serialization::ErrorList errors;
    RTTI::Registry registry;
    if (!loader.Load(QX_PLUGIN_MODULE, errors) || !loader.CreatePlugin(registry, "", "", 0, errors))
        return 0;
    const std::size_t count = registry.GetTypes(loader.GetPluginModuleId()).size();
    loader.Unload();
    return count;
}

TEST(QxPlugins, DescribesTheModuleBuiltBesideItOrTellsWhyAPathIsNoPlugin)
{
    TestSupport::TempDirectory directory;
    const CommandResult result = Qx(directory.GetPath(), "plugins");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string canonical = std::filesystem::canonical(QX_PLUGIN_MODULE).string();
    EXPECT_THAT(result.out, HasSubstr("Module:             " + canonical + "\n"));
    EXPECT_THAT(result.out, HasSubstr("Descriptor version: 9\n"));
    EXPECT_THAT(result.out, HasSubstr("Module version:     1.0.7463.3832\n"));
    EXPECT_THAT(result.out, HasSubstr("Plugins:            1\n"));
    EXPECT_THAT(result.out, HasSubstr("Plugin:             ZivuDeverUdovIradir (kind 0)\n"));

    const std::string label = "Registered types:   ";
    const std::size_t at = result.out.find(label);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::stoul(result.out.substr(at + label.size())), RegisteredTypeCount());

    // A path that is no plugin fails with the loader's reason.
    const CommandResult missing = Qx(directory.GetPath(), "plugins /nonexistent/libNothing.so");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_THAT(missing.err,
                HasSubstr("qx plugins: Plugin module /nonexistent/libNothing.so does not exist"));

    const CommandResult tooMany = Qx(directory.GetPath(), "plugins a b");
    EXPECT_EQ(tooMany.exitCode, 1);
    EXPECT_THAT(tooMany.err, HasSubstr("Usage: qx plugins [PATH]"));
}

} // namespace
