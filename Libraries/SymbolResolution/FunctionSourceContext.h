#pragma once

#include "CaptureModel/FunctionDataCache.h"
#include "SymbolResolution/FunctionDataResolver.h"
#include "SymbolResolution/SymbolResolver.h"

#include <filesystem>
#include <memory>

namespace RTTI {
class Registry;
}

namespace Profiler {

class Session;

/// Everything that finds the functions of one capture their source and instructions: the
/// module symbols, the capture's function data cache and the resolver over both. The command
/// line tools and the source view share it so that both find the same files the same way.
class FunctionSourceContext {
public:
    /// Loads the capture's "functioncache.dat"; a missing or broken one starts empty (it is
    /// rebuilt, never trusted). `session` must outlive the context.
    FunctionSourceContext(const Session& session, const RTTI::Registry& registry,
                          SymbolSearchOptions options = {});
    FunctionSourceContext(const FunctionSourceContext&) = delete;
    FunctionSourceContext& operator=(const FunctionSourceContext&) = delete;

    const std::shared_ptr<FunctionDataResolver>& GetResolver() const { return mResolver; }
    SymbolResolver& GetSymbols() { return mSymbols; }
    const FunctionDataCache& GetCache() const { return *mCache; }

    /// Writes the cache beside the capture; a read-only capture keeps answering from memory.
    [[nodiscard]] bool SaveCache(Serialization::ErrorList& errors) const;

private:
    std::filesystem::path mCachePath;
    std::unique_ptr<FunctionDataCache> mCache;
    SymbolResolver mSymbols;
    std::shared_ptr<FunctionDataResolver> mResolver;
};

} // namespace Profiler
