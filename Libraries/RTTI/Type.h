#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace RTTI {

class ArrayType;
class CompoundType;
class EnumType;
class MapType;
class PointerType;
class PrimitiveType;
class SetType;

/// The kind of a reflected type. The numbers are stored in schemas and must never change.
enum class EDataType : uint8_t {
    Compound = 0,
    Primitive = 1,
    Enum = 2,
    Array = 3,
    Map = 4,
    Pointer = 5,
    Set = 6,
};

class Type;

/// Returns a type descriptor. Descriptors refer to the types they are made of through getters
/// rather than pointers so that recursive types (a node owning children of its own class) can be
/// described: a descriptor is built on first use, and its parts are only looked at later.
using TypeGetter = const Type& (*)();

/// The run-time description of one C++ type. Descriptors are created once per binary, on first
/// use, and never destroyed. A plugin and the host each build their own descriptor for a class
/// they both link, so two descriptors describe the same type when their names are equal.
class Type {
public:
    Type(const Type&) = delete;
    Type& operator=(const Type&) = delete;
    virtual ~Type() = default;

    const std::string& GetName() const { return mName; }
    EDataType GetDataType() const { return mDataType; }

    /// A new default-constructed instance owned by the caller, or null when the type cannot be
    /// instantiated (abstract classes, classes without a default constructor).
    virtual void* Create() const = 0;
    /// Destroys an instance made by Create (or by a factory for this type).
    virtual void Destroy(void* instance) const = 0;

    /// True when both descriptors describe the same registered type, wherever they were built.
    bool IsSameAs(const Type& other) const { return this == &other || mName == other.mName; }

    const CompoundType* AsCompound() const;
    const PrimitiveType* AsPrimitive() const;
    const EnumType* AsEnum() const;
    const ArrayType* AsArray() const;
    const MapType* AsMap() const;
    const PointerType* AsPointer() const;
    const SetType* AsSet() const;

protected:
    Type(std::string name, EDataType dataType) : mName(std::move(name)), mDataType(dataType) {}

private:
    std::string mName;
    EDataType mDataType;
};

} // namespace RTTI
