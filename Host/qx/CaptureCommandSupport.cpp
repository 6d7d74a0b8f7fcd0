#include "CaptureCommandSupport.h"

#include "CaptureModel/Session.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <latch>
#include <unistd.h>

namespace Profiler::Qx {

bool ParseArguments(const std::vector<std::string>& arguments, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, ParsedArguments& parsed, std::string& error)
{
    auto isValued = [&](const std::string& name) {
        return std::find(valued.begin(), valued.end(), name) != valued.end();
    };
    auto isFlag = [&](const std::string& name) {
        return std::find(flags.begin(), flags.end(), name) != flags.end();
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            parsed.help = true;
            continue;
        }
        if (argument.size() < 2 || argument[0] != '-' || argument == "--") {
            parsed.positionals.push_back(argument);
            continue;
        }
        std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (isFlag(name) && !value) {
            parsed.options[name] = "";
        } else if (isValued(name)) {
            if (!value) {
                if (i + 1 >= arguments.size()) {
                    error = "option '" + argument + "' needs a value";
                    return false;
                }
                value = arguments[++i];
            }
            parsed.options[name] = *value;
        } else {
            error = "unknown option '" + argument + "'";
            return false;
        }
    }
    return true;
}

std::optional<double> ParseNumber(std::string_view text)
{
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<uint64_t> ParseCount(std::string_view text)
{
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<std::vector<ThreadID>> ParseThreadList(std::string_view text)
{
    std::vector<ThreadID> threads;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::optional<uint64_t> id = ParseCount(text.substr(0, comma));
        if (!id || *id > UINT32_MAX)
            return std::nullopt;
        threads.push_back(static_cast<ThreadID>(*id));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return threads;
}

int UsageError(const char* command, const char* usage, const std::string& message)
{
    std::fprintf(stderr, "qx %s: %s\n%s", command, message.c_str(), usage);
    return kExitUsage;
}

void PrintError(const char* command, const Serialization::ErrorList& errors)
{
    if (errors.IsEmpty()) {
        std::fprintf(stderr, "qx %s: failed for an unknown reason\n", command);
        return;
    }
    const Serialization::ErrorRecord& first = errors.GetErrors().front();
    std::string message = first.message;
    // Messages are single lines; a stray line break must not split the error.
    std::replace(message.begin(), message.end(), '\n', ' ');
    if (first.context.empty() || message.find(first.context) != std::string::npos)
        std::fprintf(stderr, "qx %s: %s\n", command, message.c_str());
    else
        std::fprintf(stderr, "qx %s: %s: %s\n", command, first.context.c_str(), message.c_str());
}

bool ReadSelection(const ParsedArguments& parsed, const CaptureDocument& document,
                   CallGraphRequest& selection, std::string& error)
{
    if (auto found = parsed.options.find("threads"); found != parsed.options.end()) {
        std::optional<std::vector<ThreadID>> threads = ParseThreadList(found->second);
        if (!threads) {
            error = "--threads wants thread IDs separated by commas, not '" + found->second + "'";
            return false;
        }
        selection.Threads = std::move(*threads);
    }
    std::optional<double> from;
    std::optional<double> to;
    if (auto found = parsed.options.find("from"); found != parsed.options.end())
        if (!(from = ParseNumber(found->second))) {
            error = "--from wants a time in milliseconds, not '" + found->second + "'";
            return false;
        }
    if (auto found = parsed.options.find("to"); found != parsed.options.end())
        if (!(to = ParseNumber(found->second))) {
            error = "--to wants a time in milliseconds, not '" + found->second + "'";
            return false;
        }
    if (from || to) {
        // Times on the command line count from the capture's start: perf stamps events with the
        // machine's uptime, which nobody wants to type.
        const double start = document.GetSession().GetStartTimeMs();
        selection.From = start + from.value_or(0.0);
        // Open bars of the last samples reach one interval past the last event.
        selection.To =
            to ? start + *to : document.GetCaptureEndTime() + document.GetSession().GetSampleIntervalMs();
        if (selection.From > selection.To) {
            error = "--from must not be later than --to";
            return false;
        }
    }
    return true;
}

bool CheckSelectionThreads(const CaptureDocument& document, const CallGraphRequest& selection,
                           std::string& error)
{
    const std::vector<ThreadID> known = document.GetModelThreads();
    for (ThreadID thread : selection.Threads)
        if (std::find(known.begin(), known.end(), thread) == known.end()) {
            error = "the capture has no events of thread " + std::to_string(static_cast<uint32_t>(thread)) +
                    " (see qx info)";
            return false;
        }
    return true;
}

int OpenSelection(const char* command, const char* usage, const ParsedArguments& parsed,
                  CaptureDocument& document, CallGraphRequest& selection)
{
    if (!OpenCapture(command, parsed.positionals[0], document))
        return kExitBadCapture;
    std::string error;
    if (!ReadSelection(parsed, document, selection, error))
        return UsageError(command, usage, error);
    if (!EnsureProcessed(command, document, false, true))
        return kExitBadCapture;
    if (!CheckSelectionThreads(document, selection, error))
        return UsageError(command, usage, error);
    return kExitOk;
}

bool OpenCapture(const char* command, const std::string& path, CaptureDocument& document)
{
    Serialization::ErrorList errors;
    if (document.Open(path, errors))
        return true;
    PrintError(command, errors);
    return false;
}

namespace {

/// Draws progress on standard error: a bar that redraws itself on a terminal, a line per tenth
/// otherwise (logs and pipes).
class ProgressPrinter {
public:
    ProgressPrinter() : mTerminal(isatty(STDERR_FILENO) != 0) {}

    bool Update(double fraction)
    {
        const int percent = static_cast<int>(std::floor(fraction * 100.0));
        if (mTerminal) {
            constexpr int kWidth = 40;
            const int filled = std::clamp(percent * kWidth / 100, 0, kWidth);
            std::fprintf(stderr, "\rProcessing [%s%s] %3d%%", std::string(filled, '#').c_str(),
                         std::string(kWidth - filled, ' ').c_str(), percent);
            std::fflush(stderr);
            mDrawn = true;
        } else if (percent / 10 > mLastTenth) {
            mLastTenth = percent / 10;
            std::fprintf(stderr, "Processing: %d%%\n", mLastTenth * 10);
        }
        return true;
    }

    void End()
    {
        if (mDrawn)
            std::fputc('\n', stderr);
        mDrawn = false;
    }

private:
    bool mTerminal;
    bool mDrawn = false;
    int mLastTenth = -1;
};

} // namespace

bool EnsureProcessed(const char* command, CaptureDocument& document, bool force, bool quiet)
{
    if (document.IsProcessed() && !force) {
        if (!quiet)
            std::printf("Already processed: %s\n",
                        (document.GetSession().GetDirectory() / CallGraphModel::kFolderName).c_str());
        return true;
    }
    ProgressPrinter printer;
    Serialization::ErrorList errors;
    const auto start = std::chrono::steady_clock::now();
    const CaptureDocument::EProcessResult result =
        document.Process([&printer](double fraction) { return printer.Update(fraction); }, errors, force);
    printer.End();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != CaptureDocument::EProcessResult::Processed) {
        PrintError(command, errors);
        return false;
    }
    const uint64_t events = document.GetProcessedEventCount();
    std::fprintf(quiet ? stderr : stdout,
                 "Processed %llu events (%llu samples) of %zu threads in %.2f s (%.0f events/s)\n",
                 static_cast<unsigned long long>(events),
                 static_cast<unsigned long long>(document.GetProcessedSampleCount()),
                 document.GetModelThreads().size(), seconds, seconds > 0.0 ? events / seconds : 0.0);
    return true;
}

namespace {

/// Waits for the one completion of a query run with the inline executor.
template <class Result, class Request, class Submit> Result WaitForQuery(Request request, Submit submit)
{
    std::latch done(1);
    Result outcome;
    submit(std::move(request), [&](Result result) {
        outcome = std::move(result);
        done.count_down();
    });
    done.wait();
    return outcome;
}

void AddOutcomeErrors(const char* what, EQueryOutcome outcome, const Serialization::ErrorList& from,
                      Serialization::ErrorList& errors)
{
    if (outcome == EQueryOutcome::Canceled) {
        errors.Add(Serialization::EErrorCode::Corrupt, std::string("The ") + what + " query was canceled");
        return;
    }
    for (const auto& record : from.GetErrors()) {
        Serialization::ErrorList::ContextScope context(errors, record.context);
        // Only the model's own file is made anew by processing; advice to process again would
        // fail the same way for a damaged capture file.
        const bool modelFile = record.context.ends_with(CallGraphModel::kSnapshotsFileName) ||
                               record.context.ends_with(CallGraphModel::kModelFileName);
        errors.Add(record.code, modelFile
                                    ? record.message + " (process the capture again with qx process --force)"
                                    : record.message);
    }
}

} // namespace

std::shared_ptr<const CallGraph> RunCallGraphQuery(CaptureDocument& document, const CallGraphRequest& request,
                                                   Serialization::ErrorList& errors)
{
    CaptureQueries queries(document, MakeInlineExecutor());
    CallGraphResult result = WaitForQuery<CallGraphResult>(request, [&](auto value, auto completion) {
        queries.SubmitCallGraph(std::move(value), std::move(completion));
    });
    if (result.Outcome != EQueryOutcome::Graph)
        AddOutcomeErrors("call graph", result.Outcome, result.Errors, errors);
    return result.Graph;
}

std::shared_ptr<const BuildListData> RunFunctionListQuery(CaptureDocument& document,
                                                          std::shared_ptr<const CallGraph> graph,
                                                          Serialization::ErrorList& errors)
{
    CaptureQueries queries(document, MakeInlineExecutor());
    FunctionListRequest request;
    request.Graph = std::move(graph);
    FunctionListResult result = WaitForQuery<FunctionListResult>(request, [&](auto value, auto completion) {
        queries.SubmitFunctionList(std::move(value), std::move(completion));
    });
    if (result.Outcome != EQueryOutcome::Graph)
        AddOutcomeErrors("function list", result.Outcome, result.Errors, errors);
    return result.Data;
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string JsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return error == std::errc() ? std::string(buffer, end) : "null";
}

std::string CsvField(std::string_view text)
{
    if (text.find_first_of(",\"\n\r") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

} // namespace Profiler::Qx
