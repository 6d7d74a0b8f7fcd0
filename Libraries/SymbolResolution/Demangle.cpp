#include "SymbolResolution/Demangle.h"

#include <cstdlib>
#include <cxxabi.h>

namespace Profiler {

std::string Demangle(const char* name)
{
    if (name == nullptr)
        return {};
    if (name[0] != '_' || name[1] != 'Z')
        return name;
    int status = 0;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (demangled == nullptr)
        return name;
    std::string text = demangled;
    std::free(demangled);
    return text;
}

} // namespace Profiler
