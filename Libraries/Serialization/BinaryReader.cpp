#include "Serialization/BinaryReader.h"

#include "Serialization/BinaryFormat.h"
#include "Serialization/BinaryReadPlan.h"
#include "Serialization/Json.h"

#include <limits>
#include <xxhash.h>

namespace Serialization {
namespace {

// A root record holds at least its class name's length and the object's size.
constexpr uint64_t kMinimumRootRecordSize = 16;
// A table entry holds at least a name length, offset, size and chunk count; a chunk three u64s.
constexpr uint64_t kMinimumTableEntrySize = 32;
constexpr uint64_t kChunkDescriptorSize = 24;

uint64_t SaturatingProduct(uint64_t a, uint64_t b)
{
    return b != 0 && a > std::numeric_limits<uint64_t>::max() / b ? std::numeric_limits<uint64_t>::max()
                                                                  : a * b;
}

} // namespace

BinaryReader::BinaryReader(EReadMode mode, const RTTI::Registry& registry, const RTTI::ObjectFactory& factory,
                           const CompatibilityHandlerMap& handlers)
    : mMagic(kBinaryMagic), mVersion(kBinaryVersion), mMode(mode), mRegistry(registry), mFactory(factory),
      mHandlers(handlers), mPlans(std::make_unique<Plans>())
{}

BinaryReader::~BinaryReader() = default;

bool BinaryReader::ReportShortData(ErrorList& errors, uint64_t needed)
{
    errors.AddFormatted(
        EErrorCode::Corrupt, "The buffer is corrupt: expected %lld bytes available for reading",
        static_cast<long long>(std::min<uint64_t>(needed, std::numeric_limits<int64_t>::max())));
    return false;
}

bool BinaryReader::CheckHeader(BufferCursor& cursor, ErrorList& errors)
{
    if (!cursor.Read(mMagic) || !cursor.Read(mVersion)) {
        errors.Add(EErrorCode::Corrupt, "The file is not a Quasarix file, or it is corrupted");
        return false;
    }
    if (mMagic != kBinaryMagic) {
        errors.Add(EErrorCode::NotThisFormat, "The file is not a Quasarix file, or it is corrupted");
        return false;
    }
    if (mVersion < kOldestBinaryVersion || mVersion > kBinaryVersion) {
        errors.AddFormatted(EErrorCode::NewerVersion, "The file has an unsupported version number (%d)",
                            static_cast<int>(mVersion));
        return false;
    }
    return true;
}

bool BinaryReader::ParseSchemaBlock(BufferCursor& cursor, uint64_t blockSize, ErrorList& errors)
{
    if (blockSize > cursor.GetRemaining())
        return ReportShortData(errors, blockSize);
    const uint8_t* block = cursor.GetCurrent();
    const std::size_t checkedSize = static_cast<std::size_t>(blockSize) - sizeof(uint64_t);
    uint64_t storedChecksum = 0;
    std::memcpy(&storedChecksum, block + checkedSize, sizeof(storedChecksum));
    if (XXH64(block, checkedSize, 0) != storedChecksum) {
        errors.Add(EErrorCode::Corrupt, "The buffer is corrupted: checksum check failed");
        return false;
    }

    BufferCursor inner(block, checkedSize);
    if (!ParseSchemaText(inner, errors))
        return false;
    uint64_t entryCount = 0;
    if (!inner.Read(entryCount))
        return ReportShortData(errors, sizeof(uint64_t));
    if (entryCount > inner.GetRemaining() / kMinimumTableEntrySize)
        return ReportShortData(errors, SaturatingProduct(entryCount, kMinimumTableEntrySize));
    mTable.clear();
    mTable.reserve(static_cast<std::size_t>(entryCount));
    for (uint64_t i = 0; i < entryCount; ++i) {
        ObjectTableEntry entry;
        uint64_t chunkCount = 0;
        if (!inner.ReadString(entry.typeName) || !inner.Read(entry.offset) || !inner.Read(entry.size) ||
            !inner.Read(chunkCount))
            return ReportShortData(errors, kMinimumTableEntrySize);
        if (chunkCount > inner.GetRemaining() / kChunkDescriptorSize)
            return ReportShortData(errors, SaturatingProduct(chunkCount, kChunkDescriptorSize));
        entry.chunks.resize(static_cast<std::size_t>(chunkCount));
        for (ChunkChecksum& chunk : entry.chunks)
            if (!inner.Read(chunk.offset) || !inner.Read(chunk.size) || !inner.Read(chunk.checksum))
                return ReportShortData(errors, kChunkDescriptorSize);
        mTable.push_back(std::move(entry));
    }
    cursor.Skip(blockSize);
    return true;
}

bool BinaryReader::ParseSchemaText(BufferCursor& cursor, ErrorList& errors)
{
    std::string_view text;
    if (!cursor.ReadStringView(text))
        return ReportShortData(errors, sizeof(uint64_t));
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!ReadJson(text, mRegistry, RTTI::GetDefaultObjectFactory(), roots, errors))
        return false;
    for (auto& root : roots)
        if (RTTI::IsA(root->GetType(), Schema::StaticType())) {
            mSchema.reset(static_cast<Schema*>(root.release()));
            break;
        }
    if (!mSchema) {
        errors.Add(EErrorCode::Corrupt, "The schema was not found");
        return false;
    }
    for (auto& [name, compound] : mSchema->mCompounds)
        if (compound)
            compound->mName = name;
    // The mapping of stored classes onto running ones is worked out once, up front.
    for (auto& [name, compound] : mSchema->mCompounds)
        GetClassMapping(name, nullptr);
    return true;
}

bool BinaryReader::VerifyChunks(const ObjectTableEntry& entry, const uint8_t* record, uint64_t available,
                                ErrorList& errors) const
{
    for (const ChunkChecksum& chunk : entry.chunks) {
        if (chunk.offset > available || chunk.size > available - chunk.offset) {
            errors.Add(EErrorCode::Corrupt, "Failed to read object. File appears to be truncated.");
            return false;
        }
        if (XXH64(record + chunk.offset, static_cast<std::size_t>(chunk.size), 0) != chunk.checksum) {
            errors.Add(EErrorCode::Corrupt, "Failed to read object. Checksum mismatch.");
            return false;
        }
    }
    return true;
}

bool BinaryReader::ReadDataArea(std::span<const uint8_t> dataArea,
                                std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors)
{
    // Every object is verified before any is decoded.
    for (const ObjectTableEntry& entry : mTable) {
        if (entry.offset > dataArea.size()) {
            errors.Add(EErrorCode::Corrupt, "Failed to read object. File appears to be truncated.");
            return false;
        }
        if (!VerifyChunks(entry, dataArea.data() + entry.offset, dataArea.size() - entry.offset, errors))
            return false;
    }
    BufferCursor cursor(dataArea);
    return ReadRoots(cursor, outObjects, errors);
}

bool BinaryReader::ReadRoots(BufferCursor& cursor, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                             ErrorList& errors)
{
    uint64_t storedCount = 0;
    if (!cursor.Read(storedCount))
        return ReportShortData(errors, sizeof(uint64_t));
    const uint32_t count = static_cast<uint32_t>(storedCount); // the count is a 32-bit number
    if (count > cursor.GetRemaining() / kMinimumRootRecordSize)
        return ReportShortData(errors, SaturatingProduct(count, kMinimumRootRecordSize));
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    roots.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<RTTI::Object> root;
        // A skipped root (unknown class) ends the read as a failure without an error record.
        if (ReadRootRecord(cursor, root, errors) != ERootResult::Read)
            return false;
        roots.push_back(std::move(root));
    }
    for (auto& root : roots)
        outObjects.push_back(std::move(root));
    return true;
}

BinaryReader::ERootResult BinaryReader::ReadRootRecord(BufferCursor& cursor,
                                                       std::unique_ptr<RTTI::Object>& outObject,
                                                       ErrorList& errors)
{
    mUsedHandlers.clear();
    std::string_view className;
    if (!cursor.ReadStringView(className)) {
        ReportShortData(errors, sizeof(uint64_t));
        return ERootResult::Failed;
    }
    if (className == "null") {
        errors.Add(EErrorCode::Corrupt, "Encountered null root object");
        return ERootResult::Failed;
    }
    ObjectRef read;
    if (!ReadCompoundByName(cursor, className, read, errors))
        return ERootResult::Failed;
    if (!read.object)
        return ERootResult::Skipped;
    if (!read.type->IsObjectClass()) {
        read.type->Destroy(read.object);
        errors.Add(EErrorCode::Corrupt, "Root objects must be of type RTTI::Object");
        return ERootResult::Failed;
    }
    std::unique_ptr<RTTI::Object> root(read.type->ToObject(read.object));
    for (CompatibilityHandler* handler : mUsedHandlers)
        if (!handler->FinishRootObject(*root, errors))
            return ERootResult::Failed;
    outObject = std::move(root);
    return ERootResult::Read;
}

const BinaryReader::ObjectTableEntry* BinaryReader::FindEntry(const RTTI::CompoundType& type) const
{
    for (const ObjectTableEntry& entry : mTable) {
        const RTTI::Type* found = mRegistry.FindType(entry.typeName);
        if (found && found->AsCompound() && RTTI::IsA(*found, type))
            return &entry;
    }
    return nullptr;
}

bool BinaryReader::Contains(const RTTI::CompoundType& type) const
{
    return FindEntry(type) != nullptr;
}

std::unique_ptr<RTTI::Object> BinaryReader::ReadEntry(const ObjectTableEntry& entry,
                                                      std::span<const uint8_t> record, ErrorList& errors)
{
    if (!VerifyChunks(entry, record.data(), record.size(), errors))
        return nullptr;
    BufferCursor cursor(record);
    std::unique_ptr<RTTI::Object> object;
    ReadRootRecord(cursor, object, errors);
    return object;
}

} // namespace Serialization
