#pragma once

#include "CaptureModel/Platform.h"
#include "CaptureModel/PlatformSession.h"
#include "CaptureModel/ResolvedAddress.h"

#include <atomic>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Profiler {

/// A thread's name from a time on (Linux threads rename themselves, perf reports it as COMM).
struct ThreadNameChange {
    QX_RTTI_STRUCT(ThreadNameChange);

    int32_t mThreadID = 0;
    double mTimeMs = 0.0;
    std::string mName;
};

/// The Linux platform's session data: the thread name history. A stack counts as rooted when
/// its outermost function is where Linux threads begin: the program entry and the C library's
/// start-up for main threads, the thread start routine and clone for others, the kernel's
/// thread entry for kernel threads.
class LinuxPlatformSession : public PlatformSession {
public:
    QX_RTTI_CLASS(LinuxPlatformSession);

    bool IsStackRooted(int32_t process, const ResolvedFrame& outermost) const override;

    /// Whether a function of this name is a thread base function ("name@VERSION" and
    /// "name+0x..." decorations ignored).
    static bool IsThreadBaseFunction(std::string_view name);

    /// Records that `thread` is called `name` from `timeMs` on; changes are kept in time order.
    void AddThreadName(int32_t thread, double timeMs, std::string name);
    /// The same for many changes at once, in any order: one sort instead of an insertion each.
    void AddThreadNames(std::vector<ThreadNameChange> changes);
    /// The thread's name at `timeMs`: the latest change at or before it, else the first one; ""
    /// when the history does not know the thread.
    std::string GetThreadName(int32_t thread, double timeMs) const;
    const std::vector<ThreadNameChange>& GetThreadNameHistory() const { return mThreadNameHistory; }

private:
    enum EHistoryOrder : uint8_t { kOrderUnknown, kOrderSorted, kOrderUnsorted };
    bool IsHistorySorted() const;

    std::vector<ThreadNameChange> mThreadNameHistory;
    /// Whether the history is sorted by thread and time, as it is when written here; a history
    /// read from a file may not be. Found out on first use (racing readers agree on it).
    mutable std::atomic<uint8_t> mHistoryOrder{kOrderUnknown};

    mutable std::shared_mutex mRootedLock;
    mutable std::unordered_map<ResolvedAddress, bool, ResolvedAddressHash> mRootedByFunction;
};

/// The Linux platform of captures that Quasarix records or imports.
class LinuxPlatform final : public Platform {
public:
    /// {83317B6D-6834-46AC-8B9F-ABC637EC9A6C}
    static constexpr Serialization::SerializableGUID kID{0x46AC683483317B6Dull, 0x6C9AEC37C6AB9F8Bull};

    Serialization::SerializableGUID GetID() const override { return kID; }
    std::string GetName() const override { return "Linux"; }
    void RegisterTypes(RTTI::Registry& registry,
                       Serialization::CompatibilityHandlerMap& handlers) const override;
    std::unique_ptr<PlatformSession> CreatePlatformSession() const override;
};

/// The platform of captures recorded on Windows. Sessions of other platforms written before
/// sessions held several processes cannot be upgraded, so it is known by its identifier; its
/// sessions keep the base platform session.
class WindowsPlatform final : public Platform {
public:
    /// {275DE9B8-61F6-48AE-AD65-846403FAE378}
    static constexpr Serialization::SerializableGUID kID{0x48AE61F6275DE9B8ull, 0x78E3FA03648465ADull};

    Serialization::SerializableGUID GetID() const override { return kID; }
    std::string GetName() const override { return "Windows"; }
};

} // namespace Profiler
