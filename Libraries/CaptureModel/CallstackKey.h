#pragma once

#include "RTTI/Reflection.h"

#include <compare>

namespace Profiler {

/// The key of the call stack map that captures without a node store carry. Its contents
/// belong to the capture producer; this program only carries the map along, so the key is
/// registered without properties.
struct CallstackKey {
    QX_RTTI_STRUCT(CallstackKey);
    friend auto operator<=>(const CallstackKey&, const CallstackKey&) = default;
};

} // namespace Profiler
