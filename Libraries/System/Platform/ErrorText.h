#pragma once

#include <string>

namespace System::Platform {

/// The system's description of the calling thread's last error (errno on POSIX).
std::string GetLastErrorText();
/// The system's description of an error code.
std::string GetErrorText(int code);

} // namespace System::Platform
