#include "Command.h"

#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfRecordCommand.h"
#include "Importers/PerfRecorder.h"
#include "Importers/PerfScriptParser.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace Profiler {

namespace {

void PrintRecordErrors(const Serialization::ErrorList& errors)
{
    for (const Serialization::ErrorRecord& error : errors.GetErrors()) {
        // The argument parser's messages name the command already.
        const char* prefix = error.message.starts_with("qx record:") ? "" : "qx record: ";
        std::fprintf(stderr, "%s%s%s%s\n", prefix, error.context.c_str(), error.context.empty() ? "" : ": ",
                     error.message.c_str());
    }
}

/// A private directory for perf's data file, removed with it when the recording is imported.
class WorkDirectory {
public:
    WorkDirectory()
    {
        std::error_code error;
        std::string pattern = (std::filesystem::temp_directory_path(error) / "qx-record-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            mPath = pattern;
    }
    ~WorkDirectory()
    {
        std::error_code error;
        if (!mPath.empty())
            std::filesystem::remove_all(mPath, error);
    }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;
    const std::filesystem::path& GetPath() const { return mPath; }

private:
    std::filesystem::path mPath;
};

} // namespace

int RunRecordCommand(const std::vector<std::string>& arguments)
{
    // --help counts only before "--": after it the arguments are the recorded program's.
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h") {
            std::fputs(PerfRecordCommand::kUsage, stdout);
            std::fputs(
                "\nRuns the program (or attaches to PID for SECONDS) under perf record with call\n"
                "graphs and context switches, then imports the recording into CAPTURE_DIR.\n"
                "Needs perf and permission to use it (root, or kernel.perf_event_paranoid <= 1;\n"
                "context switches need -1 or root).\n"
                "\n"
                "--call-graph dwarf (the default) copies 8 KB of stack with every sample and unwinds it\n"
                "  afterwards: complete stacks through libraries built without frame pointers (most of a\n"
                "  stock Debian system), at about 8 MB of perf data per busy thread and second; the\n"
                "  import unwinds it on all cores, in well under a second per second recorded.\n"
                "--call-graph fp follows frame pointers: tiny samples and a fast import, but a stack\n"
                "  ends at the first function built without them (libc, libstdc++, ...).\n"
                "Inlined functions and source lines come from the programs' debug information.\n",
                stdout);
            return 0;
        }
    }
    PerfRecordOptions options;
    Serialization::ErrorList errors;
    if (!PerfRecordCommand::ParseArguments(arguments, options, errors)) {
        PrintRecordErrors(errors);
        return 1;
    }
    // Refuse before recording: a recording that cannot be stored would be lost.
    std::error_code error;
    const std::filesystem::path capture = options.captureDirectory;
    if (std::filesystem::exists(capture, error) &&
        (!std::filesystem::is_directory(capture, error) || !std::filesystem::is_empty(capture, error))) {
        std::fprintf(stderr,
                     "qx record: %s exists and is not an empty directory; choose a new capture directory "
                     "(nothing was recorded)\n",
                     capture.string().c_str());
        return 2;
    }
    if (!options.program.empty()) {
        const std::string programProblem = PerfRecordCommand::DescribeProgramProblem(options.program.front());
        if (!programProblem.empty()) {
            std::fprintf(stderr, "qx record: %s\n", programProblem.c_str());
            return 2;
        }
    }
    const std::string problem =
        PerfRecordCommand::DescribeAccessProblem(PerfRecordCommand::ProbeAccess(), options.contextSwitches);
    if (!problem.empty()) {
        std::fprintf(stderr, "qx record: %s\n", problem.c_str());
        return 2;
    }
    WorkDirectory work;
    if (work.GetPath().empty()) {
        std::fprintf(stderr, "qx record: cannot create a work directory in %s\n",
                     std::filesystem::temp_directory_path(error).string().c_str());
        return 2;
    }
    const PerfRecordPlan plan = PerfRecordCommand::BuildPlan(options, work.GetPath().string());
    if (!PerfRecorder::Record(plan, errors)) {
        PrintRecordErrors(errors);
        return 2;
    }

    PerfImportStats stats;
    std::string problems;
    const bool imported = PerfRecorder::Import(plan, capture, {}, stats, problems, errors);
    if (const int signal = PerfRecorder::GetStopSignal(); signal != 0 && !imported) {
        // Stopped while importing: a part of a capture is not kept, and the work directory
        // goes with the WorkDirectory.
        std::filesystem::remove_all(capture, error);
        std::fprintf(stderr, "qx record: stopped by signal %d while importing; no capture was written\n",
                     signal);
        return 128 + signal;
    }
    if (!problems.empty())
        std::fprintf(stderr, "qx record: perf script output: %s\n", problems.c_str());
    PrintRecordErrors(errors);
    if (!imported)
        return 2;
    std::printf("Recorded %s: %s\n", capture.string().c_str(),
                PerfCaptureImporter::DescribeStats(stats).c_str());
    return 0;
}

} // namespace Profiler
