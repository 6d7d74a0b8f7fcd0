#pragma once

#include "Importers/PerfScriptRecords.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The field grammar of `perf script` text, one line at a time. These functions never allocate;
// every view they fill points into the line they were given. They return false (and leave the
// output partly filled) when the text does not have the expected shape.

namespace Profiler::PerfScriptFields {

/// What follows the `COMM PID[/TID] [CPU] [TIME:]` part of a header line.
enum class EHeaderKind : uint8_t {
    Sample,    ///< `[PERIOD] EVENT: [ARGUMENTS]`
    TaskRecord ///< `PERF_RECORD_...` (comm, fork, exit, mmap and others)
};

struct HeaderFields {
    PerfRecordHeader header; ///< lineNumber is left to the caller
    EHeaderKind kind = EHeaderKind::Sample;
    std::optional<uint64_t> period;
    bool hasEvent = false;      ///< Sample: the header names its event (`-F` may leave it out)
    bool hasThreadId = true;    ///< false when `-F` left out both pid and tid
    std::string_view eventName; ///< Sample: without the trailing ':'; empty without an event
    /// Sample: the arguments, or the sampled address, symbol and DSO of a one-line record;
    /// TaskRecord: the text from "PERF_RECORD_" on
    std::string_view rest;
};

/// `[COMM] [PID[/TID]] [CPU] [MISC] [TOD] [TIME:] [PERIOD] [EVENT:] [ARGS | IP SYM (DSO)]` or
/// `[COMM] [PID[/TID]] [CPU] [MISC] [TOD] [TIME:] PERF_RECORD_...`: any field may be missing, but a
/// header without a thread id needs a CPU, time, event or task record. COMM may contain blanks
/// and digits. Numbers too large for their field make the line a bad header.
/// Whether the headers of a text carry a thread id: perf prints the same fields in every header,
/// so once one header has told, the others are read the same way ("Thread 2 1.5: cycles:" is a
/// command name with a digit in a text without thread ids, thread 2 of "Thread" in one with).
enum class EThreadIdField : uint8_t { Unknown, Present, Absent };
bool ParseHeaderLine(std::string_view line, HeaderFields& out,
                     EThreadIdField threadId = EThreadIdField::Unknown);

/// `ADDR [SYMBOL[+0xOFF]] [(DSO)]` with leading blanks. A missing symbol or DSO reads as "[unknown]".
bool ParseFrameLine(std::string_view line, PerfFrame& out);

/// The arguments of a sched_switch tracepoint, in the `prev_comm=... ==> next_comm=...` form or the
/// older `COMM:PID [PRIO] STATE ==> COMM:PID [PRIO]` form. Only the prev/next fields are filled.
bool ParseSchedSwitchArguments(std::string_view arguments, PerfSchedSwitch& out);

enum class ETaskRecordKind : uint8_t { Comm, Fork, Exit, Switch, Mmap, Other };

/// Classifies and parses the text from "PERF_RECORD_" on. Returns false when a known record kind
/// is malformed; unknown kinds give Other and true.
bool ParseTaskRecord(std::string_view text, ETaskRecordKind& kind, PerfTaskEvent& task, PerfMmapEvent& mmap);

/// `SECONDS[.FRACTION]` into nanoseconds; fractions beyond nanoseconds are cut off.
bool ParseTimeNs(std::string_view text, uint64_t& outNs);

/// Whether an event name is the context switch tracepoint ("sched:sched_switch").
bool IsSchedSwitchEvent(std::string_view eventName);

} // namespace Profiler::PerfScriptFields
