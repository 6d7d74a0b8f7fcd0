#include "System/Platform/ErrorText.h"

#include <cerrno>
#include <cstring>

namespace System::Platform {
namespace {

// strerror_r comes in two flavours: the GNU one returns the text (which may not be the buffer),
// the XSI one returns a status and fills the buffer.
[[maybe_unused]] const char* PickText(const char* text, const char*)
{
    return text;
}

[[maybe_unused]] const char* PickText(int status, const char* buffer)
{
    return status == 0 ? buffer : "Unknown error";
}

} // namespace

std::string GetErrorText(int code)
{
    char buffer[256] = {};
    return PickText(strerror_r(code, buffer, sizeof(buffer)), buffer);
}

std::string GetLastErrorText()
{
    return GetErrorText(errno);
}

} // namespace System::Platform
