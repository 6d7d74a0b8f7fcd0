#pragma once

#include "RTTI/Type.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

namespace RTTI {

/// How a primitive's value is represented.
enum class EPrimitiveKind : uint8_t {
    Bool,
    SignedInteger,
    UnsignedInteger,
    Float,
    Double,
    String,
};

/// A fixed-width number, a bool or a std::string. Identifier types (a thread ID that must not
/// mix with a process ID) are primitives too: they have a name of their own and the encoding of
/// the integer they wrap.
class PrimitiveType final : public Type {
public:
    EPrimitiveKind GetKind() const { return mKind; }
    /// Bytes of the value in memory and in files; 0 for std::string, whose length varies.
    std::size_t GetWidth() const { return mWidth; }
    /// Values lie back to back in memory, so arrays of them are copied as one block.
    bool IsContiguous() const { return mKind != EPrimitiveKind::String; }
    bool IsInteger() const
    {
        return mKind == EPrimitiveKind::SignedInteger || mKind == EPrimitiveKind::UnsignedInteger;
    }

    /// An integer (or bool) value widened to 64 bits, sign-extended for signed kinds.
    uint64_t GetInteger(const void* instance) const;
    /// Stores the low GetWidth() bytes of `value` (bool stores value != 0).
    void SetInteger(void* instance, uint64_t value) const;

    void* Create() const override { return mCreate(); }
    void Destroy(void* instance) const override { mDestroy(instance); }

    template <class T> static const PrimitiveType& Make(std::string name)
    {
        static_assert(std::is_trivially_copyable_v<T> || std::is_same_v<T, std::string>);
        EPrimitiveKind kind = EPrimitiveKind::String;
        if constexpr (std::is_same_v<T, bool>)
            kind = EPrimitiveKind::Bool;
        else if constexpr (std::is_same_v<T, float>)
            kind = EPrimitiveKind::Float;
        else if constexpr (std::is_same_v<T, double>)
            kind = EPrimitiveKind::Double;
        else if constexpr (!std::is_same_v<T, std::string>)
            kind = std::is_signed_v<Underlying<T>> ? EPrimitiveKind::SignedInteger
                                                   : EPrimitiveKind::UnsignedInteger;
        const std::size_t width = std::is_same_v<T, std::string> ? 0 : sizeof(T);
        return *new PrimitiveType(
            std::move(name), kind, width, [] { return static_cast<void*>(new T()); },
            [](void* instance) { delete static_cast<T*>(instance); });
    }

private:
    template <class T>
    using Underlying =
        typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;

    PrimitiveType(std::string name, EPrimitiveKind kind, std::size_t width, void* (*create)(),
                  void (*destroy)(void*))
        : Type(std::move(name), EDataType::Primitive), mKind(kind), mWidth(width), mCreate(create),
          mDestroy(destroy)
    {}

    EPrimitiveKind mKind;
    std::size_t mWidth;
    void* (*mCreate)();
    void (*mDestroy)(void*);
};

/// The twelve built-in primitives under their registered names, in registration order.
namespace Primitives {
const PrimitiveType& UInt8();
const PrimitiveType& Int8();
const PrimitiveType& UInt16();
const PrimitiveType& Int16();
const PrimitiveType& UInt32();
const PrimitiveType& Int32();
const PrimitiveType& UInt64();
const PrimitiveType& Int64();
const PrimitiveType& Bool();
const PrimitiveType& Float();
const PrimitiveType& Double();
const PrimitiveType& String();
} // namespace Primitives

} // namespace RTTI
