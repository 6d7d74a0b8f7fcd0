#include "ZivuDeverUdovIradir/ZivuDeverUdovIradir.h"

#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/PluginTypes.h"

#include <exception>

namespace Profiler {

RTTI::ModuleId GetModuleId()
{
    static const RTTI::ModuleId moduleId = RTTI::ModuleIdFromName(kPluginName);
    return moduleId;
}

ZivuDeverUdovIradir::ZivuDeverUdovIradir(const char* hostString1, const char* hostString2, uint64_t hostValue,
                                         RTTI::Registry* registry)
    : ViewPlugin(hostString1, hostString2, hostValue, registry)
{}

ZivuDeverUdovIradir::~ZivuDeverUdovIradir() = default;

void ZivuDeverUdovIradir::CreateView(View** outView, ThreadSelectionSource* threadSource, Session* session,
                                     SessionModelContext* modelContext)
{
    if (outView)
        *outView = nullptr;
    EnsureSettings();
    if (!outView || !modelContext)
        return;
    auto* view = new CallGraphView(threadSource, session, mCallGraphManager, *mCallGraphSettings,
                                   *mSourceSettings, *modelContext);
    *outView = view;
}

void ZivuDeverUdovIradir::EnsureSettings()
{
    // Load errors are not reported: a missing or broken file simply gives the defaults.
    if (!mCallGraphSettings) {
        Serialization::ErrorList errors;
        if (registry)
            mCallGraphSettings = LoadCallGraphSettings(*registry, errors);
        if (!mCallGraphSettings) {
            mCallGraphSettings = std::make_unique<CallGraphSettings>();
            SaveCallGraphSettings(*mCallGraphSettings);
        }
    }
    if (!mSourceSettings) {
        Serialization::ErrorList errors;
        if (registry)
            mSourceSettings = LoadSourceSettings(*registry, errors);
        if (!mSourceSettings) {
            mSourceSettings = std::make_unique<SourceSettings>();
            SaveSourceSettings(*mSourceSettings);
        }
    }
}

Plugin* CreatePlugin(const char* hostString1, const char* hostString2, uint64_t hostValue,
                     RTTI::Registry* registry)
{
    std::unique_ptr<ZivuDeverUdovIradir> plugin;
    try {
        plugin = std::make_unique<ZivuDeverUdovIradir>(hostString1, hostString2, hostValue, registry);
    } catch (const std::exception&) {
        // Out of memory, or no thread for the call graph manager: nothing is registered then.
        return nullptr;
    }
    if (registry) {
        registry->SetCurrentModule(GetModuleId());
        try {
            RegisterPluginTypes(*registry);
        } catch (const std::exception&) {
            plugin.reset(); // out of memory while registering; no exception crosses into the host
        }
        registry->SetCurrentModule(RTTI::kNoModule);
    }
    return plugin.release();
}

void DestroyPlugin(Plugin* plugin)
{
    delete plugin;
}

} // namespace Profiler
