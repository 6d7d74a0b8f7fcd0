#pragma once

// Older shapes of the capture classes, each a C++ class of its own registered under the running
// class's name in a module partition of its own, so that tests write files exactly as older
// programs did and read them back into the running classes.

#include "CaptureModel/Function.h"
#include "CaptureModel/Identifiers.h"
#include "CaptureModel/Module.h"
#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/Process.h"
#include "CaptureModel/SessionViewState.h"
#include "CaptureModel/Thread.h"
#include "RTTI/Reflection.h"
#include "Serialization/SerializableGUID.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Legacy {

/// "Profiler::SessionInfo" version 2: the header of single-process sessions.
class SessionInfoV2 : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionInfoV2);
    double mSampleIntervalMs = 1.0;
    double mSessionStartTimeMs = 0.0;
    double mSessionEndTimeMs = 0.0;
    int32_t mProcessID = 0;
    bool mIs64BitProcess = false;
    Serialization::SerializableGUID mPlatformID;
};

/// "Profiler::Session" version 5: one process, its identity in the embedded header.
class SessionV5 : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionV5);
    SessionInfoV2 mSessionInfo;
    std::map<Profiler::ThreadID, Profiler::Thread> mThreads;
    std::vector<int32_t> mThreadOrder;
    std::string mRemovedNote = "skipped";
};

/// "Profiler::Process" when processes carried their threads.
struct ProcessWithThreads {
    QX_RTTI_STRUCT(ProcessWithThreads);
    int32_t mID = 0;
    std::string mName;
    std::map<Profiler::ThreadID, Profiler::Thread> mThreads;
    std::vector<int32_t> mThreadOrder;
};

/// "Profiler::Session" version 6: processes by ID, each with its threads.
class SessionV6 : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionV6);
    std::map<Profiler::ProcessID, ProcessWithThreads> mProcesses;
};

/// "Profiler::NativeModule::EResolveStatus" numbered differently.
enum class EResolveStatusRenumbered : uint8_t { OldCapture = 7, Resolved = 3, Unresolved = 5, Unused = 6 };
QX_RTTI_ENUM(EResolveStatusRenumbered, "Profiler::NativeModule::EResolveStatus", OldCapture, Resolved,
             Unresolved, Unused);

/// "Profiler::NativeModule" with the renumbered status.
class NativeModuleRenumbered : public Profiler::Module {
public:
    QX_RTTI_CLASS(NativeModuleRenumbered);
    std::string mPath;
    int32_t mImageSize = 0;
    std::vector<Profiler::Function> mFunctions;
    EResolveStatusRenumbered mResolveStatus = EResolveStatusRenumbered::OldCapture;
};

/// "Profiler::ModuleDatabase" version 1: all modules in one array.
struct ModuleDatabaseV1 {
    QX_RTTI_STRUCT(ModuleDatabaseV1);
    std::vector<std::unique_ptr<Profiler::Module>> mModules;
    std::vector<Profiler::NativeModuleInstance> mNativeModuleInstances;
};

/// "Profiler::Session" version 9 around a version-1 module database.
class SessionWithModulesV1 : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionWithModulesV1);
    std::vector<Profiler::Process> mProcessList;
    ModuleDatabaseV1 mModuleDatabase;
};

/// "Profiler::ResolvedFunction": a function with its relative address as "Address".
struct ResolvedFunctionV1 {
    QX_RTTI_STRUCT(ResolvedFunctionV1);
    uint64_t mAddress = 0;
    uint64_t mSize = 0;
    std::string mName;
};

/// "Profiler::JITResolvedFunction": a JIT function with its placement.
struct JITResolvedFunctionV1 {
    QX_RTTI_STRUCT(JITResolvedFunctionV1);
    uint64_t mAddress = 0;
    std::string mName;
    int32_t mProcessID = 0;
    uint64_t mModuleID = 0;
    double mLoadTime = 0.0;
    double mUnloadTime = 0.0;
};

/// A root holding functions by value ("Legacy::FunctionHolder"), in its running shape and in the
/// shape that stored them under their former names.
class FunctionHolder : public RTTI::Object {
public:
    QX_RTTI_CLASS(FunctionHolder);
    Profiler::Function mNative;
    Profiler::Function mJit;
};

class FunctionHolderOld : public RTTI::Object {
public:
    QX_RTTI_CLASS(FunctionHolderOld);
    ResolvedFunctionV1 mNative;
    JITResolvedFunctionV1 mJit;
};

/// "Profiler::FunctionDataCache::CacheEntry" version 1 and its cache.
struct CacheEntryV1 {
    QX_RTTI_STRUCT(CacheEntryV1);
    uint64_t mFunctionAddress = 0;
    double mStartTimeMs = 0.0;
    int32_t mProcessID = 0;
    std::string mSource;
    std::map<uint64_t, int32_t> mAddressToLineMap;
};

class FunctionDataCacheV1 : public RTTI::Object {
public:
    QX_RTTI_CLASS(FunctionDataCacheV1);
    std::map<std::string, std::string> mSourceFiles;
    std::vector<CacheEntryV1> mEntries;
};

/// "Profiler::ThreadSelectionState", the former name of the thread view state.
class ThreadSelectionStateOld : public RTTI::Object {
public:
    QX_RTTI_CLASS(ThreadSelectionStateOld);
    std::set<Profiler::ThreadID> mSelectedThreads;
    std::set<Profiler::ThreadID> mVisibleThreads;
};

/// "Profiler::VerticalScrollState" with a floating-point position.
class VerticalScrollStateOld : public RTTI::Object {
public:
    QX_RTTI_CLASS(VerticalScrollStateOld);
    Profiler::SerializedAnimatableFloat mScrollYPos;
};

/// "Profiler::SessionViewState" with the former thread selection property.
class SessionViewStateOld : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionViewStateOld);
    std::unique_ptr<VerticalScrollStateOld> mVerticalScrollState;
    std::unique_ptr<ThreadSelectionStateOld> mThreadSelectionState;
    float mVerticalSplitterPos = 0.0f;
};

/// Registers the running FunctionHolder into the host partition and every older shape into a
/// partition of its own.
void RegisterLegacyShapes(RTTI::Registry& registry);

} // namespace Legacy
