#pragma once

#include <cstdint>
#include <string>

namespace RTTI {
class Registry;
}

namespace Profiler {

// The host's objects for one opened session, defined with the views: the view interface, the
// session's data, the source of its thread selection, and the record that leads to the
// session's message listeners and call graph model.
class View;
class Session;
class ThreadSelectionSource;
struct SessionModelContext;

/// The root of every plugin object. The host owns the object and deletes it only through the
/// destroy function of its module, so that it is freed by the library that allocated it.
class Plugin {
public:
    Plugin(const char* hostString1, const char* hostString2, uint64_t hostValue)
        : hostString1(hostString1 ? hostString1 : ""), hostString2(hostString2 ? hostString2 : ""),
          hostValue(hostValue)
    {}
    virtual ~Plugin() = default;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // The plugin never reads these; the host passes them to the factory for its own use.
    std::string hostString1;
    std::string hostString2;
    uint64_t hostValue = 0;
};

/// A plugin that shows one view per opened session.
class ViewPlugin : public Plugin {
public:
    ViewPlugin(const char* hostString1, const char* hostString2, uint64_t hostValue, RTTI::Registry* registry)
        : Plugin(hostString1, hostString2, hostValue), registry(registry)
    {}

    /// Creates the view of one opened session and hands it out through `outView`; the host owns
    /// the view from then on and deletes it before the plugin. `outView` stays null when the
    /// plugin has no view to offer.
    virtual void CreateView(View** outView, ThreadSelectionSource* threadSource, Session* session,
                            SessionModelContext* modelContext) = 0;

    RTTI::Registry* registry = nullptr; ///< not owned; the host's, outlives the plugin
    /// The plugin whose call graph model the views read.
    std::string modelPluginName = "CallGraphModelPlugin";
};

} // namespace Profiler
