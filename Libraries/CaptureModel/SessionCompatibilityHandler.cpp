#include "CaptureModel/SessionCompatibilityHandler.h"

#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/RemovedPropertyReader.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SessionInfo.h"

#include <map>

namespace Profiler {

namespace {

constexpr const char* kMultipleProcesses = "Unable to upgrade traces with multiple processes to new format";

/// Old thread lists were maps by thread ID or arrays; anything else is skipped.
bool ReadOldThreads(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                    const Serialization::PropertySchema& storedProperty, std::vector<Thread>& threads,
                    bool& present, Serialization::ErrorList& errors)
{
    std::map<ThreadID, Thread> byId;
    if (!Detail::ReadRemovedValueIf(reader, cursor, storedProperty, byId, present, errors))
        return false;
    if (present) {
        threads.clear();
        for (auto& [id, thread] : byId)
            threads.push_back(std::move(thread));
        return true;
    }
    return Detail::ReadRemovedValueIf(reader, cursor, storedProperty, threads, present, errors);
}

} // namespace

bool ProcessCompatibilityHandler::ReadRemovedProperty(Serialization::BinaryReader& reader,
                                                      Serialization::BufferCursor& cursor, void* object,
                                                      const Serialization::CompoundSchema&,
                                                      const Serialization::PropertySchema& storedProperty,
                                                      Serialization::ErrorList& errors)
{
    if (storedProperty.mName != "Threads")
        return true;
    std::vector<Thread> threads;
    bool present = false;
    if (!ReadOldThreads(reader, cursor, storedProperty, threads, present, errors))
        return false;
    if (!present)
        return true;
    if (mThreadsOwner && mThreadsOwner != object) {
        errors.Add(Serialization::EErrorCode::Compatibility, kMultipleProcesses);
        return false;
    }
    mThreadsOwner = object;
    mThreads = std::move(threads);
    return true;
}

bool SessionCompatibilityHandler::ReadRemovedProperty(Serialization::BinaryReader& reader,
                                                      Serialization::BufferCursor& cursor, void* object,
                                                      const Serialization::CompoundSchema&,
                                                      const Serialization::PropertySchema& storedProperty,
                                                      Serialization::ErrorList& errors)
{
    if (!object) {
        errors.Add(Serialization::EErrorCode::Corrupt, "No session object found in session file");
        return false;
    }
    bool present = false;
    const std::string& name = storedProperty.mName;
    if (name == "Processes") {
        std::map<ProcessID, Process> byId;
        if (!Detail::ReadRemovedValueIf(reader, cursor, storedProperty, byId, present, errors))
            return false;
        if (present) {
            mOldProcesses.clear();
            for (auto& [id, process] : byId)
                mOldProcesses.push_back(std::move(process));
            return true;
        }
        return Detail::ReadRemovedValueIf(reader, cursor, storedProperty, mOldProcesses, present, errors);
    }
    if (name == "Threads")
        return ReadOldThreads(reader, cursor, storedProperty, mOldThreads, present, errors);
    if (name == "ThreadOrder") {
        std::vector<int32_t> order;
        if (!Detail::ReadRemovedValueIf(reader, cursor, storedProperty, order, present, errors))
            return false;
        if (!present) {
            std::vector<ThreadID> ids;
            if (!Detail::ReadRemovedValueIf(reader, cursor, storedProperty, ids, present, errors))
                return false;
            for (ThreadID id : ids)
                order.push_back(static_cast<int32_t>(id));
        }
        if (present)
            mOldThreadOrder = std::move(order);
        return true;
    }
    if (name == "SessionInfo")
        return Detail::ReadRemovedObject(reader, cursor, storedProperty, mInfo, present, errors);
    return true;
}

bool SessionCompatibilityHandler::FinishObject(void* object, const Serialization::CompoundSchema& storedClass,
                                               Serialization::ErrorList& errors)
{
    const int32_t version = storedClass.mVersion;
    if (version >= 9)
        return true;
    if (!object) {
        errors.Add(Serialization::EErrorCode::Corrupt, "No session object found in session file");
        return false;
    }
    auto& session = *static_cast<Session*>(object);
    if (version < 6 && !(mInfo.mPlatformID == WindowsPlatform::kID)) {
        errors.Add(Serialization::EErrorCode::Compatibility,
                   "Unable to upgrade non-Windows sessions to new format");
        return false;
    }

    auto adopt = [&](Process process, std::vector<Thread> threads) {
        for (Thread& thread : threads)
            thread.mProcessID = process.mID;
        if (process.mThreadOrder.empty()) {
            if (mOldThreadOrder)
                process.mThreadOrder = *mOldThreadOrder;
            else
                for (const Thread& thread : threads)
                    process.mThreadOrder.push_back(thread.mThreadID);
        }
        session.mProcessList.clear();
        session.mProcessList.push_back(std::move(process));
        session.mThreadList = std::move(threads);
    };

    if (const std::optional<int32_t> processId = mInfoHandler.GetProcessID()) {
        // Sessions of one process kept its identity in the header.
        Process process;
        process.mID = *processId;
        process.mDisplayID = *processId;
        process.mName = "Unknown";
        process.mIs64Bit = mInfoHandler.GetIs64BitProcess().value_or(true);
        process.mStartTimeMs = mInfo.mSessionStartTimeMs;
        process.mEndTimeMs = mInfo.mSessionEndTimeMs;
        adopt(std::move(process), !mOldThreads.empty() ? mOldThreads : mProcessHandler.GetThreads());
    } else if (version == 6) {
        if (mOldProcesses.size() != 1) {
            errors.Add(Serialization::EErrorCode::Compatibility, kMultipleProcesses);
            return false;
        }
        adopt(std::move(mOldProcesses.front()),
              !mProcessHandler.GetThreads().empty() ? mProcessHandler.GetThreads() : mOldThreads);
    }

    session.mProcessCompatibilityMap.clear();
    session.mThreadCompatibilityMap.clear();
    for (std::size_t i = 0; i < session.mProcessList.size(); ++i)
        session.mProcessCompatibilityMap.emplace(
            static_cast<CompatibilityKey>(session.mProcessList[i].mID),
            static_cast<CompatibilityKey>(static_cast<int32_t>(0x80000000u | static_cast<uint32_t>(i))));
    for (std::size_t i = 0; i < session.mThreadList.size(); ++i)
        session.mThreadCompatibilityMap.emplace(
            static_cast<CompatibilityKey>(session.mThreadList[i].mThreadID),
            static_cast<CompatibilityKey>(static_cast<int32_t>(i)));
    return true;
}

} // namespace Profiler
