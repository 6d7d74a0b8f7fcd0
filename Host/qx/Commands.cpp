#include "Command.h"

namespace Profiler {

std::span<const QxCommand> GetQxCommands()
{
    static const QxCommand kCommands[] = {
        {"plugins", "[PATH]",
         "load a plugin module (default: the call graph plugin built with qx) and describe it",
         &RunPluginsCommand},
        {"info", "CAPTURE", "describe a capture: processes, threads, events, modules", &RunInfoCommand},
        {"process", "CAPTURE", "process a capture into its call graph model (once)", &RunProcessCommand},
        {"callgraph", "CAPTURE [OPTIONS]", "print the call graph of a selection", &RunCallGraphCommand},
        {"functions", "CAPTURE [OPTIONS]", "print the functions of a selection", &RunFunctionsCommand},
        {"generate", "-o DIR [OPTIONS]", "write a synthetic capture", &RunGenerateCommand},
    };
    return kCommands;
}

} // namespace Profiler
