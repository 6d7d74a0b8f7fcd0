#include "CaptureModel/LinuxPlatform.h"

#include "CaptureModel/Session.h"
#include "RTTI/Registry.h"

#include <algorithm>
#include <array>
#include <mutex>

namespace Profiler {

namespace {

/// The outermost functions of complete Linux stacks. User threads start in `_start` (through the
/// C library's start-up when frame pointers end there) or in clone/start_thread; kernel threads
/// and the idle tasks start in their kernel entries.
constexpr std::array<std::string_view, 20> kThreadBaseFunctions = {
    "_start",
    "__libc_start_main",
    "__libc_start_main_impl",
    "__libc_start_call_main",
    "start_thread",
    "clone",
    "clone3",
    "__clone",
    "__clone3",
    "__clone_internal",
    "thread_start",
    "ret_from_fork",
    "ret_from_fork_asm",
    "kthread",
    "secondary_startup_64",
    "secondary_startup_64_no_verify",
    "common_startup_64",
    "start_kernel",
    "x86_64_start_kernel",
    "cpu_startup_entry",
};

} // namespace

bool LinuxPlatformSession::IsThreadBaseFunction(std::string_view name)
{
    if (std::size_t at = name.find('@'); at != std::string_view::npos)
        name = name.substr(0, at);
    if (std::size_t plus = name.find("+0x"); plus != std::string_view::npos)
        name = name.substr(0, plus);
    return std::find(kThreadBaseFunctions.begin(), kThreadBaseFunctions.end(), name) !=
           kThreadBaseFunctions.end();
}

bool LinuxPlatformSession::IsStackRooted(int32_t, const ResolvedFrame& outermost) const
{
    const ResolvedAddress function = outermost.Function;
    {
        std::shared_lock lock(mRootedLock);
        if (auto it = mRootedByFunction.find(function); it != mRootedByFunction.end())
            return it->second;
    }
    const Session* session = GetSession();
    const bool rooted =
        session && IsThreadBaseFunction(session->GetModuleDatabase().GetFunctionName(function));
    std::unique_lock lock(mRootedLock);
    mRootedByFunction.emplace(function, rooted);
    return rooted;
}

namespace {

bool ComesBefore(const ThreadNameChange& a, const ThreadNameChange& b)
{
    return a.mThreadID != b.mThreadID ? a.mThreadID < b.mThreadID : a.mTimeMs < b.mTimeMs;
}

} // namespace

void LinuxPlatformSession::AddThreadName(int32_t thread, double timeMs, std::string name)
{
    ThreadNameChange change{thread, timeMs, std::move(name)};
    auto at = std::upper_bound(mThreadNameHistory.begin(), mThreadNameHistory.end(), change, ComesBefore);
    mThreadNameHistory.insert(at, std::move(change));
    mHistoryOrder.store(kOrderUnknown, std::memory_order_relaxed);
}

void LinuxPlatformSession::AddThreadNames(std::vector<ThreadNameChange> changes)
{
    mThreadNameHistory.insert(mThreadNameHistory.end(), std::make_move_iterator(changes.begin()),
                              std::make_move_iterator(changes.end()));
    std::stable_sort(mThreadNameHistory.begin(), mThreadNameHistory.end(), ComesBefore);
    mHistoryOrder.store(kOrderSorted, std::memory_order_relaxed);
}

bool LinuxPlatformSession::IsHistorySorted() const
{
    uint8_t order = mHistoryOrder.load(std::memory_order_relaxed);
    if (order == kOrderUnknown) {
        order = std::is_sorted(mThreadNameHistory.begin(), mThreadNameHistory.end(), ComesBefore)
                    ? kOrderSorted
                    : kOrderUnsorted;
        mHistoryOrder.store(order, std::memory_order_relaxed);
    }
    return order == kOrderSorted;
}

std::string LinuxPlatformSession::GetThreadName(int32_t thread, double timeMs) const
{
    // A sorted history is bisected to the thread's changes (a capture of a busy machine names
    // hundreds of thousands of threads); one read from a file in another order is searched.
    auto begin = mThreadNameHistory.begin();
    auto end = mThreadNameHistory.end();
    if (IsHistorySorted()) {
        begin = std::lower_bound(begin, end, thread, [](const ThreadNameChange& change, int32_t id) {
            return change.mThreadID < id;
        });
        end = std::upper_bound(begin, end, thread, [](int32_t id, const ThreadNameChange& change) {
            return id < change.mThreadID;
        });
    }
    const ThreadNameChange* first = nullptr;
    const ThreadNameChange* latest = nullptr;
    for (auto change = begin; change != end; ++change) {
        if (change->mThreadID != thread)
            continue;
        if (!first || change->mTimeMs < first->mTimeMs)
            first = &*change;
        if (change->mTimeMs <= timeMs && (!latest || change->mTimeMs >= latest->mTimeMs))
            latest = &*change;
    }
    if (latest)
        return latest->mName;
    return first ? first->mName : std::string();
}

void LinuxPlatform::RegisterTypes(RTTI::Registry& registry,
                                  Serialization::CompatibilityHandlerMap& handlers) const
{
    Platform::RegisterTypes(registry, handlers);
    registry.Register<LinuxPlatformSession>();
}

std::unique_ptr<PlatformSession> LinuxPlatform::CreatePlatformSession() const
{
    return std::make_unique<LinuxPlatformSession>();
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::ThreadNameChange, 1)
{
    type.Property("ThreadID", &ThreadNameChange::mThreadID)
        .Property("TimeMs", &ThreadNameChange::mTimeMs)
        .Property("Name", &ThreadNameChange::mName);
}

QX_RTTI_DEFINE_CLASS(Profiler::LinuxPlatformSession, 1)
{
    type.Base<PlatformSession>().Property("ThreadNameHistory", &LinuxPlatformSession::mThreadNameHistory);
}
