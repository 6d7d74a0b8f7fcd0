#include "Importers/PerfRecordCommand.h"
#include <sys/stat.h>

#include "Utility/Format.h"

#include <charconv>
#include <fcntl.h>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace Profiler {

namespace {

constexpr uint32_t kMaxFrequencyHz = 100000;
constexpr double kMaxDurationSeconds = 24.0 * 3600.0;

template <typename T> bool ParseNumber(const std::string& text, T& out)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc() && ptr == end;
}

std::string FormatSeconds(double seconds)
{
    std::string text = Utility::Format("%.3f", seconds);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

/// Bit `capability` of the effective capability set in /proc/self/status.
bool HasEffectiveCapability(int capability)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) != 0)
            continue;
        uint64_t mask = 0;
        std::string hex = line.substr(7);
        hex.erase(0, hex.find_first_not_of(" \t"));
        auto [ptr, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), mask, 16);
        (void)ptr;
        return ec == std::errc() && ((mask >> capability) & 1u) != 0;
    }
    return false;
}

bool FindOnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::stringstream directories(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

} // namespace

bool PerfRecordCommand::ParseArguments(const std::vector<std::string>& arguments, PerfRecordOptions& options,
                                       Serialization::ErrorList& errors)
{
    using Serialization::EErrorCode;
    options = {};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= arguments.size()) {
                errors.AddFormatted(EErrorCode::Corrupt, "qx record: %s needs a value", name);
                return nullptr;
            }
            return &arguments[++i];
        };
        if (argument == "--") {
            options.program.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            break;
        }
        if (argument == "-o" || argument == "--output") {
            const std::string* text = value("-o");
            if (text == nullptr)
                return false;
            options.captureDirectory = *text;
        } else if (argument == "--frequency" || argument == "-F") {
            const std::string* text = value("--frequency");
            if (text == nullptr)
                return false;
            if (!ParseNumber(*text, options.frequencyHz) || options.frequencyHz == 0 ||
                options.frequencyHz > kMaxFrequencyHz) {
                errors.AddFormatted(EErrorCode::Corrupt,
                                    "qx record: --frequency must be 1 to %u Hz, not '%s'", kMaxFrequencyHz,
                                    text->c_str());
                return false;
            }
        } else if (argument == "--no-switches") {
            options.contextSwitches = false;
        } else if (argument == "--call-graph") {
            const std::string* text = value("--call-graph");
            if (text == nullptr)
                return false;
            if (*text == "fp")
                options.callGraph = ECallGraphMode::FramePointer;
            else if (*text == "dwarf")
                options.callGraph = ECallGraphMode::Dwarf;
            else {
                errors.AddFormatted(EErrorCode::Corrupt, "qx record: --call-graph is fp or dwarf, not '%s'",
                                    text->c_str());
                return false;
            }
        } else if (argument == "--pid" || argument == "-p") {
            const std::string* text = value("--pid");
            if (text == nullptr)
                return false;
            int32_t pid = 0;
            if (!ParseNumber(*text, pid) || pid <= 0) {
                errors.AddFormatted(EErrorCode::Corrupt, "qx record: --pid needs a process id, not '%s'",
                                    text->c_str());
                return false;
            }
            options.attachPid = pid;
        } else if (argument == "--duration") {
            const std::string* text = value("--duration");
            if (text == nullptr)
                return false;
            double seconds = 0.0;
            if (!ParseNumber(*text, seconds) || !std::isfinite(seconds) || seconds <= 0.0 ||
                seconds > kMaxDurationSeconds) {
                errors.AddFormatted(EErrorCode::Corrupt,
                                    "qx record: --duration must be a number of seconds, not '%s'",
                                    text->c_str());
                return false;
            }
            options.durationSeconds = seconds;
        } else {
            errors.AddFormatted(EErrorCode::Corrupt, "qx record: unknown option '%s'\n%s", argument.c_str(),
                                kUsage);
            return false;
        }
    }
    if (options.captureDirectory.empty()) {
        errors.AddFormatted(EErrorCode::Corrupt, "qx record: -o CAPTURE_DIR is required\n%s", kUsage);
        return false;
    }
    if (options.attachPid && !options.program.empty()) {
        errors.Add(EErrorCode::Corrupt, "qx record: give either --pid or a program after --, not both");
        return false;
    }
    if (!options.attachPid && options.program.empty()) {
        errors.AddFormatted(EErrorCode::Corrupt, "qx record: nothing to record\n%s", kUsage);
        return false;
    }
    if (options.attachPid && !options.durationSeconds) {
        errors.Add(EErrorCode::Corrupt, "qx record: --pid needs --duration SECONDS");
        return false;
    }
    return true;
}

PerfRecordPlan PerfRecordCommand::BuildPlan(const PerfRecordOptions& options,
                                            const std::string& workDirectory)
{
    PerfRecordPlan plan;
    plan.dataFile = workDirectory + "/perf.data";

    std::vector<std::string>& record = plan.recordArguments;
    record = {"perf", "record", "-o", plan.dataFile};
    record.push_back("--call-graph");
    record.push_back(options.callGraph == ECallGraphMode::Dwarf ? "dwarf" : "fp");
    // The frequency belongs to the clock event alone: a global -F would also thin out the
    // context switch tracepoint, which must see every switch. The name keeps the event called
    // "cpu-clock" in the text.
    record.push_back("-e");
    record.push_back(Utility::Format("cpu-clock/freq=%u,name=cpu-clock/", options.frequencyHz));
    if (options.contextSwitches) {
        record.push_back("-e");
        record.push_back("sched:sched_switch");
        // perf's own switch records come for the traced thread in both directions; the
        // tracepoint only fires for the task that leaves the CPU, so switch-ins from untraced
        // tasks (the idle task, other programs) would be missing without them.
        record.push_back("--switch-events");
    }
    if (options.attachPid) {
        record.push_back("-p");
        record.push_back(std::to_string(*options.attachPid));
        record.push_back("--");
        record.push_back("sleep");
        record.push_back(FormatSeconds(options.durationSeconds.value_or(10.0)));
    } else {
        record.push_back("--");
        record.insert(record.end(), options.program.begin(), options.program.end());
    }

    plan.scriptArguments = BuildScriptArguments(plan.dataFile, options.contextSwitches);
    return plan;
}

std::vector<std::string> PerfRecordCommand::BuildScriptArguments(const std::string& dataFile,
                                                                 bool switchEvents)
{
    // One field list per event type: asking for tracepoint fields of the clock event only
    // prints warnings. perf's own search for inlined functions costs minutes on a large C++
    // program (it runs for every address of every stack); the importer adds them from the
    // modules' debug information in a fraction of that, so perf is told not to.
    const std::string common = "comm,pid,tid,time,period,event,ip,sym,symoff,dso";
    std::vector<std::string> arguments = {"perf",
                                          "script",
                                          "-i",
                                          dataFile,
                                          "--no-inline",
                                          "-F",
                                          "hw:" + common,
                                          "-F",
                                          "sw:" + common,
                                          "-F",
                                          "trace:" + common + ",trace",
                                          "--show-task-events",
                                          "--show-mmap-events"};
    if (switchEvents)
        arguments.push_back("--show-switch-events");
    return arguments;
}

bool PerfRecordCommand::IsPerfDataFile(const std::string& path)
{
    // perf.data files start with this magic (version 2 of the format, the only one perf writes).
    // Read without a stream: every import asks, and a first stream sets up its locale.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char magic[8] = {};
    const bool read = ::read(fd, magic, sizeof magic) == static_cast<ssize_t>(sizeof magic);
    ::close(fd);
    return read && std::string_view(magic, sizeof magic) == "PERFILE2";
}

std::string PerfRecordCommand::DescribeAccessProblem(const PerfAccess& access, bool contextSwitches)
{
    if (!access.perfFound)
        return "perf is not installed (no 'perf' on PATH). Install it with:\n"
               "    sudo apt-get install linux-perf\n"
               "(on Ubuntu: sudo apt-get install linux-tools-common linux-tools-$(uname -r))";
    if (access.privileged || !access.paranoid)
        return {};
    const int paranoid = *access.paranoid;
    if (contextSwitches && paranoid > -1)
        return Utility::Format(
            "Recording context switches reads the sched:sched_switch tracepoint, which this kernel does not\n"
            "allow for unprivileged users (kernel.perf_event_paranoid = %d). Run qx record as root, or allow "
            "it\n"
            "until the next reboot with:\n"
            "    sudo sysctl kernel.perf_event_paranoid=-1\n"
            "    sudo chmod -R a+rX /sys/kernel/tracing\n"
            "or record without thread states: qx record --no-switches ...",
            paranoid);
    if (paranoid > 1)
        return Utility::Format("perf may not sample kernel and user code for unprivileged users here "
                               "(kernel.perf_event_paranoid = %d).\n"
                               "Run qx record as root, or allow it until the next reboot with:\n"
                               "    sudo sysctl kernel.perf_event_paranoid=1",
                               paranoid);
    return {};
}

PerfAccess PerfRecordCommand::ProbeAccess()
{
    constexpr int kCapSysAdmin = 21;
    constexpr int kCapPerfmon = 38;
    PerfAccess access;
    access.perfFound = FindOnPath("perf");
    access.privileged =
        geteuid() == 0 || HasEffectiveCapability(kCapPerfmon) || HasEffectiveCapability(kCapSysAdmin);
    std::ifstream file("/proc/sys/kernel/perf_event_paranoid");
    int value = 0;
    if (file >> value)
        access.paranoid = value;
    return access;
}

std::string PerfRecordCommand::DescribeProgramProblem(const std::string& program)
{
    auto executable = [](const std::string& path) {
        struct stat info = {};
        // Root passes access(X_OK) for any file, so the mode bits are checked as well.
        return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0 &&
               access(path.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) {
        if (executable(program))
            return {};
        struct stat info = {};
        if (stat(program.c_str(), &info) != 0)
            return program + ": no such file (nothing was recorded)";
        return program + ": not an executable file (nothing was recorded)";
    }
    const char* path = std::getenv("PATH");
    std::string_view directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const std::size_t colon = directories.find(':');
        std::string directory(directories.substr(0, colon));
        if (executable((directory.empty() ? std::string(".") : directory) + "/" + program))
            return {};
        if (colon == std::string_view::npos)
            break;
        directories.remove_prefix(colon + 1);
    }
    return program + ": no such program on PATH (nothing was recorded)";
}

} // namespace Profiler
