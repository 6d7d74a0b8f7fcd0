#pragma once

#include "CaptureModel/ResolvedAddress.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Serialization {
class ErrorList;
}

namespace Profiler {

/// The open bars that instrumentation contexts (fibers) left behind when they moved off a
/// thread, so that processing can resume them where they come back.
struct OpenBarProcessorFiberState {
    QX_RTTI_STRUCT(OpenBarProcessorFiberState);

    /// One saved open bar.
    struct Bar {
        QX_RTTI_STRUCT(Bar);
        uint64_t mInstrumentationContextID = 0;
        uint64_t mLastAbsoluteAddress = 0; ///< the bar's frame address
        uint64_t mReturnAddress = 0;       ///< the bar's caller address
        ResolvedAddress mFrame;            ///< the bar's function
    };
    /// The bars of one fiber, outermost first.
    struct FiberState {
        QX_RTTI_STRUCT(FiberState);
        std::vector<Bar> mBars;
    };
    /// A context leaving its thread at a time with the saved state it left.
    struct FiberEvent {
        QX_RTTI_STRUCT(FiberEvent);
        double mEventTimeMs = 0.0;
        uint32_t mFiberStateIndex = 0;
    };

    std::vector<FiberState> mFiberStates;
    std::map<uint64_t, std::vector<FiberEvent>> mFiberEvents; ///< by instrumentation context ID
};

/// State shared by every model of a session, kept in "Shared/Model.dat".
class SharedModel : public RTTI::Object {
public:
    QX_RTTI_CLASS(SharedModel);

    static constexpr const char* kDirectoryName = "Shared";
    static constexpr const char* kFileName = "Model.dat";

    SharedModel() = default;
    SharedModel(const SharedModel&) = delete;
    SharedModel& operator=(const SharedModel&) = delete;

    /// The model file of a session directory.
    static std::filesystem::path GetPath(const std::filesystem::path& sessionDirectory);
    /// Reads "Shared/Model.dat" of the session directory; null on failure ("Unable to open
    /// file" when it does not exist).
    static std::unique_ptr<SharedModel> Load(const std::filesystem::path& sessionDirectory,
                                             const RTTI::Registry& registry,
                                             Serialization::ErrorList& errors);
    /// Writes "Shared/Model.dat", creating the directory.
    bool Save(const std::filesystem::path& sessionDirectory, Serialization::ErrorList& errors) const;

    OpenBarProcessorFiberState GetFiberState() const;
    void SetFiberState(OpenBarProcessorFiberState state);

private:
    mutable std::mutex mMutex;
    OpenBarProcessorFiberState mFiberState;
};

} // namespace Profiler
