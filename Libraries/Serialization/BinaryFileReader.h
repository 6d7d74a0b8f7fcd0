#pragma once

#include "Serialization/BinaryReader.h"

#include <filesystem>
#include <fstream>

namespace Serialization {

/// Reads a binary object file: the current layout (versions 3 and 4) and the legacy one
/// (versions 1 and 2, checked and read in one pass by ReadAll). Every operation reports with the
/// file path as error context; the file is never modified.
class BinaryFileReader final : public BinaryReader {
public:
    BinaryFileReader(EReadMode mode, const RTTI::Registry& registry, const RTTI::ObjectFactory& factory,
                     const CompatibilityHandlerMap& handlers)
        : BinaryReader(mode, registry, factory, handlers)
    {}

    /// Checks the header and, for the current layout, the schema block, and parses the schema.
    bool Open(const std::filesystem::path& path, ErrorList& errors);
    /// Verifies every object, then reads all roots in file order; nothing is appended on failure.
    bool ReadAll(std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors);
    /// Reads only the first root whose table entry names `type` or a class derived from it;
    /// null when there is none (always for legacy files), when it is skipped, or on failure.
    std::unique_ptr<RTTI::Object> ReadObject(const RTTI::CompoundType& type, ErrorList& errors);
    template <class T> std::unique_ptr<T> ReadObject(ErrorList& errors)
    {
        return std::unique_ptr<T>(static_cast<T*>(ReadObject(T::StaticType(), errors).release()));
    }

private:
    bool ReadBytes(uint64_t offset, uint64_t size, std::vector<uint8_t>& out, ErrorList& errors);
    bool ReadLegacy(std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors);
    bool IsLegacy() const { return GetVersion() < 3; }

    std::ifstream mStream;
    std::string mPath;
    uint64_t mFileSize = 0;
    bool mOpen = false;
};

} // namespace Serialization
