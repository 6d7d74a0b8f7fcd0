#include "CaptureCommandSupport.h"

#include "CallGraphModel/CallGraphNode.h"
#include "CaptureModel/CallstackNodeStore.h"
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
        // A thread named twice is still one thread; the query counts it once and the output
        // lists it once.
        for (ThreadID thread : *threads)
            if (std::find(selection.Threads.begin(), selection.Threads.end(), thread) ==
                selection.Threads.end())
                selection.Threads.push_back(thread);
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
            // Without --to the range ends with the capture, so that is what --from overshot.
            char end[64];
            std::snprintf(end, sizeof(end), "%.3f", selection.To - start);
            error = to ? "--from must not be later than --to"
                       : "--from must not be later than the capture's end (" + std::string(end) +
                             " ms from the start); give --to as well or a smaller --from";
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
    // A query of an unprocessed capture processes it first, as the views do, but like any writer
    // under the capture's lock: a concurrent `qx process` is waited for and its model used, so
    // the two never write the model at the same time.
    if (!EnsureProcessed(command, document, false, true))
        return kExitBadCapture;
    if (!CheckSelectionThreads(document, selection, error))
        return UsageError(command, usage, error);
    return kExitOk;
}

bool OpenCapture(const char* command, const std::string& path, CaptureDocument& document)
{
    Serialization::ErrorList errors;
    if (!document.Open(path, errors)) {
        PrintError(command, errors);
        return false;
    }
    // Every command shows what is wrong with the capture, also when its own answer does not
    // depend on it.
    for (const auto& warning : document.GetWarnings().GetErrors())
        std::fprintf(stderr, "qx %s: warning: %s%s%s\n", command, TerminalText(warning.context).c_str(),
                     warning.context.empty() ? "" : ": ", TerminalText(warning.message).c_str());
    return true;
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

namespace {

/// Every sample of the capture must be in the model it was processed into; a model that lost some
/// would answer every query short without any sign of it.
bool CheckSampleInvariant(const char* command, CaptureDocument& document, const char* prefix)
{
    Serialization::ErrorList errors;
    // Counted from the records that a whole-capture query reads: building that graph costs as
    // much memory as the whole processing on a capture whose call paths keep growing.
    uint64_t held = 0;
    const CallGraphModel* model = document.GetModel();
    if (model == nullptr || !model->CountWholeCaptureSamples(held, errors)) {
        if (model == nullptr)
            errors.Add(Serialization::EErrorCode::Corrupt, "The capture has no call graph model");
        PrintError(command, errors);
        return false;
    }
    const uint64_t imported = document.GetImportedSampleCount();
    if (held == imported)
        return true;
    std::fprintf(
        stderr,
        "qx %s: %s%s: the call graph model holds %llu of the capture's %llu samples; answers from it "
        "leave the rest out (a fault of the processing; please report it)\n",
        command, prefix, document.GetPath().c_str(), static_cast<unsigned long long>(held),
        static_cast<unsigned long long>(imported));
    return false;
}

/// Processing again cannot mend the capture's own files, so advising --force would only fail the
/// same way: say what can help instead, and that a model that answered before is still there.
Serialization::ErrorList WithProcessingAdvice(const Serialization::ErrorList& errors, bool modelKept)
{
    Serialization::ErrorList advised;
    for (const auto& record : errors.GetErrors()) {
        const std::string text = record.context + " " + record.message;
        const bool captureFile = text.find("events.") != std::string::npos ||
                                 text.find("stacks.") != std::string::npos ||
                                 text.find(CallstackNodeStore::kFileName) != std::string::npos;
        Serialization::ErrorList::ContextScope context(advised, record.context);
        advised.Add(record.code, !captureFile ? record.message
                                              : record.message +
                                                    " (the capture is damaged: import the recording "
                                                    "again" +
                                                    (modelKept ? "; its stored model still answers)" : ")"));
    }
    return advised;
}

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
    // A second writer waits for the first instead of interleaving with it; the user is told
    // whom it waits for, since that may take a while.
    auto onWait = [command](const std::string& holder) {
        std::fprintf(stderr, "qx %s: waiting for %s, which is writing the capture\n", command,
                     TerminalText(holder, stderr).c_str());
    };
    const CaptureDocument::EProcessResult result = document.Process(
        [&printer](double fraction) { return printer.Update(fraction); }, errors, force, onWait);
    printer.End();
    if (result == CaptureDocument::EProcessResult::AlreadyProcessed)
        return true; // another writer processed it while we waited
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != CaptureDocument::EProcessResult::Processed) {
        PrintError(command, WithProcessingAdvice(errors, document.IsProcessed()));
        return false;
    }
    // `qx process` refuses a model that lost samples; a query that processed on the way still
    // answers, but says loudly that the answer is short.
    if (!CheckSampleInvariant(command, document, quiet ? "warning: " : "") && !quiet)
        return false;
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

bool RunSelectionFunctionList(const char* command, CaptureDocument& document, const CallGraphRequest& selection,
                              std::shared_ptr<const CallGraph>& graph, std::shared_ptr<const BuildListData>& list)
{
    Serialization::ErrorList errors;
    graph = RunCallGraphQuery(document, selection, errors);
    list = graph ? RunFunctionListQuery(document, graph, errors) : nullptr;
    if (!list)
        PrintError(command, errors);
    return list != nullptr;
}

namespace {

/// The length of the valid UTF-8 sequence at the start of `text`, or 0 when it is not one
/// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3f);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return overlong || surrogate || code > 0x10ffff ? 0 : length;
}

} // namespace

std::string TerminalText(std::string_view text, std::FILE* stream)
{
    if (isatty(fileno(stream)) == 0)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    while (!text.empty()) {
        const char c = text.front();
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            out += "\\ufffd"; // names come from binaries and perf text, in no promised encoding
            text.remove_prefix(1);
            continue;
        }
        if (length > 1) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
            continue;
        }
        text.remove_prefix(1);
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
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned char>(c));
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
