#include "Serialization/BinaryMemoryStreamReader.h"

#include "Serialization/BinaryFormat.h"
#include "Utility/Assert.h"

namespace Serialization {

bool BinaryMemoryStreamReader::Open(std::span<const uint8_t> buffer, ErrorList& errors)
{
    mOpen = false;
    if (buffer.size() < kBinaryHeaderSize) {
        errors.Add(EErrorCode::NotThisFormat, "The buffer is not a Quasarix buffer, or it is corrupted");
        return false;
    }
    BufferCursor cursor(buffer);
    if (!CheckHeader(cursor, errors))
        return false;
    uint64_t blockSize = 0;
    if (!cursor.Read(blockSize))
        return ReportShortData(errors, sizeof(uint64_t));
    if (blockSize < sizeof(uint64_t)) {
        errors.Add(EErrorCode::Corrupt, "The buffer is corrupt: unable to read header");
        return false;
    }
    if (!ParseSchemaBlock(cursor, blockSize, errors))
        return false;
    mDataStart = cursor.GetPosition();
    mBuffer = buffer;
    mOpen = true;
    return true;
}

bool BinaryMemoryStreamReader::ReadAll(std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                                       ErrorList& errors)
{
    if (!QX_ASSERT(mOpen, "ReadAll on a reader that is not open"))
        return false;
    return ReadDataArea(mBuffer.subspan(static_cast<std::size_t>(mDataStart)), outObjects, errors);
}

std::unique_ptr<RTTI::Object> BinaryMemoryStreamReader::ReadObject(const RTTI::CompoundType& type,
                                                                   ErrorList& errors)
{
    if (!QX_ASSERT(mOpen, "ReadObject on a reader that is not open"))
        return nullptr;
    const ObjectTableEntry* entry = FindEntry(type);
    if (!entry)
        return nullptr;
    const std::span<const uint8_t> dataArea = mBuffer.subspan(static_cast<std::size_t>(mDataStart));
    if (entry->offset > dataArea.size()) {
        errors.Add(EErrorCode::Corrupt, "Failed to read object. File appears to be truncated.");
        return nullptr;
    }
    const std::span<const uint8_t> rest = dataArea.subspan(static_cast<std::size_t>(entry->offset));
    return ReadEntry(
        *entry, rest.first(static_cast<std::size_t>(std::min<uint64_t>(entry->size, rest.size()))), errors);
}

} // namespace Serialization
