#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <string>

namespace Profiler {

/// A function of a module: its address relative to the module (absolute for modules in the
/// "Absolute" lookup mode), its size in bytes (0 when unknown: it then reaches up to the next
/// function) and its name. Files of older versions name it "Profiler::ResolvedFunction" or
/// "Profiler::JITResolvedFunction".
struct Function {
    QX_RTTI_STRUCT(Function);

    uint64_t mRelativeAddress = 0;
    uint64_t mSize = 0;
    std::string mName;
    int32_t mExtraData = 0;
    uint32_t mModuleIndex = 0; ///< index into the database's native or JIT modules
};

/// One placement of a JIT-compiled function in a process.
struct JITFunctionInstance {
    QX_RTTI_STRUCT(JITFunctionInstance);

    uint64_t mAbsoluteAddress = 0;
    int32_t mProcessID = 0;
    uint64_t mModuleID = 0;
    double mLoadTime = 0.0;
    double mUnloadTime = 0.0;
    uint32_t mJITFunctionIndex = 0; ///< index into the database's JIT functions
};

} // namespace Profiler
