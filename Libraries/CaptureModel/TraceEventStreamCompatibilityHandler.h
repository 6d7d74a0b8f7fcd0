#pragma once

#include "Serialization/CompatibilityHandler.h"

namespace Profiler {

/// Lets index files written with an older version of the stream's index class load: the stored
/// properties that still exist are read by name, the others are skipped, so no hook needs to do
/// anything.
class TraceEventStreamCompatibilityHandler : public Serialization::CompatibilityHandler {};

} // namespace Profiler
