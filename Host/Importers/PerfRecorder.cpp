#include "Importers/PerfRecorder.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
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

bool PerfRecorder::Script(const PerfRecordPlan& plan, PerfScriptParser& parser,
                          Serialization::ErrorList& errors)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to run perf script: %s", std::strerror(errno));
        parser.Finish();
        return false;
    }
    StopSignalForwarding forwarding;
    gStopSignal = 0;
    pid_t pid = 0;
    bool started = Spawn(plan.scriptArguments, pipeFds[1], pipeFds[0], pid, errors);
    close(pipeFds[1]);
    if (started) {
        gChildPid = pid;
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
    const bool finished = started && Wait(pid, "perf script", errors);
    gChildPid = 0;
    if (gStopSignal != 0) {
        errors.AddFormatted(EErrorCode::FileAccess, "stopped by signal %d while reading perf script's output",
                            static_cast<int>(gStopSignal));
        return false;
    }
    return finished;
}

bool PerfRecorder::Import(const PerfRecordPlan& plan, const std::filesystem::path& directory,
                          PerfImportOptions options, PerfImportStats& stats, std::string& problems,
                          Serialization::ErrorList& errors)
{
    options.inlineFramesFromDebugInfo = true;
    return PerfCaptureImporter::Import(
        [&plan](PerfScriptParser& parser, Serialization::ErrorList& scriptErrors) {
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
