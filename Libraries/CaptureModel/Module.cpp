#include "CaptureModel/Module.h"

#include "Utility/Format.h"

namespace Profiler {

std::vector<Module::DetailLine> NativeModule::GetDetailLines() const
{
    return {{"Path", mPath}, {"Image size", Utility::Format("%d", mImageSize)}};
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::Module, 2)
{
    type.Property("Name", &Module::mName);
}

QX_RTTI_DEFINE_CLASS(Profiler::NativeModule, 2)
{
    type.Base<Module>()
        .Property("Path", &NativeModule::mPath)
        .Property("ImageSize", &NativeModule::mImageSize)
        .Property("Functions", &NativeModule::mFunctions)
        .Property("RuntimeFunctions", &NativeModule::mRuntimeFunctions)
        .Property("ResolveStatus", &NativeModule::mResolveStatus)
        .Property("SymbolLookupAddressMode", &NativeModule::mSymbolLookupAddressMode);
}

QX_RTTI_DEFINE_CLASS(Profiler::JITModule, 1)
{
    type.Base<Module>().Property("Path", &JITModule::mPath);
}

QX_RTTI_DEFINE_CLASS(Profiler::NativeModuleInstance, 1)
{
    type.Property("ImageBase", &NativeModuleInstance::mImageBase)
        .Property("LoadTimeMs", &NativeModuleInstance::mLoadTimeMs)
        .Property("UnloadTimeMs", &NativeModuleInstance::mUnloadTimeMs)
        .Property("ProcessID", &NativeModuleInstance::mProcessID)
        .Property("NativeModuleIndex", &NativeModuleInstance::mNativeModuleIndex);
}

QX_RTTI_DEFINE_CLASS(Profiler::JITModuleInstance, 1)
{
    type.Property("ProcessID", &JITModuleInstance::mProcessID)
        .Property("LoadTimeMs", &JITModuleInstance::mLoadTimeMs)
        .Property("UnloadTimeMs", &JITModuleInstance::mUnloadTimeMs)
        .Property("ModuleID", &JITModuleInstance::mModuleID)
        .Property("JITModuleIndex", &JITModuleInstance::mJITModuleIndex);
}

QX_RTTI_DEFINE_CLASS(Profiler::JITExtraDataStorage, 1) {}
