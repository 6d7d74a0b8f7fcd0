#pragma once

// RTTI::TypeOf<T>() returns the descriptor of any reflectable C++ type, built on first use:
//   - the built-in primitives (bool, fixed-width integers, float, double, std::string);
//   - classes and structs declared with QX_RTTI_CLASS / QX_RTTI_STRUCT;
//   - enums declared with QX_RTTI_ENUM and identifiers declared with QX_RTTI_IDENTIFIER;
//   - std::vector, std::map, std::unordered_map, std::set, std::unordered_set and
//     std::unique_ptr of any of these.

#include "RTTI/CompoundType.h"
#include "RTTI/ContainerTypes.h"
#include "RTTI/EnumType.h"
#include "RTTI/Object.h"
#include "RTTI/PrimitiveType.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace RTTI {

template <class T> const Type& TypeOf();

namespace Detail {

template <class> inline constexpr bool kAlwaysFalse = false;

/// Enums and identifiers provide their descriptor through a function found by argument-dependent
/// lookup, declared next to them by the macros.
template <class T>
concept HasTypeHook = requires(T* pointer)
{
    {
        QxRttiType(pointer)
        } -> std::convertible_to<const Type&>;
};

/// Reflected classes declare StaticType() and name themselves, so that a class derived from a
/// reflected class without being reflected itself is not mistaken for its base.
template <class T>
concept IsReflectedClass = requires
{
    typename T::QxRttiSelf;
    {
        T::StaticType()
        } -> std::convertible_to<const CompoundType&>;
}
&&std::is_same_v<typename T::QxRttiSelf, T>;

template <class T> const PrimitiveType& BuiltinPrimitive()
{
    if constexpr (std::is_same_v<T, bool>)
        return Primitives::Bool();
    else if constexpr (std::is_same_v<T, float>)
        return Primitives::Float();
    else if constexpr (std::is_same_v<T, double>)
        return Primitives::Double();
    else if constexpr (std::is_same_v<T, std::string>)
        return Primitives::String();
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 1)
        return std::is_signed_v<T> ? Primitives::Int8() : Primitives::UInt8();
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 2)
        return std::is_signed_v<T> ? Primitives::Int16() : Primitives::UInt16();
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 4)
        return std::is_signed_v<T> ? Primitives::Int32() : Primitives::UInt32();
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 8)
        return std::is_signed_v<T> ? Primitives::Int64() : Primitives::UInt64();
    else
        static_assert(kAlwaysFalse<T>, "not a built-in primitive");
}

template <class T>
concept IsBuiltinPrimitive = std::is_same_v<T, bool> || std::is_same_v<T, float> ||
    std::is_same_v<T, double> || std::is_same_v<T, std::string> ||(std::is_integral_v<T> && sizeof(T) <= 8);

template <class T> struct UniquePtrTraits : std::false_type {};
template <class P> struct UniquePtrTraits<std::unique_ptr<P>> : std::true_type {
    using Pointee = P;
};

template <class Pointee> class UniquePtrType final : public PointerType {
public:
    explicit UniquePtrType(std::string name) : PointerType(std::move(name), &TypeOf<Pointee>) {}

    Target Get(const void* pointer) const override
    {
        const Pointee* pointee = static_cast<const std::unique_ptr<Pointee>*>(pointer)->get();
        if (!pointee)
            return {};
        if constexpr (std::is_base_of_v<Object, Pointee>) {
            const Object* object = pointee;
            const CompoundType& type = object->GetType();
            return {type.FromObject(object), &type};
        } else {
            return {pointee, &TypeOf<Pointee>()};
        }
    }

    void Set(void* pointer, void* object, const Type& objectType) const override
    {
        auto& owner = *static_cast<std::unique_ptr<Pointee>*>(pointer);
        if (!object) {
            owner.reset();
            return;
        }
        if constexpr (std::is_base_of_v<Object, Pointee>) {
            // The caller checked that objectType is Pointee or derived from it.
            owner.reset(static_cast<Pointee*>(objectType.AsCompound()->ToObject(object)));
        } else {
            (void)objectType;
            owner.reset(static_cast<Pointee*>(object));
        }
    }

    void* Create() const override { return new std::unique_ptr<Pointee>(); }
    void Destroy(void* instance) const override { delete static_cast<std::unique_ptr<Pointee>*>(instance); }
};

/// Inside containers an owning pointer is spelled "std::unique_ptr<Class>" instead of
/// "UniquePtr_Class", so containers use this descriptor for their elements, keys and values.
template <class T> const Type& ElementTypeOf()
{
    if constexpr (UniquePtrTraits<T>::value) {
        using Pointee = typename UniquePtrTraits<T>::Pointee;
        static const Type& type =
            *new UniquePtrType<Pointee>("std::unique_ptr<" + TypeOf<Pointee>().GetName() + ">");
        return type;
    } else {
        return TypeOf<T>();
    }
}

template <class Vector> class VectorType final : public ArrayType {
    using Element = typename Vector::value_type;

public:
    VectorType() : ArrayType("Array_" + ElementTypeOf<Element>().GetName(), &ElementTypeOf<Element>) {}

    std::size_t GetCount(const void* array) const override
    {
        return static_cast<const Vector*>(array)->size();
    }
    void Resize(void* array, std::size_t count) const override { static_cast<Vector*>(array)->resize(count); }
    void* GetElement(void* array, std::size_t index) const override
    {
        return &(*static_cast<Vector*>(array))[index];
    }
    void* GetData(void* array) const override { return static_cast<Vector*>(array)->data(); }
    void* Create() const override { return new Vector(); }
    void Destroy(void* instance) const override { delete static_cast<Vector*>(instance); }
};

template <class Map> class MapTypeImpl final : public MapType {
    using Key = typename Map::key_type;
    using Value = typename Map::mapped_type;

    class Iterator final : public MapIterator {
    public:
        explicit Iterator(const Map& map) : mCurrent(map.begin()), mEnd(map.end()) {}
        bool IsAtEnd() const override { return mCurrent == mEnd; }
        void Next(const void*& key, const void*& value) override
        {
            key = &mCurrent->first;
            value = &mCurrent->second;
            ++mCurrent;
        }

    private:
        typename Map::const_iterator mCurrent;
        typename Map::const_iterator mEnd;
    };

public:
    MapTypeImpl()
        : MapType("Map_" + ElementTypeOf<Key>().GetName() + "_To_" + ElementTypeOf<Value>().GetName(),
                  &ElementTypeOf<Key>, &ElementTypeOf<Value>)
    {}

    std::size_t GetCount(const void* map) const override { return static_cast<const Map*>(map)->size(); }
    void Clear(void* map) const override { static_cast<Map*>(map)->clear(); }
    bool Insert(void* map, FunctionRef<bool(void*, void*)> fill) const override
    {
        Key key{};
        Value value{};
        if (!fill(&key, &value))
            return false;
        static_cast<Map*>(map)->insert_or_assign(std::move(key), std::move(value));
        return true;
    }
    std::unique_ptr<MapIterator> CreateIterator(const void* map) const override
    {
        return std::make_unique<Iterator>(*static_cast<const Map*>(map));
    }
    void* Create() const override { return new Map(); }
    void Destroy(void* instance) const override { delete static_cast<Map*>(instance); }
};

template <class Set> class SetTypeImpl final : public SetType {
    using Element = typename Set::value_type;

    class Iterator final : public SetIterator {
    public:
        explicit Iterator(const Set& set) : mCurrent(set.begin()), mEnd(set.end()) {}
        bool IsAtEnd() const override { return mCurrent == mEnd; }
        void Next(const void*& element) override
        {
            element = &*mCurrent;
            ++mCurrent;
        }

    private:
        typename Set::const_iterator mCurrent;
        typename Set::const_iterator mEnd;
    };

public:
    SetTypeImpl() : SetType("Set_" + ElementTypeOf<Element>().GetName(), &ElementTypeOf<Element>) {}

    std::size_t GetCount(const void* set) const override { return static_cast<const Set*>(set)->size(); }
    void Clear(void* set) const override { static_cast<Set*>(set)->clear(); }
    bool Insert(void* set, FunctionRef<bool(void*)> fill) const override
    {
        Element element{};
        if (!fill(&element))
            return false;
        static_cast<Set*>(set)->insert(std::move(element));
        return true;
    }
    std::unique_ptr<SetIterator> CreateIterator(const void* set) const override
    {
        return std::make_unique<Iterator>(*static_cast<const Set*>(set));
    }
    void* Create() const override { return new Set(); }
    void Destroy(void* instance) const override { delete static_cast<Set*>(instance); }
};

/// Descriptors of standard containers; each is built once per binary and never freed.
template <class T> struct CompositeType;

template <class Element, class Allocator> struct CompositeType<std::vector<Element, Allocator>> {
    static_assert(!std::is_same_v<Element, bool>,
                  "std::vector<bool> has no addressable elements; use uint8_t");
    static const Type& Get()
    {
        static const Type& type = *new VectorType<std::vector<Element, Allocator>>();
        return type;
    }
};

template <class Key, class Value, class Compare, class Allocator>
struct CompositeType<std::map<Key, Value, Compare, Allocator>> {
    static const Type& Get()
    {
        static const Type& type = *new MapTypeImpl<std::map<Key, Value, Compare, Allocator>>();
        return type;
    }
};

template <class Key, class Value, class Hash, class Equal, class Allocator>
struct CompositeType<std::unordered_map<Key, Value, Hash, Equal, Allocator>> {
    static const Type& Get()
    {
        static const Type& type = *new MapTypeImpl<std::unordered_map<Key, Value, Hash, Equal, Allocator>>();
        return type;
    }
};

template <class Element, class Compare, class Allocator>
struct CompositeType<std::set<Element, Compare, Allocator>> {
    static const Type& Get()
    {
        static const Type& type = *new SetTypeImpl<std::set<Element, Compare, Allocator>>();
        return type;
    }
};

template <class Element, class Hash, class Equal, class Allocator>
struct CompositeType<std::unordered_set<Element, Hash, Equal, Allocator>> {
    static const Type& Get()
    {
        static const Type& type = *new SetTypeImpl<std::unordered_set<Element, Hash, Equal, Allocator>>();
        return type;
    }
};

template <class Pointee> struct CompositeType<std::unique_ptr<Pointee>> {
    static const Type& Get()
    {
        static const Type& type = *new UniquePtrType<Pointee>("UniquePtr_" + TypeOf<Pointee>().GetName());
        return type;
    }
};

template <class T>
concept IsComposite = requires
{
    CompositeType<T>::Get();
};

} // namespace Detail

template <class T> const Type& TypeOf()
{
    using U = std::remove_cv_t<T>;
    if constexpr (Detail::HasTypeHook<U>)
        return QxRttiType(static_cast<U*>(nullptr));
    else if constexpr (Detail::IsReflectedClass<U>)
        return U::StaticType();
    else if constexpr (Detail::IsBuiltinPrimitive<U>)
        return Detail::BuiltinPrimitive<U>();
    else if constexpr (Detail::IsComposite<U>)
        return Detail::CompositeType<U>::Get();
    else
        static_assert(Detail::kAlwaysFalse<U>, "type is not reflected: declare it with QX_RTTI_CLASS, "
                                               "QX_RTTI_STRUCT, QX_RTTI_ENUM or QX_RTTI_IDENTIFIER");
}

} // namespace RTTI
