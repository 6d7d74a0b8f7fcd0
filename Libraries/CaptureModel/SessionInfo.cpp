#include "CaptureModel/SessionInfo.h"

#include "Serialization/BinaryReader.h"

namespace Profiler {

bool SessionInfoCompatibilityHandler::ReadRemovedProperty(Serialization::BinaryReader& reader,
                                                          Serialization::BufferCursor& cursor, void*,
                                                          const Serialization::CompoundSchema&,
                                                          const Serialization::PropertySchema& storedProperty,
                                                          Serialization::ErrorList& errors)
{
    if (storedProperty.mName == "ProcessID") {
        int32_t value = 0;
        if (!reader.ReadPropertyValue(cursor, storedProperty, value, errors))
            return false;
        mProcessID = value;
    } else if (storedProperty.mName == "Is64BitProcess") {
        bool value = false;
        if (!reader.ReadPropertyValue(cursor, storedProperty, value, errors))
            return false;
        mIs64BitProcess = value;
    }
    return true;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::SessionInfo, 3)
{
    type.Property("SampleIntervalMs", &SessionInfo::mSampleIntervalMs)
        .Property("SessionStartTimeMs", &SessionInfo::mSessionStartTimeMs)
        .Property("SessionEndTimeMs", &SessionInfo::mSessionEndTimeMs)
        .Property("VelkorAPIVersion", &SessionInfo::mInstrumentationAPIVersion)
        .Property("PlatformID", &SessionInfo::mPlatformID)
        .Property("SymbolSettingsHash", &SessionInfo::mSymbolSettingsHash);
}
