#pragma once

#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CaptureModel/Identifiers.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the capture commands of qx share: their exit codes, argument parsing, opening and
// processing a capture with progress output, and the text helpers of their output formats.

namespace Profiler::Qx {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitBadCapture = 2;

/// The parsed arguments of a command: options by name (without dashes) and positionals.
struct ParsedArguments {
    std::map<std::string, std::string> options; ///< flags map to ""
    std::vector<std::string> positionals;
    bool help = false;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
};

/// Parses "--name VALUE", "--name=VALUE", "-o VALUE" and flags. `valued` lists the options that
/// take a value, `flags` those that do not. False, with a message, on an unknown or incomplete
/// option.
bool ParseArguments(const std::vector<std::string>& arguments, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, ParsedArguments& parsed, std::string& error);

std::optional<double> ParseNumber(std::string_view text);
std::optional<uint64_t> ParseCount(std::string_view text);
/// "12,13,14" as thread IDs.
std::optional<std::vector<ThreadID>> ParseThreadList(std::string_view text);

/// Prints "qx COMMAND: MESSAGE" and the usage line; returns kExitUsage.
int UsageError(const char* command, const char* usage, const std::string& message);
/// Prints the first error as one line, "qx COMMAND: CONTEXT: MESSAGE".
void PrintError(const char* command, const Serialization::ErrorList& errors);

/// The selection options shared by callgraph and functions: --threads, --from, --to.
inline constexpr const char* kSelectionOptions[] = {"threads", "from", "to"};
/// Reads the selection from parsed options; false with a message on bad values.
bool ReadSelection(const ParsedArguments& parsed, const CaptureDocument& document,
                   CallGraphRequest& selection, std::string& error);
/// Checks the thread IDs of a selection against the capture; false with a message.
bool CheckSelectionThreads(const CaptureDocument& document, const CallGraphRequest& selection,
                           std::string& error);

/// What callgraph and functions do before they query: open the capture named by the first
/// positional argument, read the selection, process the capture when it is not yet, and check
/// the selected threads. Returns kExitOk, or the exit status after printing why not.
int OpenSelection(const char* command, const char* usage, const ParsedArguments& parsed,
                  CaptureDocument& document, CallGraphRequest& selection);

/// Opens the capture; prints the error and returns false when it cannot be read.
bool OpenCapture(const char* command, const std::string& path, CaptureDocument& document);
/// Processes the capture unless it is processed already, with a progress bar on a terminal and
/// progress lines otherwise (on standard error). `quiet` prints nothing when nothing is done.
bool EnsureProcessed(const char* command, CaptureDocument& document, bool force, bool quiet);

/// Runs one call graph query and waits for it (a command has nothing else to do meanwhile). Null
/// with errors when it failed; advice that can help is added to the errors.
std::shared_ptr<const CallGraph> RunCallGraphQuery(CaptureDocument& document, const CallGraphRequest& request,
                                                   Serialization::ErrorList& errors);
/// Runs one function list query of a graph and waits for it; null with errors when it failed.
std::shared_ptr<const BuildListData> RunFunctionListQuery(CaptureDocument& document,
                                                          std::shared_ptr<const CallGraph> graph,
                                                          Serialization::ErrorList& errors);
/// Runs the selection's call graph query and the function list of its graph, waiting for both;
/// false, with the error printed for `command`, when either fails.
[[nodiscard]] bool RunSelectionFunctionList(const char* command, CaptureDocument& document,
                                            const CallGraphRequest& selection,
                                            std::shared_ptr<const CallGraph>& graph,
                                            std::shared_ptr<const BuildListData>& list);

/// Names from a capture as printed to `stream`: on a terminal, control characters (which could
/// move the cursor or recolour the terminal) are shown as \xNN; files and pipes get the text as is.
std::string TerminalText(std::string_view text, std::FILE* stream = stdout);

/// The text as a JSON string literal: valid UTF-8 whatever the bytes (invalid ones become
/// U+FFFD), control characters escaped.
std::string JsonString(std::string_view text);
/// The shortest text that reads back as `value` ("0" for zero, never exponent-free garbage).
std::string JsonNumber(double value);
/// A CSV field, quoted when needed.
std::string CsvField(std::string_view text);

} // namespace Profiler::Qx
