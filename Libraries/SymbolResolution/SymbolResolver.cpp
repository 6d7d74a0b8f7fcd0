#include "SymbolResolution/SymbolResolver.h"

#include "System/JobScheduler.h"

namespace Profiler {

SymbolResolver::SymbolResolver(SymbolSearchOptions options) : mOptions(std::move(options)) {}

std::shared_ptr<const ModuleSymbols> SymbolResolver::GetModule(const std::string& imagePath)
{
    std::promise<std::shared_ptr<const ModuleSymbols>> promise;
    std::unique_lock lock(mMutex);
    auto [found, added] = mModules.try_emplace(imagePath);
    if (!added) {
        std::shared_future<std::shared_ptr<const ModuleSymbols>> pending = found->second;
        lock.unlock(); // another caller is loading it; wait without blocking other modules
        return pending.get();
    }
    found->second = promise.get_future().share();
    lock.unlock();
    // Loading never throws past here: failures are in the module's status and log.
    std::shared_ptr<const ModuleSymbols> module = ModuleSymbols::Load(imagePath, mOptions);
    promise.set_value(module);
    return module;
}

std::shared_ptr<const ModuleSymbols> SymbolResolver::FindLoaded(const std::string& imagePath) const
{
    std::lock_guard lock(mMutex);
    auto found = mModules.find(imagePath);
    if (found == mModules.end() ||
        found->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return nullptr;
    return found->second.get();
}

System::JobHandle SymbolResolver::LoadAsync(System::JobScheduler& scheduler, const std::string& imagePath,
                                            LoadCompletion completion)
{
    auto result = std::make_shared<std::shared_ptr<const ModuleSymbols>>();
    System::JobDescription description;
    description.work = [this, imagePath, result](System::Job&, const std::atomic<bool>& canceled) {
        if (!canceled.load())
            *result = GetModule(imagePath);
    };
    description.finalization =
        [result, completion = std::move(completion)](System::EJobFinalizationState state, System::Job&) {
            if (state == System::EJobFinalizationState::Completed)
                completion(*result);
            else if (state == System::EJobFinalizationState::Canceled)
                completion(nullptr);
        };
    return scheduler.Schedule(std::move(description), std::make_unique<System::Job>(nullptr));
}

void SymbolResolver::Clear()
{
    std::lock_guard lock(mMutex);
    mModules.clear();
}

} // namespace Profiler
