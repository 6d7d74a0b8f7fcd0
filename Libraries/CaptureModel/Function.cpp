#include "CaptureModel/Function.h"

QX_RTTI_DEFINE_CLASS(Profiler::Function, 1)
{
    type.Alias("Profiler::ResolvedFunction")
        .Alias("Profiler::JITResolvedFunction")
        .Property("RelativeAddress", &Function::mRelativeAddress)
        .Property("Size", &Function::mSize)
        .Property("Name", &Function::mName)
        .Property("ExtraData", &Function::mExtraData)
        .Property("ModuleIndex", &Function::mModuleIndex);
}

QX_RTTI_DEFINE_CLASS(Profiler::JITFunctionInstance, 1)
{
    type.Property("AbsoluteAddress", &JITFunctionInstance::mAbsoluteAddress)
        .Property("ProcessID", &JITFunctionInstance::mProcessID)
        .Property("ModuleID", &JITFunctionInstance::mModuleID)
        .Property("LoadTime", &JITFunctionInstance::mLoadTime)
        .Property("UnloadTime", &JITFunctionInstance::mUnloadTime)
        .Property("JITFunctionIndex", &JITFunctionInstance::mJITFunctionIndex);
}
