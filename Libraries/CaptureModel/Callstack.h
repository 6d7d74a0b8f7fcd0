#pragma once

#include "RTTI/Reflection.h"

namespace Profiler {

/// A call stack of the map that captures without a node store carry. Like its key, it is
/// registered without properties: the map is carried along, never read here.
class Callstack : public RTTI::Object {
    QX_RTTI_CLASS(Callstack);
};

} // namespace Profiler
