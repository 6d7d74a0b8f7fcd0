#include "SymbolResolution/FunctionDataResolver.h"

#include "CaptureModel/ModuleDatabase.h"

#include <filesystem>
#include <set>
#include <system_error>

namespace Profiler {

namespace {

namespace fs = std::filesystem;

bool FileExists(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

/// A source file changed after the module was built no longer shows what the module ran. Line
/// tables carry no checksums we can rely on, so the times are the best evidence there is.
bool IsNewerThan(const std::string& path, const std::string& reference)
{
    std::error_code first, second;
    const auto sourceTime = fs::last_write_time(path, first);
    const auto moduleTime = fs::last_write_time(reference, second);
    return !first && !second && sourceTime > moduleTime;
}

void FillLineMap(const FunctionLines& found, AddressToLineMap& map)
{
    map.mResolvedLines = found.Lines;
    map.mLineToFirstAddressMap.clear();
    for (const ResolvedLine& line : found.Lines)
        if (line.mLine > 0)
            map.mLineToFirstAddressMap.try_emplace(line.mLine, line.mAddress);
    map.mFullyResolved = true;
}

} // namespace

FunctionDataResolver::FunctionDataResolver(const ModuleDatabase& modules, SymbolResolver& symbols,
                                           FunctionDataCache* cache)
    : mModules(modules), mSymbols(symbols), mCache(cache)
{}

bool FunctionDataResolver::FillFromCache(const ResolvedAddress& function, FunctionData& data,
                                         FunctionLineData& lines) const
{
    if (mCache == nullptr)
        return false;
    const std::optional<FunctionDataCache::CacheEntry> entry = mCache->Find(function);
    if (!entry)
        return false;
    const std::string resolved = mCache->FindSourceFile(entry->mSource).value_or(std::string());
    // The cache remembers where the source was; it counts only while the file is still there.
    if (!FileExists(resolved))
        return false;
    data.mResult = EResolveFunctionDataResult::SourceFoundInCache;
    data.mOriginalSourcePath = entry->mSource;
    data.mResolvedSourcePath = resolved;
    data.mInstructions = entry->mInstructions;
    data.mDisassemblyResult = entry->mInstructions.empty() ? EDisassemblyResult::DisassemblyNotAvailable
                                                           : EDisassemblyResult::SuccessFromCache;
    data.mResolvedFunctionLine = entry->mLines.empty() ? 0 : entry->mLines.front();
    data.mResolvedCursorLine = data.mResolvedFunctionLine;
    lines.mAddressToLineMap = entry->mAddressToLineMapNew;
    return true;
}

void FunctionDataResolver::Store(const ResolvedAddress& function, const FunctionData& data,
                                 const FunctionLineData& lines)
{
    if (mCache == nullptr || data.mOriginalSourcePath.empty() || data.mResolvedSourcePath.empty())
        return;
    FunctionDataCache::CacheEntry entry;
    entry.mAddress = function;
    entry.mSource = data.mOriginalSourcePath;
    entry.mAddressToLineMapNew = lines.mAddressToLineMap;
    for (const ResolvedLine& line : lines.mAddressToLineMap.mResolvedLines)
        entry.mAddressToLineMap[line.mAddress] = line.mLine;
    entry.mInstructions = data.mInstructions;
    // The function's line first, then every line with code, ascending.
    std::set<int32_t> codeLines;
    for (const auto& [line, address] : lines.mAddressToLineMap.mLineToFirstAddressMap)
        codeLines.insert(line);
    entry.mLines.push_back(data.mResolvedFunctionLine);
    entry.mLines.insert(entry.mLines.end(), codeLines.begin(), codeLines.end());
    mCache->SetSourceFile(data.mOriginalSourcePath, data.mResolvedSourcePath);
    mCache->Add(std::move(entry));
}

void FunctionDataResolver::SetSourceLocations(SourcePathMappings local, SourcePathMappings global)
{
    std::lock_guard lock(mLocationsMutex);
    mLocalLocations = std::move(local);
    mGlobalLocations = std::move(global);
}

std::string FunctionDataResolver::FindSourceFile(const std::string& recordedPath) const
{
    if (FileExists(recordedPath))
        return recordedPath;
    std::lock_guard lock(mLocationsMutex);
    for (const SourcePathMappings* locations : {&mLocalLocations, &mGlobalLocations}) {
        std::vector<std::string> candidates = GetCandidatePaths(*locations, recordedPath);
        if (!candidates.empty())
            return candidates.front();
    }
    return {};
}

uint64_t FunctionDataResolver::ToModuleAddress(const ResolvedAddress& function, uint64_t address) const
{
    const auto& modules = mModules.GetNativeModules();
    const uint32_t index = function.GetModuleIndex();
    if (function.GetKind() != ResolvedAddress::kKindNative || index >= modules.size() ||
        modules[index] == nullptr || modules[index]->IsAbsolute())
        return address;
    const NativeModuleInstance* best = nullptr;
    for (const NativeModuleInstance& instance : mModules.GetNativeModuleInstances())
        if (instance.mNativeModuleIndex == index && instance.mImageBase <= address &&
            (best == nullptr || instance.mImageBase > best->mImageBase))
            best = &instance;
    return best != nullptr ? address - best->mImageBase : address;
}

bool FunctionDataResolver::ResolveFunctionData(const ResolvedAddress& function, FunctionData& data,
                                               FunctionLineData& lines, std::string& error,
                                               const std::atomic<bool>& canceled)
{
    data = FunctionData();
    lines = FunctionLineData();
    if (function.GetKind() != ResolvedAddress::kKindNative) {
        data.mResult = EResolveFunctionDataResult::PDBNotFound;
        data.mDisassemblyResult = EDisassemblyResult::InvalidModule;
        data.mErrorMessage = "The function belongs to no native module";
        return true;
    }
    const auto& modules = mModules.GetNativeModules();
    if (function.GetModuleIndex() >= modules.size() || modules[function.GetModuleIndex()] == nullptr) {
        error = "The function's module index " + std::to_string(function.GetModuleIndex()) +
                " is not in the capture";
        return false;
    }
    if (FillFromCache(function, data, lines))
        return true;
    if (canceled.load())
        return true;

    const NativeModule& module = *modules[function.GetModuleIndex()];
    const std::shared_ptr<const ModuleSymbols> symbols = mSymbols.GetModule(module.mPath);
    // Captures name native functions by the address the image's own tables use (perf prints
    // them so), whether the module was recorded relative or absolute.
    const uint64_t address = function.RelativeAddress;

    switch (symbols->GetStatus()) {
    case EModuleResolveStatus::ImageNotFound:
        data.mResult = EResolveFunctionDataResult::PDBNotFound;
        data.mDisassemblyResult = EDisassemblyResult::ImageNotFound;
        data.mErrorMessage = "Image not found: " + module.mPath;
        return true;
    case EModuleResolveStatus::ImageBroken:
        data.mResult = EResolveFunctionDataResult::PDBCouldNotBeLoaded;
        data.mDisassemblyResult = EDisassemblyResult::ImageCannotBeParsed;
        data.mErrorMessage = "Image could not be read: " + module.mPath;
        return true;
    case EModuleResolveStatus::SymbolsOnly:
        data.mResult = EResolveFunctionDataResult::PDBNotFound;
        data.mErrorMessage = "No debug information found for " + symbols->GetImagePath();
        break;
    case EModuleResolveStatus::DebugInfoBroken:
        data.mResult = EResolveFunctionDataResult::PDBCouldNotBeLoaded;
        data.mErrorMessage = "Debug information could not be read: " + symbols->GetDebugPath();
        break;
    case EModuleResolveStatus::DebugInfo: {
        FunctionLines found;
        if (!symbols->GetFunctionLines(address, found)) {
            data.mResult = EResolveFunctionDataResult::SourceNotFound;
            data.mErrorMessage = "The debug information has no lines for this function";
            break;
        }
        FillLineMap(found, lines.mAddressToLineMap);
        data.mOriginalSourcePath = found.SourcePath;
        data.mResolvedFunctionLine = found.FirstLine;
        data.mResolvedCursorLine = found.FirstLine;
        const std::string sourcePath = FindSourceFile(found.SourcePath);
        if (sourcePath.empty()) {
            data.mResult = EResolveFunctionDataResult::SourceNotFound;
            data.mErrorMessage = "Source file not found: " + found.SourcePath;
        } else {
            data.mResolvedSourcePath = sourcePath;
            data.mResult = IsNewerThan(sourcePath, symbols->GetImagePath())
                               ? EResolveFunctionDataResult::SourceUnmatched
                               : EResolveFunctionDataResult::SourceFoundNoChecksum;
        }
        break;
    }
    }

    AddressInfo info;
    if (!symbols->Resolve(address, info) || !info.HasFunction) {
        data.mDisassemblyResult = EDisassemblyResult::InvalidFunction;
    } else {
        data.mDisassemblyResult =
            symbols->Disassemble(info.FunctionStart, info.FunctionEnd, data.mInstructions);
    }
    Store(function, data, lines);
    return true;
}

} // namespace Profiler
