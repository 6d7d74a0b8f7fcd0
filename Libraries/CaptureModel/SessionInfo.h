#pragma once

#include "RTTI/Reflection.h"
#include "Serialization/CompatibilityHandler.h"
#include "Serialization/SerializableGUID.h"

#include <cstdint>
#include <optional>

namespace Profiler {

/// The session header: the capture's timing and the platform that recorded it. Stored as the
/// first root of the session file so that it can be read without the rest.
class SessionInfo : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionInfo);

    double mSampleIntervalMs = 1.0;
    double mSessionStartTimeMs = 0.0;
    double mSessionEndTimeMs = 0.0;
    uint32_t mInstrumentationAPIVersion = 0; ///< stored as "VelkorAPIVersion"
    Serialization::SerializableGUID mPlatformID;
    uint64_t mSymbolSettingsHash = 0;
};

/// Keeps the single-process fields of headers written before sessions held several processes
/// ("ProcessID", "Is64BitProcess"); the session's upgrade turns them into a process.
class SessionInfoCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;

    std::optional<int32_t> GetProcessID() const { return mProcessID; }
    std::optional<bool> GetIs64BitProcess() const { return mIs64BitProcess; }

private:
    std::optional<int32_t> mProcessID;
    std::optional<bool> mIs64BitProcess;
};

} // namespace Profiler
