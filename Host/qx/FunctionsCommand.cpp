#include "CaptureCommandSupport.h"
#include "Command.h"

#include "CallGraphModel/CallGraph.h"

#include <algorithm>
#include <cstdio>

namespace Profiler {

namespace {

constexpr const char* kUsage =
    "Usage: qx functions CAPTURE [--threads ID,...] [--from MS] [--to MS] [--top N]\n"
    "                    [--format text|json|csv]\n";

constexpr const char* kHelp =
    "Usage: qx functions CAPTURE [--threads ID,...] [--from MS] [--to MS] [--top N]\n"
    "                    [--format text|json|csv]\n"
    "\n"
    "Prints the functions of a capture's call graph, largest inclusive time first: inclusive\n"
    "time (recursion counted once), exclusive time (executing time that samples attribute to\n"
    "the function), unknown executing time (executing self time the samples do not cover),\n"
    "unknown wait time (self time spent waiting) and samples. The capture is processed first\n"
    "when it has not been (see qx process).\n"
    "\n"
    "Options:\n"
    "  --threads ID,...   only these threads (default: all)\n"
    "  --from MS, --to MS the time range in milliseconds from the capture's start\n"
    "                     (default: the whole capture)\n"
    "  --top N            the first N functions (default: 50 for text, all otherwise; 0: all)\n"
    "  --format F         text (default), json or csv\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 missing or unreadable capture.\n";

} // namespace

int RunFunctionsCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {"threads", "from", "to", "top", "format"}, {}, parsed, error))
        return Qx::UsageError("functions", kUsage, error);
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return Qx::kExitOk;
    }
    if (parsed.positionals.size() != 1)
        return Qx::UsageError("functions", kUsage, "expected one capture");
    const std::string format = parsed.Has("format") ? parsed.options["format"] : "text";
    if (format != "text" && format != "json" && format != "csv")
        return Qx::UsageError("functions", kUsage, "--format is text, json or csv, not '" + format + "'");
    uint64_t top = format == "text" ? 50 : 0;
    if (parsed.Has("top")) {
        const std::optional<uint64_t> count = Qx::ParseCount(parsed.options["top"]);
        if (!count)
            return Qx::UsageError("functions", kUsage, "--top wants a number of functions");
        top = *count;
    }

    CaptureDocument document;
    CallGraphRequest selection;
    if (const int status = Qx::OpenSelection("functions", kUsage, parsed, document, selection);
        status != Qx::kExitOk)
        return status;

    std::shared_ptr<const CallGraph> graph;
    std::shared_ptr<const BuildListData> list;
    if (!Qx::RunSelectionFunctionList("functions", document, selection, graph, list))
        return Qx::kExitBadCapture;
    const std::size_t count =
        top == 0 ? list->Items.size() : static_cast<std::size_t>(std::min<uint64_t>(top, list->Items.size()));

    if (format == "csv") {
        std::puts("function,module,inclusive_ms,exclusive_ms,unknown_executing_ms,unknown_wait_ms,samples");
        for (std::size_t i = 0; i < count; ++i) {
            const FunctionListItem& item = *list->Items[i];
            const FunctionDisplayRecord& names = list->DisplayRecords[i];
            std::printf(
                "%s,%s,%s,%s,%s,%s,%llu\n", Qx::CsvField(names.FunctionName).c_str(),
                Qx::CsvField(names.ModuleName).c_str(), Qx::JsonNumber(item.GetTotalInclusive()).c_str(),
                Qx::JsonNumber(item.Exclusive).c_str(), Qx::JsonNumber(item.UnknownExecuting).c_str(),
                Qx::JsonNumber(item.UnknownWait).c_str(), static_cast<unsigned long long>(item.SampleCount));
        }
    } else if (format == "json") {
        std::string out = "{\"capture\":" + Qx::JsonString(document.GetPath().string()) +
                          ",\"total_ms\":" + Qx::JsonNumber(graph->GetTotalTime()) + ",\"functions\":[";
        for (std::size_t i = 0; i < count; ++i) {
            const FunctionListItem& item = *list->Items[i];
            const FunctionDisplayRecord& names = list->DisplayRecords[i];
            out += i ? ",\n" : "\n";
            out += "{\"function\":" + Qx::JsonString(names.FunctionName) +
                   ",\"module\":" + Qx::JsonString(names.ModuleName) +
                   ",\"inclusive_ms\":" + Qx::JsonNumber(item.GetTotalInclusive()) +
                   ",\"exclusive_ms\":" + Qx::JsonNumber(item.Exclusive) +
                   ",\"unknown_executing_ms\":" + Qx::JsonNumber(item.UnknownExecuting) +
                   ",\"unknown_wait_ms\":" + Qx::JsonNumber(item.UnknownWait) +
                   ",\"samples\":" + std::to_string(item.SampleCount) + "}";
        }
        out += "]}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        std::printf("Functions of %s: %zu of %zu, total %.3f ms\n\n", document.GetPath().c_str(), count,
                    list->Items.size(), graph->GetTotalTime());
        std::printf("%13s %13s %13s %13s %9s  %s\n", "Inclusive ms", "Exclusive ms", "Unk. exec ms",
                    "Unk. wait ms", "Samples", "Function [module]");
        for (std::size_t i = 0; i < count; ++i) {
            const FunctionListItem& item = *list->Items[i];
            const FunctionDisplayRecord& names = list->DisplayRecords[i];
            std::printf("%13.3f %13.3f %13.3f %13.3f %9llu  %s%s%s%s\n", item.GetTotalInclusive(),
                        item.Exclusive, item.UnknownExecuting, item.UnknownWait,
                        static_cast<unsigned long long>(item.SampleCount),
                        Qx::TerminalText(names.FunctionName).c_str(), names.ModuleName.empty() ? "" : " [",
                        Qx::TerminalText(names.ModuleName).c_str(), names.ModuleName.empty() ? "" : "]");
        }
    }
    return Qx::kExitOk;
}

} // namespace Profiler
