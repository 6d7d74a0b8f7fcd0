#include "RTTI/PrimitiveType.h"

namespace RTTI {

uint64_t PrimitiveType::GetInteger(const void* instance) const
{
    if (mKind == EPrimitiveKind::Bool)
        return *static_cast<const bool*>(instance) ? 1 : 0;
    uint64_t value = 0;
    std::memcpy(&value, instance, mWidth); // little-endian: the low bytes
    if (mKind == EPrimitiveKind::SignedInteger && mWidth < 8) {
        const uint64_t signBit = 1ull << (mWidth * 8 - 1);
        if (value & signBit)
            value |= ~((signBit << 1) - 1);
    }
    return value;
}

void PrimitiveType::SetInteger(void* instance, uint64_t value) const
{
    if (mKind == EPrimitiveKind::Bool) {
        *static_cast<bool*>(instance) = value != 0;
        return;
    }
    std::memcpy(instance, &value, mWidth);
}

namespace Primitives {

// Leaked on purpose: descriptors outlive every registry, including static ones.
const PrimitiveType& UInt8()
{
    static const PrimitiveType& type = PrimitiveType::Make<uint8_t>("uint8_t");
    return type;
}
const PrimitiveType& Int8()
{
    static const PrimitiveType& type = PrimitiveType::Make<int8_t>("int8_t");
    return type;
}
const PrimitiveType& UInt16()
{
    static const PrimitiveType& type = PrimitiveType::Make<uint16_t>("uint16_t");
    return type;
}
const PrimitiveType& Int16()
{
    static const PrimitiveType& type = PrimitiveType::Make<int16_t>("int16_t");
    return type;
}
const PrimitiveType& UInt32()
{
    static const PrimitiveType& type = PrimitiveType::Make<uint32_t>("uint32_t");
    return type;
}
const PrimitiveType& Int32()
{
    static const PrimitiveType& type = PrimitiveType::Make<int32_t>("int32_t");
    return type;
}
const PrimitiveType& UInt64()
{
    static const PrimitiveType& type = PrimitiveType::Make<uint64_t>("uint64_t");
    return type;
}
const PrimitiveType& Int64()
{
    static const PrimitiveType& type = PrimitiveType::Make<int64_t>("int64_t");
    return type;
}
const PrimitiveType& Bool()
{
    static const PrimitiveType& type = PrimitiveType::Make<bool>("bool");
    return type;
}
const PrimitiveType& Float()
{
    static const PrimitiveType& type = PrimitiveType::Make<float>("float");
    return type;
}
const PrimitiveType& Double()
{
    static const PrimitiveType& type = PrimitiveType::Make<double>("double");
    return type;
}
const PrimitiveType& String()
{
    static const PrimitiveType& type = PrimitiveType::Make<std::string>("std::string");
    return type;
}

} // namespace Primitives
} // namespace RTTI
