#pragma once

// Internal checks that log and carry on. A failed check reports two lines: the failed
// condition with its source location, then what went wrong. Utility sits below the logging
// facility, so the report goes through a handler that logging installs; until then it is
// written to standard error.

namespace Utility {

using AssertionHandler = void (*)(const char* expression, const char* file, int line, const char* message);

/// Replaces the handler (null restores the standard error one). Call before other threads check.
void SetAssertionHandler(AssertionHandler handler);

void ReportAssertion(const char* expression, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

} // namespace Utility

/// Evaluates `condition`; when false, reports it with a printf-style message and goes on.
/// Evaluates to the condition, so `if (!QX_ASSERT(...)) return;` guards a path.
#define QX_ASSERT(condition, ...)                                                              \
    ((condition) ? true : (::Utility::ReportAssertion(#condition, __FILE__, __LINE__, __VA_ARGS__), false))

/// An unconditional failure; the reported expression is "false".
#define QX_FAIL(...) ::Utility::ReportAssertion("false", __FILE__, __LINE__, __VA_ARGS__)
