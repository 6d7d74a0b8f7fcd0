#include "Serialization/BinaryWriter.h"

#include "Serialization/AtomicFileWriter.h"
#include "Serialization/BinaryFormat.h"
#include "Serialization/ByteWriter.h"
#include "Serialization/Json.h"
#include "Serialization/Limits.h"
#include "Serialization/Schema.h"

#include "RTTI/ContainerTypes.h"
#include "RTTI/EnumType.h"
#include "RTTI/PrimitiveType.h"
#include "Utility/Assert.h"

#include <unordered_set>
#include <xxhash.h>

namespace Serialization {
namespace {

TypeSchema MakeTypeSchema(const RTTI::Type& type)
{
    TypeSchema schema;
    schema.mDataType = static_cast<uint8_t>(type.GetDataType());
    schema.mTypeName = type.GetName();
    return schema;
}

/// Builds the two parts of an image: the header with the schema block, and the data area.
class BinaryImageWriter {
public:
    BinaryImageWriter(std::vector<uint8_t>& header, std::vector<uint8_t>& data, ErrorList& errors)
        : mHeaderBytes(header), mDataBytes(data), mHeader(header), mData(data), mErrors(errors)
    {}

    bool Write(const std::vector<const RTTI::Object*>& roots)
    {
        struct TableEntry {
            std::string typeName;
            uint64_t offset;
            uint64_t size;
            uint64_t checksum;
        };
        std::vector<TableEntry> table;

        const std::size_t dataStart = mData.GetPosition();
        mData.Write<uint64_t>(roots.size());
        for (const RTTI::Object* root : roots) {
            if (!QX_ASSERT(root != nullptr, "null root object passed to the binary writer"))
                return false;
            const RTTI::CompoundType& type = root->GetType();
            const std::size_t start = mData.GetPosition();
            mData.WriteString(type.GetName());
            AddType(type);
            if (!WriteCompound(type, type.FromObject(root)))
                return false;
            const uint64_t size = mData.GetPosition() - start;
            table.push_back(
                {type.GetName(), start - dataStart, size, XXH64(mDataBytes.data() + start, size, 0)});
        }

        std::string schemaText;
        if (!WriteJson({&mSchema}, schemaText, mErrors))
            return false;

        mHeader.Write<uint32_t>(kBinaryMagic);
        mHeader.Write<uint32_t>(kBinaryVersion);
        const std::size_t blockSizePosition = mHeader.ReserveSize();
        mHeader.WriteString(schemaText);
        mHeader.Write<uint64_t>(table.size());
        for (const TableEntry& entry : table) {
            mHeader.WriteString(entry.typeName);
            mHeader.Write<uint64_t>(entry.offset);
            mHeader.Write<uint64_t>(entry.size);
            mHeader.Write<uint64_t>(1); // one chunk: the whole record
            mHeader.Write<uint64_t>(0);
            mHeader.Write<uint64_t>(entry.size);
            mHeader.Write<uint64_t>(entry.checksum);
        }
        const std::size_t blockStart = blockSizePosition + sizeof(uint64_t);
        mHeader.Write<uint64_t>(
            XXH64(mHeaderBytes.data() + blockStart, mHeader.GetPosition() - blockStart, 0));
        mHeader.PatchSize(blockSizePosition);
        return true;
    }

private:
    template <class Record> Record* AddRecord(Schema::Table<Record>& table, const RTTI::Type& type)
    {
        auto [it, added] = table.try_emplace(type.GetName());
        if (!added)
            return nullptr; // another descriptor of the same name got there first
        it->second = std::make_unique<Record>();
        return it->second.get();
    }

    /// Describes the type in the schema, once per name, with everything it refers to.
    void AddType(const RTTI::Type& type)
    {
        if (!mKnownTypes.insert(&type).second)
            return;
        switch (type.GetDataType()) {
        case RTTI::EDataType::Compound: {
            const RTTI::CompoundType& compound = *type.AsCompound();
            CompoundSchema* record = AddRecord(mSchema.mCompounds, type);
            if (!record)
                return;
            record->mVersion = static_cast<int32_t>(compound.GetVersion());
            record->mFullVersion = compound.GetFullVersion();
            for (const RTTI::Property& property : compound.GetProperties())
                record->mProperties.push_back({MakeTypeSchema(property.GetType()), property.GetName()});
            for (const RTTI::Property& property : compound.GetProperties())
                AddType(property.GetType());
            break;
        }
        case RTTI::EDataType::Primitive:
            break;
        case RTTI::EDataType::Enum: {
            const RTTI::EnumType& enumType = *type.AsEnum();
            if (EnumSchema* record = AddRecord(mSchema.mEnums, type)) {
                record->mSizeType = MakeTypeSchema(enumType.GetSizeType());
                for (const RTTI::EnumType::Value& value : enumType.GetValues())
                    record->mValues.push_back({value.name, value.value});
            }
            break;
        }
        case RTTI::EDataType::Array:
            if (ArraySchema* record = AddRecord(mSchema.mArrays, type)) {
                record->mEmbeddedType = MakeTypeSchema(type.AsArray()->GetElementType());
                AddType(type.AsArray()->GetElementType());
            }
            break;
        case RTTI::EDataType::Map:
            if (MapSchema* record = AddRecord(mSchema.mMaps, type)) {
                record->mKeyType = MakeTypeSchema(type.AsMap()->GetKeyType());
                record->mValueType = MakeTypeSchema(type.AsMap()->GetValueType());
                AddType(type.AsMap()->GetKeyType());
                AddType(type.AsMap()->GetValueType());
            }
            break;
        case RTTI::EDataType::Set:
            if (SetSchema* record = AddRecord(mSchema.mSets, type)) {
                record->mValueType = MakeTypeSchema(type.AsSet()->GetElementType());
                AddType(type.AsSet()->GetElementType());
            }
            break;
        case RTTI::EDataType::Pointer:
            if (PointerSchema* record = AddRecord(mSchema.mPointers, type)) {
                record->mPointeeType = MakeTypeSchema(type.AsPointer()->GetPointeeType());
                AddType(type.AsPointer()->GetPointeeType());
            }
            break;
        }
    }

    bool WriteCompound(const RTTI::CompoundType& type, const void* object)
    {
        if (!type.IsIndexed()) {
            mErrors.AddFormatted(
                EErrorCode::WriteFailed,
                "Unable to write compound of type %s which has not been registered with the RTTI "
                "registry",
                type.GetName().c_str());
            return false;
        }
        if (mDepth >= kMaxNestingDepth) {
            mErrors.AddFormatted(EErrorCode::WriteFailed,
                                 "Unable to write objects nested deeper than %d levels", kMaxNestingDepth);
            return false;
        }
        ++mDepth;
        const std::size_t sizePosition = mData.ReserveSize();
        bool ok = true;
        for (const RTTI::Property& property : type.GetProperties())
            if (!(ok = WriteValue(property.GetType(), property.GetAddress(object))))
                break;
        mData.PatchSize(sizePosition);
        --mDepth;
        return ok;
    }

    bool WriteValue(const RTTI::Type& type, const void* value)
    {
        switch (type.GetDataType()) {
        case RTTI::EDataType::Compound:
            return WriteCompound(*type.AsCompound(), value);
        case RTTI::EDataType::Primitive: {
            const RTTI::PrimitiveType& primitive = *type.AsPrimitive();
            if (primitive.GetKind() == RTTI::EPrimitiveKind::String)
                mData.WriteString(*static_cast<const std::string*>(value));
            else if (primitive.GetKind() == RTTI::EPrimitiveKind::Bool)
                mData.Write<bool>(*static_cast<const bool*>(value));
            else
                mData.WriteBytes(value, primitive.GetWidth());
            return true;
        }
        case RTTI::EDataType::Enum: {
            const RTTI::EnumType& enumType = *type.AsEnum();
            const uint64_t number = enumType.GetValue(value);
            mData.WriteBytes(&number, enumType.GetSizeType().GetWidth());
            return true;
        }
        case RTTI::EDataType::Array: {
            const RTTI::ArrayType& array = *type.AsArray();
            const std::size_t sizePosition = mData.ReserveSize();
            const std::size_t count = array.GetCount(value);
            mData.Write<uint64_t>(count);
            bool ok = true;
            if (array.HasContiguousPrimitives() && count > 0) {
                const std::size_t width = array.GetElementType().AsPrimitive()->GetWidth();
                mData.WriteBytes(array.GetData(value), count * width);
            } else {
                const RTTI::Type& element = array.GetElementType();
                for (std::size_t i = 0; ok && i < count; ++i)
                    ok = WriteValue(element, array.GetElement(value, i));
            }
            mData.PatchSize(sizePosition);
            return ok;
        }
        case RTTI::EDataType::Map: {
            const RTTI::MapType& map = *type.AsMap();
            const std::size_t sizePosition = mData.ReserveSize();
            mData.Write<uint64_t>(map.GetCount(value));
            bool ok = true;
            for (auto iterator = map.CreateIterator(value); ok && !iterator->IsAtEnd();) {
                const void* key = nullptr;
                const void* mapped = nullptr;
                iterator->Next(key, mapped);
                ok = WriteValue(map.GetKeyType(), key) && WriteValue(map.GetValueType(), mapped);
            }
            mData.PatchSize(sizePosition);
            return ok;
        }
        case RTTI::EDataType::Set: {
            const RTTI::SetType& set = *type.AsSet();
            const std::size_t sizePosition = mData.ReserveSize();
            mData.Write<uint64_t>(set.GetCount(value));
            bool ok = true;
            for (auto iterator = set.CreateIterator(value); ok && !iterator->IsAtEnd();) {
                const void* element = nullptr;
                iterator->Next(element);
                ok = WriteValue(set.GetElementType(), element);
            }
            mData.PatchSize(sizePosition);
            return ok;
        }
        case RTTI::EDataType::Pointer: {
            const RTTI::PointerType::Target target = type.AsPointer()->Get(value);
            if (!target.object) {
                mData.WriteString("null");
                return true;
            }
            mData.WriteString(target.type->GetName());
            AddType(*target.type);
            if (const RTTI::CompoundType* compound = target.type->AsCompound())
                return WriteCompound(*compound, target.object);
            return WriteValue(*target.type, target.object);
        }
        }
        return false;
    }

    std::vector<uint8_t>& mHeaderBytes;
    std::vector<uint8_t>& mDataBytes;
    ByteWriter mHeader;
    ByteWriter mData;
    ErrorList& mErrors;
    Schema mSchema;
    std::unordered_set<const RTTI::Type*> mKnownTypes;
    int mDepth = 0;
};

} // namespace

bool WriteBinaryBuffer(const std::vector<const RTTI::Object*>& roots, std::vector<uint8_t>& out,
                       ErrorList& errors)
{
    std::vector<uint8_t> header;
    std::vector<uint8_t> data;
    if (!BinaryImageWriter(header, data, errors).Write(roots))
        return false;
    out.reserve(out.size() + header.size() + data.size());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    return true;
}

bool WriteBinaryFile(const std::filesystem::path& path, const std::vector<const RTTI::Object*>& roots,
                     ErrorList& errors)
{
    std::vector<uint8_t> header;
    std::vector<uint8_t> data;
    if (!BinaryImageWriter(header, data, errors).Write(roots))
        return false;
    switch (WriteFileAtomically(path, {header, data})) {
    case EFileWriteResult::Written:
        return true;
    case EFileWriteResult::OpenFailed:
        errors.AddFormatted(EErrorCode::WriteFailed, "Unable to open file %s for writing",
                            path.string().c_str());
        return false;
    case EFileWriteResult::WriteFailed:
        break;
    }
    errors.AddFormatted(EErrorCode::WriteFailed, "Unable to write file %s", path.string().c_str());
    return false;
}

} // namespace Serialization
