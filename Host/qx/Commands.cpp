#include "Command.h"

namespace Profiler {

std::span<const QxCommand> GetQxCommands()
{
    static const QxCommand kCommands[] = {
        {"plugins", "[PATH]",
         "load a plugin module (default: the call graph plugin built with qx) and describe it",
         &RunPluginsCommand},
        {"import", "FILE|- -o CAPTURE_DIR [--event NAME] [--interval-ms MS]",
         "import perf script text (plain, gzip or standard input) into a capture directory", &RunImportCommand},
        {"record", "-o DIR [--frequency HZ] [--no-switches] [--call-graph fp|dwarf] (-- PROGRAM ARGS... | --pid PID --duration S)",
         "record a program or process with perf and import the recording", &RunRecordCommand},
        {"folded", "CAPTURE_DIR [--pid|--tid] [--kernel] [--jit] [--all] [--addrs]",
         "print a capture's samples as folded stacks (one line per distinct stack)", &RunFoldedCommand},
        {"info", "CAPTURE", "describe a capture: processes, threads, events, modules", &RunInfoCommand},
        {"process", "CAPTURE", "process a capture into its call graph model (once)", &RunProcessCommand},
        {"callgraph", "CAPTURE [OPTIONS]", "print the call graph of a selection", &RunCallGraphCommand},
        {"functions", "CAPTURE [OPTIONS]", "print the functions of a selection", &RunFunctionsCommand},
        {"source", "CAPTURE FUNCTION [OPTIONS]", "print a function's source lines or instructions with their time", &RunSourceCommand},
        {"generate", "-o DIR [OPTIONS]", "write a synthetic capture", &RunGenerateCommand},
    };
    return kCommands;
}

} // namespace Profiler
