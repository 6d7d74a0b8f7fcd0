#include "System/Platform/MappedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace System::Platform {

MappedFile::~MappedFile()
{
    if (mData != nullptr)
        munmap(const_cast<uint8_t*>(mData), mSize);
}

bool MappedFile::Open(const std::filesystem::path& path, std::string& error)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        error = std::strerror(errno);
        close(descriptor);
        return false;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* data = size > 0 ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0) : nullptr;
    const int mapError = errno;
    close(descriptor); // the mapping keeps the file
    if (data == MAP_FAILED) {
        error = std::strerror(mapError);
        return false;
    }
    mData = static_cast<const uint8_t*>(data);
    mSize = size;
    return true;
}

} // namespace System::Platform
