#pragma once

#include <cstdarg>
#include <string>

namespace Utility {

/// printf-style formatting into a std::string. A format the C library rejects yields "".
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

} // namespace Utility
