#include "Command.h"

namespace Profiler {

std::span<const QxCommand> GetQxCommands()
{
    static const QxCommand kCommands[] = {
        {"plugins", "[PATH]",
         "load a plugin module (default: the call graph plugin built with qx) and describe it",
         &RunPluginsCommand},
        {"info", "CAPTURE", "describe a capture: processes, threads, time span, events, modules", &RunInfoCommand},
        {"process", "CAPTURE", "process a capture into its call graph model (once)", &RunProcessCommand},
        {"callgraph", "CAPTURE [OPTIONS]", "print the call graph of threads and a time range", &RunCallGraphCommand},
        {"functions", "CAPTURE [OPTIONS]", "print the function list of threads and a time range", &RunFunctionsCommand},
        {"generate", "-o DIR [OPTIONS]", "write a synthetic capture", &RunGenerateCommand},
    };
    return kCommands;
}

} // namespace Profiler
