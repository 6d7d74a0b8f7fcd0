// The module's exported entry points: the only symbols the host sees. Everything else in the
// module, including the static libraries linked into it, stays hidden.

#include "PluginApi/ModuleDescriptor.h"
#include "System/Log.h"
#include "ZivuDeverUdovIradir/VelkorApi.h"
#include "ZivuDeverUdovIradir/ZivuDeverUdovIradir.h"

#define QX_PLUGIN_EXPORT __attribute__((visibility("default")))

extern "C" {

QX_PLUGIN_EXPORT Profiler::Plugin* createZivuDeverUdovIradir(const char* hostString1, const char* hostString2,
                                                             uint64_t hostValue, RTTI::Registry* registry)
{
    // Lookups made by this module's code search its own partition of the registry first.
    RTTI::SetThisModule(Profiler::GetModuleId());
    return Profiler::CreatePlugin(hostString1, hostString2, hostValue, registry);
}

QX_PLUGIN_EXPORT void destroyZivuDeverUdovIradir(Profiler::Plugin* plugin)
{
    Profiler::DestroyPlugin(plugin);
}

QX_PLUGIN_EXPORT void initializeTracing(const std::vector<System::LogSink>& sinks)
{
    System::InitializeTracing(sinks);
}

QX_PLUGIN_EXPORT int VelkorAPI_GetAPI(uint32_t version, Profiler::VelkorApiTable* table)
{
    return Profiler::GetVelkorApi(version, table);
}

} // extern "C"

namespace {

const Profiler::PluginDescriptor kPlugins[] = {
    {Profiler::kViewPluginKind, Profiler::kPluginName, &createZivuDeverUdovIradir,
     &destroyZivuDeverUdovIradir},
};

} // namespace

extern "C" QX_PLUGIN_EXPORT const Profiler::ModuleDescriptor moduleDescriptor = {
    Profiler::kModuleDescriptorVersion,
    Profiler::kPluginVersion,
    &initializeTracing,
    Profiler::kTracingRevision,
    kPlugins,
    std::size(kPlugins),
};
