#pragma once

#include "CaptureModel/ResolvedAddress.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

namespace Profiler {

/// The display data of an instrumentation zone: its name and colour (0xAARRGGBB).
struct InstrumentationData {
    QX_RTTI_STRUCT(InstrumentationData);

    std::string mName;
    uint32_t mColor = 0;
};

/// The names of what instrumented code reported: zones by their function key, and the names
/// of instrumentation contexts (fibers) by their ID.
struct InstrumentationDatabase {
    QX_RTTI_STRUCT(InstrumentationDatabase);

    std::unordered_map<ResolvedAddress, std::string, ResolvedAddressHash> mInstrumentationIDs;
    std::unordered_map<ResolvedAddress, InstrumentationData, ResolvedAddressHash> mInstrumentationData;
    std::map<uint64_t, std::string> mContextIDs;

    /// The zone's name from either table, or null when neither knows it.
    const std::string* FindName(const ResolvedAddress& address) const;
};

} // namespace Profiler
