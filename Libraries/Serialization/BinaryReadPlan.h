#pragma once

// Internal to the binary readers: how stored types map onto running ones. Worked out once per
// reader and stored type, so decoding a value is a walk over prepared plans.

#include "Serialization/BinaryReader.h"

#include <functional>
#include <map>
#include <optional>
#include <unordered_map>

namespace Serialization {

/// How to decode values stored under one type name into one running type.
struct BinaryReader::ValuePlan {
    const RTTI::Type* running = nullptr;
    std::string storedName;
    /// Set when values of this plan cannot be read; reported when one is met, so types that
    /// the schema lists but the data never uses cause no failure.
    std::string error;
    EErrorCode errorCode = EErrorCode::Corrupt;

    const ValuePlan* element = nullptr; ///< array and set elements, map keys, non-class pointees
    const ValuePlan* mapped = nullptr;  ///< map values
    ClassMapping* compound = nullptr;   ///< classes held by value

    std::size_t width = 0;   ///< primitives and enums: bytes per value (0 for strings)
    bool rawBytes = false;   ///< fixed-width primitive copied byte for byte
    bool enumSigned = false; ///< the stored enum size type is signed
    /// Stored enum number -> the running number of the same name (none: the name is gone).
    std::unordered_map<uint64_t, std::optional<uint64_t>> enumValues;
    std::unordered_map<uint64_t, std::string> enumNames; ///< stored number -> stored name
    /// The smallest encoding of one value, which bounds how many a count can claim.
    std::size_t minimumSize = 1;
};

/// A stored class and the running class of the same name, with their properties paired by name.
struct BinaryReader::ClassMapping {
    struct PropertyMapping {
        const PropertySchema* stored = nullptr;
        const RTTI::Property* running = nullptr; ///< null: the property was removed
        bool typeMatches = false;
        const ValuePlan* plan = nullptr; ///< made when the first value is read
    };

    std::string storedName;
    const CompoundSchema* schema = nullptr;      ///< null when the schema lacks the class
    const RTTI::Type* found = nullptr;           ///< what the registry holds under the name
    const RTTI::CompoundType* running = nullptr; ///< `found` when it is a class
    CompatibilityHandler* handler = nullptr;     // not owned
    std::vector<PropertyMapping> properties;
};

struct BinaryReader::Plans {
    struct StringHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept
        {
            return std::hash<std::string_view>{}(text);
        }
    };
    /// By stored name, onto what the registry holds under it (roots and pointees).
    std::unordered_map<std::string, std::unique_ptr<ClassMapping>, StringHash, std::equal_to<>> classes;
    /// Values held by value are decoded with their property's own descriptor, which can differ
    /// from what the registry returns for the name.
    std::map<std::pair<const RTTI::CompoundType*, std::string>, std::unique_ptr<ClassMapping>> embedded;
    std::map<std::pair<const RTTI::Type*, std::string>, std::unique_ptr<ValuePlan>> values;
};

} // namespace Serialization
