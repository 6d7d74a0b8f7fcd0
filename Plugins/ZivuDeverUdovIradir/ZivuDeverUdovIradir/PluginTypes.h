#pragma once

namespace RTTI {
class Registry;
}

namespace Profiler {

/// Registers every reflected type the plugin carries into the registry's current module, in
/// seven groups: primitives, the capture data model, the host's settings and view states,
/// symbol resolution, the serialization schema, the call graph model, the plugin's own records.
/// Types already registered under that module are left as they are.
void RegisterPluginTypes(RTTI::Registry& registry);

} // namespace Profiler
