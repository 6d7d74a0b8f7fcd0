#pragma once

#include <span>
#include <string>
#include <vector>

// The subcommands of qx. Each lives in a source file of its own and is listed once in the table
// of Commands.cpp; help text and dispatch come from that table.

namespace Profiler {

struct QxCommand {
    const char* name;
    const char* arguments; ///< shown after the name in the usage line
    const char* summary;   ///< one line for the command list
    /// Runs the command with the arguments after its name; returns the exit status.
    int (*run)(const std::vector<std::string>& arguments);
};

/// Every command, in the order the help lists them.
std::span<const QxCommand> GetQxCommands();

/// `qx plugins [PATH]`: loads a plugin module and describes it.
int RunPluginsCommand(const std::vector<std::string>& arguments);
/// `qx import FILE|- -o CAPTURE_DIR ...`: perf script text into a capture directory.
int RunImportCommand(const std::vector<std::string>& arguments);
/// `qx record -o DIR ...`: records with perf and imports the recording.
int RunRecordCommand(const std::vector<std::string>& arguments);
/// `qx folded CAPTURE_DIR ...`: a capture's samples as folded stacks.
int RunFoldedCommand(const std::vector<std::string>& arguments);
/// `qx info CAPTURE`: describes a capture.
int RunInfoCommand(const std::vector<std::string>& arguments);
/// `qx process CAPTURE`: processes a capture into its call graph model.
int RunProcessCommand(const std::vector<std::string>& arguments);
/// `qx callgraph CAPTURE ...`: prints the call graph of a selection.
int RunCallGraphCommand(const std::vector<std::string>& arguments);
/// `qx functions CAPTURE ...`: prints the function list of a selection.
int RunFunctionsCommand(const std::vector<std::string>& arguments);
/// `qx source CAPTURE FUNCTION ...`: a function's source lines or instructions with their time.
int RunSourceCommand(const std::vector<std::string>& arguments);
/// `qx generate -o DIR ...`: writes a synthetic capture.
int RunGenerateCommand(const std::vector<std::string>& arguments);

} // namespace Profiler
