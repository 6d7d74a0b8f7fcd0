#include "Importers/PerfWaitReasonMapper.h"

#include <array>
#include <optional>

namespace Profiler {

namespace {

// Substrings of function names, kernel and C library alike. Lists are short on purpose: a
// wait that no entry names falls back to what the state letter says.
constexpr std::array kPageFaultNames = {
    std::string_view("page_fault"),           std::string_view("handle_mm_fault"),
    std::string_view("do_swap_page"),         std::string_view("filemap_fault"),
    std::string_view("__do_fault"),           std::string_view("do_huge_pmd"),
    std::string_view("lock_mm_and_find_vma"), std::string_view("do_anonymous_page"),
    std::string_view("hugetlb_fault"),
};
constexpr std::array kIoNames = {
    std::string_view("io_schedule"),     std::string_view("bit_wait_io"),
    std::string_view("folio_wait"),      std::string_view("wait_on_page"),
    std::string_view("__lock_page"),     std::string_view("wait_on_buffer"),
    std::string_view("submit_bio_wait"), std::string_view("blk_mq_get_tag"),
    std::string_view("jbd2_"),           std::string_view("completion_io"),
    std::string_view("fdatawait"),       std::string_view("fsync"),
    std::string_view("fdatasync"),       std::string_view("nfs_"),
    std::string_view("fuse_"),
};
constexpr std::array kSleepNames = {
    std::string_view("nanosleep"),
    std::string_view("msleep"),
    std::string_view("usleep"),
};
constexpr std::array kSynchronizationNames = {
    std::string_view("futex"),          std::string_view("poll"),
    std::string_view("select"),         std::string_view("pipe_"),
    std::string_view("sock_"),          std::string_view("sk_wait"),
    std::string_view("sk_stream_wait"), std::string_view("inet_csk_accept"),
    std::string_view("unix_stream"),    std::string_view("skb_recv"),
    std::string_view("skb_wait"),       std::string_view("tcp_recvmsg"),
    std::string_view("udp_recvmsg"),    std::string_view("wait_woken"),
    std::string_view("do_wait"),        std::string_view("wait4"),
    std::string_view("sigsuspend"),     std::string_view("sigtimedwait"),
    std::string_view("sys_pause"),      std::string_view("mutex_lock"),
    std::string_view("rwsem_down"),     std::string_view("down_read"),
    std::string_view("down_write"),     std::string_view("semtimedop"),
    std::string_view("msgrcv"),         std::string_view("wait_for_completion"),
    std::string_view("lll_lock_wait"),  std::string_view("pthread_cond"),
    std::string_view("pthread_join"),   std::string_view("sem_wait"),
};

template <std::size_t N> bool NamesAny(std::string_view symbol, const std::array<std::string_view, N>& names)
{
    for (std::string_view name : names)
        if (symbol.find(name) != std::string_view::npos)
            return true;
    return false;
}

/// The wait that one frame names, if any. I/O comes before synchronisation so that
/// `wait_for_completion_io` is I/O and plain `wait_for_completion` is not.
std::optional<EPerfWaitKind> KindNamedBy(std::string_view symbol)
{
    if (NamesAny(symbol, kIoNames))
        return EPerfWaitKind::IO;
    if (NamesAny(symbol, kSleepNames))
        return EPerfWaitKind::Sleep;
    if (NamesAny(symbol, kSynchronizationNames))
        return EPerfWaitKind::Synchronization;
    return std::nullopt;
}

bool IsUserPseudoMap(std::string_view dso)
{
    return dso == "[unknown]" || dso == "[vdso]" || dso == "[vsyscall]" || dso == "[vvar]" ||
           dso == "[heap]" || dso == "[stack]" || dso == "[uprobes]" || dso.starts_with("[anon") ||
           dso.starts_with("[JIT");
}

} // namespace

bool PerfWaitReasonMapper::IsKernelFrame(const PerfFrame& frame)
{
    if (frame.address >> 63)
        return true; // the kernel half of the address space on every 64-bit architecture perf runs on
    std::string_view dso = frame.dso;
    if (dso.ends_with("vmlinux") || dso.starts_with("[kernel.") || dso.starts_with("[guest.kernel."))
        return true;
    return dso.size() > 2 && dso.front() == '[' && dso.back() == ']' && !IsUserPseudoMap(dso);
}

std::size_t PerfWaitReasonMapper::FirstUserFrame(std::span<const PerfFrame> stack)
{
    std::size_t index = 0;
    while (index < stack.size() && IsKernelFrame(stack[index]))
        ++index;
    return index;
}

EPerfWaitKind PerfWaitReasonMapper::Classify(std::string_view prevState,
                                             std::span<const PerfFrame> blockedStack)
{
    char letter = prevState.empty() ? 'S' : prevState.front();
    if (letter == 'R')
        return EPerfWaitKind::Preemption;
    if (prevState.find_first_of("XZ") != std::string_view::npos)
        return EPerfWaitKind::ThreadEnd;
    if (letter == 'I' || letter == 'P')
        return EPerfWaitKind::Idle;

    for (const PerfFrame& frame : blockedStack)
        if (IsKernelFrame(frame) && NamesAny(frame.symbol, kPageFaultNames))
            return EPerfWaitKind::MemoryManagement;
    for (bool kernelPass : {true, false}) {
        for (const PerfFrame& frame : blockedStack) {
            if (IsKernelFrame(frame) != kernelPass)
                continue;
            if (std::optional<EPerfWaitKind> kind = KindNamedBy(frame.symbol))
                return *kind;
        }
    }
    if (letter == 'D')
        return EPerfWaitKind::IO;
    if (letter == 'T' || letter == 't')
        return EPerfWaitKind::Sleep;
    return EPerfWaitKind::Synchronization;
}

uint8_t PerfWaitReasonMapper::ToWaitReason(EPerfWaitKind kind)
{
    switch (kind) {
    case EPerfWaitKind::Preemption:
        return kReasonPreemption;
    case EPerfWaitKind::IO:
        return kReasonIO;
    case EPerfWaitKind::Sleep:
        return kReasonSleep;
    case EPerfWaitKind::Synchronization:
        return kReasonSynchronization;
    case EPerfWaitKind::MemoryManagement:
        return kReasonMemoryManagement;
    case EPerfWaitKind::Idle:
        return kReasonIdle;
    case EPerfWaitKind::ThreadEnd:
        return kReasonThreadEnd;
    }
    return kReasonSynchronization;
}

const char* PerfWaitReasonMapper::GetName(EPerfWaitKind kind)
{
    switch (kind) {
    case EPerfWaitKind::Preemption:
        return "Preemption";
    case EPerfWaitKind::IO:
        return "IO";
    case EPerfWaitKind::Sleep:
        return "Sleep";
    case EPerfWaitKind::Synchronization:
        return "Synchronization";
    case EPerfWaitKind::MemoryManagement:
        return "MemoryManagement";
    case EPerfWaitKind::Idle:
        return "Idle";
    case EPerfWaitKind::ThreadEnd:
        return "ThreadEnd";
    }
    return "Synchronization";
}

} // namespace Profiler
