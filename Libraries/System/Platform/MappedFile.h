#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// A whole file mapped read-only into memory: pages are read when first touched, so opening a
// large file costs only what is later looked at.

namespace System::Platform {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    /// Maps the file; false with the system's reason in `error`. An empty file maps to no bytes.
    bool Open(const std::filesystem::path& path, std::string& error);

    const uint8_t* GetData() const { return mData; }
    std::size_t GetSize() const { return mSize; }

private:
    const uint8_t* mData = nullptr;
    std::size_t mSize = 0;
};

} // namespace System::Platform
