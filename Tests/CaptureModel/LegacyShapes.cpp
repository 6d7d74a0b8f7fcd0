#include "LegacyShapes.h"

namespace Legacy {

void RegisterLegacyShapes(RTTI::Registry& registry)
{
    registry.Register<FunctionHolder>();
    auto inModule = [&registry](const char* module, const RTTI::Type& type) {
        RTTI::Registry::ModuleScope scope(registry, RTTI::ModuleIdFromName(module));
        registry.Register(type);
    };
    inModule("Legacy.V5", SessionV5::StaticType());
    inModule("Legacy.V6", SessionV6::StaticType());
    inModule("Legacy.ModulesV1", SessionWithModulesV1::StaticType());
    inModule("Legacy.ModulesV1", NativeModuleRenumbered::StaticType());
    inModule("Legacy.Functions", FunctionHolderOld::StaticType());
    inModule("Legacy.Cache", FunctionDataCacheV1::StaticType());
    inModule("Legacy.ViewState", SessionViewStateOld::StaticType());
}

} // namespace Legacy

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::SessionInfoV2, "Profiler::SessionInfo", 2)
{
    type.Property("SampleIntervalMs", &SessionInfoV2::mSampleIntervalMs)
        .Property("SessionStartTimeMs", &SessionInfoV2::mSessionStartTimeMs)
        .Property("SessionEndTimeMs", &SessionInfoV2::mSessionEndTimeMs)
        .Property("ProcessID", &SessionInfoV2::mProcessID)
        .Property("Is64BitProcess", &SessionInfoV2::mIs64BitProcess)
        .Property("PlatformID", &SessionInfoV2::mPlatformID);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::SessionV5, "Profiler::Session", 5)
{
    type.Property("SessionInfo", &SessionV5::mSessionInfo)
        .Property("Threads", &SessionV5::mThreads)
        .Property("ThreadOrder", &SessionV5::mThreadOrder)
        .Property("RemovedNote", &SessionV5::mRemovedNote);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::ProcessWithThreads, "Profiler::Process", 1)
{
    type.Property("ID", &ProcessWithThreads::mID)
        .Property("Name", &ProcessWithThreads::mName)
        .Property("Threads", &ProcessWithThreads::mThreads)
        .Property("ThreadOrder", &ProcessWithThreads::mThreadOrder);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::SessionV6, "Profiler::Session", 6)
{
    type.Property("Processes", &SessionV6::mProcesses);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::NativeModuleRenumbered, "Profiler::NativeModule", 2)
{
    type.Base<Profiler::Module>()
        .Property("Path", &NativeModuleRenumbered::mPath)
        .Property("ImageSize", &NativeModuleRenumbered::mImageSize)
        .Property("Functions", &NativeModuleRenumbered::mFunctions)
        .Property("ResolveStatus", &NativeModuleRenumbered::mResolveStatus);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::ModuleDatabaseV1, "Profiler::ModuleDatabase", 1)
{
    type.Property("Modules", &ModuleDatabaseV1::mModules)
        .Property("NativeModuleInstances", &ModuleDatabaseV1::mNativeModuleInstances);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::SessionWithModulesV1, "Profiler::Session", 9)
{
    type.Property("ProcessList", &SessionWithModulesV1::mProcessList)
        .Property("ModuleDatabase", &SessionWithModulesV1::mModuleDatabase);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::ResolvedFunctionV1, "Profiler::ResolvedFunction", 1)
{
    type.Property("Address", &ResolvedFunctionV1::mAddress)
        .Property("Size", &ResolvedFunctionV1::mSize)
        .Property("Name", &ResolvedFunctionV1::mName);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::JITResolvedFunctionV1, "Profiler::JITResolvedFunction", 1)
{
    type.Property("Address", &JITResolvedFunctionV1::mAddress)
        .Property("Name", &JITResolvedFunctionV1::mName)
        .Property("ProcessID", &JITResolvedFunctionV1::mProcessID)
        .Property("ModuleID", &JITResolvedFunctionV1::mModuleID)
        .Property("LoadTime", &JITResolvedFunctionV1::mLoadTime)
        .Property("UnloadTime", &JITResolvedFunctionV1::mUnloadTime);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::FunctionHolder, "Legacy::FunctionHolder", 1)
{
    type.Property("Native", &FunctionHolder::mNative).Property("Jit", &FunctionHolder::mJit);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::FunctionHolderOld, "Legacy::FunctionHolder", 1)
{
    type.Property("Native", &FunctionHolderOld::mNative).Property("Jit", &FunctionHolderOld::mJit);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::CacheEntryV1, "Profiler::FunctionDataCache::CacheEntry", 1)
{
    type.Property("FunctionAddress", &CacheEntryV1::mFunctionAddress)
        .Property("StartTimeMs", &CacheEntryV1::mStartTimeMs)
        .Property("ProcessID", &CacheEntryV1::mProcessID)
        .Property("Source", &CacheEntryV1::mSource)
        .Property("AddressToLineMap", &CacheEntryV1::mAddressToLineMap);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::FunctionDataCacheV1, "Profiler::FunctionDataCache", 1)
{
    type.Property("SourceFiles", &FunctionDataCacheV1::mSourceFiles)
        .Property("Entries", &FunctionDataCacheV1::mEntries);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::ThreadSelectionStateOld, "Profiler::ThreadSelectionState", 1)
{
    type.Property("SelectedThreads", &ThreadSelectionStateOld::mSelectedThreads)
        .Property("VisibleThreads", &ThreadSelectionStateOld::mVisibleThreads);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::VerticalScrollStateOld, "Profiler::VerticalScrollState", 1)
{
    type.Property("ScrollYPos", &VerticalScrollStateOld::mScrollYPos);
}

QX_RTTI_DEFINE_NAMED_CLASS(Legacy::SessionViewStateOld, "Profiler::SessionViewState", 1)
{
    type.Property("VerticalScrollState", &SessionViewStateOld::mVerticalScrollState)
        .Property("ThreadSelectionState", &SessionViewStateOld::mThreadSelectionState)
        .Property("VerticalSplitterPos", &SessionViewStateOld::mVerticalSplitterPos);
}
