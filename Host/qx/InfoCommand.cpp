#include "CaptureCommandSupport.h"
#include "Command.h"

#include "CallGraphModel/CallGraphThread.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/ProcessDisplay.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"

#include <cstdio>

namespace Profiler {

namespace {

constexpr const char* kUsage = "Usage: qx info CAPTURE\n";

constexpr const char* kHelp =
    "Usage: qx info CAPTURE\n"
    "\n"
    "Describes a capture (a capture directory or its .session file): its platform, time span\n"
    "and sample interval, event and stack counts, processes with their threads, modules, and\n"
    "whether its call graph model has been processed.\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 missing or unreadable capture.\n";

void PrintProcesses(const Session& session)
{
    std::printf("Processes:        %zu\n", session.GetProcessList().size());
    for (const Process& process : session.GetProcessList()) {
        std::printf("  %s %s%s%s%s\n", ProcessIdText(process.mID).c_str(), Qx::TerminalText(process.mName).c_str(),
                    process.mPath.empty() ? "" : " (", Qx::TerminalText(process.mPath).c_str(),
                    process.mPath.empty() ? "" : ")");
        for (const Thread& thread : session.GetThreadList()) {
            if (thread.mProcessID != process.mID)
                continue;
            std::printf("    thread %-8s %-24s %.3f to %.3f ms\n", ThreadIdText(thread.mThreadID).c_str(),
                        thread.mThreadName.empty() ? "-" : Qx::TerminalText(thread.mThreadName).c_str(),
                        thread.mStartTimeMs, thread.mEndTimeMs);
        }
    }
}

} // namespace

int RunInfoCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {}, {}, parsed, error))
        return Qx::UsageError("info", kUsage, error);
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return Qx::kExitOk;
    }
    if (parsed.positionals.size() != 1)
        return Qx::UsageError("info", kUsage, "expected one capture");

    CaptureDocument document;
    if (!Qx::OpenCapture("info", parsed.positionals[0], document))
        return Qx::kExitBadCapture;
    const Session& session = document.GetSession();
    const TraceEventStream& events = *session.GetTraceEventStream();

    std::printf("Capture:          %s\n", session.GetPath().c_str());
    std::printf("Platform:         %s\n",
                session.GetPlatform() ? session.GetPlatform()->GetName().c_str() : "-");
    const double start = session.GetStartTimeMs();
    const double end = document.GetCaptureEndTime();
    std::printf("Duration:         %.3f ms (%.3f to %.3f ms)\n", end - start, start, end);
    std::printf("Sample interval:  %.3f ms\n", session.GetSampleIntervalMs());
    std::printf("Events:           %llu in %zu chunks\n",
                static_cast<unsigned long long>(events.GetNumEvents()), events.GetChunks().size());
    const CallstackNodeStore* stacks = session.GetNodeStore();
    std::printf("Stack nodes:      %llu\n",
                static_cast<unsigned long long>(stacks != nullptr ? stacks->GetNodeCount() : 0));
    PrintProcesses(session);
    std::printf("Threads:          %zu\n", session.GetThreadList().size());

    const ModuleDatabase& modules = session.GetModuleDatabase();
    const std::size_t functionCount = modules.GetFunctionCount();
    modules.Read([functionCount](const ModuleDatabase& database) {
        std::printf("Modules:          %zu (%zu functions)\n", database.GetNativeModules().size(),
                    functionCount);
        for (const auto& module : database.GetNativeModules())
            if (module)
                std::printf("  %-28s %6zu functions  %s\n", Qx::TerminalText(module->mName).c_str(),
                            module->mFunctions.size(), Qx::TerminalText(module->mPath).c_str());
        return 0;
    });

    if (const CallGraphModel* model = document.GetModel()) {
        std::size_t snapshots = 0;
        const std::vector<ThreadID> threads = model->GetThreadIds();
        for (ThreadID thread : threads)
            if (const CallGraphThread* found = model->FindThread(thread))
                snapshots += found->GetTable().GetSnapshots().size();
        std::printf("Call graph model: processed (%zu threads, %zu snapshots)\n", threads.size(), snapshots);
    } else {
        std::printf("Call graph model: not processed (run qx process)\n");
    }
    return Qx::kExitOk;
}

} // namespace Profiler
