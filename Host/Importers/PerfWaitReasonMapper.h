#pragma once

#include "Importers/PerfScriptRecords.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace Profiler {

/// Why a switched-out thread waits, as far as a perf recording tells.
enum class EPerfWaitKind : uint8_t {
    Preemption,       ///< still runnable: the scheduler took the CPU away
    IO,               ///< waiting for a device or a file system
    Sleep,            ///< a timed sleep the thread asked for, or stopped by a signal
    Synchronization,  ///< locks, futexes, condition variables, poll/select/epoll, pipes, sockets
    MemoryManagement, ///< resolving a page fault
    Idle,             ///< an idle or parked kernel worker
    ThreadEnd,        ///< the thread exited
};

/// Derives the wait of a context switch from the previous thread's state letter and the stack
/// it blocked in, and maps it to the kernel wait reason numbers that captures store (the
/// call graph turns those into thread states). The rules, first match wins:
///
/// | prev_state        | blocked stack                                         | kind             | reason |
/// |-------------------|-------------------------------------------------------|------------------|--------|
/// | R, R+             | any                                                   | Preemption       | 32     |
/// | X, Z              | any                                                   | ThreadEnd        | 22     |
/// | I, P              | any                                                   | Idle             | 13     |
/// | other             | a page-fault path anywhere in the kernel part         | MemoryManagement | 9      |
/// | other             | innermost frame naming an I/O wait (io_schedule, ...) | IO               | 0      |
/// | other             | innermost frame naming a sleep (*nanosleep, msleep)   | Sleep            | 4      |
/// | other             | innermost frame naming a futex, poll, epoll, select,  | Synchronization  | 6      |
/// |                   | pipe, socket, lock or child wait                      |                  |        |
/// | D (D|K, ...)      | nothing recognised                                    | IO               | 0      |
/// | T, t              | nothing recognised                                    | Sleep            | 4      |
/// | S and the rest    | nothing recognised                                    | Synchronization  | 6      |
///
/// Kernel frames are searched first (innermost first), then user frames, so a recording
/// without kernel call chains still tells a sleep from a lock wait.
class PerfWaitReasonMapper {
public:
    static constexpr uint8_t kReasonIO = 0;
    static constexpr uint8_t kReasonSleep = 4;
    static constexpr uint8_t kReasonSynchronization = 6;
    static constexpr uint8_t kReasonMemoryManagement = 9;
    static constexpr uint8_t kReasonIdle = 13;
    static constexpr uint8_t kReasonThreadEnd = 22;
    static constexpr uint8_t kReasonPreemption = 32;

    /// `blockedStack` is innermost first, as perf prints it.
    static EPerfWaitKind Classify(std::string_view prevState, std::span<const PerfFrame> blockedStack);
    static uint8_t ToWaitReason(EPerfWaitKind kind);
    static const char* GetName(EPerfWaitKind kind);

    /// Kernel code: a kernel-half address, or a kernel DSO ("[kernel.kallsyms]", "...vmlinux",
    /// a bracketed kernel module name).
    static bool IsKernelFrame(const PerfFrame& frame);
    /// The index of the first user frame of an innermost-first stack (the size when none):
    /// the frames from there on are what the thread was doing in its own code.
    static std::size_t FirstUserFrame(std::span<const PerfFrame> stack);
};

} // namespace Profiler
