#pragma once

#include "RTTI/CompoundType.h"

namespace RTTI {

/// The root of every class that can be a root object of a file or the target of an owning
/// pointer. Plain reflected structs do not derive from it.
class Object {
public:
    using QxRttiSelf = Object;

    virtual ~Object() = default;
    /// The most derived registered class of this object.
    virtual const CompoundType& GetType() const = 0;

    static const CompoundType& StaticType();
};

} // namespace RTTI
