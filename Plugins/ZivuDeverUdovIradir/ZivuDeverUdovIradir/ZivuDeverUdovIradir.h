#pragma once

#include "CallGraphModel/CallGraphManager.h"
#include "PluginApi/Plugin.h"
#include "RTTI/Registry.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/SourceSettings.h"

#include <cstdint>
#include <memory>

namespace Profiler {

/// The plugin's module name; its CRC-64 is the plugin's module id in the type registry.
inline constexpr const char* kPluginName = "ZivuDeverUdovIradir";
/// The version text of the plugin module.
inline constexpr const char* kPluginVersion = "1.0.7463.3832";

/// The CRC-64 of kPluginName, computed on first use.
RTTI::ModuleId GetModuleId();

/// The call graph plugin: one object per host, shared by the views of all opened sessions.
/// It owns the settings (loaded when the first view is created) and the call graph manager
/// whose thread destroys the graphs the views let go.
class ZivuDeverUdovIradir final : public ViewPlugin {
public:
    ZivuDeverUdovIradir(const char* hostString1, const char* hostString2, uint64_t hostValue,
                        RTTI::Registry* registry);
    /// Stops the call graph manager first, then frees the source and the call graph settings.
    /// Nothing is saved: every change was saved when it was made.
    ~ZivuDeverUdovIradir() override;

    /// Loads or creates both settings files on its first call, then makes the session's
    /// CallGraphView (null without a model context).
    void CreateView(View** outView, ThreadSelectionSource* threadSource, Session* session,
                    SessionModelContext* modelContext) override;

    /// Null until the first CreateView.
    CallGraphSettings* GetCallGraphSettings() const { return mCallGraphSettings.get(); }
    SourceSettings* GetSourceSettings() const { return mSourceSettings.get(); }
    CallGraphManager& GetCallGraphManager() { return mCallGraphManager; }

private:
    /// Loads each settings file the plugin does not hold yet; a file that cannot be loaded is
    /// replaced by the defaults, saved at once.
    void EnsureSettings();

    // Destroyed in reverse order: the manager, then the source settings, then the call graph
    // settings.
    std::unique_ptr<CallGraphSettings> mCallGraphSettings;
    std::unique_ptr<SourceSettings> mSourceSettings;
    CallGraphManager mCallGraphManager;
};

/// Creates the plugin object and registers the plugin's types into `registry` under the
/// plugin's module id; the registry's current module is all bits set again afterwards. Null
/// when the object cannot be made.
Plugin* CreatePlugin(const char* hostString1, const char* hostString2, uint64_t hostValue,
                     RTTI::Registry* registry);
/// Deletes a plugin object made by CreatePlugin; null is ignored.
void DestroyPlugin(Plugin* plugin);

} // namespace Profiler
