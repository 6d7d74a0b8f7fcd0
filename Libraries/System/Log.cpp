#include "System/Log.h"

#include "System/LogBuffer.h"
#include "Utility/Assert.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace System {
namespace {

// Room for the prefix (at most 256 bytes), the line feed and the terminating NUL.
constexpr std::size_t kMaxPrefixLength = 256;
constexpr std::size_t kLineOverhead = kMaxPrefixLength + 2;

std::vector<LogSink>& Sinks()
{
    // Function-local so that logging during static initialisation finds a constructed list.
    static std::vector<LogSink> sinks;
    return sinks;
}

LogBuffer& ThreadBuffer()
{
    thread_local LogBuffer buffer;
    return buffer;
}

void Deliver(const std::vector<LogSink>& sinks, const char* line)
{
    for (const LogSink& sink : sinks)
        if (sink.callback)
            sink.callback(line, sink.userData);
}

/// Formats "[HH:MM:SS]: " + message + "\n" in the thread's buffer and delivers it; `write`
/// puts exactly `length` message bytes at the pointer it is given.
template <class WriteMessage>
void DeliverTimestamped(const std::vector<LogSink>& sinks, std::size_t length, WriteMessage&& write)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    LogBuffer& buffer = ThreadBuffer();
    buffer.EnsureSize(length + kLineOverhead);
    char* line = buffer.GetData();
    const std::size_t prefixLength = std::strftime(line, kMaxPrefixLength, "[%H:%M:%S]: ", &local);
    write(line + prefixLength);
    line[prefixLength + length] = '\n';
    line[prefixLength + length + 1] = '\0';
    Deliver(sinks, line);
}

void LogAssertion(const char* expression, const char* file, int line, const char* message)
{
    Log("\"%s\" assertion failed at %s (%d):", expression, file, line);
    Log("%s", message);
}

// Any program that links logging in reports its failed checks through it.
[[maybe_unused]] const bool kAssertionLoggingInstalled = (InstallAssertionLogging(), true);

} // namespace

void InitializeTracing(const std::vector<LogSink>& sinks)
{
    if (&sinks != &Sinks())
        Sinks() = sinks;
}

const std::vector<LogSink>& GetLogSinks()
{
    return Sinks();
}

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogTo(Sinks(), format, args);
    va_end(args);
}

void LogTo(const std::vector<LogSink>& sinks, const char* format, va_list args)
{
    if (sinks.empty())
        return; // nobody listens: skip the formatting
    va_list measure;
    va_copy(measure, args);
    const int counted = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    // A format the C library rejects counts as an empty message.
    const std::size_t length = counted > 0 ? static_cast<std::size_t>(counted) : 0;
    DeliverTimestamped(sinks, length, [&](char* message) {
        if (length > 0)
            std::vsnprintf(message, length + 1, format, args);
    });
}

void LogText(const char* text, bool withTimestamp)
{
    LogTextTo(Sinks(), text, withTimestamp);
}

void LogTextTo(const std::vector<LogSink>& sinks, const char* text, bool withTimestamp)
{
    if (sinks.empty())
        return;
    if (!text)
        text = "";
    if (!withTimestamp) {
        Deliver(sinks, text);
        return;
    }
    const std::size_t length = std::strlen(text);
    DeliverTimestamped(sinks, length, [&](char* message) { std::memcpy(message, text, length); });
}

const LogBuffer& GetThreadLogBuffer()
{
    return ThreadBuffer();
}

void InstallAssertionLogging()
{
    Utility::SetAssertionHandler(&LogAssertion);
}

} // namespace System
