#include "Serialization/AtomicFileWriter.h"
#include "Serialization/Json.h"
#include "Serialization/Limits.h"

#include "RTTI/ContainerTypes.h"
#include "RTTI/EnumType.h"
#include "RTTI/PrimitiveType.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstring>
#include <limits>

namespace Serialization {
namespace {

using JsonTextWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

class JsonValueWriter {
public:
    JsonValueWriter(JsonTextWriter& writer, ErrorList& errors) : mWriter(writer), mErrors(errors) {}

    bool WriteRoot(const RTTI::Object& object)
    {
        const RTTI::CompoundType& type = object.GetType();
        if (!mWriter.StartObject())
            return Fail("Error writing compound start");
        if (!WriteKey("Type") || !WriteString(type.GetName()))
            return Fail("Error writing compound start");
        if (!WriteProperties(type, type.FromObject(&object)))
            return false;
        return mWriter.EndObject() || Fail("Error writing compound end");
    }

private:
    bool Fail(const char* message)
    {
        mErrors.Add(EErrorCode::WriteFailed, message);
        return false;
    }

    bool WriteKey(std::string_view key)
    {
        return mWriter.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    }

    bool WriteString(std::string_view text)
    {
        if (text.size() > std::numeric_limits<rapidjson::SizeType>::max())
            return false;
        return mWriter.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    }

    bool WriteProperties(const RTTI::CompoundType& type, const void* object)
    {
        for (const RTTI::Property& property : type.GetProperties()) {
            if (!WriteKey(property.GetName()))
                return Fail("Error writing compound start");
            if (!WriteValue(property.GetType(), property.GetAddress(object)))
                return false;
        }
        return true;
    }

    bool WriteValue(const RTTI::Type& type, const void* value)
    {
        if (mDepth >= kMaxNestingDepth) {
            mErrors.AddFormatted(EErrorCode::WriteFailed,
                                 "Unable to write objects nested deeper than %d levels", kMaxNestingDepth);
            return false;
        }
        ++mDepth;
        const bool ok = WriteValueAtDepth(type, value);
        --mDepth;
        return ok;
    }

    bool WriteValueAtDepth(const RTTI::Type& type, const void* value)
    {
        switch (type.GetDataType()) {
        case RTTI::EDataType::Compound:
            if (!mWriter.StartObject())
                return Fail("Error writing compound start");
            if (!WriteProperties(*type.AsCompound(), value))
                return false;
            return mWriter.EndObject() || Fail("Error writing compound end");
        case RTTI::EDataType::Primitive:
            if (!WritePrimitive(*type.AsPrimitive(), value)) {
                mErrors.AddFormatted(EErrorCode::WriteFailed, "Error serializing primitive %s",
                                     type.GetName().c_str());
                return false;
            }
            return true;
        case RTTI::EDataType::Enum: {
            const RTTI::EnumType& enumType = *type.AsEnum();
            if (!WriteString(enumType.ValueToName(enumType.GetValue(value)))) {
                mErrors.AddFormatted(EErrorCode::WriteFailed, "Error serializing enum %s",
                                     type.GetName().c_str());
                return false;
            }
            return true;
        }
        case RTTI::EDataType::Array: {
            const RTTI::ArrayType& array = *type.AsArray();
            if (!mWriter.StartArray())
                return Fail("Error writing array start");
            const RTTI::Type& element = array.GetElementType();
            const std::size_t count = array.GetCount(value);
            for (std::size_t i = 0; i < count; ++i)
                if (!WriteValue(element, array.GetElement(value, i)))
                    return false;
            return mWriter.EndArray() || Fail("Error writing array end");
        }
        case RTTI::EDataType::Map: {
            const RTTI::MapType& map = *type.AsMap();
            if (!mWriter.StartArray())
                return Fail("Error writing map start");
            for (auto iterator = map.CreateIterator(value); !iterator->IsAtEnd();) {
                const void* key = nullptr;
                const void* mapped = nullptr;
                iterator->Next(key, mapped);
                if (!mWriter.StartObject() || !WriteKey("Key"))
                    return Fail("Error writing map kvp start");
                if (!WriteValue(map.GetKeyType(), key))
                    return false;
                if (!WriteKey("Value"))
                    return Fail("Error writing map kvp start");
                if (!WriteValue(map.GetValueType(), mapped))
                    return false;
                if (!mWriter.EndObject())
                    return Fail("Error writing map kvp end");
            }
            return mWriter.EndArray() || Fail("Error writing map end");
        }
        case RTTI::EDataType::Set: {
            const RTTI::SetType& set = *type.AsSet();
            if (!mWriter.StartArray())
                return Fail("Error writing set start");
            for (auto iterator = set.CreateIterator(value); !iterator->IsAtEnd();) {
                const void* element = nullptr;
                iterator->Next(element);
                if (!WriteValue(set.GetElementType(), element))
                    return false;
            }
            return mWriter.EndArray() || Fail("Error writing set end");
        }
        case RTTI::EDataType::Pointer:
            return WritePointer(*type.AsPointer(), value);
        }
        return Fail("Unknown RTTI type encountered");
    }

    bool WritePrimitive(const RTTI::PrimitiveType& type, const void* value)
    {
        switch (type.GetKind()) {
        case RTTI::EPrimitiveKind::Bool:
            return mWriter.Bool(*static_cast<const bool*>(value));
        case RTTI::EPrimitiveKind::SignedInteger:
            return mWriter.Int64(static_cast<int64_t>(type.GetInteger(value)));
        case RTTI::EPrimitiveKind::UnsignedInteger:
            return mWriter.Uint64(type.GetInteger(value));
        case RTTI::EPrimitiveKind::Float: {
            float number = 0;
            std::memcpy(&number, value, sizeof(number));
            return mWriter.Double(number);
        }
        case RTTI::EPrimitiveKind::Double:
            return mWriter.Double(*static_cast<const double*>(value));
        case RTTI::EPrimitiveKind::String:
            return WriteString(*static_cast<const std::string*>(value));
        }
        return false;
    }

    bool WritePointer(const RTTI::PointerType& type, const void* value)
    {
        const RTTI::PointerType::Target target = type.Get(value);
        if (!mWriter.StartObject())
            return Fail("Error writing compound start");
        if (target.object) {
            if (const RTTI::CompoundType* compound = target.type->AsCompound()) {
                if (!WriteKey("Type") || !WriteString(compound->GetName()))
                    return Fail("Error writing compound start");
                if (!WriteProperties(*compound, target.object))
                    return false;
            } else {
                if (!WriteKey("Value"))
                    return Fail("Error writing compound start");
                if (!WriteValue(*target.type, target.object))
                    return false;
            }
        }
        return mWriter.EndObject() || Fail("Error writing compound end");
    }

    JsonTextWriter& mWriter;
    ErrorList& mErrors;
    int mDepth = 0;
};

} // namespace

bool WriteJson(const std::vector<const RTTI::Object*>& roots, std::string& outText, ErrorList& errors)
{
    rapidjson::StringBuffer buffer;
    JsonTextWriter writer(buffer);
    writer.SetIndent(' ', 4);
    if (!writer.StartObject() || !writer.Key("Objects") || !writer.StartArray()) {
        errors.Add(EErrorCode::WriteFailed, "Unable to write json start");
        return false;
    }
    JsonValueWriter values(writer, errors);
    for (const RTTI::Object* root : roots) {
        if (!root || !values.WriteRoot(*root)) {
            errors.AddFormatted(EErrorCode::WriteFailed, "There was an error serializing object %s to json",
                                root ? root->GetType().GetName().c_str() : "null");
            return false;
        }
    }
    if (!writer.EndArray() || !writer.EndObject()) {
        errors.Add(EErrorCode::WriteFailed, "Unable to write json end");
        return false;
    }
    outText.assign(buffer.GetString(), buffer.GetSize());
    return true;
}

bool WriteJsonFile(const std::filesystem::path& path, const std::vector<const RTTI::Object*>& roots,
                   ErrorList& errors)
{
    std::string text;
    if (!WriteJson(roots, text, errors))
        return false;
    text += '\n';
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (WriteFileAtomically(path, {std::span<const uint8_t>(bytes, text.size())}) !=
        EFileWriteResult::Written) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Unable to write file %s", path.string().c_str());
        return false;
    }
    return true;
}

} // namespace Serialization
