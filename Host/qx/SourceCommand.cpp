#include "CaptureCommandSupport.h"
#include "Command.h"

#include "CallGraphModel/FunctionTimingProcessor.h"
#include "CaptureModel/FunctionDataCache.h"
#include "CaptureModel/Session.h"
#include "SymbolResolution/FunctionSourceContext.h"
#include "SymbolResolution/SourceCosts.h"
#include "SymbolResolution/SymbolLocationSettings.h"
#include "System/JobScheduler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <map>
#include <set>

namespace Profiler {

namespace {

constexpr const char* kUsage =
    "Usage: qx source CAPTURE FUNCTION [--threads ID,...] [--from MS] [--to MS] [--disasm]\n"
    "                 [--debug-dir DIR]\n";

constexpr const char* kHelp =
    "Usage: qx source CAPTURE FUNCTION [--threads ID,...] [--from MS] [--to MS] [--disasm]\n"
    "                 [--debug-dir DIR]\n"
    "\n"
    "Prints a function's source lines with the time spent on each: inclusive time (the line's\n"
    "own samples plus the time of the functions it calls), exclusive time (its own samples),\n"
    "samples, and the time by thread state when some of it was not spent executing. FUNCTION is\n"
    "a function name as qx functions prints it, or a unique part of one. The source file and\n"
    "line table come from the module's debug information (see docs/symbols.md); what was found\n"
    "is kept in the capture's functioncache.dat.\n"
    "\n"
    "Options:\n"
    "  --threads ID,...   only these threads (default: all)\n"
    "  --from MS, --to MS the time range in milliseconds from the capture's start\n"
    "  --disasm           print the instructions with their cost instead of the source\n"
    "  --debug-dir DIR    also look for images and debug files in DIR (besides the folders\n"
    "                     added in quasarix's Modules panel)\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 missing or unreadable capture, 3 function not found\n"
    "or nothing to show for it (the message names the step that failed).\n";

constexpr int kExitNothingToShow = 3;
constexpr double kTolerance = 1e-6;

const char* ResultText(EResolveFunctionDataResult result)
{
    switch (result) {
    case EResolveFunctionDataResult::PDBNotFound:
        return "no debug information found";
    case EResolveFunctionDataResult::PDBCouldNotBeLoaded:
        return "debug information could not be read";
    case EResolveFunctionDataResult::SourceNotFound:
        return "source file not found";
    case EResolveFunctionDataResult::SourceUnmatched:
        return "source file changed after the build";
    case EResolveFunctionDataResult::SourceFound:
        return "source file found";
    case EResolveFunctionDataResult::SourceFoundNoChecksum:
        return "source file found (not checksummed)";
    case EResolveFunctionDataResult::SourceFoundInCache:
        return "source file found (cached)";
    case EResolveFunctionDataResult::CriticalError:
        return "internal error";
    }
    return "unknown";
}

/// Where quasarix keeps the user's symbol locations (its settings folder).
std::filesystem::path UserSymbolLocationsPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder = config && *config ? std::filesystem::path(config)
                                   : home && *home   ? std::filesystem::path(home) / ".config"
                                                     : std::filesystem::path();
    if (folder.empty())
        return {};
    return folder / "Quasarix" / "quasarix" / SymbolLocationSettings::kFileName;
}

bool HasSource(const FunctionData& data)
{
    return data.mResult >= EResolveFunctionDataResult::SourceUnmatched &&
           data.mResult <= EResolveFunctionDataResult::SourceFoundInCache;
}

bool HasDisassembly(const FunctionData& data)
{
    return data.mDisassemblyResult == EDisassemblyResult::Success ||
           data.mDisassemblyResult == EDisassemblyResult::SuccessFromCache;
}

/// "Sleep 4.000, IO 1.000" for the states other than Executing that have time; empty otherwise.
std::string WaitText(const TimingEntry& entry)
{
    std::string text;
    for (int state = 0; state < kThreadStateCount; ++state) {
        if (state == static_cast<int>(EThreadState::Executing) || entry.Times[state] <= 0.0)
            continue;
        char part[64];
        std::snprintf(part, sizeof(part), "%s%s %.3f", text.empty() ? "" : ", ",
                      GetThreadStateName(static_cast<EThreadState>(state)), entry.Times[state]);
        text += part;
    }
    return text;
}

/// The selected function: an exact name, else the one function whose name contains the text.
const FunctionListItem* FindFunction(const BuildListData& list, const std::string& name, std::string& error)
{
    std::vector<std::size_t> partial;
    for (std::size_t i = 0; i < list.Items.size(); ++i) {
        if (list.DisplayRecords[i].FunctionName == name)
            return list.Items[i].get();
        if (list.DisplayRecords[i].FunctionName.find(name) != std::string::npos)
            partial.push_back(i);
    }
    if (partial.size() == 1)
        return list.Items[partial.front()].get();
    if (partial.empty()) {
        error = "no function named '" + name + "' in the selection";
    } else {
        error = "'" + name + "' matches " + std::to_string(partial.size()) + " functions:";
        for (std::size_t i = 0; i < std::min<std::size_t>(partial.size(), 10); ++i)
            error += "\n  " + list.DisplayRecords[partial[i]].FunctionName;
    }
    return nullptr;
}

void PrintResolveLog(const ModuleSymbols& symbols)
{
    std::fprintf(stderr, "Resolve log of %s (%s):\n", symbols.GetImagePath().c_str(),
                 GetModuleResolveStatusText(symbols.GetStatus()));
    for (const ResolveLogEntry& entry : symbols.GetLog())
        std::fprintf(stderr, "  %-28s %-10s %s%s%s%s\n", entry.Label.c_str(),
                     GetResolveStepOutcomeText(entry.Outcome), entry.Detail.c_str(),
                     entry.Detail.empty() ? "" : " ", entry.Path.c_str(), entry.Value.c_str());
}

int PrintSource(const FunctionData& data, const FunctionTimingInfo& info)
{
    std::ifstream file(data.mResolvedSourcePath);
    std::vector<std::string> text;
    for (std::string line; std::getline(file, line);)
        text.push_back(line);
    if (text.empty()) {
        std::fprintf(stderr, "qx source: reading the source file failed: %s\n",
                     data.mResolvedSourcePath.c_str());
        return kExitNothingToShow;
    }
    const std::map<int32_t, SourceCost> costs = GetLineCosts(info);
    int32_t first = data.mResolvedFunctionLine > 0 ? data.mResolvedFunctionLine : 1;
    int32_t last = first;
    for (const auto& [line, address] : info.LineData->mAddressToLineMap.mLineToFirstAddressMap) {
        first = std::min(first, line);
        last = std::max(last, line);
    }
    for (const auto& [line, entry] : info.LineEntries) {
        first = std::min(first, line);
        last = std::max(last, line);
    }
    last = std::min<int32_t>(last + 1, static_cast<int32_t>(text.size()));
    std::printf("%10s %10s %8s  %5s  %s\n", "Incl ms", "Excl ms", "Samples", "Line", "Source");
    for (int32_t line = std::max(first - 1, 1); line <= last; ++line) {
        const std::string& source = text[static_cast<std::size_t>(line - 1)];
        auto timed = info.LineEntries.find(line);
        if (timed == info.LineEntries.end()) {
            std::printf("%10s %10s %8s  %5d  %s\n", "", "", "", line, source.c_str());
            continue;
        }
        const auto cost = costs.find(line);
        const double ownTime = cost == costs.end() ? 0.0 : cost->second.Entry.Total - cost->second.CalleeTime;
        const std::string wait = WaitText(timed->second);
        std::printf("%10.3f %10.3f %8llu  %5d  %s%s%s%s\n", timed->second.Total, ownTime,
                    static_cast<unsigned long long>(timed->second.Samples), line, source.c_str(),
                    wait.empty() ? "" : "    // waiting: ", wait.c_str(), "");
    }
    return Qx::kExitOk;
}

void PrintDisassembly(const FunctionData& data, const FunctionTimingInfo& info)
{
    LineDataAddressMap lines(info.LineData);
    std::printf("%10s %8s  %-16s %-8s %s\n", "Cost ms", "Samples", "Address", "Line", "Instruction");
    for (const AsmInstruction& instruction : data.mInstructions) {
        const SourceCost instructionCost = GetInstructionCost(info, instruction);
        const double cost = instructionCost.Entry.Total;
        const uint64_t samples = instructionCost.Entry.Samples;
        const std::optional<int32_t> line = lines.FindLine(instruction.mAddress);
        char costText[32] = "";
        if (cost > 0.0)
            std::snprintf(costText, sizeof(costText), "%.3f", cost);
        std::printf(
            "%10s %8s  %016llx %-8s %s %s\n", costText, samples ? std::to_string(samples).c_str() : "",
            static_cast<unsigned long long>(instruction.mAddress), line ? std::to_string(*line).c_str() : "",
            instruction.mMnemonic.c_str(), instruction.mOpStr.c_str());
    }
}

} // namespace

int RunSourceCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {"threads", "from", "to", "debug-dir"}, {"disasm"}, parsed, error))
        return Qx::UsageError("source", kUsage, error);
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return Qx::kExitOk;
    }
    if (parsed.positionals.size() != 2)
        return Qx::UsageError("source", kUsage, "expected a capture and a function");
    const std::string functionName = parsed.positionals[1];
    parsed.positionals.resize(1);

    CaptureDocument document;
    CallGraphRequest selection;
    if (const int status = Qx::OpenSelection("source", kUsage, parsed, document, selection);
        status != Qx::kExitOk)
        return status;
    std::shared_ptr<const CallGraph> graph;
    std::shared_ptr<const BuildListData> list;
    if (!Qx::RunSelectionFunctionList("source", document, selection, graph, list))
        return Qx::kExitBadCapture;
    const FunctionListItem* item = FindFunction(*list, functionName, error);
    if (item == nullptr) {
        std::fprintf(stderr, "qx source: %s\n", error.c_str());
        return kExitNothingToShow;
    }

    const Session& session = document.GetSession();
    SymbolSearchOptions options;
    if (parsed.Has("debug-dir"))
        options.LocalFolders.push_back(parsed.options["debug-dir"]);
    // Then the symbol locations the user keeps in quasarix's modules view.
    Serialization::ErrorList settingsErrors;
    LoadSymbolLocationSettingsOrDefaults(UserSymbolLocationsPath(), settingsErrors)->ApplyTo(options);
    FunctionSourceContext sources(session, CaptureDocument::GetRegistry(), std::move(options));
    const std::shared_ptr<FunctionDataResolver>& provider = sources.GetResolver();

    System::JobScheduler scheduler(1);
    std::promise<std::unique_ptr<FunctionTimingInfo>> done;
    std::unique_ptr<FunctionTimingInfo> info;
    {
        FunctionTimingProcessor processor(scheduler, provider);
        FunctionTimingProcessor::Callbacks callbacks;
        callbacks.TimingReady = [&done](std::unique_ptr<FunctionTimingInfo> result) {
            done.set_value(std::move(result));
        };
        FunctionQuery query;
        query.Graph = graph;
        query.Scope.SamplingIntervalMs = session.GetSampleIntervalMs();
        processor.Request(std::move(query), item->Function, std::move(callbacks));
        info = done.get_future().get();
    }
    Serialization::ErrorList saveErrors;
    (void)sources.SaveCache(saveErrors); // a read-only capture still gets its answer

    const FunctionData& data = *info->Data;
    const std::string moduleName = session.GetModuleDatabase().GetModuleName(item->Function);
    const double lineSum = GetTimeOnLines(*info);
    if (lineSum > info->TotalTime * (1.0 + kTolerance) + kTolerance) {
        std::fprintf(stderr, "qx source: the lines add up to %.6f ms, more than the function's %.6f ms\n",
                     lineSum, info->TotalTime);
        return Qx::kExitBadCapture;
    }
    std::printf("%s [%s]\n", functionName.c_str(), moduleName.c_str());
    std::printf("Source: %s (%s)\n",
                data.mOriginalSourcePath.empty() ? "-" : data.mOriginalSourcePath.c_str(),
                ResultText(data.mResult));
    std::printf("Total %.3f ms, on lines %.3f ms, unattributed %.3f ms\n\n", info->TotalTime, lineSum,
                std::max(0.0, info->TotalTime - lineSum));

    const bool disassembly = parsed.Has("disasm");
    if ((disassembly && !HasDisassembly(data)) || (!disassembly && !HasSource(data))) {
        if (disassembly)
            std::fprintf(stderr, "qx source: disassembly not available (%s)\n", data.mErrorMessage.c_str());
        else
            std::fprintf(stderr, "qx source: %s\n",
                         data.mErrorMessage.empty() ? ResultText(data.mResult) : data.mErrorMessage.c_str());
        const auto& modules = session.GetModuleDatabase().GetNativeModules();
        if (item->Function.GetKind() == ResolvedAddress::kKindNative &&
            item->Function.GetModuleIndex() < modules.size())
            PrintResolveLog(*sources.GetSymbols().GetModule(modules[item->Function.GetModuleIndex()]->mPath));
        return kExitNothingToShow;
    }
    if (disassembly) {
        PrintDisassembly(data, *info);
        return Qx::kExitOk;
    }
    return PrintSource(data, *info);
}

} // namespace Profiler
