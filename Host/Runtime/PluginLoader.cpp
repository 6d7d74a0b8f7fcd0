#include "Runtime/PluginLoader.h"

#include "System/Platform/FileSystem.h"

#include <dlfcn.h>

namespace Profiler {
namespace {

using Serialization::EErrorCode;

/// What is wrong with a descriptor, or null when it can be used.
const char* CheckDescriptor(const ModuleDescriptor& descriptor)
{
    if (descriptor.tracingRevision != kTracingRevision)
        return "an unknown tracing revision";
    if (descriptor.pluginCount != 1 || descriptor.plugins == nullptr)
        return "a plugin count other than 1";
    if (descriptor.initializeTracing == nullptr)
        return "no initializeTracing entry";
    const PluginDescriptor& plugin = descriptor.plugins[0];
    if (plugin.name == nullptr || plugin.create == nullptr || plugin.destroy == nullptr)
        return "an incomplete plugin entry";
    return nullptr;
}

} // namespace

PluginLoader::~PluginLoader()
{
    Unload();
}

bool PluginLoader::Load(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    Unload();
    if (!System::Platform::FileExists(path)) {
        errors.AddFormatted(EErrorCode::FileNotFound, "Plugin module %s does not exist", path.c_str());
        return false;
    }
    // RTLD_NODELETE: the module's type descriptors stay in the registry after unloading.
    // RTLD_LOCAL: plugins keep their own copies of the libraries, apart from the host's.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        const char* reason = dlerror();
        errors.AddFormatted(EErrorCode::NotThisFormat, "Unable to load plugin module %s: %s", path.c_str(),
                            reason ? reason : "unknown error");
        return false;
    }
    const auto* descriptor = static_cast<const ModuleDescriptor*>(dlsym(handle, kModuleDescriptorSymbol));
    if (!descriptor) {
        errors.AddFormatted(EErrorCode::NotThisFormat, "%s is not a plugin module: it does not export %s",
                            path.c_str(), kModuleDescriptorSymbol);
        dlclose(handle);
        return false;
    }
    if (descriptor->descriptorVersion != kModuleDescriptorVersion) {
        errors.AddFormatted(EErrorCode::NewerVersion,
                            "Plugin module %s has descriptor version %llu; this host reads version %llu",
                            path.c_str(), static_cast<unsigned long long>(descriptor->descriptorVersion),
                            static_cast<unsigned long long>(kModuleDescriptorVersion));
        dlclose(handle);
        return false;
    }
    if (const char* problem = CheckDescriptor(*descriptor)) {
        errors.AddFormatted(EErrorCode::Corrupt, "Plugin module %s has %s in its descriptor", path.c_str(),
                            problem);
        dlclose(handle);
        return false;
    }
    mPath = path;
    mHandle = handle;
    mDescriptor = descriptor;
    return true;
}

RTTI::ModuleId PluginLoader::GetPluginModuleId() const
{
    return RTTI::ModuleIdFromName(GetPluginDescriptor().name);
}

void PluginLoader::InitializeTracing(const std::vector<System::LogSink>& sinks) const
{
    if (mDescriptor)
        mDescriptor->initializeTracing(sinks);
}

Plugin* PluginLoader::CreatePlugin(RTTI::Registry& registry, const char* hostString1, const char* hostString2,
                                   uint64_t hostValue, Serialization::ErrorList& errors)
{
    if (!mDescriptor) {
        errors.Add(EErrorCode::WriteFailed, "No plugin module is loaded");
        return nullptr;
    }
    if (mPlugin) {
        errors.AddFormatted(EErrorCode::WriteFailed, "The plugin of %s exists already", mPath.c_str());
        return nullptr;
    }
    mPlugin = GetPluginDescriptor().create(hostString1, hostString2, hostValue, &registry);
    if (!mPlugin)
        errors.AddFormatted(EErrorCode::WriteFailed, "Plugin module %s could not create its plugin %s",
                            mPath.c_str(), GetPluginDescriptor().name);
    return mPlugin;
}

void PluginLoader::DestroyPlugin()
{
    if (mPlugin && mDescriptor)
        GetPluginDescriptor().destroy(mPlugin);
    mPlugin = nullptr;
}

void PluginLoader::Unload()
{
    DestroyPlugin();
    if (mHandle)
        dlclose(mHandle);
    mHandle = nullptr;
    mDescriptor = nullptr;
    mPath.clear();
}

} // namespace Profiler
