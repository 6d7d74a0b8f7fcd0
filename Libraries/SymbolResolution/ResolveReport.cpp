#include "SymbolResolution/ResolveReport.h"

#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/SymbolResolver.h"
#include "Utility/Format.h"

#include <algorithm>
#include <string_view>

namespace Profiler {

namespace {

/// The suffix that the importer gives the path of an inline module.
constexpr std::string_view kInlineModuleSuffix = " (inlined)";
constexpr const char* kRule = "----------------------\n";

std::string Hex(uint64_t value)
{
    return Utility::Format("0x%llx", static_cast<unsigned long long>(value));
}

/// "key:   value" lines whose values end in one column, one space after the longest key.
void AppendProperties(std::string& text, const std::vector<ResolveProperty>& properties)
{
    std::size_t keyWidth = 0;
    std::size_t valueWidth = 0;
    for (const auto& [key, value] : properties) {
        keyWidth = std::max(keyWidth, key.size());
        valueWidth = std::max(valueWidth, value.size());
    }
    for (const auto& [key, value] : properties) {
        const int width = static_cast<int>(keyWidth - key.size() + valueWidth + 1);
        text += Utility::Format("%s:%*s\n", key.c_str(), width, value.c_str());
    }
}

} // namespace

const char* GetMissingResolveLogText(EMissingResolveLog missing)
{
    switch (missing) {
    case EMissingResolveLog::None:
        return "";
    case EMissingResolveLog::OldCapture:
        return "This capture was made in a previous version of Quasarix and does not contain resolve "
               "information.";
    case EMissingResolveLog::Unused:
        return "This module did not show up in any callstack and was therefore never resolved.";
    case EMissingResolveLog::JIT:
        return "Resolve information is not available for JIT compiled modules.";
    }
    return "";
}

const std::string& GetShownValue(const ResolveLogEntry& entry)
{
    return entry.Path.empty() ? entry.Value : entry.Path;
}

std::string FormatResolveLogText(const std::vector<ResolveLogEntry>& log, EMissingResolveLog missing,
                                 const std::vector<ResolveProperty>& module)
{
    std::string text = "Resolve Log\n";
    text += kRule;
    if (missing != EMissingResolveLog::None) {
        text += GetMissingResolveLogText(missing);
        text += '\n';
    } else {
        std::size_t width = 0;
        for (const ResolveLogEntry& entry : log)
            width = std::max(width, entry.Label.size() + 1 + entry.Detail.size());
        // The values start in one column, whatever the label and detail before them.
        for (const ResolveLogEntry& entry : log) {
            const std::string& value = GetShownValue(entry);
            const int field =
                static_cast<int>(width - entry.Label.size() - entry.Detail.size() + value.size());
            if (!entry.Detail.empty())
                text += Utility::Format("%s: %s%*s\n", entry.Label.c_str(), entry.Detail.c_str(), field,
                                        value.c_str());
            else
                text += Utility::Format("%s  %*s\n", entry.Label.c_str(), field, value.c_str());
        }
    }
    text += "\nModule\n";
    text += kRule;
    AppendProperties(text, module);
    return text;
}

std::string FormatFunctionInformationText(const std::vector<ResolveProperty>& function,
                                          const std::vector<ResolveProperty>& module)
{
    std::string text = "\nFunction\n";
    text += kRule;
    AppendProperties(text, function);
    text += "\nModule information\n";
    text += kRule;
    AppendProperties(text, module);
    return text;
}

std::string GetModuleImagePath(const NativeModule& module)
{
    const std::string& path = module.mPath;
    if (path.size() > kInlineModuleSuffix.size() && path.ends_with(kInlineModuleSuffix))
        return path.substr(0, path.size() - kInlineModuleSuffix.size());
    return path;
}

std::vector<ResolveProperty> DescribeModule(const NativeModule& module, const NativeModuleInstance* instance,
                                            const ModuleSymbols* symbols)
{
    std::vector<ResolveProperty> properties;
    properties.emplace_back("Name", module.mName);
    properties.emplace_back("Path", module.mPath);
    if (symbols != nullptr) {
        if (!symbols->GetImagePath().empty() && symbols->GetImagePath() != module.mPath)
            properties.emplace_back("Image read", symbols->GetImagePath());
        properties.emplace_back("Build id", symbols->GetBuildId().empty() ? "none" : symbols->GetBuildId());
        properties.emplace_back("Debug file",
                                symbols->GetDebugPath().empty() ? "none" : symbols->GetDebugPath());
        properties.emplace_back("Debug information", GetDebugInfoSourceText(symbols->GetDebugSource()));
        properties.emplace_back("Symbol status", GetModuleResolveStatusText(symbols->GetStatus()));
        const std::string architecture = symbols->GetArchitectureText();
        if (!architecture.empty())
            properties.emplace_back("Architecture", architecture);
    }
    if (instance != nullptr)
        properties.emplace_back("Load address", Hex(instance->mImageBase));
    properties.emplace_back("Size", Utility::Format("%d", module.mImageSize));
    properties.emplace_back("Address mode", module.IsAbsolute() ? "Absolute" : "Relative");
    return properties;
}

FunctionInformation BuildFunctionInformation(const ModuleDatabase& modules, SymbolResolver& symbols,
                                             const ResolvedAddress& function)
{
    FunctionInformation information;
    auto& properties = information.Function;
    properties.emplace_back("Name", modules.GetFunctionName(function));
    properties.emplace_back("Module", modules.GetModuleName(function));
    properties.emplace_back("Relative address", Hex(function.RelativeAddress));
    const std::optional<Function> record = modules.FindFunction(function);
    if (record)
        properties.emplace_back("Size",
                                Utility::Format("%llu", static_cast<unsigned long long>(record->mSize)));

    const NativeModule* module = nullptr;
    NativeModuleInstance instance;
    int instances = 0;
    modules.Read([&](const ModuleDatabase& database) {
        const auto& natives = database.GetNativeModules();
        if (function.GetKind() != ResolvedAddress::kKindNative || function.GetModuleIndex() >= natives.size())
            return;
        module = natives[function.GetModuleIndex()].get();
        for (const NativeModuleInstance& candidate : database.GetNativeModuleInstances())
            if (candidate.mNativeModuleIndex == function.GetModuleIndex() && instances++ == 0)
                instance = candidate;
    });
    if (module == nullptr || function.RelativeAddress == ModuleDatabase::kModuleEntryAddress) {
        properties.emplace_back("Debug information", "none: the function has no code address in an image");
        return information;
    }
    const std::shared_ptr<const ModuleSymbols> moduleSymbols = symbols.GetModule(GetModuleImagePath(*module));
    AddressInfo info;
    if (moduleSymbols->Resolve(function.RelativeAddress, info) && !info.Frames.empty()) {
        const SourceFrame& innermost = info.Frames.front();
        if (info.HasFunction)
            properties.emplace_back("Function range",
                                    Hex(info.FunctionStart) + " - " + Hex(info.FunctionEnd));
        properties.emplace_back("Source file",
                                innermost.File.empty() ? "unknown" : std::string(innermost.File));
        if (innermost.Line > 0)
            properties.emplace_back("Line", std::to_string(innermost.Line));
        // Functions inlined at the very start, innermost first, then the compiled function.
        for (std::size_t i = 0; i + 1 < info.Frames.size(); ++i)
            properties.emplace_back(i == 0 ? "Inlined" : "Inlined into",
                                    std::string(info.Frames[i].Function));
    } else if (!info.Frames.empty()) {
        properties.emplace_back("Symbol", std::string(info.Frames.front().Function));
    }
    properties.emplace_back("Debug information", GetModuleResolveStatusText(moduleSymbols->GetStatus()));
    information.Module = DescribeModule(*module, instances == 1 ? &instance : nullptr, moduleSymbols.get());
    return information;
}

void ApplyResolveStatus(NativeModule& module, const ModuleSymbols& symbols)
{
    if (module.mResolveStatus == NativeModule::EResolveStatus::Unused ||
        module.mResolveStatus == NativeModule::EResolveStatus::OldCapture)
        return;
    module.mResolveStatus = symbols.HasMatchingDebugInfo() ? NativeModule::EResolveStatus::Resolved
                                                           : NativeModule::EResolveStatus::Unresolved;
}

NativeModule::EResolveStatus GetRecordedResolveStatus(const NativeModule& module)
{
    if (module.mResolveStatus != NativeModule::EResolveStatus::OldCapture && module.mFunctions.empty() &&
        module.mRuntimeFunctions.empty())
        return NativeModule::EResolveStatus::Unused;
    return module.mResolveStatus;
}

std::size_t UpdateModuleResolveStatuses(ModuleDatabase& modules, SymbolResolver& symbols,
                                        const std::atomic<bool>& canceled)
{
    std::size_t resolved = 0;
    for (const std::unique_ptr<NativeModule>& module : modules.GetNativeModules()) {
        if (canceled.load())
            break;
        if (module == nullptr)
            continue;
        module->mResolveStatus = GetRecordedResolveStatus(*module);
        if (module->mResolveStatus == NativeModule::EResolveStatus::OldCapture ||
            module->mResolveStatus == NativeModule::EResolveStatus::Unused)
            continue;
        ApplyResolveStatus(*module, *symbols.GetModule(GetModuleImagePath(*module)));
        ++resolved;
    }
    return resolved;
}

} // namespace Profiler
