#include "Command.h"
#include "ExecutablePath.h"

#include "RTTI/Registry.h"
#include "Runtime/LogSinks.h"
#include "Runtime/PluginLoader.h"
#include "System/Log.h"

#include <cstdio>

namespace Profiler {
namespace {

void PrintErrors(const Serialization::ErrorList& errors)
{
    for (const Serialization::ErrorRecord& error : errors.GetErrors())
        std::fprintf(stderr, "qx plugins: %s\n", error.message.c_str());
}

/// Loads the module, creates and destroys its plugin, and prints what it found.
int DescribePlugin(const std::filesystem::path& path, const std::vector<System::LogSink>& sinks)
{
    Serialization::ErrorList errors;
    RTTI::Registry registry;
    PluginLoader loader;
    if (!loader.Load(path, errors)) {
        PrintErrors(errors);
        return 2; // a module that cannot be used is a bad input, not a usage error
    }
    loader.InitializeTracing(sinks);

    const ModuleDescriptor& module = loader.GetModuleDescriptor();
    const PluginDescriptor& plugin = loader.GetPluginDescriptor();
    std::printf("Module:             %s\n", loader.GetPath().c_str());
    std::printf("Descriptor version: %llu\n", static_cast<unsigned long long>(module.descriptorVersion));
    std::printf("Module version:     %s\n", module.moduleVersion ? module.moduleVersion : "");
    std::printf("Tracing revision:   %llu\n", static_cast<unsigned long long>(module.tracingRevision));
    std::printf("Plugins:            %llu\n", static_cast<unsigned long long>(module.pluginCount));
    std::printf("Plugin:             %s (kind %llu)\n", plugin.name,
                static_cast<unsigned long long>(plugin.kind));

    int status = 0;
    if (loader.CreatePlugin(registry, "qx", "plugins", 0, errors)) {
        const RTTI::ModuleId moduleId = loader.GetPluginModuleId();
        std::printf("Module id:          0x%016llx\n", static_cast<unsigned long long>(moduleId));
        std::printf("Registered types:   %zu\n", registry.GetTypes(moduleId).size());
        loader.DestroyPlugin(); // before the registry it registered into
    } else {
        PrintErrors(errors);
        status = 2;
    }
    // The module stays mapped; it must not keep sinks that die with this command.
    loader.InitializeTracing({});
    return status;
}

} // namespace

int RunPluginsCommand(const std::vector<std::string>& arguments)
{
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::fputs("Usage: qx plugins [PATH]\n\n"
                   "Loads a plugin module (default: the call graph plugin next to qx), creates and\n"
                   "destroys its plugin, and prints its descriptors and registered types.\n",
                   stdout);
        return 0;
    }
    if (arguments.size() > 1) {
        std::fputs("Usage: qx plugins [PATH]\n", stderr);
        return 1;
    }
    const std::filesystem::path path =
        arguments.empty() ? GetDefaultPluginPath() : std::filesystem::path(arguments[0]);
    if (path.empty()) {
        std::fputs("qx plugins: cannot locate the qx executable; pass the plugin's path\n", stderr);
        return 1;
    }
    HostLogSinks logSinks;
    System::InitializeTracing(logSinks.GetSinks());
    const int status = DescribePlugin(path, logSinks.GetSinks());
    System::InitializeTracing({});
    return status;
}

} // namespace Profiler
