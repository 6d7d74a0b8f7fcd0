#pragma once

#include "PluginApi/ModuleDescriptor.h"
#include "PluginApi/Plugin.h"
#include "RTTI/Registry.h"
#include "System/Log.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace Profiler {

/// Loads one plugin module and drives its plugin through the module's entry points: open the
/// module, read and check its descriptor, hand it the host's log sinks, create the plugin with
/// the host's registry, destroy it.
///
/// A module stays mapped for the rest of the process once it was opened: the registry keeps the
/// module's type descriptors, and objects made through them refer to its code. Unload therefore
/// only destroys the plugin and releases the handle.
class PluginLoader {
public:
    PluginLoader() = default;
    /// Destroys the plugin if one was created.
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    /// Opens the module at `path` and checks its descriptor: version 9, tracing revision 1,
    /// exactly one plugin, and every entry present. False with one error record otherwise
    /// (a missing file, a file that is no loadable module, a missing `moduleDescriptor`, a
    /// descriptor of another version or shape).
    bool Load(const std::filesystem::path& path, Serialization::ErrorList& errors);
    bool IsLoaded() const { return mDescriptor != nullptr; }

    const std::filesystem::path& GetPath() const { return mPath; }
    /// Valid while loaded.
    const ModuleDescriptor& GetModuleDescriptor() const { return *mDescriptor; }
    const PluginDescriptor& GetPluginDescriptor() const { return mDescriptor->plugins[0]; }
    /// The registry partition that the plugin registers its types into: the CRC-64 of its name.
    RTTI::ModuleId GetPluginModuleId() const;

    /// Replaces the module's log sinks by a copy of `sinks`.
    void InitializeTracing(const std::vector<System::LogSink>& sinks) const;

    /// Creates the plugin; it registers its types into `registry`, which must outlive it. Null
    /// with one error record when the module is not loaded, a plugin exists already, or the
    /// module's factory returns none.
    Plugin* CreatePlugin(RTTI::Registry& registry, const char* hostString1, const char* hostString2,
                         uint64_t hostValue, Serialization::ErrorList& errors);
    Plugin* GetPlugin() const { return mPlugin; }
    /// Destroys the plugin through the module (nothing happens without one).
    void DestroyPlugin();

    /// Destroys the plugin and releases the module handle.
    void Unload();

private:
    std::filesystem::path mPath;
    void* mHandle = nullptr;                       ///< owned, from dlopen
    const ModuleDescriptor* mDescriptor = nullptr; ///< inside the module
    Plugin* mPlugin = nullptr;                     ///< owned, deleted through the module
};

} // namespace Profiler
