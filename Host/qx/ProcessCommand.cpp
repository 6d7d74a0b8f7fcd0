#include "CaptureCommandSupport.h"
#include "Command.h"

#include <cstdio>

namespace Profiler {

namespace {

constexpr const char* kUsage = "Usage: qx process CAPTURE [--force]\n";

constexpr const char* kHelp =
    "Usage: qx process CAPTURE [--force]\n"
    "\n"
    "Processes a capture's events into its call graph model, stored in the capture's\n"
    "CallGraph folder (Model.dat and Snapshots.dat), so that call graphs of any threads and\n"
    "time range can be answered quickly. A capture whose model is stored and current is not\n"
    "processed again unless --force is given.\n"
    "\n"
    "Progress goes to standard error: a bar on a terminal, a line per 10% otherwise.\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 missing or unreadable capture, or processing failed.\n";

} // namespace

int RunProcessCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {}, {"force"}, parsed, error))
        return Qx::UsageError("process", kUsage, error);
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return Qx::kExitOk;
    }
    if (parsed.positionals.size() != 1)
        return Qx::UsageError("process", kUsage, "expected one capture");

    CaptureDocument document;
    if (!Qx::OpenCapture("process", parsed.positionals[0], document))
        return Qx::kExitBadCapture;
    return Qx::EnsureProcessed("process", document, parsed.Has("force"), false) ? Qx::kExitOk
                                                                                : Qx::kExitBadCapture;
}

} // namespace Profiler
