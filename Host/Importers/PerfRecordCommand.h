#pragma once

#include "Utility/ErrorList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Profiler {

enum class ECallGraphMode : uint8_t {
    FramePointer, ///< cheap; needs programs built with frame pointers
    Dwarf,        ///< copies stack memory and unwinds afterwards; works without frame pointers
};

/// What `qx record` was asked to do.
struct PerfRecordOptions {
    static constexpr uint32_t kDefaultFrequencyHz = 1000; ///< one sample per millisecond and thread

    std::string captureDirectory;
    uint32_t frequencyHz = kDefaultFrequencyHz;
    bool contextSwitches = true;
    // Most libraries of a stock Debian system are built without frame pointers, so only DWARF
    // unwinding gives complete stacks there; it costs more to record (see the help text).
    ECallGraphMode callGraph = ECallGraphMode::Dwarf;
    std::optional<int32_t> attachPid;
    std::optional<double> durationSeconds; ///< required with attachPid
    std::vector<std::string> program;      ///< PROGRAM ARGS...
};

/// The two perf runs of a recording: `perf record` into a data file, then `perf script`, whose
/// standard output is the text that the importer reads.
struct PerfRecordPlan {
    std::string dataFile;
    std::vector<std::string> recordArguments; ///< argv, starting with "perf"
    std::vector<std::string> scriptArguments; ///< argv, starting with "perf"
    /// How many perf script processes print the file, each a slice of its time; 0: chosen by
    /// the file's size and the machine's cores.
    unsigned scriptSlices = 0;
    /// Prints the data file with `perf script` even where the file could be read directly.
    bool viaPerfScript = false;
};

/// Whether perf can be used here, as far as can be told without running it.
struct PerfAccess {
    bool perfFound = false;
    bool privileged = false;     ///< root, or CAP_PERFMON / CAP_SYS_ADMIN
    std::optional<int> paranoid; ///< kernel.perf_event_paranoid, when readable
};

/// Builds the command lines of `qx record` and says what stands in the way of running them.
class PerfRecordCommand {
public:
    static constexpr const char* kUsage =
        "Usage: qx record -o CAPTURE_DIR [--frequency HZ] [--no-switches] [--call-graph fp|dwarf]\n"
        "                 (-- PROGRAM [ARGS...] | --pid PID --duration SECONDS)\n";

    /// Reads the arguments after "record". False with one error record on a bad command line.
    static bool ParseArguments(const std::vector<std::string>& arguments, PerfRecordOptions& options,
                               Serialization::ErrorList& errors);

    /// The perf command lines for the options; `workDirectory` receives the perf data file.
    static PerfRecordPlan BuildPlan(const PerfRecordOptions& options, const std::string& workDirectory);

    /// The `perf script` command line that prints a perf data file as the importer reads it.
    static std::vector<std::string> BuildScriptArguments(const std::string& dataFile, bool switchEvents);
    /// Whether the file is a perf data file (by its magic), which `perf script` must read.
    static bool IsPerfDataFile(const std::string& path);

    /// What prevents recording, with the command that fixes it; "" when nothing does.
    static std::string DescribeAccessProblem(const PerfAccess& access, bool contextSwitches);

    /// Looks for perf on PATH, at the effective user and capabilities, and at
    /// /proc/sys/kernel/perf_event_paranoid.
    static PerfAccess ProbeAccess();

    /// Why the program to record cannot be run ("" when it can): a path that names no executable
    /// file, or a name that no directory of PATH holds. perf would only say so in its own words
    /// after setting up the recording.
    static std::string DescribeProgramProblem(const std::string& program);
};

} // namespace Profiler
