#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// The typed records that the perf script parser hands out. Every string view points into the
// parser's buffers and is valid only for the duration of the callback that receives it.

namespace Profiler {

/// One call stack frame line: `ADDR SYMBOL[+0xOFF] (DSO)`.
struct PerfFrame {
    uint64_t address = 0;      ///< as printed (absolute for the kernel, often DSO-relative for user code)
    std::string_view symbol;   ///< offset removed; "[unknown]" when perf could not name it
    std::string_view dso;      ///< "[unknown]" when the address lies in no known mapping
    uint64_t symbolOffset = 0; ///< the `+0x...` part, when present
    bool hasSymbolOffset = false;
};

/// The fields every record header carries: `COMM PID[/TID] [CPU] [TIME:]`.
struct PerfRecordHeader {
    std::string_view comm;
    std::optional<int32_t> pid; ///< absent when the header names only the thread ("?" in folded output)
    int32_t tid = 0;
    std::optional<int32_t> cpu;
    std::optional<uint64_t> timeNs;
    uint64_t lineNumber = 0; ///< 1-based line of the header in the input
};

/// The thread id given to records whose text names no thread (`perf script -F` without pid and
/// tid): one per command name, far below any id perf prints, so that each command still has a
/// thread of its own. Negative ids show as "?".
constexpr int32_t kUnnamedThreadIdBase = -0x20000000;
inline int32_t UnnamedThreadId(std::string_view comm)
{
    uint32_t hash = 2166136261u; // FNV-1a: stable across runs, so captures of one text agree
    for (char c : comm)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return kUnnamedThreadIdBase - static_cast<int32_t>(hash & 0x0fffffffu);
}

/// A sampled event with its call stack.
struct PerfSample {
    PerfRecordHeader header;
    std::optional<uint64_t> period;
    std::string_view eventName;        ///< without the trailing ':'
    std::string_view arguments;        ///< text after the event name (tracepoint fields), trimmed
    std::span<const PerfFrame> frames; ///< innermost first
    bool framesTruncated = false;      ///< outer frames beyond the parser's cap were dropped
};

/// A `sched:sched_switch` record: the thread that ran (prev) and the one that runs next. The
/// sample's stack is the stack that the previous thread blocked in.
struct PerfSchedSwitch {
    PerfSample sample;
    std::string_view prevComm;
    int32_t prevPid = 0;
    int32_t prevPrio = 0;
    std::string_view prevState; ///< "R", "R+", "S", "D", "D|K", "X", ...
    std::string_view nextComm;
    int32_t nextPid = 0;
    int32_t nextPrio = 0;
};

enum class EPerfTaskEventKind : uint8_t { Comm, Fork, Exit, SwitchIn, SwitchOut };

/// `PERF_RECORD_COMM`, `PERF_RECORD_FORK`, `PERF_RECORD_EXIT` and `PERF_RECORD_SWITCH[_CPU_WIDE]`
/// lines. Switch records are printed for the thread of their header, in both directions; their
/// pid and tid are the header's (or the header's tid alone when it has no process id).
struct PerfTaskEvent {
    PerfRecordHeader header;
    EPerfTaskEventKind kind = EPerfTaskEventKind::Comm;
    int32_t pid = 0; ///< the task the event is about (the child for a fork)
    int32_t tid = 0;
    int32_t parentPid = 0; ///< fork and exit only
    int32_t parentTid = 0;
    std::string_view newComm; ///< comm only
    bool isExec = false;      ///< comm only: the name changed because the process called exec
    bool preempted = false;   ///< switch out only: the thread was still runnable
    bool knownProcess = true; ///< false when a switch record's header had no process id
};

/// `PERF_RECORD_MMAP` and `PERF_RECORD_MMAP2` lines (printed with --show-mmap-events).
struct PerfMmapEvent {
    PerfRecordHeader header;
    int32_t pid = 0;
    int32_t tid = 0;
    uint64_t start = 0;
    uint64_t length = 0;
    uint64_t pageOffset = 0;
    std::string_view protection; ///< "r-xp", or "x"/"" in the older format
    std::string_view fileName;
};

/// Receives the records of a perf script stream in input order.
class IPerfScriptHandler {
public:
    virtual ~IPerfScriptHandler() = default;
    virtual void OnSample(const PerfSample&) {}
    virtual void OnSchedSwitch(const PerfSchedSwitch&) {}
    virtual void OnTaskEvent(const PerfTaskEvent&) {}
    virtual void OnMmapEvent(const PerfMmapEvent&) {}
};

} // namespace Profiler
