#include "SymbolResolution/AddressLookup.h"

#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/ResolveReport.h"
#include "SymbolResolution/SymbolResolver.h"

#include <algorithm>
#include <limits>

namespace Profiler {

namespace {

/// The extent of a module's functions relative to it; empty (start == end) without functions.
std::pair<uint64_t, uint64_t> FunctionExtent(const NativeModule& module)
{
    uint64_t start = std::numeric_limits<uint64_t>::max();
    uint64_t end = 0;
    for (const Function& function : module.mFunctions) {
        start = std::min(start, function.mRelativeAddress);
        end = std::max(end, function.mRelativeAddress + std::max<uint64_t>(function.mSize, 1));
    }
    return start < end ? std::pair(start, end) : std::pair<uint64_t, uint64_t>(0, 0);
}

/// Where the module lies: from its image base over its image size, or (without a size, and
/// always for modules that count absolute addresses) over its functions.
AddressLookupCandidate MakeCandidate(const NativeModule& module, uint32_t index,
                                     const NativeModuleInstance& instance)
{
    AddressLookupCandidate candidate;
    candidate.ModuleIndex = index;
    candidate.ModuleName = module.mName;
    if (!module.IsAbsolute() && module.mImageSize > 0) {
        candidate.RelativeEnd = static_cast<uint64_t>(module.mImageSize);
    } else {
        std::tie(candidate.RelativeStart, candidate.RelativeEnd) = FunctionExtent(module);
    }
    const uint64_t base = module.IsAbsolute() ? 0 : instance.mImageBase;
    candidate.AbsoluteStart = base + candidate.RelativeStart;
    candidate.AbsoluteEnd = base + candidate.RelativeEnd;
    return candidate;
}

/// The capture's own function record that covers the address, for modules whose image is gone.
const Function* FindRecordedFunction(const NativeModule& module, uint64_t relative)
{
    const Function* best = nullptr;
    for (const Function& function : module.mFunctions)
        if (function.mRelativeAddress <= relative &&
            (best == nullptr || function.mRelativeAddress > best->mRelativeAddress))
            best = &function;
    if (best != nullptr && best->mSize != 0 && relative >= best->mRelativeAddress + best->mSize)
        return nullptr;
    return best;
}

void ResolveInModule(const NativeModule& module, SymbolResolver& symbols, uint64_t relative,
                     AddressLookupResult& result)
{
    result.ModuleName = module.mName;
    result.RelativeAddress = relative;
    result.Outcome = AddressLookupResult::EOutcome::NoFunction;
    const std::shared_ptr<const ModuleSymbols> moduleSymbols = symbols.GetModule(GetModuleImagePath(module));
    AddressInfo info;
    const bool found = moduleSymbols->Resolve(relative, info);
    // Code of an image without any symbol only gets a name made from its module and offset.
    const bool named = moduleSymbols->GetFunctionSymbolCount() > 0 || moduleSymbols->HasMatchingDebugInfo();
    if (found && named && info.HasFunction && !info.Frames.empty()) {
        result.Outcome = AddressLookupResult::EOutcome::Resolved;
        result.FunctionName = std::string(info.Frames.back().Function);
        if (info.Frames.size() > 1)
            result.InlinedFunction = std::string(info.Frames.front().Function);
        result.SourceFile = std::string(info.Frames.front().File);
        result.Line = info.Frames.front().Line;
        return;
    }
    if ((!found || !named) && !info.Frames.empty())
        result.StableName = std::string(info.Frames.front().Function);
    // Without the image, the names the recorder saw still say which function it was.
    if (const Function* recorded = FindRecordedFunction(module, relative)) {
        result.Outcome = AddressLookupResult::EOutcome::Resolved;
        result.FunctionName = recorded->mName;
    }
}

} // namespace

AddressLookupResult LookupAbsoluteAddress(const ModuleDatabase& modules, SymbolResolver& symbols,
                                          uint64_t address)
{
    AddressLookupResult result;
    result.Address = address;
    const NativeModule* found = nullptr;
    uint64_t relative = 0;
    modules.Read([&](const ModuleDatabase& database) {
        const auto& natives = database.GetNativeModules();
        for (const NativeModuleInstance& instance : database.GetNativeModuleInstances()) {
            const uint32_t index = instance.mNativeModuleIndex;
            if (index >= natives.size() || natives[index] == nullptr)
                continue;
            const AddressLookupCandidate candidate = MakeCandidate(*natives[index], index, instance);
            if (address < candidate.AbsoluteStart || address >= candidate.AbsoluteEnd)
                continue;
            // A module loaded at the same place by several processes is still one module.
            const bool known = std::any_of(result.Candidates.begin(), result.Candidates.end(),
                                           [index](const auto& other) { return other.ModuleIndex == index; });
            if (!known) {
                result.Candidates.push_back(candidate);
                found = natives[index].get();
                relative = natives[index]->IsAbsolute() ? address : address - instance.mImageBase;
            }
        }
        if (!result.Candidates.empty())
            return;
        const auto& jitFunctions = database.GetJITFunctions();
        for (const JITFunctionInstance& instance : database.GetJITFunctionInstances()) {
            if (instance.mJITFunctionIndex >= jitFunctions.size())
                continue;
            const Function& function = jitFunctions[instance.mJITFunctionIndex];
            if (address < instance.mAbsoluteAddress ||
                address >= instance.mAbsoluteAddress + std::max<uint64_t>(function.mSize, 1))
                continue;
            result.Outcome = AddressLookupResult::EOutcome::JIT;
            result.FunctionName = function.mName;
            result.RelativeAddress = address - instance.mAbsoluteAddress;
            for (const JITModuleInstance& module : database.GetJITModuleInstances())
                if (module.mModuleID == instance.mModuleID &&
                    module.mJITModuleIndex < database.GetJITModules().size())
                    result.ModuleName = database.GetJITModules()[module.mJITModuleIndex]->mName;
            return;
        }
    });
    if (result.Candidates.size() > 1) {
        result.Outcome = AddressLookupResult::EOutcome::Ambiguous;
        return result;
    }
    result.Candidates.clear();
    // The symbols are read outside the database's lock: loading them may take a while.
    if (found != nullptr)
        ResolveInModule(*found, symbols, relative, result);
    return result;
}

AddressLookupResult LookupRelativeAddress(const ModuleDatabase& modules, SymbolResolver& symbols,
                                          uint32_t moduleIndex, uint64_t relativeAddress)
{
    AddressLookupResult result;
    result.Address = relativeAddress;
    result.IsRelative = true;
    const NativeModule* module =
        modules.Read([moduleIndex](const ModuleDatabase& database) -> const NativeModule* {
            const auto& natives = database.GetNativeModules();
            return moduleIndex < natives.size() ? natives[moduleIndex].get() : nullptr;
        });
    if (module != nullptr)
        ResolveInModule(*module, symbols, relativeAddress, result);
    return result;
}

} // namespace Profiler
