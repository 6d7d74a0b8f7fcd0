#include "Serialization/BinaryFileReader.h"

#include "Serialization/BinaryFormat.h"
#include "Utility/Assert.h"
#include "Utility/Crc64.h"

#include <xxhash.h>

namespace Serialization {

bool BinaryFileReader::ReadBytes(uint64_t offset, uint64_t size, std::vector<uint8_t>& out, ErrorList& errors)
{
    if (offset > mFileSize || size > mFileSize - offset) {
        errors.Add(EErrorCode::Corrupt, "There was an error reading from file");
        return false;
    }
    out.resize(static_cast<std::size_t>(size));
    mStream.clear();
    mStream.seekg(static_cast<std::streamoff>(offset));
    if (size > 0)
        mStream.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    if (!mStream || static_cast<uint64_t>(mStream.gcount()) != size) {
        errors.Add(EErrorCode::Corrupt, "There was an error reading from file");
        return false;
    }
    return true;
}

bool BinaryFileReader::Open(const std::filesystem::path& path, ErrorList& errors)
{
    ErrorList::ContextScope context(errors, path.string());
    mOpen = false;
    mPath = path.string();
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        errors.AddFormatted(EErrorCode::FileNotFound, "The file %s does not exist", mPath.c_str());
        return false;
    }
    mFileSize = std::filesystem::file_size(path, error);
    if (error) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to determine size of file %s", mPath.c_str());
        return false;
    }
    mStream.open(path, std::ios::binary);
    if (!mStream) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to open file %s for reading", mPath.c_str());
        return false;
    }
    if (mFileSize < kBinaryHeaderSize) {
        errors.AddFormatted(EErrorCode::Corrupt,
                            "The file is corrupt: expected %lld bytes available for reading",
                            static_cast<long long>(kBinaryHeaderSize));
        return false;
    }
    std::vector<uint8_t> header;
    if (!ReadBytes(0, kBinaryHeaderSize, header, errors))
        return false;
    BufferCursor headerCursor(header);
    if (!CheckHeader(headerCursor, errors))
        return false;
    if (IsLegacy()) {
        mOpen = true;
        return true;
    }
    std::vector<uint8_t> sizeField;
    if (!ReadBytes(kBinaryHeaderSize, sizeof(uint64_t), sizeField, errors))
        return false;
    uint64_t blockSize = 0;
    std::memcpy(&blockSize, sizeField.data(), sizeof(blockSize));
    if (blockSize < sizeof(uint64_t)) {
        errors.Add(EErrorCode::Corrupt, "The file is corrupt: unable to read header");
        return false;
    }
    const uint64_t blockStart = kBinaryHeaderSize + sizeof(uint64_t);
    std::vector<uint8_t> block;
    if (!ReadBytes(blockStart, blockSize, block, errors))
        return false;
    BufferCursor blockCursor(block);
    if (!ParseSchemaBlock(blockCursor, blockSize, errors))
        return false;
    mDataStart = blockStart + blockSize;
    mOpen = true;
    return true;
}

bool BinaryFileReader::ReadAll(std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors)
{
    if (!QX_ASSERT(mOpen, "ReadAll on a reader that is not open"))
        return false;
    ErrorList::ContextScope context(errors, mPath);
    if (IsLegacy())
        return ReadLegacy(outObjects, errors);
    std::vector<uint8_t> dataArea;
    if (!ReadBytes(mDataStart, mFileSize - mDataStart, dataArea, errors))
        return false;
    return ReadDataArea(dataArea, outObjects, errors);
}

bool BinaryFileReader::ReadLegacy(std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors)
{
    constexpr uint64_t kChecksumSize = sizeof(uint64_t);
    if (mFileSize < kBinaryHeaderSize + kChecksumSize) {
        errors.AddFormatted(EErrorCode::Corrupt,
                            "The file is corrupt: expected %lld bytes available for reading",
                            static_cast<long long>(kBinaryHeaderSize + kChecksumSize));
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadBytes(0, mFileSize, bytes, errors))
        return false;
    const std::size_t checkedSize = bytes.size() - kChecksumSize;
    uint64_t storedChecksum = 0;
    std::memcpy(&storedChecksum, bytes.data() + checkedSize, sizeof(storedChecksum));
    // Version 1 files carry a CRC-64, version 2 files an XXH64.
    const uint64_t checksum =
        GetVersion() == 1 ? Utility::Crc64(bytes.data(), checkedSize) : XXH64(bytes.data(), checkedSize, 0);
    if (checksum != storedChecksum) {
        errors.Add(EErrorCode::Corrupt, "The buffer is possibly corrupted: CRC check failed");
        return false;
    }
    BufferCursor cursor(bytes.data(), checkedSize, kBinaryHeaderSize);
    if (!ParseSchemaText(cursor, errors))
        return false;
    return ReadRoots(cursor, outObjects, errors);
}

std::unique_ptr<RTTI::Object> BinaryFileReader::ReadObject(const RTTI::CompoundType& type, ErrorList& errors)
{
    if (!QX_ASSERT(mOpen, "ReadObject on a reader that is not open"))
        return nullptr;
    ErrorList::ContextScope context(errors, mPath);
    const ObjectTableEntry* entry = FindEntry(type);
    if (!entry)
        return nullptr;
    std::vector<uint8_t> record;
    if (entry->offset > mFileSize - mDataStart) {
        errors.Add(EErrorCode::Corrupt, "There was an error reading from file");
        return nullptr;
    }
    if (!ReadBytes(mDataStart + entry->offset, entry->size, record, errors))
        return nullptr;
    return ReadEntry(*entry, record, errors);
}

} // namespace Serialization
