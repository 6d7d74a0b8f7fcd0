#pragma once

#include "CaptureModel/Function.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Profiler {

/// An executable image or code region, shared by every process that loaded it; each load is an
/// instance (NativeModuleInstance, JITModuleInstance).
class Module : public RTTI::Object {
public:
    QX_RTTI_CLASS(Module);

    /// A labelled line of the module's details in the modules view.
    using DetailLine = std::pair<std::string, std::string>;

    /// "Native" for native modules, "Unknown" for this base class.
    virtual std::string GetKindText() const { return "Unknown"; }
    virtual std::vector<DetailLine> GetDetailLines() const { return {}; }

    std::string mName;
};

/// An executable image (program, shared library, the kernel) with the functions that symbol
/// resolution found in it.
class NativeModule : public Module {
public:
    QX_RTTI_CLASS(NativeModule);

    enum class EResolveStatus : uint8_t { Resolved = 0, Unresolved = 1, Unused = 2, OldCapture = 3 };
    QX_RTTI_NESTED_ENUM(EResolveStatus, "Profiler::NativeModule::EResolveStatus", Resolved, Unresolved,
                        Unused, OldCapture);

    /// Whether function addresses are relative to the instance's image base or absolute.
    enum class ESymbolLookupAddressMode : uint8_t { Relative = 0, Absolute = 1 };
    QX_RTTI_NESTED_ENUM(ESymbolLookupAddressMode, "Profiler::NativeModule::ESymbolLookupAddressMode",
                        Relative, Absolute);

    std::string GetKindText() const override { return "Native"; }
    /// "Path" and "Image size".
    std::vector<DetailLine> GetDetailLines() const override;

    bool IsAbsolute() const { return mSymbolLookupAddressMode == ESymbolLookupAddressMode::Absolute; }

    std::string mPath;
    int32_t mImageSize = 0;
    std::vector<Function> mFunctions;
    std::vector<Function> mRuntimeFunctions;
    EResolveStatus mResolveStatus = EResolveStatus::Unresolved;
    ESymbolLookupAddressMode mSymbolLookupAddressMode = ESymbolLookupAddressMode::Relative;
};

/// A region of just-in-time compiled code.
class JITModule : public Module {
public:
    QX_RTTI_CLASS(JITModule);

    std::string GetKindText() const override { return "JIT"; }

    std::string mPath;
};

/// One load of a native module into a process.
struct NativeModuleInstance {
    QX_RTTI_STRUCT(NativeModuleInstance);

    uint64_t mImageBase = 0;
    double mLoadTimeMs = 0.0;
    double mUnloadTimeMs = 0.0;
    int32_t mProcessID = 0;
    uint32_t mNativeModuleIndex = 0; ///< index into the database's native modules
};

/// One load of a JIT module into a process.
struct JITModuleInstance {
    QX_RTTI_STRUCT(JITModuleInstance);

    int32_t mProcessID = 0;
    double mLoadTimeMs = 0.0;
    double mUnloadTimeMs = 0.0;
    uint64_t mModuleID = 0;       ///< the code region's base address
    uint32_t mJITModuleIndex = 0; ///< index into the database's JIT modules
};

/// Platform-specific data kept for JIT code; platforms derive their own records from it.
class JITExtraDataStorage : public RTTI::Object {
public:
    QX_RTTI_CLASS(JITExtraDataStorage);
};

} // namespace Profiler
