#include "CaptureCommandSupport.h"
#include "Command.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "CaptureModel/Session.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace Profiler {

namespace {

constexpr const char* kUsage =
    "Usage: qx callgraph CAPTURE [--threads ID,...] [--from MS] [--to MS] [--depth N]\n"
    "                    [--min-percent P] [--format text|json|folded]\n";

constexpr const char* kHelp =
    "Usage: qx callgraph CAPTURE [--threads ID,...] [--from MS] [--to MS] [--depth N]\n"
    "                    [--min-percent P] [--format text|json|folded]\n"
    "\n"
    "Prints the call graph of a capture, the selected threads merged at the root. The capture\n"
    "is processed first when it has not been (see qx process).\n"
    "\n"
    "Options:\n"
    "  --threads ID,...   only these threads (default: all)\n"
    "  --from MS          start of the time range in ms from the capture's start (default: 0)\n"
    "  --to MS            end of the time range (default: the end); without --from and --to the\n"
    "                     whole capture is shown\n"
    "  --depth N          print N levels of calls at most (default: all)\n"
    "  --min-percent P    leave out calls below P percent of the total time (default 0)\n"
    "  --format F         text (default): an indented tree with inclusive and exclusive time,\n"
    "                     samples and the split by thread state, largest first;\n"
    "                     json: the same tree as JSON;\n"
    "                     folded: one line per call path, 'outer;...;inner SAMPLES', with the\n"
    "                     samples taken in its innermost function (--depth and --min-percent\n"
    "                     do not apply)\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 missing or unreadable capture.\n";

struct PrintOptions {
    uint32_t maxDepth = std::numeric_limits<uint32_t>::max();
    double minTime = 0.0; ///< nodes below this inclusive time are left out
};

/// Inclusive time minus the children's: what the node spent in itself.
double SelfTime(const CallGraphNode& node)
{
    double children = 0.0;
    for (const CallGraphNode* child : node.Children)
        children += child->InclusiveTime();
    return std::max(0.0, node.InclusiveTime() - children);
}

/// Children largest first; equal times keep their stored order. Nodes with neither time nor
/// samples (a stack applied without time) tell the reader nothing and are left out.
std::vector<const CallGraphNode*> SortedChildren(const CallGraphNode& node)
{
    std::vector<const CallGraphNode*> children;
    for (const CallGraphNode* child : node.Children)
        if (child->InclusiveTime() != 0.0 || child->GetSampleCount() != 0)
            children.push_back(child);
    std::stable_sort(children.begin(), children.end(), [](const CallGraphNode* a, const CallGraphNode* b) {
        return a->InclusiveTime() > b->InclusiveTime();
    });
    return children;
}

/// The non-zero thread state times, largest first: "Executing 12.000, Sleep 3.500".
std::string StateSplit(const StateTimeArray& times)
{
    std::vector<int> states;
    for (int i = 0; i < kThreadStateCount; ++i)
        if (times[i] != 0.0)
            states.push_back(i);
    std::stable_sort(states.begin(), states.end(), [&](int a, int b) { return times[a] > times[b]; });
    std::string text;
    for (int state : states) {
        char figure[64];
        std::snprintf(figure, sizeof(figure), "%s%s %.3f", text.empty() ? "" : ", ",
                      GetThreadStateName(static_cast<EThreadState>(state)), times[state]);
        text += figure;
    }
    return text;
}

class TreePrinter {
public:
    TreePrinter(const FunctionDisplayNames& names, const PrintOptions& options, double total)
        : mNames(names), mOptions(options), mTotal(total)
    {}

    void Text(const CallGraphNode& node, uint32_t depth)
    {
        if (depth > mOptions.maxDepth)
            return;
        for (const CallGraphNode* child : SortedChildren(node)) {
            if (child->InclusiveTime() < mOptions.minTime)
                continue;
            const double inclusive = child->InclusiveTime();
            std::printf("%13.3f %6.2f%% %13.3f %9llu  %s%s  (%s)\n", inclusive,
                        mTotal > 0.0 ? 100.0 * inclusive / mTotal : 0.0, SelfTime(*child),
                        static_cast<unsigned long long>(child->GetSampleCount()),
                        std::string(2 * (depth - 1), ' ').c_str(),
                        Qx::TerminalText(mNames.GetFunctionName(child->GetFunction())).c_str(),
                        StateSplit(child->StateTimes).c_str());
            Text(*child, depth + 1);
        }
    }

    void Json(const CallGraphNode& node, uint32_t depth, std::string& out)
    {
        out += "[";
        bool first = true;
        if (depth <= mOptions.maxDepth)
            for (const CallGraphNode* child : SortedChildren(node)) {
                if (child->InclusiveTime() < mOptions.minTime)
                    continue;
                out += first ? "\n" : ",\n";
                first = false;
                const ResolvedAddress function = child->GetFunction();
                out += "{\"function\":" + Qx::JsonString(mNames.GetFunctionName(function)) +
                       ",\"module\":" + Qx::JsonString(mNames.GetModuleName(function)) +
                       ",\"inclusive_ms\":" + Qx::JsonNumber(child->InclusiveTime()) +
                       ",\"exclusive_ms\":" + Qx::JsonNumber(SelfTime(*child)) +
                       ",\"samples\":" + std::to_string(child->GetSampleCount()) + ",\"states\":{";
                bool firstState = true;
                for (int i = 0; i < kThreadStateCount; ++i)
                    if (child->StateTimes[i] != 0.0) {
                        out += firstState ? "" : ",";
                        firstState = false;
                        out += Qx::JsonString(GetThreadStateName(static_cast<EThreadState>(i))) + ":" +
                               Qx::JsonNumber(child->StateTimes[i]);
                    }
                out += "},\"children\":";
                Json(*child, depth + 1, out);
                out += "}";
            }
        out += "]";
    }

    void Folded(const CallGraphNode& node, std::string& path)
    {
        for (const CallGraphNode* child : node.Children) {
            const std::size_t length = path.size();
            if (!path.empty())
                path += ';';
            path += mNames.GetFunctionName(child->GetFunction());
            if (const uint64_t samples = child->GetSampleCount())
                std::printf("%s %llu\n", Qx::TerminalText(path).c_str(),
                            static_cast<unsigned long long>(samples));
            Folded(*child, path);
            path.resize(length);
        }
    }

private:
    const FunctionDisplayNames& mNames;
    PrintOptions mOptions;
    double mTotal;
};

std::string DescribeSelection(const CaptureDocument& document, const CallGraphRequest& selection)
{
    std::string text;
    if (selection.Threads.empty()) {
        text = "all threads";
    } else {
        text = "threads ";
        for (std::size_t i = 0; i < selection.Threads.size(); ++i)
            text += (i ? "," : "") + std::to_string(static_cast<uint32_t>(selection.Threads[i]));
    }
    if (selection.IsWholeCapture())
        return text + ", whole capture";
    char range[96];
    const double start = document.GetSession().GetStartTimeMs();
    std::snprintf(range, sizeof(range), ", %.3f to %.3f ms from the start", selection.From - start,
                  selection.To - start);
    return text + range;
}

} // namespace

int RunCallGraphCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {"threads", "from", "to", "depth", "min-percent", "format"}, {},
                            parsed, error))
        return Qx::UsageError("callgraph", kUsage, error);
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return Qx::kExitOk;
    }
    if (parsed.positionals.size() != 1)
        return Qx::UsageError("callgraph", kUsage, "expected one capture");
    const std::string format = parsed.Has("format") ? parsed.options["format"] : "text";
    if (format != "text" && format != "json" && format != "folded")
        return Qx::UsageError("callgraph", kUsage, "--format is text, json or folded, not '" + format + "'");
    PrintOptions options;
    if (parsed.Has("depth")) {
        const std::optional<uint64_t> depth = Qx::ParseCount(parsed.options["depth"]);
        if (!depth || *depth == 0)
            return Qx::UsageError("callgraph", kUsage, "--depth wants a positive number of levels");
        options.maxDepth = static_cast<uint32_t>(std::min<uint64_t>(*depth, UINT32_MAX));
    }
    double minPercent = 0.0;
    if (parsed.Has("min-percent")) {
        const std::optional<double> percent = Qx::ParseNumber(parsed.options["min-percent"]);
        if (!percent || *percent < 0.0 || *percent > 100.0)
            return Qx::UsageError("callgraph", kUsage, "--min-percent wants a percentage from 0 to 100");
        minPercent = *percent;
    }

    CaptureDocument document;
    CallGraphRequest selection;
    if (const int status = Qx::OpenSelection("callgraph", kUsage, parsed, document, selection);
        status != Qx::kExitOk)
        return status;

    Serialization::ErrorList errors;
    std::shared_ptr<const CallGraph> graph = Qx::RunCallGraphQuery(document, selection, errors);
    if (!graph) {
        Qx::PrintError("callgraph", errors);
        return Qx::kExitBadCapture;
    }
    const double total = graph->GetTotalTime();
    options.minTime = total * minPercent / 100.0;
    TreePrinter printer(document.GetFunctionNames(), options, total);
    if (format == "folded") {
        std::string path;
        printer.Folded(graph->GetRoot(), path);
    } else if (format == "json") {
        std::string out = "{\"capture\":" + Qx::JsonString(document.GetPath().string()) + ",\"threads\":[";
        const std::vector<ThreadID> threads =
            selection.Threads.empty() ? document.GetModelThreads() : selection.Threads;
        for (std::size_t i = 0; i < threads.size(); ++i)
            out += (i ? "," : "") + std::to_string(static_cast<uint32_t>(threads[i]));
        out += "],\"whole_capture\":";
        out += selection.IsWholeCapture() ? "true" : "false";
        if (!selection.IsWholeCapture())
            out += ",\"from_ms\":" + Qx::JsonNumber(selection.From - document.GetSession().GetStartTimeMs()) +
                   ",\"to_ms\":" + Qx::JsonNumber(selection.To - document.GetSession().GetStartTimeMs());
        out += ",\"total_ms\":" + Qx::JsonNumber(total) + ",\"children\":";
        printer.Json(graph->GetRoot(), 1, out);
        out += "}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        std::printf("Call graph of %s (%s)\n", document.GetPath().c_str(),
                    DescribeSelection(document, selection).c_str());
        std::printf("Total: %.3f ms\n\n", total);
        std::printf("%13s %7s %13s %9s  %s  (%s)\n", "Inclusive ms", "%", "Exclusive ms", "Samples",
                    "Function", "thread states, ms");
        printer.Text(graph->GetRoot(), 1);
    }
    return Qx::kExitOk;
}

} // namespace Profiler
