#pragma once

#include "PluginApi/VelkorApi.h"

#include <cstdint>

namespace Profiler {

/// Fills `table` and returns 1 when `version` is kVelkorApiVersion and `table` is not null;
/// otherwise leaves it untouched and returns 0.
int GetVelkorApi(uint32_t version, VelkorApiTable* table);

} // namespace Profiler
