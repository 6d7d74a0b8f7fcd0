#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Texts of the function list that the panel and the command-line tools share. Plain strings, so
// that code without a user interface can print exactly what the panel shows.

namespace Profiler {

/// How the function list shows times; the values are the ones the settings store.
enum class EFunctionListTimeUnit : uint8_t { Milliseconds = 0, Seconds = 1, AbsolutePercentage = 2 };

/// The text of a time cell: "%.2f" of milliseconds or seconds, or the share of `totalTime` as a
/// whole percentage, where a non-zero share below one percent reads "<1%".
std::string FormatFunctionListTime(double milliseconds, double totalTime, EFunctionListTimeUnit unit);

/// What the Inclusive and Exclusive headers get appended in `unit`: " (ms)", " (s)" or nothing.
const char* GetFunctionListTimeHeaderSuffix(EFunctionListTimeUnit unit);

/// The file-name part of a module path (everything after the last '/' or '\').
std::string_view GetModuleFileName(std::string_view modulePath);

/// A module file name without the extension of its file type: "libc.so.6" is "libc",
/// "ext4.ko" is "ext4"; programs ("python3.11") and perf's "[kernel.kallsyms]" stay whole.
std::string_view GetModuleDisplayName(std::string_view moduleFileName);

/// Whether a duration shows anything at nanosecond resolution.
bool IsDurationPresent(double milliseconds);

/// The rich-text tooltip of an inclusive time: its duration, and the shares of the self time
/// that no sample explains when there is any.
std::string FormatInclusiveTooltip(double inclusive, double unknownExecuting, double unknownWait);

/// The tooltip of the "[Unrooted Stacks]" pseudo-function's name.
const char* GetUnrootedStacksTooltip();

} // namespace Profiler
