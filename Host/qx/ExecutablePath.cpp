#include "ExecutablePath.h"

#include <system_error>

namespace Profiler {

std::filesystem::path GetExecutableDirectory()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable.parent_path();
}

std::filesystem::path GetDefaultPluginPath()
{
    const std::filesystem::path directory = GetExecutableDirectory();
    if (directory.empty())
        return {};
    return (directory / QX_DEFAULT_PLUGIN_RELATIVE_PATH).lexically_normal();
}

} // namespace Profiler
