#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>

namespace Serialization {

/// A 128-bit GUID stored as two 64-bit halves (files of older versions name it
/// "Profiler::SerializableGUID").
struct SerializableGUID {
    QX_RTTI_STRUCT(SerializableGUID);
    uint64_t mData1 = 0;
    uint64_t mData2 = 0;

    friend bool operator==(const SerializableGUID&, const SerializableGUID&) = default;
};

} // namespace Serialization
