#include "Serialization/Json.h"
#include "Serialization/Limits.h"
#include "Utility/Format.h"

#include "RTTI/ContainerTypes.h"
#include "RTTI/EnumType.h"
#include "RTTI/PrimitiveType.h"

#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <fstream>
#include <iterator>
#include <limits>

namespace Serialization {
namespace {

using JsonValue = rapidjson::Value;

/// Passes the parser's events on to the document but converts numbers itself: the parser hands
/// them over as text and std::from_chars turns them into exact values, independent of the
/// locale. (RapidJSON's own exact conversion misbehaves on extreme exponents.) Integers become
/// 64-bit integers when they fit, like RapidJSON does, and doubles otherwise.
class NumberConvertingHandler {
public:
    explicit NumberConvertingHandler(rapidjson::Document& document) : mDocument(document) {}

    bool Null() { return mDocument.Null(); }
    bool Bool(bool value) { return mDocument.Bool(value); }
    bool Int(int value) { return mDocument.Int(value); }
    bool Uint(unsigned value) { return mDocument.Uint(value); }
    bool Int64(int64_t value) { return mDocument.Int64(value); }
    bool Uint64(uint64_t value) { return mDocument.Uint64(value); }
    bool Double(double value) { return mDocument.Double(value); }
    bool String(const char* text, rapidjson::SizeType length, bool copy)
    {
        return mDocument.String(text, length, copy);
    }
    bool StartObject() { return mDocument.StartObject(); }
    bool Key(const char* text, rapidjson::SizeType length, bool copy)
    {
        return mDocument.Key(text, length, copy);
    }
    bool EndObject(rapidjson::SizeType members) { return mDocument.EndObject(members); }
    bool StartArray() { return mDocument.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) { return mDocument.EndArray(elements); }

    bool RawNumber(const char* text, rapidjson::SizeType length, bool)
    {
        const char* end = text + length;
        if (std::string_view(text, length).find_first_of(".eE") == std::string_view::npos) {
            if (*text == '-') {
                int64_t value = 0;
                if (auto [next, error] = std::from_chars(text, end, value);
                    error == std::errc() && next == end)
                    return mDocument.Int64(value);
            } else {
                uint64_t value = 0;
                if (auto [next, error] = std::from_chars(text, end, value);
                    error == std::errc() && next == end)
                    return mDocument.Uint64(value);
            }
        }
        double value = 0;
        const auto [next, error] = std::from_chars(text, end, value);
        if (error == std::errc::result_out_of_range) {
            if (IsAboveOne(std::string_view(text, length))) {
                mNumberTooBig = true; // as RapidJSON reports it
                return false;
            }
            value = *text == '-' ? -0.0 : 0.0; // underflow
        } else if (error != std::errc() || next != end) {
            return false;
        }
        return mDocument.Double(value);
    }

    bool IsNumberTooBig() const { return mNumberTooBig; }

private:
    /// Whether a number whose magnitude is out of range is huge rather than tiny.
    static bool IsAboveOne(std::string_view text)
    {
        const std::size_t exponentAt = text.find_first_of("eE");
        const std::string_view mantissa = text.substr(0, exponentAt);
        int64_t exponent = 0;
        if (exponentAt != std::string_view::npos) {
            std::string_view digits = text.substr(exponentAt + 1);
            const bool negative = !digits.empty() && digits.front() == '-';
            if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
                digits.remove_prefix(1);
            for (char digit : digits)
                exponent = std::min<int64_t>(exponent * 10 + (digit - '0'), 1'000'000'000);
            exponent = negative ? -exponent : exponent;
        }
        // The decimal exponent of the leading non-zero digit of the mantissa.
        const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
        const std::size_t firstDigit = mantissa.find_first_of("123456789");
        if (firstDigit == std::string_view::npos)
            return false;
        const int64_t leading = firstDigit < point ? static_cast<int64_t>(point - firstDigit) - 1
                                                   : -static_cast<int64_t>(firstDigit - point);
        return leading + exponent > 0;
    }

    rapidjson::Document& mDocument;
    bool mNumberTooBig = false;
};

class JsonValueReader {
public:
    JsonValueReader(const RTTI::Registry& registry, const RTTI::ObjectFactory& factory, ErrorList& errors)
        : mRegistry(registry), mFactory(factory), mErrors(errors)
    {}

    std::unique_ptr<RTTI::Object> ReadRoot(const JsonValue& json)
    {
        const JsonValue* typeName = FindString(json, "Type");
        if (!typeName) {
            Fail(EErrorCode::Corrupt, "Unable to find required 'Type' property for object");
            return nullptr;
        }
        const char* name = typeName->GetString();
        const RTTI::Type* type = mRegistry.FindType(std::string_view(name, typeName->GetStringLength()));
        if (!type) {
            Fail(EErrorCode::Corrupt, "Unknown object type %s encountered.", name);
            return nullptr;
        }
        const RTTI::CompoundType* compound = type->AsCompound();
        if (!compound) {
            Fail(EErrorCode::Corrupt, "Root object %s is not a compound.", name);
            return nullptr;
        }
        if (!compound->IsObjectClass()) {
            Fail(EErrorCode::Corrupt, "Root objects must be of type RTTI::Object");
            return nullptr;
        }
        void* object = mFactory.Create(*compound);
        if (!object) {
            Fail(EErrorCode::Corrupt, "Failed to instantiate object of type %s.", name);
            return nullptr;
        }
        std::unique_ptr<RTTI::Object> root(compound->ToObject(object));
        if (!ReadMembers(json, *compound, object))
            return nullptr;
        return root;
    }

private:
    bool Fail(EErrorCode code, const char* format, ...) __attribute__((format(printf, 3, 4)))
    {
        va_list args;
        va_start(args, format);
        mErrors.Add(code, Utility::FormatV(format, args));
        va_end(args);
        return false;
    }

    static const JsonValue* FindMember(const JsonValue& json, std::string_view name)
    {
        if (!json.IsObject())
            return nullptr;
        auto member = json.FindMember(rapidjson::StringRef(name.data(), name.size()));
        return member == json.MemberEnd() ? nullptr : &member->value;
    }

    static const JsonValue* FindString(const JsonValue& json, std::string_view name)
    {
        const JsonValue* member = FindMember(json, name);
        return member && member->IsString() ? member : nullptr;
    }

    /// Missing members keep their defaults; members that match no property are ignored.
    bool ReadMembers(const JsonValue& json, const RTTI::CompoundType& type, void* object)
    {
        for (const RTTI::Property& property : type.GetProperties())
            if (const JsonValue* member = FindMember(json, property.GetName()))
                if (!ReadValue(*member, property.GetType(), property.GetAddress(object)))
                    return false;
        return true;
    }

    bool ReadValue(const JsonValue& json, const RTTI::Type& type, void* value)
    {
        if (mDepth >= kMaxNestingDepth)
            return Fail(EErrorCode::Corrupt, "Objects are nested deeper than %d levels", kMaxNestingDepth);
        ++mDepth;
        const bool ok = ReadValueAtDepth(json, type, value);
        --mDepth;
        return ok;
    }

    bool ReadValueAtDepth(const JsonValue& json, const RTTI::Type& type, void* value)
    {
        if (json.IsObject()) {
            if (const RTTI::CompoundType* compound = type.AsCompound())
                return ReadMembers(json, *compound, value);
            if (const RTTI::PointerType* pointer = type.AsPointer())
                return ReadPointer(json, *pointer, value);
            return Fail(EErrorCode::Corrupt, "Expected compound or pointer type for %s",
                        type.GetName().c_str());
        }
        if (json.IsArray()) {
            if (const RTTI::ArrayType* array = type.AsArray()) {
                const RTTI::Type& element = array->GetElementType();
                array->Resize(value, 0);
                array->Resize(value, json.Size());
                for (rapidjson::SizeType i = 0; i < json.Size(); ++i)
                    if (!ReadValue(json[i], element, array->GetElement(value, i)))
                        return false;
                return true;
            }
            if (const RTTI::SetType* set = type.AsSet()) {
                set->Clear(value);
                for (const JsonValue& element : json.GetArray())
                    if (!set->Insert(value, [&](void* item) {
                            return ReadValue(element, set->GetElementType(), item);
                        }))
                        return false;
                return true;
            }
            if (const RTTI::MapType* map = type.AsMap()) {
                map->Clear(value);
                for (const JsonValue& entry : json.GetArray()) {
                    const JsonValue* key = FindMember(entry, "Key");
                    if (!key)
                        return Fail(EErrorCode::Corrupt, "Missing Key property for map element");
                    const JsonValue* mapped = FindMember(entry, "Value");
                    if (!mapped)
                        return Fail(EErrorCode::Corrupt, "Missing Value property for map element");
                    if (!map->Insert(value, [&](void* keyValue, void* mappedValue) {
                            return ReadValue(*key, map->GetKeyType(), keyValue) &&
                                   ReadValue(*mapped, map->GetValueType(), mappedValue);
                        }))
                        return false;
                }
                return true;
            }
            return Fail(EErrorCode::Corrupt, "Expected array, map or set type");
        }
        if (const RTTI::EnumType* enumType = type.AsEnum()) {
            if (!json.IsString())
                return Fail(EErrorCode::Corrupt, "Expected enum type for %s", type.GetName().c_str());
            const auto number =
                enumType->NameToValue(std::string_view(json.GetString(), json.GetStringLength()));
            if (!number)
                return Fail(EErrorCode::Corrupt, "Invalid value for enum %s", type.GetName().c_str());
            enumType->SetValue(value, *number);
            return true;
        }
        if (!type.AsPrimitive())
            return Fail(EErrorCode::Corrupt, "Expected primitive or enum type for %s",
                        type.GetName().c_str());
        return ReadPrimitive(json, *type.AsPrimitive(), value);
    }

    /// Numbers convert the way RapidJSON's accessors do (integers truncate to the width, other
    /// numbers saturate); a JSON value of another kind is an error.
    bool ReadPrimitive(const JsonValue& json, const RTTI::PrimitiveType& type, void* value)
    {
        switch (type.GetKind()) {
        case RTTI::EPrimitiveKind::Bool:
            if (!json.IsBool())
                break;
            *static_cast<bool*>(value) = json.GetBool();
            return true;
        case RTTI::EPrimitiveKind::SignedInteger:
        case RTTI::EPrimitiveKind::UnsignedInteger:
            if (json.IsInt64())
                type.SetInteger(value, static_cast<uint64_t>(json.GetInt64()));
            else if (json.IsUint64())
                type.SetInteger(value, json.GetUint64());
            else if (json.IsNumber())
                type.SetInteger(value, SaturatingInteger(json.GetDouble(), type.GetKind()));
            else
                break;
            return true;
        case RTTI::EPrimitiveKind::Float:
            if (!json.IsNumber())
                break;
            *static_cast<float*>(value) = NarrowToFloat(json.GetDouble());
            return true;
        case RTTI::EPrimitiveKind::Double:
            if (!json.IsNumber())
                break;
            *static_cast<double*>(value) = json.GetDouble();
            return true;
        case RTTI::EPrimitiveKind::String:
            if (!json.IsString())
                break;
            static_cast<std::string*>(value)->assign(json.GetString(), json.GetStringLength());
            return true;
        default:
            return Fail(EErrorCode::Corrupt, "Type is not a primitive type.");
        }
        return Fail(EErrorCode::Corrupt, "Invalid value for primitive %s", type.GetName().c_str());
    }

    static uint64_t SaturatingInteger(double number, RTTI::EPrimitiveKind kind)
    {
        constexpr double kTwoTo63 = 9223372036854775808.0;
        if (std::isnan(number))
            return 0;
        if (kind == RTTI::EPrimitiveKind::SignedInteger) {
            if (number >= kTwoTo63)
                return static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
            if (number <= -kTwoTo63)
                return static_cast<uint64_t>(std::numeric_limits<int64_t>::min());
            return static_cast<uint64_t>(static_cast<int64_t>(number));
        }
        if (number >= 2 * kTwoTo63)
            return std::numeric_limits<uint64_t>::max();
        return number <= 0 ? 0 : static_cast<uint64_t>(number);
    }

    static float NarrowToFloat(double number)
    {
        constexpr double kMax = std::numeric_limits<float>::max();
        if (number > kMax)
            return std::numeric_limits<float>::infinity();
        if (number < -kMax)
            return -std::numeric_limits<float>::infinity();
        return static_cast<float>(number);
    }

    bool ReadPointer(const JsonValue& json, const RTTI::PointerType& type, void* value)
    {
        if (json.ObjectEmpty()) {
            type.Set(value, nullptr, type.GetPointeeType());
            return true;
        }
        const RTTI::Type& pointee = type.GetPointeeType();
        const RTTI::CompoundType* declared = pointee.AsCompound();
        if (!declared) {
            const JsonValue* inner = FindMember(json, "Value");
            if (!inner)
                return Fail(EErrorCode::Corrupt, "Unable to find required 'Value' property for object");
            void* object = mFactory.Create(pointee);
            if (!object)
                return Fail(EErrorCode::Corrupt, "Failed to create object of type %s",
                            pointee.GetName().c_str());
            if (!ReadValue(*inner, pointee, object)) {
                pointee.Destroy(object);
                return false;
            }
            type.Set(value, object, pointee);
            return true;
        }
        const JsonValue* typeName = FindString(json, "Type");
        if (!typeName)
            return Fail(EErrorCode::Corrupt, "Unable to find required 'Type' property for object");
        const RTTI::Type* found =
            mRegistry.FindType(std::string_view(typeName->GetString(), typeName->GetStringLength()));
        const RTTI::CompoundType* actual = found ? found->AsCompound() : nullptr;
        if (!actual) {
            // A class that is no longer registered loads as null: settings stay usable.
            type.Set(value, nullptr, pointee);
            return true;
        }
        // Plain structs have no dynamic type, so only their own class can be stored for them.
        if (!RTTI::IsA(*actual, *declared) || (!declared->IsObjectClass() && !actual->IsSameAs(*declared)))
            return Fail(EErrorCode::Compatibility,
                        "Compatibility issue: object of type %s used to be derived from %s but isn't anymore",
                        actual->GetName().c_str(), declared->GetName().c_str());
        void* object = mFactory.Create(*actual);
        if (!object)
            return Fail(EErrorCode::Corrupt, "Failed to create object of type %s", actual->GetName().c_str());
        if (!ReadMembers(json, *actual, object)) {
            actual->Destroy(object);
            return false;
        }
        type.Set(value, object, *actual);
        return true;
    }

    const RTTI::Registry& mRegistry;
    const RTTI::ObjectFactory& mFactory;
    ErrorList& mErrors;
    int mDepth = 0;
};

} // namespace

bool ReadJson(std::string_view text, const RTTI::Registry& registry, const RTTI::ObjectFactory& factory,
              std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors)
{
    // Iterative parsing keeps deeply nested input off the stack.
    constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
    rapidjson::Document document;
    rapidjson::Reader parser;
    rapidjson::MemoryStream memory(text.data(), text.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
    bool numberTooBig = false;
    auto parse = [&](rapidjson::Document& target) {
        NumberConvertingHandler handler(target);
        const bool parsed = !parser.Parse<kFlags>(input, handler).IsError();
        numberTooBig = handler.IsNumberTooBig();
        return parsed;
    };
    document.Populate(parse);
    if (parser.HasParseError()) {
        const std::size_t offset = std::min(parser.GetErrorOffset(), text.size());
        const auto line =
            1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
        const rapidjson::ParseErrorCode code =
            numberTooBig ? rapidjson::kParseErrorNumberTooBig : parser.GetParseErrorCode();
        errors.AddFormatted(EErrorCode::Corrupt, "Error parsing json: %s (line: %d)",
                            rapidjson::GetParseError_En(code), static_cast<int>(line));
        return false;
    }
    if (!document.IsObject()) {
        errors.Add(EErrorCode::Corrupt, "Root JSON value must be an object");
        return false;
    }

    JsonValueReader reader(registry, factory, errors);
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    // HasMember rather than comparing member iterators, which C++20 finds ambiguous in RapidJSON.
    if (document.HasMember("Objects") && document["Objects"].IsArray()) {
        for (const JsonValue& element : document["Objects"].GetArray()) {
            std::unique_ptr<RTTI::Object> root = reader.ReadRoot(element);
            if (!root)
                return false;
            roots.push_back(std::move(root));
        }
    } else {
        std::unique_ptr<RTTI::Object> root = reader.ReadRoot(document);
        if (!root)
            return false;
        roots.push_back(std::move(root));
    }
    for (auto& root : roots)
        outObjects.push_back(std::move(root));
    return true;
}

bool ReadJsonFile(const std::filesystem::path& path, const RTTI::Registry& registry,
                  const RTTI::ObjectFactory& factory, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                  ErrorList& errors)
{
    ErrorList::ContextScope context(errors, path.string());
    std::error_code error;
    std::ifstream stream;
    if (!std::filesystem::is_directory(path, error))
        stream.open(path, std::ios::binary);
    std::string text;
    if (stream)
        text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    if (!stream.is_open() || stream.bad()) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Could not read file %s", path.string().c_str());
        return false;
    }
    return ReadJson(text, registry, factory, outObjects, errors);
}

} // namespace Serialization
