#pragma once

#include "CaptureModel/Process.h"
#include "CaptureModel/Thread.h"
#include "Serialization/CompatibilityHandler.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace Profiler {

class SessionInfo;
class SessionInfoCompatibilityHandler;

/// Keeps the "Threads" that processes carried before sessions listed all threads themselves.
/// Only one process may carry threads: sessions of that time held one process.
class ProcessCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;

    /// The kept threads and the process object that carried them (null when none did).
    const std::vector<Thread>& GetThreads() const { return mThreads; }
    const void* GetThreadsOwner() const { return mThreadsOwner; }

private:
    std::vector<Thread> mThreads;
    const void* mThreadsOwner = nullptr;
};

/// Upgrades sessions written before version 9: their processes, threads and thread order were
/// stored in other properties (or in the header, for single-process sessions). They become the
/// process and thread lists and the compatibility maps.
class SessionCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    /// `info` is the header the session will carry: an old "SessionInfo" property is read into it.
    SessionCompatibilityHandler(SessionInfo& info, const SessionInfoCompatibilityHandler& infoHandler,
                                const ProcessCompatibilityHandler& processHandler)
        : mInfo(info), mInfoHandler(infoHandler), mProcessHandler(processHandler)
    {}

    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;
    bool FinishObject(void* object, const Serialization::CompoundSchema& storedClass,
                      Serialization::ErrorList& errors) override;

private:
    SessionInfo& mInfo;
    const SessionInfoCompatibilityHandler& mInfoHandler;
    const ProcessCompatibilityHandler& mProcessHandler;

    std::vector<Process> mOldProcesses;
    std::vector<Thread> mOldThreads;
    std::optional<std::vector<int32_t>> mOldThreadOrder;
};

} // namespace Profiler
