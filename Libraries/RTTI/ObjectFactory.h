#pragma once

#include "RTTI/Type.h"

namespace RTTI {

/// Makes the instances that readers fill. Override Create to construct classes that need
/// context (a model bound to one session); anything else falls back to the default constructor.
class ObjectFactory {
public:
    virtual ~ObjectFactory() = default;
    /// A new instance of `type`, returned as a pointer to that type's own C++ class (a factory
    /// that makes a derived object returns it converted to the requested class), owned by the
    /// caller; null when it cannot be made.
    virtual void* Create(const Type& type) const { return type.Create(); }
};

/// A factory that default-constructs everything.
const ObjectFactory& GetDefaultObjectFactory();

} // namespace RTTI
