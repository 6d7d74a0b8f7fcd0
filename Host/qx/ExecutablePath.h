#pragma once

#include <filesystem>

namespace Profiler {

/// The directory of the running qx executable (resolved through /proc/self/exe); empty when
/// it cannot be found.
std::filesystem::path GetExecutableDirectory();

/// The call graph plugin built with this qx: the build records the module's path relative to
/// the qx executable, so the pair can be moved together.
std::filesystem::path GetDefaultPluginPath();

} // namespace Profiler
