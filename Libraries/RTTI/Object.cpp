#include "RTTI/Object.h"

#include "RTTI/ClassBuilder.h"

namespace RTTI {

// RTTI::Object has no properties; version 1 starts every class's full version chain.
const CompoundType& Object::StaticType()
{
    static const CompoundType& type = *new CompoundType("RTTI::Object", 1, Detail::OperationsOf<Object>());
    return type;
}

} // namespace RTTI
