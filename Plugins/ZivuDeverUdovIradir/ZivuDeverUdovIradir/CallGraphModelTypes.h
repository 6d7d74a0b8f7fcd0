#pragma once

namespace RTTI {
class Registry;
}

namespace Profiler {

/// Registers the call graph model's stored records (the sixth group of the plugin's types). Apart
/// from the other groups so that this file includes the call graph model's headers only.
void RegisterCallGraphModelTypes(RTTI::Registry& registry);

} // namespace Profiler
