// Decoding of stored values: the plans that map stored types onto running ones, and the
// readers and skippers of each data type.

#include "Serialization/BinaryReadPlan.h"
#include "Serialization/Limits.h"

#include "RTTI/ContainerTypes.h"
#include "RTTI/EnumType.h"
#include "RTTI/PrimitiveType.h"
#include "Utility/Format.h"

#include <algorithm>
#include <limits>

namespace Serialization {
namespace {

constexpr std::string_view kNull = "null";

bool ReadStoredString(BufferCursor& cursor, std::string_view& text, ErrorList& errors)
{
    if (cursor.ReadStringView(text))
        return true;
    uint64_t length = 0;
    BufferCursor probe = cursor;
    if (!probe.Read(length))
        length = 0;
    errors.AddFormatted(
        EErrorCode::Corrupt, "The buffer is corrupt: expected %lld bytes available for reading",
        static_cast<long long>(std::min<uint64_t>(length, std::numeric_limits<int64_t>::max() - 8) + 8));
    return false;
}

/// Reads the u64 size in front of a compound or container and checks that the bytes exist.
bool ReadValueSize(BufferCursor& cursor, uint64_t& size, ErrorList& errors)
{
    if (!cursor.Read(size)) {
        errors.AddFormatted(EErrorCode::Corrupt,
                            "The buffer is corrupt: expected %lld bytes available for reading", 8ll);
        return false;
    }
    if (size > cursor.GetRemaining()) {
        errors.AddFormatted(
            EErrorCode::Corrupt, "The buffer is corrupt: expected %lld bytes available for reading",
            static_cast<long long>(std::min<uint64_t>(size, std::numeric_limits<int64_t>::max())));
        return false;
    }
    return true;
}

/// Leaves the cursor at the end of a value of `size` bytes that started at `start`.
bool FinishSizedValue(BufferCursor& cursor, std::size_t start, uint64_t size, ErrorList& errors)
{
    if (cursor.GetPosition() - start > size) {
        errors.Add(EErrorCode::Corrupt, "The buffer is corrupt: a value is larger than its stored size");
        return false;
    }
    cursor.SetPosition(start + size);
    return true;
}

bool CountFits(uint64_t count, const BufferCursor& cursor, std::size_t minimumSize, ErrorList& errors)
{
    if (count <= cursor.GetRemaining() / minimumSize)
        return true;
    const uint64_t needed = count > std::numeric_limits<int64_t>::max() / minimumSize
                                ? std::numeric_limits<int64_t>::max()
                                : count * minimumSize;
    errors.AddFormatted(EErrorCode::Corrupt,
                        "The buffer is corrupt: expected %lld bytes available for reading",
                        static_cast<long long>(needed));
    return false;
}

std::string TypeMismatch(const TypeSchema& stored, const RTTI::Type& running)
{
    return Utility::Format(
        "Compatibility issue: Type mismatch: object used to be of type %s and datatype %d, but is "
        "now of type %s and datatype %d",
        stored.mTypeName.c_str(), stored.mDataType, running.GetName().c_str(),
        static_cast<int>(running.GetDataType()));
}

bool SameEmbeddedType(const TypeSchema& stored, const RTTI::Type& running)
{
    return stored.mTypeName == running.GetName() &&
           stored.mDataType == static_cast<uint8_t>(running.GetDataType());
}

template <class Record> const Record* FindRecord(const Schema::Table<Record>& table, std::string_view name)
{
    auto it = table.find(name);
    return it == table.end() ? nullptr : it->second.get();
}

} // namespace

bool BinaryReader::EnterNesting(ErrorList& errors)
{
    if (mDepth >= kMaxNestingDepth) {
        errors.AddFormatted(EErrorCode::Corrupt,
                            "The buffer is corrupt: objects are nested deeper than %d levels",
                            kMaxNestingDepth);
        return false;
    }
    ++mDepth;
    return true;
}

void BinaryReader::MarkUsed(CompatibilityHandler* handler)
{
    if (std::find(mUsedHandlers.begin(), mUsedHandlers.end(), handler) == mUsedHandlers.end())
        mUsedHandlers.push_back(handler);
}

bool BinaryReader::IsStoredAs(const std::string& storedTypeName, const RTTI::Type& type) const
{
    if (storedTypeName == type.GetName())
        return true;
    const RTTI::Type* found = mRegistry.FindType(storedTypeName);
    return found && found->IsSameAs(type);
}

bool BinaryReader::CheckStoredType(const PropertySchema& storedProperty, const RTTI::Type& type,
                                   ErrorList& errors) const
{
    if (IsStoredAs(storedProperty.mType.mTypeName, type))
        return true;
    errors.AddFormatted(
        EErrorCode::Compatibility,
        "Compatibility issue: Property %s has switched from type %s to type %s. This is not supported.",
        storedProperty.mName.c_str(), storedProperty.mType.mTypeName.c_str(), type.GetName().c_str());
    return false;
}

BinaryReader::ClassMapping& BinaryReader::GetClassMapping(std::string_view storedName,
                                                          const RTTI::CompoundType* knownRunning)
{
    auto it = mPlans->classes.find(storedName);
    if (it != mPlans->classes.end() && (!knownRunning || it->second->running == knownRunning))
        return *it->second;
    if (knownRunning) {
        auto key = std::make_pair(knownRunning, std::string(storedName));
        auto embedded = mPlans->embedded.find(key);
        if (embedded != mPlans->embedded.end())
            return *embedded->second;
    }
    auto mapping = std::make_unique<ClassMapping>();
    mapping->storedName = storedName;
    if (mSchema)
        mapping->schema = FindRecord(mSchema->mCompounds, storedName);
    mapping->found = knownRunning ? knownRunning : mRegistry.FindType(storedName);
    mapping->running = mapping->found ? mapping->found->AsCompound() : nullptr;
    if (mapping->running) {
        mapping->handler = mHandlers.Find(*mapping->running);
        MapProperties(*mapping);
    }
    ClassMapping& result = *mapping;
    if (knownRunning)
        mPlans->embedded.emplace(std::make_pair(knownRunning, std::string(storedName)), std::move(mapping));
    else
        mPlans->classes.emplace(std::string(storedName), std::move(mapping));
    return result;
}

void BinaryReader::MapProperties(ClassMapping& mapping) const
{
    mapping.properties.clear();
    if (!mapping.schema || !mapping.running)
        return;
    for (const PropertySchema& stored : mapping.schema->mProperties) {
        ClassMapping::PropertyMapping property;
        property.stored = &stored;
        property.running = mapping.running->FindProperty(stored.mName);
        property.typeMatches =
            property.running && IsStoredAs(stored.mType.mTypeName, property.running->GetType());
        mapping.properties.push_back(property);
    }
}

const BinaryReader::ValuePlan& BinaryReader::GetPlan(const RTTI::Type& running, std::string_view storedName)
{
    auto key = std::make_pair(&running, std::string(storedName));
    auto it = mPlans->values.find(key);
    if (it != mPlans->values.end())
        return *it->second;
    auto plan = std::make_unique<ValuePlan>();
    plan->running = &running;
    plan->storedName = storedName;
    ValuePlan& result = *plan;
    // Entered before it is filled, so that a type reaching itself finds this plan.
    mPlans->values.emplace(std::move(key), std::move(plan));
    FillPlan(result);
    return result;
}

void BinaryReader::FillPlan(ValuePlan& plan)
{
    const RTTI::Type& running = *plan.running;
    auto describe = [&plan](EErrorCode code, std::string message) {
        plan.errorCode = code;
        plan.error = std::move(message);
    };
    auto notDescribed = [&] {
        describe(EErrorCode::Corrupt,
                 Utility::Format("The schema does not describe type %s", plan.storedName.c_str()));
    };
    switch (running.GetDataType()) {
    case RTTI::EDataType::Primitive: {
        const RTTI::PrimitiveType& primitive = *running.AsPrimitive();
        plan.width = primitive.GetWidth();
        plan.rawBytes = primitive.IsContiguous() && primitive.GetKind() != RTTI::EPrimitiveKind::Bool;
        plan.minimumSize = primitive.IsContiguous() ? plan.width : sizeof(uint64_t);
        break;
    }
    case RTTI::EDataType::Enum: {
        const EnumSchema* stored = mSchema ? FindRecord(mSchema->mEnums, plan.storedName) : nullptr;
        const RTTI::Type* sizeType = stored ? mRegistry.FindType(stored->mSizeType.mTypeName) : nullptr;
        const RTTI::PrimitiveType* primitive = sizeType ? sizeType->AsPrimitive() : nullptr;
        if (!primitive || !primitive->IsInteger()) {
            describe(EErrorCode::Corrupt, Utility::Format("Unable to retrieve enum size type for type %s",
                                                          running.GetName().c_str()));
            break;
        }
        plan.width = primitive->GetWidth();
        plan.minimumSize = plan.width;
        plan.enumSigned = primitive->GetKind() == RTTI::EPrimitiveKind::SignedInteger;
        for (const EnumSchemaValue& value : stored->mValues)
            if (plan.enumNames.emplace(value.mValue, value.mName).second)
                plan.enumValues.emplace(value.mValue, running.AsEnum()->NameToValue(value.mName));
        break;
    }
    case RTTI::EDataType::Array: {
        plan.minimumSize = 2 * sizeof(uint64_t);
        const ArraySchema* stored = mSchema ? FindRecord(mSchema->mArrays, plan.storedName) : nullptr;
        const RTTI::Type& element = running.AsArray()->GetElementType();
        if (!stored)
            notDescribed();
        else if (!SameEmbeddedType(stored->mEmbeddedType, element))
            describe(EErrorCode::Compatibility, TypeMismatch(stored->mEmbeddedType, element));
        else
            plan.element = &GetPlan(element, stored->mEmbeddedType.mTypeName);
        break;
    }
    case RTTI::EDataType::Set: {
        plan.minimumSize = 2 * sizeof(uint64_t);
        const SetSchema* stored = mSchema ? FindRecord(mSchema->mSets, plan.storedName) : nullptr;
        const RTTI::Type& element = running.AsSet()->GetElementType();
        if (!stored)
            notDescribed();
        else if (!SameEmbeddedType(stored->mValueType, element))
            describe(EErrorCode::Compatibility, TypeMismatch(stored->mValueType, element));
        else
            plan.element = &GetPlan(element, stored->mValueType.mTypeName);
        break;
    }
    case RTTI::EDataType::Map: {
        plan.minimumSize = 2 * sizeof(uint64_t);
        const MapSchema* stored = mSchema ? FindRecord(mSchema->mMaps, plan.storedName) : nullptr;
        const RTTI::Type& key = running.AsMap()->GetKeyType();
        const RTTI::Type& value = running.AsMap()->GetValueType();
        if (!stored)
            notDescribed();
        else if (!SameEmbeddedType(stored->mKeyType, key))
            describe(EErrorCode::Compatibility, TypeMismatch(stored->mKeyType, key));
        else if (!SameEmbeddedType(stored->mValueType, value))
            describe(EErrorCode::Compatibility, TypeMismatch(stored->mValueType, value));
        else {
            plan.element = &GetPlan(key, stored->mKeyType.mTypeName);
            plan.mapped = &GetPlan(value, stored->mValueType.mTypeName);
        }
        break;
    }
    case RTTI::EDataType::Pointer: {
        plan.minimumSize = sizeof(uint64_t) + kNull.size();
        const PointerSchema* stored = mSchema ? FindRecord(mSchema->mPointers, plan.storedName) : nullptr;
        const RTTI::Type& pointee = running.AsPointer()->GetPointeeType();
        if (!stored)
            notDescribed();
        else if (!SameEmbeddedType(stored->mPointeeType, pointee))
            describe(EErrorCode::Compatibility, TypeMismatch(stored->mPointeeType, pointee));
        else if (!pointee.AsCompound())
            plan.element = &GetPlan(pointee, stored->mPointeeType.mTypeName);
        break;
    }
    case RTTI::EDataType::Compound: {
        plan.minimumSize = sizeof(uint64_t);
        plan.compound = &GetClassMapping(plan.storedName, running.AsCompound());
        if (!plan.compound->schema)
            notDescribed();
        break;
    }
    }
}

bool BinaryReader::ReadValue(BufferCursor& cursor, const RTTI::Type& type, std::string_view storedTypeName,
                             void* value, ErrorList& errors)
{
    if (!mSchema) {
        errors.Add(EErrorCode::Corrupt, "The schema was not found");
        return false;
    }
    return ReadPlannedValue(cursor, GetPlan(type, storedTypeName), value, errors);
}

bool BinaryReader::ReadPlannedValue(BufferCursor& cursor, const ValuePlan& plan, void* value,
                                    ErrorList& errors)
{
    if (!plan.error.empty()) {
        errors.Add(plan.errorCode, plan.error);
        return false;
    }
    switch (plan.running->GetDataType()) {
    case RTTI::EDataType::Primitive: {
        if (plan.rawBytes)
            return cursor.ReadBytes(value, plan.width) || ReportShortData(errors, plan.width);
        if (plan.width != 0) { // bool: any non-zero byte is true
            bool flag = false;
            if (!cursor.Read(flag))
                return ReportShortData(errors, 1);
            *static_cast<bool*>(value) = flag;
            return true;
        }
        std::string_view text;
        if (!ReadStoredString(cursor, text, errors))
            return false;
        static_cast<std::string*>(value)->assign(text);
        return true;
    }
    case RTTI::EDataType::Enum:
        return ReadEnum(cursor, plan, value, errors);
    case RTTI::EDataType::Array:
        return ReadArray(cursor, plan, value, errors);
    case RTTI::EDataType::Map:
        return ReadMap(cursor, plan, value, errors);
    case RTTI::EDataType::Set:
        return ReadSet(cursor, plan, value, errors);
    case RTTI::EDataType::Pointer:
        return ReadPointer(cursor, plan, value, errors);
    case RTTI::EDataType::Compound: {
        uint64_t size = 0;
        if (!ReadValueSize(cursor, size, errors))
            return false;
        if (!EnterNesting(errors))
            return false;
        const bool ok = ReadCompoundBody(cursor, *plan.compound, value, cursor.GetPosition(), size, errors);
        --mDepth;
        return ok;
    }
    }
    return false;
}

bool BinaryReader::ReadEnum(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors)
{
    uint64_t number = 0;
    if (!cursor.ReadBytes(&number, plan.width))
        return ReportShortData(errors, plan.width);
    if (plan.enumSigned && plan.width < sizeof(uint64_t)) {
        const uint64_t signBit = 1ull << (plan.width * 8 - 1);
        if (number & signBit)
            number |= ~((signBit << 1) - 1);
    }
    // Values are matched by name, so renumbered values load and renamed ones fail.
    auto translated = plan.enumValues.find(number);
    if (translated == plan.enumValues.end() || !translated->second) {
        const std::string name = translated == plan.enumValues.end()
                                     ? std::string(RTTI::EnumType::kInvalidValueName)
                                     : plan.enumNames.at(number);
        errors.AddFormatted(EErrorCode::Compatibility,
                            "Compatibility issue: enum %s does not contain the value %s anymore.",
                            plan.running->GetName().c_str(), name.c_str());
        return false;
    }
    plan.running->AsEnum()->SetValue(value, *translated->second);
    return true;
}

bool BinaryReader::ReadArray(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors)
{
    uint64_t size = 0;
    uint64_t count = 0;
    if (!ReadValueSize(cursor, size, errors))
        return false;
    const std::size_t start = cursor.GetPosition();
    if (!cursor.Read(count))
        return ReportShortData(errors, sizeof(uint64_t));
    const RTTI::ArrayType& array = *plan.running->AsArray();
    const ValuePlan& element = *plan.element;
    array.Resize(value, 0);
    if (element.rawBytes && element.error.empty()) {
        if (!CountFits(count, cursor, element.width, errors))
            return false;
        array.Resize(value, static_cast<std::size_t>(count));
        if (count > 0)
            cursor.ReadBytes(array.GetData(value), static_cast<std::size_t>(count) * element.width);
    } else {
        if (!CountFits(count, cursor, element.minimumSize, errors))
            return false;
        // Grown as elements arrive, so a count that lies costs no more memory than the data read.
        std::size_t allocated = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i == allocated) {
                allocated = static_cast<std::size_t>(
                    std::min<uint64_t>(count, std::max<std::size_t>(16, allocated * 2)));
                array.Resize(value, allocated);
            }
            if (!ReadPlannedValue(cursor, element, array.GetElement(value, i), errors))
                return false;
        }
    }
    return FinishSizedValue(cursor, start, size, errors);
}

bool BinaryReader::ReadMap(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors)
{
    uint64_t size = 0;
    uint64_t count = 0;
    if (!ReadValueSize(cursor, size, errors))
        return false;
    const std::size_t start = cursor.GetPosition();
    if (!cursor.Read(count))
        return ReportShortData(errors, sizeof(uint64_t));
    if (!CountFits(count, cursor, plan.element->minimumSize + plan.mapped->minimumSize, errors))
        return false;
    const RTTI::MapType& map = *plan.running->AsMap();
    map.Clear(value);
    for (uint64_t i = 0; i < count; ++i)
        if (!map.Insert(value, [&](void* key, void* mapped) {
                return ReadPlannedValue(cursor, *plan.element, key, errors) &&
                       ReadPlannedValue(cursor, *plan.mapped, mapped, errors);
            }))
            return false;
    return FinishSizedValue(cursor, start, size, errors);
}

bool BinaryReader::ReadSet(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors)
{
    uint64_t size = 0;
    uint64_t count = 0;
    if (!ReadValueSize(cursor, size, errors))
        return false;
    const std::size_t start = cursor.GetPosition();
    if (!cursor.Read(count))
        return ReportShortData(errors, sizeof(uint64_t));
    if (!CountFits(count, cursor, plan.element->minimumSize, errors))
        return false;
    const RTTI::SetType& set = *plan.running->AsSet();
    set.Clear(value);
    for (uint64_t i = 0; i < count; ++i)
        if (!set.Insert(value, [&](void* element) {
                return ReadPlannedValue(cursor, *plan.element, element, errors);
            }))
            return false;
    return FinishSizedValue(cursor, start, size, errors);
}

bool BinaryReader::ReadPointer(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors)
{
    std::string_view className;
    if (!ReadStoredString(cursor, className, errors))
        return false;
    const RTTI::PointerType& pointer = *plan.running->AsPointer();
    const RTTI::Type& pointee = pointer.GetPointeeType();
    if (className == kNull) {
        pointer.Set(value, nullptr, pointee);
        return true;
    }
    if (const RTTI::CompoundType* declared = pointee.AsCompound()) {
        ObjectRef read;
        if (!ReadCompoundByName(cursor, className, read, errors))
            return false;
        if (!read.object) { // skipped: its class is not registered
            pointer.Set(value, nullptr, pointee);
            return true;
        }
        // Plain structs have no dynamic type, so only their own class can be stored for them.
        if (!RTTI::IsA(*read.type, *declared) ||
            (!declared->IsObjectClass() && !read.type->IsSameAs(*declared))) {
            errors.AddFormatted(
                EErrorCode::Compatibility,
                "Compatibility issue: object of type %s used to be derived from %s but isn't anymore",
                read.type->GetName().c_str(), declared->GetName().c_str());
            read.type->Destroy(read.object);
            return false;
        }
        pointer.Set(value, read.object, *read.type);
        return true;
    }
    void* object = mFactory.Create(pointee);
    if (!object) {
        errors.AddFormatted(EErrorCode::Corrupt, "Failed to instantiate object of type %s.",
                            pointee.GetName().c_str());
        return false;
    }
    if (!ReadPlannedValue(cursor, *plan.element, object, errors)) {
        pointee.Destroy(object);
        return false;
    }
    pointer.Set(value, object, pointee);
    return true;
}

bool BinaryReader::ReadCompoundByName(BufferCursor& cursor, std::string_view storedName, ObjectRef& outObject,
                                      ErrorList& errors)
{
    uint64_t size = 0;
    if (!ReadValueSize(cursor, size, errors))
        return false;
    const std::size_t start = cursor.GetPosition();
    ClassMapping& mapping = GetClassMapping(storedName, nullptr);
    if (!mapping.found) {
        if (mMode == EReadMode::SkipUnknownTypes) {
            cursor.SetPosition(start + size);
            outObject = {};
            return true;
        }
        errors.AddFormatted(EErrorCode::Compatibility, "The type %s was not registered into the system",
                            mapping.storedName.c_str());
        return false;
    }
    if (!mapping.running) {
        errors.AddFormatted(EErrorCode::Compatibility,
                            "Compatibility issue: Object %s used to be a compound, but is now of type %s",
                            mapping.storedName.c_str(), mapping.found->GetName().c_str());
        return false;
    }
    if (!mapping.schema) {
        errors.AddFormatted(EErrorCode::Corrupt, "The schema does not describe type %s",
                            mapping.storedName.c_str());
        return false;
    }
    if (!EnterNesting(errors))
        return false;
    struct DepthExit {
        int& depth;
        ~DepthExit() { --depth; }
    } depthExit{mDepth};

    if (mapping.handler && mapping.running->IsObjectClass()) {
        std::unique_ptr<RTTI::Object> replacement;
        if (!mapping.handler->ReadReplacementObject(*this, cursor, *mapping.running, mapping.storedName,
                                                    *mapping.schema, replacement, errors))
            return false;
        if (replacement) {
            MarkUsed(mapping.handler);
            cursor.SetPosition(start + size);
            const RTTI::CompoundType& type = replacement->GetType();
            outObject = {type.FromObject(replacement.release()), &type};
            return true;
        }
        cursor.SetPosition(start);
    }

    void* object = mFactory.Create(*mapping.running);
    if (!object) {
        errors.AddFormatted(EErrorCode::Corrupt, "Failed to instantiate object of type %s.",
                            mapping.running->GetName().c_str());
        return false;
    }
    if (!ReadCompoundBody(cursor, mapping, object, start, size, errors)) {
        mapping.running->Destroy(object);
        return false;
    }
    outObject = {object, mapping.running};
    return true;
}

bool BinaryReader::ReadCompoundBody(BufferCursor& cursor, ClassMapping& mapping, void* object,
                                    std::size_t start, uint64_t size, ErrorList& errors)
{
    const uint32_t storedVersion = static_cast<uint32_t>(mapping.schema->mVersion);
    const uint32_t runningVersion = mapping.running->GetVersion();
    if (runningVersion < storedVersion) {
        errors.AddFormatted(
            EErrorCode::NewerVersion,
            "Compatibility issue: File contains object of type %s that has a newer version number (%X) "
            "than the runtime (%X)",
            mapping.storedName.c_str(), storedVersion, runningVersion);
        return false;
    }
    if (runningVersion != storedVersion && !mapping.handler) {
        errors.AddFormatted(
            EErrorCode::Compatibility,
            "Compatibility issue: Version number of object of type %s has changed from %X to %X",
            mapping.storedName.c_str(), storedVersion, runningVersion);
        return false;
    }
    for (ClassMapping::PropertyMapping& property : mapping.properties) {
        if (property.running) {
            if (!property.typeMatches) {
                errors.AddFormatted(EErrorCode::Compatibility,
                                    "Compatibility issue: Property %s has switched from type %s to type %s. "
                                    "This is not supported.",
                                    property.stored->mName.c_str(), property.stored->mType.mTypeName.c_str(),
                                    property.running->GetType().GetName().c_str());
                return false;
            }
            if (!property.plan)
                property.plan = &GetPlan(property.running->GetType(), property.stored->mType.mTypeName);
            if (!ReadPlannedValue(cursor, *property.plan, property.running->GetAddress(object), errors))
                return false;
            continue;
        }
        const std::size_t valueStart = cursor.GetPosition();
        if (mapping.handler && !mapping.handler->ReadRemovedProperty(*this, cursor, object, *mapping.schema,
                                                                     *property.stored, errors))
            return false;
        cursor.SetPosition(valueStart);
        if (!SkipValue(cursor, property.stored->mType, errors))
            return false;
    }
    if (!FinishSizedValue(cursor, start, size, errors))
        return false;
    if (mapping.handler) {
        if (!mapping.handler->FinishObject(object, *mapping.schema, errors))
            return false;
        MarkUsed(mapping.handler);
    }
    return true;
}

std::size_t BinaryReader::GetPrimitiveWidth(std::string_view typeName) const
{
    const RTTI::Type* type = mRegistry.FindType(typeName);
    const RTTI::PrimitiveType* primitive = type ? type->AsPrimitive() : nullptr;
    if (primitive)
        return primitive->GetWidth();
    for (const RTTI::PrimitiveType* builtin :
         {&RTTI::Primitives::Bool(), &RTTI::Primitives::Int8(), &RTTI::Primitives::UInt8(),
          &RTTI::Primitives::Int16(), &RTTI::Primitives::UInt16(), &RTTI::Primitives::Int32(),
          &RTTI::Primitives::UInt32(), &RTTI::Primitives::Int64(), &RTTI::Primitives::UInt64(),
          &RTTI::Primitives::Float(), &RTTI::Primitives::Double()})
        if (builtin->GetName() == typeName)
            return builtin->GetWidth();
    return 0;
}

bool BinaryReader::SkipValue(BufferCursor& cursor, const TypeSchema& storedType, ErrorList& errors)
{
    return SkipValueAtDepth(cursor, storedType, 0, errors);
}

bool BinaryReader::SkipValueAtDepth(BufferCursor& cursor, const TypeSchema& storedType, int depth,
                                    ErrorList& errors)
{
    // Skips are clamped to the buffer: a size that runs past the end moves to the end.
    switch (static_cast<RTTI::EDataType>(storedType.mDataType)) {
    case RTTI::EDataType::Compound:
    case RTTI::EDataType::Array:
    case RTTI::EDataType::Map:
    case RTTI::EDataType::Set: {
        uint64_t size = 0;
        if (!cursor.Read(size))
            return ReportShortData(errors, sizeof(uint64_t));
        cursor.Skip(size);
        return true;
    }
    case RTTI::EDataType::Primitive: {
        if (storedType.mTypeName == RTTI::Primitives::String().GetName()) {
            uint64_t length = 0;
            if (!cursor.Read(length))
                return ReportShortData(errors, sizeof(uint64_t));
            cursor.Skip(length);
            return true;
        }
        const std::size_t width = GetPrimitiveWidth(storedType.mTypeName);
        if (width == 0) {
            errors.AddFormatted(EErrorCode::Compatibility, "The type %s was not registered into the system",
                                storedType.mTypeName.c_str());
            return false;
        }
        cursor.Skip(width);
        return true;
    }
    case RTTI::EDataType::Enum: {
        const EnumSchema* stored = mSchema ? FindRecord(mSchema->mEnums, storedType.mTypeName) : nullptr;
        const std::size_t width = stored ? GetPrimitiveWidth(stored->mSizeType.mTypeName) : 0;
        if (width == 0) {
            errors.AddFormatted(EErrorCode::Corrupt, "Unable to retrieve enum size type for type %s",
                                storedType.mTypeName.c_str());
            return false;
        }
        cursor.Skip(width);
        return true;
    }
    case RTTI::EDataType::Pointer: {
        std::string_view className;
        if (!ReadStoredString(cursor, className, errors))
            return false;
        if (className == kNull)
            return true;
        const PointerSchema* stored =
            mSchema ? FindRecord(mSchema->mPointers, storedType.mTypeName) : nullptr;
        if (stored && stored->mPointeeType.mDataType != static_cast<uint8_t>(RTTI::EDataType::Compound)) {
            if (depth >= kMaxNestingDepth) {
                errors.AddFormatted(EErrorCode::Corrupt,
                                    "The buffer is corrupt: objects are nested deeper than %d levels",
                                    kMaxNestingDepth);
                return false;
            }
            return SkipValueAtDepth(cursor, stored->mPointeeType, depth + 1, errors);
        }
        uint64_t size = 0;
        if (!cursor.Read(size))
            return ReportShortData(errors, sizeof(uint64_t));
        cursor.Skip(size);
        return true;
    }
    }
    errors.AddFormatted(EErrorCode::Corrupt, "The buffer is corrupt: unknown data type %d of type %s",
                        static_cast<int>(storedType.mDataType), storedType.mTypeName.c_str());
    return false;
}

} // namespace Serialization
