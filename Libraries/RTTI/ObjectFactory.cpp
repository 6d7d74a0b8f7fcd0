#include "RTTI/ObjectFactory.h"

namespace RTTI {

const ObjectFactory& GetDefaultObjectFactory()
{
    static const ObjectFactory factory;
    return factory;
}

} // namespace RTTI
