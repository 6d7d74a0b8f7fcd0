#pragma once

// Helpers of the compatibility handlers that read removed properties whose stored shape varied
// between old versions (a record by value or through an owning pointer, under a former name).

#include "RTTI/Type.h"
#include "Serialization/BinaryReader.h"

#include <string>

namespace Profiler::Detail {

/// Reads the stored value of a removed property into `object` (of class T) whether it was
/// stored by value or through an owning pointer; the stored class may be a former name of T.
/// `present` tells whether there was an object (a null pointer leaves it false). A property of
/// any other shape is left alone.
template <class T>
bool ReadRemovedObject(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                       const Serialization::PropertySchema& storedProperty, T& object, bool& present,
                       Serialization::ErrorList& errors)
{
    present = false;
    const auto dataType = static_cast<RTTI::EDataType>(storedProperty.mType.mDataType);
    std::string storedClass = storedProperty.mType.mTypeName;
    if (dataType == RTTI::EDataType::Pointer) {
        if (!cursor.ReadString(storedClass)) {
            errors.Add(Serialization::EErrorCode::Corrupt, "The buffer is corrupt: a pointer is cut short");
            return false;
        }
        if (storedClass == "null")
            return true;
    } else if (dataType != RTTI::EDataType::Compound) {
        return true;
    }
    present = true;
    return reader.ReadValue(cursor, T::StaticType(), storedClass, &object, errors);
}

/// Reads the stored value of a removed property when it was stored as T (by type name);
/// `present` tells whether it was. Another type is left alone.
template <class T>
bool ReadRemovedValueIf(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                        const Serialization::PropertySchema& storedProperty, T& value, bool& present,
                        Serialization::ErrorList& errors)
{
    present = storedProperty.mType.mTypeName == RTTI::TypeOf<T>().GetName();
    return !present || reader.ReadPropertyValue(cursor, storedProperty, value, errors);
}

} // namespace Profiler::Detail
