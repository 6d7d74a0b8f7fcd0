#pragma once

#include "RTTI/Reflection.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// The description of every type a binary object file uses, as it was when the file was written.
// It is stored inside the file as JSON and lets readers map old shapes onto the running classes.

namespace Serialization {

/// A reference to a type: its data type code and registered name.
struct TypeSchema {
    QX_RTTI_STRUCT(TypeSchema);
    uint8_t mDataType = 0;
    std::string mTypeName;
};

struct PropertySchema {
    QX_RTTI_STRUCT(PropertySchema);
    TypeSchema mType;
    std::string mName;
};

struct CompoundSchema {
    QX_RTTI_STRUCT(CompoundSchema);
    /// The flattened property list in stored order (bases first).
    std::vector<PropertySchema> mProperties;
    int32_t mVersion = 0;
    uint64_t mFullVersion = 0;
    /// Not stored: the class name this record is listed under, filled in by readers so that
    /// compatibility handlers can tell old class names apart.
    std::string mName;
};

struct EnumSchemaValue {
    QX_RTTI_STRUCT(EnumSchemaValue);
    std::string mName;
    uint64_t mValue = 0;
};

struct EnumSchema {
    QX_RTTI_STRUCT(EnumSchema);
    TypeSchema mSizeType;
    std::vector<EnumSchemaValue> mValues;
};

struct PointerSchema {
    QX_RTTI_STRUCT(PointerSchema);
    TypeSchema mPointeeType;
};

struct ArraySchema {
    QX_RTTI_STRUCT(ArraySchema);
    TypeSchema mEmbeddedType;
};

struct MapSchema {
    QX_RTTI_STRUCT(MapSchema);
    TypeSchema mKeyType;
    TypeSchema mValueType;
};

struct SetSchema {
    QX_RTTI_STRUCT(SetSchema);
    TypeSchema mValueType;
};

class Schema : public RTTI::Object {
public:
    QX_RTTI_CLASS(Schema);

    template <class Record> using Table = std::map<std::string, std::unique_ptr<Record>, std::less<>>;

    Table<CompoundSchema> mCompounds;
    Table<EnumSchema> mEnums;
    Table<PointerSchema> mPointers;
    Table<ArraySchema> mArrays;
    Table<MapSchema> mMaps;
    Table<SetSchema> mSets;
};

/// Registers the schema classes, which every registry that reads binary object files needs.
void RegisterSchemaTypes(RTTI::Registry& registry);

} // namespace Serialization
