#include "Utility/Assert.h"

#include "Utility/Format.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace Utility {
namespace {

void WriteToStandardError(const char* expression, const char* file, int line, const char* message)
{
    std::fprintf(stderr, "\"%s\" assertion failed at %s (%d):\n%s\n", expression, file, line, message);
}

std::atomic<AssertionHandler> gHandler{&WriteToStandardError};

} // namespace

void SetAssertionHandler(AssertionHandler handler)
{
    gHandler.store(handler ? handler : &WriteToStandardError, std::memory_order_release);
}

void ReportAssertion(const char* expression, const char* file, int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string message = FormatV(format, args);
    va_end(args);
    gHandler.load(std::memory_order_acquire)(expression, file, line, message.c_str());
}

} // namespace Utility
