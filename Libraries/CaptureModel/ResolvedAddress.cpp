#include "CaptureModel/ResolvedAddress.h"

#include <cstddef>
#include <type_traits>

namespace Profiler {

static_assert(std::is_standard_layout_v<ResolveIndexRecord> &&
                  sizeof(ResolveIndexRecord) == sizeof(uint32_t) &&
                  alignof(ResolveIndexRecord) == alignof(uint32_t),
              "the stored record must lie exactly over the in-memory index");

QX_RTTI_DEFINE_NAMED_CLASS(ResolveIndexRecord, "Profiler::ResolveIndex", 1)
{
    type.Property("Index", &ResolveIndexRecord::Index);
}

QX_RTTI_DEFINE_CLASS(Profiler::ResolvedAddress, 1)
{
    // The index member is a uint32_t that is stored as the one-field record above; the property
    // reaches the same four bytes through a member pointer of the record's type.
    static_assert(offsetof(ResolveIndexRecord, Index) == 0);
    const auto asRecord =
        reinterpret_cast<ResolveIndexRecord ResolvedAddress::*>(&ResolvedAddress::ResolveIndex);
    type.Property("RelativeAddress", &ResolvedAddress::RelativeAddress).Property("ResolveIndex", asRecord);
}

} // namespace Profiler
