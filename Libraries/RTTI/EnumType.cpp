#include "RTTI/EnumType.h"

namespace RTTI {

std::string_view EnumType::ValueToName(uint64_t value) const
{
    for (const Value& entry : mValues)
        if (entry.value == value)
            return entry.name;
    return kInvalidValueName;
}

std::optional<uint64_t> EnumType::NameToValue(std::string_view name) const
{
    for (const Value& entry : mValues)
        if (entry.name == name)
            return entry.value;
    return std::nullopt;
}

} // namespace RTTI
