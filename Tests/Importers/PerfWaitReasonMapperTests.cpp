#include "Importers/PerfWaitReasonMapper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace Profiler;

/// Innermost-first frames from "symbol@dso" texts, pointing into `texts`; kernel frames get
/// kernel addresses.
std::vector<PerfFrame> Stack(const std::vector<std::string>& texts)
{
    std::vector<PerfFrame> stack;
    for (std::string_view entry : texts) {
        std::size_t at = entry.find('@');
        PerfFrame frame;
        frame.symbol = entry.substr(0, at);
        frame.dso = entry.substr(at + 1);
        frame.address = frame.dso == "[kernel.kallsyms]" ? 0xffffffff81000000ull : 0x1000;
        stack.push_back(frame);
    }
    return stack;
}

constexpr const char* K = "@[kernel.kallsyms]";

TEST(PerfWaitReasonMapper, StateLetterAndBlockedStack)
{
    const std::string schedule = std::string("__schedule") + K;
    const std::string sched = std::string("schedule") + K;
    auto kernel = [&](const char* symbol) { return std::string(symbol) + K; };
    struct Case {
        const char* state;
        std::vector<std::string> frames; // innermost first
        EPerfWaitKind expected;
    };
    const Case cases[] = {
        {"R", {schedule, kernel("do_nanosleep")}, EPerfWaitKind::Preemption},
        {"X", {schedule}, EPerfWaitKind::ThreadEnd},
        {"Z", {}, EPerfWaitKind::ThreadEnd},
        {"I", {schedule, kernel("worker_thread")}, EPerfWaitKind::Idle},
        {"D",
         {schedule, sched, kernel("io_schedule"), kernel("folio_wait_bit"), kernel("do_fsync")},
         EPerfWaitKind::IO},
        {"S",
         {schedule, sched, kernel("do_nanosleep"), kernel("hrtimer_nanosleep"),
          "clock_nanosleep@/lib/libc.so.6"},
         EPerfWaitKind::Sleep},
        {"S",
         {schedule, sched, kernel("futex_wait"), "__lll_lock_wait@/lib/libc.so.6"},
         EPerfWaitKind::Synchronization},
        // A page fault that waits for the disk is memory management, not plain I/O.
        {"D",
         {schedule, kernel("io_schedule"), kernel("filemap_fault"), kernel("exc_page_fault")},
         EPerfWaitKind::MemoryManagement},
        // The innermost named wait decides: a lock inside fsync is a lock wait.
        {"D",
         {schedule, kernel("__mutex_lock"), kernel("ext4_sync_file"), kernel("do_fsync")},
         EPerfWaitKind::Synchronization},
        // Nothing recognised: the state letter decides.
        {"D", {schedule, kernel("something_else")}, EPerfWaitKind::IO},
        {"S", {schedule, kernel("something_else")}, EPerfWaitKind::Synchronization},
        {"T", {schedule, kernel("do_signal_stop")}, EPerfWaitKind::Sleep},
        {"", {}, EPerfWaitKind::Synchronization},
        // Without kernel frames the user frames still tell the waits apart.
        {"S", {"__nanosleep@/lib/libc.so.6", "main@/bin/app"}, EPerfWaitKind::Sleep},
        {"S", {"pthread_cond_wait@/lib/libc.so.6"}, EPerfWaitKind::Synchronization},
    };
    for (const Case& c : cases) {
        const std::vector<PerfFrame> stack = Stack(c.frames);
        SCOPED_TRACE(std::string(c.state) + " " + (c.frames.empty() ? "" : c.frames.back()));
        EXPECT_EQ(PerfWaitReasonMapper::GetName(PerfWaitReasonMapper::Classify(c.state, stack)),
                  std::string(PerfWaitReasonMapper::GetName(c.expected)));
    }
}

TEST(PerfWaitReasonMapper, KernelAndUserFrames)
{
    const std::vector<std::string> texts = {"__schedule@[kernel.kallsyms]", "tcp_recvmsg@[nf_tables]",
                                            "__vdso_clock_gettime@[vdso]", "read@/lib/libc.so.6"};
    std::vector<PerfFrame> stack = Stack(texts);
    stack[1].address = 0x1000; // a module frame without a kernel address is still kernel code by its DSO
    EXPECT_EQ(PerfWaitReasonMapper::FirstUserFrame(stack), 2u);
    PerfFrame old;
    old.dso = "/lib/modules/4.1.0-virtual/build/vmlinux";
    old.address = 0x3d6b4c;
    EXPECT_TRUE(PerfWaitReasonMapper::IsKernelFrame(old));
    old.dso = "[unknown]";
    EXPECT_FALSE(PerfWaitReasonMapper::IsKernelFrame(old));
    old.address = 0xffffffffc0001000ull;
    EXPECT_TRUE(PerfWaitReasonMapper::IsKernelFrame(old));
    EXPECT_EQ(PerfWaitReasonMapper::FirstUserFrame({}), 0u);
}

} // namespace
