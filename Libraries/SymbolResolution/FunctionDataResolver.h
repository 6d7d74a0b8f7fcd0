#pragma once

#include "CallGraphModel/FunctionTimingProcessor.h"
#include "CaptureModel/FunctionDataCache.h"
#include "SymbolResolution/SourceLocations.h"
#include "SymbolResolution/SymbolResolver.h"

#include <memory>
#include <mutex>
#include <string>

namespace Profiler {

class ModuleDatabase;

/// Resolves a function of a capture to its `FunctionData` and line data through the module's
/// symbols, and keeps what it found in the capture's function data cache. A function found in
/// the cache is not resolved again.
class FunctionDataResolver final : public IFunctionDataProvider {
public:
    /// `cache` may be null (nothing is cached). All three must outlive the resolver.
    FunctionDataResolver(const ModuleDatabase& modules, SymbolResolver& symbols, FunctionDataCache* cache);

    bool ResolveFunctionData(const ResolvedAddress& function, FunctionData& data, FunctionLineData& lines,
                             std::string& error, const std::atomic<bool>& canceled) override;
    /// For modules recorded relative to their load address: the address less the base of the
    /// module's load (of the loads below the address, the highest).
    uint64_t ToModuleAddress(const ResolvedAddress& function, uint64_t address) const override;

    /// Where to look for source files whose recorded path does not exist here: the capture's own
    /// mappings first, then the user's global ones (a capture's are the more specific answer).
    void SetSourceLocations(SourcePathMappings local, SourcePathMappings global);

private:
    bool FillFromCache(const ResolvedAddress& function, FunctionData& data, FunctionLineData& lines) const;
    /// The recorded path when it exists, else the first candidate of the mappings; empty if none.
    std::string FindSourceFile(const std::string& recordedPath) const;
    void Store(const ResolvedAddress& function, const FunctionData& data, const FunctionLineData& lines);

    const ModuleDatabase& mModules;
    SymbolResolver& mSymbols;
    FunctionDataCache* mCache;
    mutable std::mutex mLocationsMutex;
    SourcePathMappings mLocalLocations;
    SourcePathMappings mGlobalLocations;
};

} // namespace Profiler
