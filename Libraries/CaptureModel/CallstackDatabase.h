#pragma once

#include "CaptureModel/Callstack.h"
#include "CaptureModel/CallstackKey.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace Profiler {

/// The call stack record that a session stores by value ("StacksByID"). Captures with a node
/// store ("CallstackDatabase.dat") look stacks up there; older captures kept their stacks in
/// this map, whose key and value classes are carried without contents.
struct CallstackDatabase {
    QX_RTTI_STRUCT(CallstackDatabase);

    std::map<CallstackKey, std::unique_ptr<Callstack>> mStacksByID;

    /// The frames of a stack from the map, outermost first. The map's classes carry no frames,
    /// so this finds nothing; it is the lookup of sessions without a node store.
    bool GetCallstack(uint64_t stackId, std::vector<uint64_t>& frames) const;
};

} // namespace Profiler
