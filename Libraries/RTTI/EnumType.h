#pragma once

#include "RTTI/PrimitiveType.h"

#include <optional>
#include <string_view>
#include <vector>

namespace RTTI {

/// An enumeration, stored by value name so that renumbering its values keeps old files loading.
/// Values are handled as 64-bit patterns, sign-extended when the size type is signed.
class EnumType final : public Type {
public:
    struct Value {
        std::string name;
        uint64_t value = 0;
    };

    static constexpr std::string_view kInvalidValueName = "<invalid enum value>";

    /// The primitive that holds the numeric value.
    const PrimitiveType& GetSizeType() const { return mSizeType; }
    /// The (name, value) pairs in declaration order.
    const std::vector<Value>& GetValues() const { return mValues; }

    /// The name of the first pair with `value`, or "<invalid enum value>".
    std::string_view ValueToName(uint64_t value) const;
    std::optional<uint64_t> NameToValue(std::string_view name) const;

    uint64_t GetValue(const void* instance) const { return mSizeType.GetInteger(instance); }
    void SetValue(void* instance, uint64_t value) const { mSizeType.SetInteger(instance, value); }

    void* Create() const override { return mCreate(); }
    void Destroy(void* instance) const override { mDestroy(instance); }

    EnumType(std::string name, const PrimitiveType& sizeType, std::vector<Value> values, void* (*create)(),
             void (*destroy)(void*))
        : Type(std::move(name), EDataType::Enum), mSizeType(sizeType), mValues(std::move(values)),
          mCreate(create), mDestroy(destroy)
    {}

private:
    const PrimitiveType& mSizeType;
    std::vector<Value> mValues;
    void* (*mCreate)();
    void (*mDestroy)(void*);
};

} // namespace RTTI
