#pragma once

#include "RTTI/TypeOf.h"

#include <cstring>
#include <type_traits>

namespace RTTI {

namespace Detail {

template <class T, class Owner, class Member>
void* AccessMember(void* owner, const unsigned char* memberPointer)
{
    Member Owner::*member;
    std::memcpy(&member, memberPointer, sizeof(member));
    Owner& object = *static_cast<T*>(owner);
    return &(object.*member);
}

/// Where the `Base` subobject lies inside a `Derived`. Non-virtual bases sit at a fixed offset;
/// the upcast of a pointer into uninitialised storage computes it without touching an object.
template <class Derived, class Base> std::ptrdiff_t BaseOffset()
{
    alignas(Derived) unsigned char storage[sizeof(Derived)];
    Base* base = reinterpret_cast<Derived*>(storage);
    return reinterpret_cast<unsigned char*>(base) - storage;
}

template <class T> CompoundType::Operations OperationsOf()
{
    CompoundType::Operations operations{};
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
        operations.create = [] { return static_cast<void*>(new T()); };
    operations.destroy = [](void* instance) { delete static_cast<T*>(instance); };
    if constexpr (std::is_base_of_v<Object, T>) {
        operations.toObject = [](void* instance) { return static_cast<Object*>(static_cast<T*>(instance)); };
        operations.fromObject = [](Object* object) { return static_cast<void*>(static_cast<T*>(object)); };
    }
    return operations;
}

} // namespace Detail

/// Fills a class descriptor: bases, aliases and properties in declaration order.
/// Used inside QX_RTTI_DEFINE_CLASS blocks (see RTTI/Reflection.h).
template <class T> class ClassBuilder {
public:
    explicit ClassBuilder(CompoundType& type) : mType(type) {}

    /// A reflected base class; its properties come before this class's own.
    template <class B> ClassBuilder& Base()
    {
        static_assert(std::is_base_of_v<B, T> && !std::is_same_v<B, T>, "not a base class");
        static_assert(Detail::IsReflectedClass<B>, "the base class is not reflected");
        if constexpr (std::is_base_of_v<Object, B>)
            mHasObjectBase = true;
        mType.mBases.push_back({&TypeOf<B>, Detail::BaseOffset<T, B>()});
        return *this;
    }

    /// A former name of the class, under which older files still name it.
    ClassBuilder& Alias(std::string name)
    {
        mType.mAliases.push_back(std::move(name));
        return *this;
    }

    /// A data member stored under `name`.
    template <class Owner, class Member> ClassBuilder& Property(std::string name, Member Owner::*member)
    {
        static_assert(std::is_base_of_v<Owner, T>, "the member belongs to another class");
        static_assert(!std::is_function_v<Member>, "only data members can be properties");
        static_assert(!std::is_const_v<Member>, "const members cannot be read back");
        RTTI::Property property;
        static_assert(sizeof(member) <= sizeof(property.mMemberPointer));
        property.mName = std::move(name);
        property.mTypeGetter = &TypeOf<Member>;
        property.mAccessor = &Detail::AccessMember<T, Owner, Member>;
        std::memcpy(property.mMemberPointer, &member, sizeof(member));
        mType.mOwnProperties.push_back(std::move(property));
        return *this;
    }

    /// Classes derived from RTTI::Object get it as a base even when the block does not list it,
    /// so that IsA(type, RTTI::Object) holds for all of them.
    void Finish()
    {
        if constexpr (std::is_base_of_v<Object, T> && !std::is_same_v<Object, T>)
            if (!mHasObjectBase)
                Base<Object>();
    }

private:
    CompoundType& mType;
    bool mHasObjectBase = false;
};

namespace Detail {

/// Builds the descriptor of T once; descriptors are never freed.
template <class T> const CompoundType& BuildClass(std::string name, uint32_t version)
{
    auto* type = new CompoundType(std::move(name), version, OperationsOf<T>());
    ClassBuilder<T> builder(*type);
    T::QxRttiDescribe(builder);
    builder.Finish();
    return *type;
}

template <class Enum>
const EnumType& BuildEnum(std::string name, std::string_view enumeratorNames, const std::vector<Enum>& values)
{
    std::vector<EnumType::Value> pairs;
    std::size_t start = 0;
    for (Enum value : values) {
        std::size_t end = enumeratorNames.find(',', start);
        if (end == std::string_view::npos)
            end = enumeratorNames.size();
        std::string_view text = enumeratorNames.substr(start, end - start);
        while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t'))
            text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
            text.remove_suffix(1);
        start = end + 1;
        using Underlying = std::underlying_type_t<Enum>;
        // Sign-extend through int64_t for signed size types, zero-extend otherwise.
        const auto number = static_cast<std::conditional_t<std::is_signed_v<Underlying>, int64_t, uint64_t>>(
            static_cast<Underlying>(value));
        pairs.push_back({std::string(text), static_cast<uint64_t>(number)});
    }
    const PrimitiveType& sizeType = BuiltinPrimitive<std::underlying_type_t<Enum>>();
    return *new EnumType(
        std::move(name), sizeType, std::move(pairs), [] { return static_cast<void*>(new Enum()); },
        [](void* instance) { delete static_cast<Enum*>(instance); });
}

} // namespace Detail
} // namespace RTTI
