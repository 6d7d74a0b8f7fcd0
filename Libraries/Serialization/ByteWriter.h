#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

namespace Serialization {

/// Appends little-endian values to a byte vector; sizes written ahead of their contents are
/// reserved and patched afterwards.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& bytes) : mBytes(bytes) {}

    std::size_t GetPosition() const { return mBytes.size(); }

    void WriteBytes(const void* data, std::size_t size)
    {
        if (size == 0)
            return;
        const std::size_t offset = mBytes.size();
        mBytes.resize(offset + size);
        std::memcpy(mBytes.data() + offset, data, size);
    }

    template <class T>
    requires std::is_arithmetic_v<T>
    void Write(T value)
    {
        if constexpr (std::is_same_v<T, bool>) {
            const uint8_t byte = value ? 1 : 0;
            WriteBytes(&byte, 1);
        } else {
            WriteBytes(&value, sizeof(T));
        }
    }

    void WriteString(std::string_view text)
    {
        Write<uint64_t>(text.size());
        WriteBytes(text.data(), text.size());
    }

    /// Reserves a u64 size and returns where it is.
    std::size_t ReserveSize()
    {
        const std::size_t position = mBytes.size();
        Write<uint64_t>(0);
        return position;
    }

    /// Stores the number of bytes written after the reserved size.
    void PatchSize(std::size_t position)
    {
        const uint64_t size = mBytes.size() - position - sizeof(uint64_t);
        std::memcpy(mBytes.data() + position, &size, sizeof(size));
    }

private:
    std::vector<uint8_t>& mBytes;
};

} // namespace Serialization
