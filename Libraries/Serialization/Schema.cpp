#include "Serialization/Schema.h"

using namespace Serialization;

QX_RTTI_DEFINE_CLASS(Serialization::TypeSchema, 1)
{
    type.Property("DataType", &TypeSchema::mDataType).Property("TypeName", &TypeSchema::mTypeName);
}

QX_RTTI_DEFINE_CLASS(Serialization::PropertySchema, 1)
{
    type.Property("Type", &PropertySchema::mType).Property("Name", &PropertySchema::mName);
}

QX_RTTI_DEFINE_CLASS(Serialization::CompoundSchema, 1)
{
    type.Property("Properties", &CompoundSchema::mProperties)
        .Property("Version", &CompoundSchema::mVersion)
        .Property("FullVersion", &CompoundSchema::mFullVersion);
}

QX_RTTI_DEFINE_CLASS(Serialization::EnumSchemaValue, 1)
{
    type.Property("Name", &EnumSchemaValue::mName).Property("Value", &EnumSchemaValue::mValue);
}

QX_RTTI_DEFINE_CLASS(Serialization::EnumSchema, 1)
{
    type.Property("SizeType", &EnumSchema::mSizeType).Property("Values", &EnumSchema::mValues);
}

QX_RTTI_DEFINE_CLASS(Serialization::PointerSchema, 1)
{
    type.Property("PointeeType", &PointerSchema::mPointeeType);
}

QX_RTTI_DEFINE_CLASS(Serialization::ArraySchema, 1)
{
    type.Property("EmbeddedType", &ArraySchema::mEmbeddedType);
}

QX_RTTI_DEFINE_CLASS(Serialization::MapSchema, 1)
{
    type.Property("KeyType", &MapSchema::mKeyType).Property("ValueType", &MapSchema::mValueType);
}

QX_RTTI_DEFINE_CLASS(Serialization::SetSchema, 1)
{
    type.Property("ValueType", &SetSchema::mValueType);
}

QX_RTTI_DEFINE_CLASS(Serialization::Schema, 1)
{
    type.Property("Compounds", &Schema::mCompounds)
        .Property("Enums", &Schema::mEnums)
        .Property("Pointers", &Schema::mPointers)
        .Property("Arrays", &Schema::mArrays)
        .Property("Maps", &Schema::mMaps)
        .Property("Sets", &Schema::mSets);
}

void Serialization::RegisterSchemaTypes(RTTI::Registry& registry)
{
    registry.Register<Schema>();
    registry.Register<CompoundSchema>();
    registry.Register<EnumSchema>();
    registry.Register<ArraySchema>();
    registry.Register<MapSchema>();
    registry.Register<SetSchema>();
    registry.Register<PointerSchema>();
    registry.Register<TypeSchema>();
}
