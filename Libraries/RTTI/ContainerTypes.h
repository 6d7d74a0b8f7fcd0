#pragma once

#include "RTTI/FunctionRef.h"
#include "RTTI/PrimitiveType.h"

#include <cstddef>
#include <memory>

namespace RTTI {

/// Walks a map's entries; made by MapType::CreateIterator and owned by its user.
class MapIterator {
public:
    virtual ~MapIterator() = default;
    virtual bool IsAtEnd() const = 0;
    /// Yields the current key and value, then advances.
    virtual void Next(const void*& key, const void*& value) = 0;
};

/// Walks a set's elements; made by SetType::CreateIterator and owned by its user.
class SetIterator {
public:
    virtual ~SetIterator() = default;
    virtual bool IsAtEnd() const = 0;
    /// Yields the current element, then advances.
    virtual void Next(const void*& element) = 0;
};

/// A sequence container (std::vector).
class ArrayType : public Type {
public:
    const Type& GetElementType() const { return mElement(); }
    /// The elements are fixed-width primitives lying back to back, so they copy as one block.
    bool HasContiguousPrimitives() const
    {
        const PrimitiveType* primitive = GetElementType().AsPrimitive();
        return primitive && primitive->IsContiguous();
    }

    virtual std::size_t GetCount(const void* array) const = 0;
    /// Resizes to `count`; new elements are default-constructed.
    virtual void Resize(void* array, std::size_t count) const = 0;
    virtual void* GetElement(void* array, std::size_t index) const = 0;
    const void* GetElement(const void* array, std::size_t index) const
    {
        return GetElement(const_cast<void*>(array), index);
    }
    /// The first element; only meaningful when HasContiguousPrimitives().
    virtual void* GetData(void* array) const = 0;
    const void* GetData(const void* array) const { return GetData(const_cast<void*>(array)); }

protected:
    ArrayType(std::string name, TypeGetter element)
        : Type(std::move(name), EDataType::Array), mElement(element)
    {}

private:
    TypeGetter mElement;
};

/// A map (std::map, std::unordered_map).
class MapType : public Type {
public:
    const Type& GetKeyType() const { return mKey(); }
    const Type& GetValueType() const { return mValue(); }

    virtual std::size_t GetCount(const void* map) const = 0;
    virtual void Clear(void* map) const = 0;
    /// Default-constructs a key and a value, lets `fill` set them, and stores the pair when
    /// `fill` succeeds (replacing an entry with the same key). Returns what `fill` returned.
    virtual bool Insert(void* map, FunctionRef<bool(void* key, void* value)> fill) const = 0;
    virtual std::unique_ptr<MapIterator> CreateIterator(const void* map) const = 0;

protected:
    MapType(std::string name, TypeGetter key, TypeGetter value)
        : Type(std::move(name), EDataType::Map), mKey(key), mValue(value)
    {}

private:
    TypeGetter mKey;
    TypeGetter mValue;
};

/// A set (std::set, std::unordered_set).
class SetType : public Type {
public:
    const Type& GetElementType() const { return mElement(); }

    virtual std::size_t GetCount(const void* set) const = 0;
    virtual void Clear(void* set) const = 0;
    /// Default-constructs an element, lets `fill` set it and inserts it when `fill` succeeds.
    virtual bool Insert(void* set, FunctionRef<bool(void* element)> fill) const = 0;
    virtual std::unique_ptr<SetIterator> CreateIterator(const void* set) const = 0;

protected:
    SetType(std::string name, TypeGetter element) : Type(std::move(name), EDataType::Set), mElement(element)
    {}

private:
    TypeGetter mElement;
};

/// An owning pointer (std::unique_ptr). Setting replaces and destroys the previous object.
class PointerType : public Type {
public:
    /// The owned object as a pointer to its most derived registered class, with that class.
    struct Target {
        const void* object = nullptr;
        const Type* type = nullptr;
    };

    /// The declared pointee type.
    const Type& GetPointeeType() const { return mPointee(); }

    virtual Target Get(const void* pointer) const = 0;
    /// Takes ownership of `object`, an instance of `objectType` (the pointee or a class derived
    /// from it) made by a factory; null empties the pointer.
    virtual void Set(void* pointer, void* object, const Type& objectType) const = 0;

protected:
    PointerType(std::string name, TypeGetter pointee)
        : Type(std::move(name), EDataType::Pointer), mPointee(pointee)
    {}

private:
    TypeGetter mPointee;
};

} // namespace RTTI
