#pragma once

#include <string>

namespace Profiler {

/// The demangled form of a C++ symbol name; other names come back unchanged.
std::string Demangle(const char* name);

} // namespace Profiler
