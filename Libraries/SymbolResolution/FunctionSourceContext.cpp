#include "SymbolResolution/FunctionSourceContext.h"

#include "CaptureModel/Session.h"

namespace Profiler {

FunctionSourceContext::FunctionSourceContext(const Session& session, const RTTI::Registry& registry,
                                             SymbolSearchOptions options)
    : mCachePath(session.GetDirectory() / FunctionDataCache::kFileName), mSymbols(std::move(options))
{
    std::error_code error;
    if (std::filesystem::exists(mCachePath, error)) {
        Serialization::ErrorList cacheErrors;
        mCache = FunctionDataCache::Load(mCachePath, registry, &session.GetModuleDatabase(), cacheErrors);
    }
    if (!mCache)
        mCache = std::make_unique<FunctionDataCache>();
    mResolver = std::make_shared<FunctionDataResolver>(session.GetModuleDatabase(), mSymbols, mCache.get());
}

bool FunctionSourceContext::SaveCache(Serialization::ErrorList& errors) const
{
    return mCache->Save(mCachePath, errors);
}

} // namespace Profiler
