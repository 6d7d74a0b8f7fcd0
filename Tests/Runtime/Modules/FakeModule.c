/* Stand-ins for broken plugin modules, one per loader failure. Written in C so that the test
   executable's source glob does not pick them up; each variant is chosen by a definition. */

#include <stddef.h>
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))

struct PluginDescriptor {
    uint64_t kind;
    const char* name;
    void* (*create)(const char*, const char*, uint64_t, void*);
    void (*destroy)(void*);
};

struct ModuleDescriptor {
    uint64_t descriptorVersion;
    const char* moduleVersion;
    void (*initializeTracing)(const void*);
    uint64_t tracingRevision;
    const struct PluginDescriptor* plugins;
    uint64_t pluginCount;
};

static void InitializeTracing(const void* sinks)
{
    (void)sinks;
}

static void* CreateNothing(const char* hostString1, const char* hostString2, uint64_t hostValue, void* registry)
{
    (void)hostString1;
    (void)hostString2;
    (void)hostValue;
    (void)registry;
    return NULL; /* as if the plugin object could not be allocated */
}

static void DestroyNothing(void* plugin)
{
    (void)plugin;
}

static const struct PluginDescriptor kPlugins[] = {{0, "FakePlugin", &CreateNothing, &DestroyNothing}};

#if defined(FAKE_NO_DESCRIPTOR)
EXPORT int notADescriptor = 1;
#else
#if defined(FAKE_OLD_VERSION)
#define DESCRIPTOR_VERSION 8
#else
#define DESCRIPTOR_VERSION 9
#endif
#if defined(FAKE_TWO_PLUGINS)
#define PLUGIN_COUNT 2
#else
#define PLUGIN_COUNT 1
#endif
EXPORT const struct ModuleDescriptor moduleDescriptor = {
    DESCRIPTOR_VERSION, "0.0.0.0", &InitializeTracing, 1, kPlugins, PLUGIN_COUNT,
};
#endif
