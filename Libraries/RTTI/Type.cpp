#include "RTTI/Type.h"

#include "RTTI/CompoundType.h"
#include "RTTI/ContainerTypes.h"
#include "RTTI/EnumType.h"
#include "RTTI/PrimitiveType.h"

namespace RTTI {

const CompoundType* Type::AsCompound() const
{
    return mDataType == EDataType::Compound ? static_cast<const CompoundType*>(this) : nullptr;
}

const PrimitiveType* Type::AsPrimitive() const
{
    return mDataType == EDataType::Primitive ? static_cast<const PrimitiveType*>(this) : nullptr;
}

const EnumType* Type::AsEnum() const
{
    return mDataType == EDataType::Enum ? static_cast<const EnumType*>(this) : nullptr;
}

const ArrayType* Type::AsArray() const
{
    return mDataType == EDataType::Array ? static_cast<const ArrayType*>(this) : nullptr;
}

const MapType* Type::AsMap() const
{
    return mDataType == EDataType::Map ? static_cast<const MapType*>(this) : nullptr;
}

const PointerType* Type::AsPointer() const
{
    return mDataType == EDataType::Pointer ? static_cast<const PointerType*>(this) : nullptr;
}

const SetType* Type::AsSet() const
{
    return mDataType == EDataType::Set ? static_cast<const SetType*>(this) : nullptr;
}

} // namespace RTTI
