#pragma once

#include <cstdarg>
#include <vector>

// The plugin's diagnostic output. It owns no file and no console: every finished line goes to
// the sinks that the host hands over at load time. Any thread may log at any time; the sink
// list must only be replaced before other threads log.

namespace System {

class LogBuffer;

/// Receives one finished, NUL-terminated UTF-8 line and the sink's user value. Called on the
/// logging thread, so it must be thread-safe itself.
using LogCallback = void (*)(const char* line, void* userData);

struct LogSink {
    LogCallback callback = nullptr;
    void* userData = nullptr; // not owned
};

/// Replaces the process-wide sink list by a copy of `sinks`, in the same order. Passing the
/// list returned by GetLogSinks leaves it unchanged.
void InitializeTracing(const std::vector<LogSink>& sinks);
/// The process-wide sink list (empty until InitializeTracing).
const std::vector<LogSink>& GetLogSinks();

/// Writes one line "[HH:MM:SS]: message\n" to the process-wide sinks. A message that cannot be
/// formatted is logged as an empty message.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// As Log, to `sinks`, with a started argument list.
void LogTo(const std::vector<LogSink>& sinks, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));
/// Writes `text` to the process-wide sinks: with the timestamp prefix and a line feed, or, when
/// `withTimestamp` is false, exactly as given.
void LogText(const char* text, bool withTimestamp = true);
void LogTextTo(const std::vector<LogSink>& sinks, const char* text, bool withTimestamp = true);

/// The calling thread's line buffer (created empty on first use).
const LogBuffer& GetThreadLogBuffer();

/// Routes failed internal checks (QX_ASSERT, QX_FAIL) to the log as two lines: the condition
/// with its source location, then the message. Done automatically when logging is linked in;
/// callable again to restore it after another handler was installed.
void InstallAssertionLogging();

} // namespace System
