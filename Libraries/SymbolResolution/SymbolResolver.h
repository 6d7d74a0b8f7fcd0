#pragma once

#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/ResolveLog.h"
#include "System/Job.h"

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace System {
class JobScheduler;
}

namespace Profiler {

/// Loads and keeps the symbols of modules by image path, once per path, for any number of
/// threads. The first caller of a module loads it; concurrent callers of the same module wait
/// for that load instead of repeating it.
class SymbolResolver {
public:
    explicit SymbolResolver(SymbolSearchOptions options = {});

    const SymbolSearchOptions& GetOptions() const { return mOptions; }

    /// The module's symbols, loading them on the calling thread when needed. Never null.
    std::shared_ptr<const ModuleSymbols> GetModule(const std::string& imagePath);
    /// The module when it is loaded already; null otherwise.
    std::shared_ptr<const ModuleSymbols> FindLoaded(const std::string& imagePath) const;

    using LoadCompletion = std::function<void(std::shared_ptr<const ModuleSymbols>)>;
    /// Loads the module on the scheduler; the completion runs on the job's thread, with null
    /// when the job was canceled before it ran.
    System::JobHandle LoadAsync(System::JobScheduler& scheduler, const std::string& imagePath,
                                LoadCompletion completion);

    /// Forgets every module, for example after the search options of a session changed.
    void Clear();

private:
    SymbolSearchOptions mOptions;
    mutable std::mutex mMutex;
    std::map<std::string, std::shared_future<std::shared_ptr<const ModuleSymbols>>> mModules;
};

} // namespace Profiler
