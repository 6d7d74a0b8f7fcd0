#include "Importers/PerfRecorder.h"

#include "Importers/PerfDataReader.h"

#include "SymbolResolution/SymbolResolver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Profiler {

namespace {

using Serialization::EErrorCode;

// The perf child that a stop signal is passed on to, and the signal that asked to stop.
volatile sig_atomic_t gChildPid = 0;
volatile sig_atomic_t gStopSignal = 0;

extern "C" void ForwardStopSignal(int signal)
{
    gStopSignal = signal;
    // perf stops cleanly on SIGINT and SIGTERM (it ends the program and writes its data); it has
    // no handler for SIGHUP, which would kill it and leave the program running.
    if (gChildPid > 0)
        kill(static_cast<pid_t>(gChildPid), signal == SIGHUP ? SIGTERM : signal);
}

/// While it lives, SIGINT, SIGTERM and SIGHUP are passed on to the perf child instead of ending
/// this process, so that perf stops cleanly and the work directory is still removed.
class StopSignalForwarding {
public:
    StopSignalForwarding()
    {
        struct sigaction forward = {};
        forward.sa_handler = ForwardStopSignal;
        sigemptyset(&forward.sa_mask);
        forward.sa_flags = 0; // no SA_RESTART: a blocking read returns so the loop can look
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &forward, &mPrevious[i]);
    }
    ~StopSignalForwarding()
    {
        gChildPid = 0;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &mPrevious[i], nullptr);
    }
    StopSignalForwarding(const StopSignalForwarding&) = delete;
    StopSignalForwarding& operator=(const StopSignalForwarding&) = delete;

private:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> mPrevious = {};
};

std::vector<char*> MakeArgv(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

/// Starts `arguments` with default signal handling; stdout goes to `stdoutFd` when it is not -1.
bool Spawn(const std::vector<std::string>& arguments, int stdoutFd, int closeFd, pid_t& pid,
           Serialization::ErrorList& errors)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (closeFd >= 0)
        posix_spawn_file_actions_addclose(&actions, closeFd);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv = MakeArgv(arguments);
    int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to run %s: %s", arguments[0].c_str(),
                            std::strerror(result));
        return false;
    }
    return true;
}

/// Waits for the child; false with an error record unless it exited with status 0.
bool Wait(pid_t pid, const char* what, Serialization::ErrorList& errors)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            errors.AddFormatted(EErrorCode::FileAccess, "Lost track of %s: %s", what, std::strerror(errno));
            return false;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFSIGNALED(status))
        errors.AddFormatted(EErrorCode::FileAccess, "%s was killed by signal %d", what, WTERMSIG(status));
    else
        errors.AddFormatted(EErrorCode::FileAccess, "%s failed (exit status %d)", what, WEXITSTATUS(status));
    return false;
}

} // namespace

bool PerfRecorder::Record(const PerfRecordPlan& plan, Serialization::ErrorList& errors)
{
    // Ctrl-C, SIGTERM and SIGHUP stop perf, which stops the program and still writes its data;
    // this process goes on to import what was recorded and to remove its work directory.
    StopSignalForwarding forwarding;
    gStopSignal = 0;
    pid_t pid = 0;
    bool ok = Spawn(plan.recordArguments, -1, -1, pid, errors);
    if (ok)
        gChildPid = pid;
    // perf record passes the recorded program's failure on; the data is still worth importing.
    Serialization::ErrorList exitErrors;
    if (ok)
        Wait(pid, "perf record", exitErrors);
    gChildPid = 0;
    if (!ok)
        return false;

    struct stat info = {};
    if (stat(plan.dataFile.c_str(), &info) != 0 || info.st_size == 0) {
        errors.AddFormatted(EErrorCode::FileAccess, "perf record wrote no data (%s)%s%s",
                            plan.dataFile.c_str(), exitErrors.IsEmpty() ? "" : ": ",
                            exitErrors.IsEmpty() ? "" : exitErrors.GetErrors()[0].message.c_str());
        return false;
    }
    return true;
}

namespace {

/// Runs a command and returns what it printed; nullopt when it could not run or failed.
std::optional<std::string> RunAndRead(const std::vector<std::string>& arguments)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::nullopt;
    Serialization::ErrorList ignored;
    pid_t pid = 0;
    const bool started = Spawn(arguments, pipeFds[1], pipeFds[0], pid, ignored);
    close(pipeFds[1]);
    std::string text;
    if (started) {
        char buffer[1 << 14];
        for (;;) {
            const ssize_t count = read(pipeFds[0], buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(count));
        }
    }
    close(pipeFds[0]);
    if (!started || !Wait(pid, arguments[0].c_str(), ignored))
        return std::nullopt;
    return text;
}

/// The times of the first and last sample (ns) from the data file's header; nullopt when perf
/// does not print them.
std::optional<std::pair<uint64_t, uint64_t>> ReadSampleTimes(const std::string& dataFile)
{
    const auto text = RunAndRead({"perf", "report", "--header-only", "-i", dataFile});
    if (!text)
        return std::nullopt;
    auto find = [&text](std::string_view key) -> std::optional<uint64_t> {
        const std::size_t at = text->find(key);
        if (at == std::string::npos)
            return std::nullopt;
        const std::size_t colon = text->find(':', at);
        if (colon == std::string::npos)
            return std::nullopt;
        char* end = nullptr;
        const double seconds = std::strtod(text->c_str() + colon + 1, &end);
        if (end == text->c_str() + colon + 1 || !(seconds >= 0.0))
            return std::nullopt;
        return static_cast<uint64_t>(std::llround(seconds * 1e6)) * 1000; // printed in microseconds
    };
    const auto first = find("time of first sample");
    const auto last = find("time of last sample");
    if (!first || !last || *last <= *first)
        return std::nullopt;
    return std::pair(*first, *last);
}

std::string FormatPerfTime(uint64_t ns)
{
    char text[48];
    std::snprintf(text, sizeof text, "%llu.%09llu", static_cast<unsigned long long>(ns / 1000000000),
                  static_cast<unsigned long long>(ns % 1000000000));
    return text;
}

/// Reads a file descriptor from its start into the parser; false on a read error.
bool FeedFile(int fd, PerfScriptParser& parser)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        return false;
    std::vector<char> buffer(1 << 20);
    while (gStopSignal == 0) {
        const ssize_t count = read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            break;
        parser.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
    }
    return true;
}

/// Files smaller than this are printed by one perf script: below it, starting more costs more
/// than unwinding takes.
constexpr std::size_t kSliceMinimumBytes = std::size_t{8} << 20;
constexpr unsigned kMaxSlices = 8;

} // namespace

unsigned PerfRecorder::ChooseSliceCount(uint64_t dataFileBytes, unsigned cores)
{
    if (dataFileBytes < kSliceMinimumBytes || cores < 2)
        return 1;
    return std::min<unsigned>(
        {cores, kMaxSlices, static_cast<unsigned>(dataFileBytes / kSliceMinimumBytes) + 1});
}

bool PerfRecorder::Script(const PerfRecordPlan& plan, PerfScriptParser& parser,
                          Serialization::ErrorList& errors)
{
    // perf script spends most of its time unwinding the stacks of a DWARF recording, one sample
    // after another. A large file is printed by several perf script processes at once, each on a
    // slice of the recording's time, and read back in time order: the first slice streams
    // straight in, the later ones wait in unlinked temporary files.
    struct stat info = {};
    const uint64_t size = stat(plan.dataFile.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    unsigned slices = plan.scriptSlices != 0
                          ? plan.scriptSlices
                          : ChooseSliceCount(size, std::max(1u, std::thread::hardware_concurrency()));
    std::optional<std::pair<uint64_t, uint64_t>> times;
    if (slices > 1 && !plan.dataFile.empty())
        times = ReadSampleTimes(plan.dataFile);
    // Boundaries on whole microseconds, as perf prints times: a one-line record printed at a
    // boundary goes to the slice that starts there.
    std::vector<uint64_t> bounds;
    if (times && times->second - times->first >= uint64_t{slices} * 1000000) {
        for (unsigned i = 1; i < slices; ++i)
            bounds.push_back((times->first + (times->second - times->first) / slices * i) / 1000 * 1000);
    }
    slices = static_cast<unsigned>(bounds.size()) + 1;

    std::vector<int> files(slices, -1);
    std::vector<pid_t> pids(slices, 0);
    bool ok = true;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to run perf script: %s", std::strerror(errno));
        parser.Finish();
        return false;
    }
    StopSignalForwarding forwarding;
    gStopSignal = 0;
    for (unsigned i = 0; i < slices && ok; ++i) {
        std::vector<std::string> arguments = plan.scriptArguments;
        if (slices > 1) {
            arguments.push_back("--time");
            arguments.push_back((i == 0 ? std::string() : FormatPerfTime(bounds[i - 1] + 1)) + "," +
                                (i + 1 == slices ? std::string() : FormatPerfTime(bounds[i])));
        }
        int output = pipeFds[1];
        if (i > 0) {
            std::string name = (std::filesystem::temp_directory_path() / "qx-slice-XXXXXX").string();
            files[i] = mkostemp(name.data(), O_CLOEXEC);
            if (files[i] < 0) {
                errors.AddFormatted(EErrorCode::FileAccess,
                                    "Unable to make a temporary file for perf script: %s",
                                    std::strerror(errno));
                ok = false;
                break;
            }
            unlink(name.c_str());
            output = files[i];
        }
        ok = Spawn(arguments, output, pipeFds[0], pids[i], errors);
        if (i == 0 && ok)
            gChildPid = pids[0];
    }
    close(pipeFds[1]);
    if (slices > 1)
        parser.SetTimeWindow(0, bounds[0], true);
    if (ok) {
        std::vector<char> buffer(1 << 20);
        while (gStopSignal == 0) {
            ssize_t count = read(pipeFds[0], buffer.data(), buffer.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            parser.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
        }
    }
    close(pipeFds[0]);
    parser.Finish();
    for (unsigned i = 0; i < slices; ++i) {
        if (pids[i] == 0)
            continue;
        if (gStopSignal != 0 || !ok)
            kill(pids[i], SIGTERM);
        if (i == 0)
            gChildPid = 0;
        // Each slice is waited for before it is read; one that failed spoils the whole.
        const bool finished = Wait(pids[i], "perf script", errors);
        ok = ok && finished;
        if (!ok || i == 0 || gStopSignal != 0)
            continue;
        parser.SetTimeWindow(bounds[i - 1], i + 1 == slices ? UINT64_MAX : bounds[i], false);
        if (!FeedFile(files[i], parser)) {
            errors.AddFormatted(EErrorCode::FileAccess, "Unable to read perf script's output back: %s",
                                std::strerror(errno));
            ok = false;
        }
        parser.Finish();
    }
    if (slices > 1)
        parser.SetTimeWindow(0, UINT64_MAX, true);
    for (int fd : files)
        if (fd >= 0)
            close(fd);
    if (gStopSignal != 0) {
        errors.AddFormatted(EErrorCode::FileAccess, "stopped by signal %d while reading perf script's output",
                            static_cast<int>(gStopSignal));
        return false;
    }
    return ok;
}

bool PerfRecorder::Import(const PerfRecordPlan& plan, const std::filesystem::path& directory,
                          PerfImportOptions options, PerfImportStats& stats, std::string& problems,
                          Serialization::ErrorList& errors)
{
    options.inlineFramesFromDebugInfo = true;
    std::optional<SymbolResolver> resolver;
    if (options.symbols == nullptr)
        options.symbols = &resolver.emplace();
    return PerfCaptureImporter::Import(
        [&plan, &options](PerfScriptParser& parser, Serialization::ErrorList& scriptErrors) {
            // The file is read here when it can be: perf script unwinds DWARF stacks one after
            // another and prints them as text to be parsed again.
            if (!plan.viaPerfScript && !plan.dataFile.empty()) {
                PerfDataReader::Options readOptions;
                readOptions.Symbols = options.symbols;
                gStopSignal = 0;
                StopSignalForwarding forwarding;
                readOptions.StopRequested = [] { return gStopSignal != 0; };
                std::string reason;
                switch (PerfDataReader::Read(plan.dataFile, parser, readOptions, reason, scriptErrors)) {
                case PerfDataReader::EResult::Read:
                    return true;
                case PerfDataReader::EResult::Failed:
                    return false;
                case PerfDataReader::EResult::Unsupported:
                    break; // perf script reads what this reader does not
                }
            }
            return Script(plan, parser, scriptErrors);
        },
        directory, options, stats, problems, errors);
}

PerfRecordPlan PerfRecorder::PlanForDataFile(const std::string& dataFile)
{
    PerfRecordPlan plan;
    plan.dataFile = dataFile;
    // Switch records are printed when the file has them and cost nothing when it has not.
    plan.scriptArguments = PerfRecordCommand::BuildScriptArguments(dataFile, true);
    return plan;
}

void PerfRecorder::RequestStop()
{
    ForwardStopSignal(SIGINT);
}

int PerfRecorder::GetStopSignal()
{
    return gStopSignal;
}

} // namespace Profiler
