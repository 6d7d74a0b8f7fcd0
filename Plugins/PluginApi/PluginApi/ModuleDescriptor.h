#pragma once

#include "System/Log.h"

#include <cstdint>
#include <vector>

// What a plugin library exports for its host. The host finds a plugin module through one data
// record, `moduleDescriptor`, whose fields are all 64 bits wide so that the layout is the same
// for every compiler; the record leads to the tracing entry and to the plugins the module holds.

namespace RTTI {
class Registry;
}

namespace Profiler {

class Plugin;

/// Replaces the plugin's log sinks by a copy of the host's list.
using InitializeTracingFunction = void (*)(const std::vector<System::LogSink>& sinks);
/// Creates the plugin object: two host strings (copied), a host value and the host's registry,
/// which must outlive the object. Null only when the object cannot be allocated.
using CreatePluginFunction = Plugin* (*)(const char* hostString1, const char* hostString2, uint64_t hostValue,
                                         RTTI::Registry* registry);
/// Deletes a plugin object made by the matching create function; null is ignored.
using DestroyPluginFunction = void (*)(Plugin* plugin);

/// One plugin of a module.
struct PluginDescriptor {
    uint64_t kind; ///< interpreted by the host; 0 for a plugin that provides views
    const char* name;
    CreatePluginFunction create;
    DestroyPluginFunction destroy;
};

/// The exported `moduleDescriptor` record.
struct ModuleDescriptor {
    uint64_t descriptorVersion; ///< kModuleDescriptorVersion
    const char* moduleVersion;  ///< the module's version text
    InitializeTracingFunction initializeTracing;
    /// Revision of the tracing contract (the LogSink record passed to initializeTracing); 1.
    uint64_t tracingRevision;
    const PluginDescriptor* plugins;
    uint64_t pluginCount; ///< entries in `plugins`
};

static_assert(sizeof(PluginDescriptor) == 4 * 8 && sizeof(ModuleDescriptor) == 6 * 8,
              "descriptor fields are 64 bits wide each");

inline constexpr uint64_t kModuleDescriptorVersion = 9;
inline constexpr uint64_t kTracingRevision = 1;
/// Descriptor kind of a plugin whose objects are ViewPlugins.
inline constexpr uint64_t kViewPluginKind = 0;

/// Names of the symbols a plugin module exports.
inline constexpr const char* kModuleDescriptorSymbol = "moduleDescriptor";
inline constexpr const char* kInitializeTracingSymbol = "initializeTracing";

} // namespace Profiler
