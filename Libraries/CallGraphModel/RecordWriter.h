#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace Profiler {

/// Appends little-endian fields to a caller-owned byte buffer, so one buffer can be reused for
/// record after record.
class RecordWriter {
public:
    explicit RecordWriter(std::vector<uint8_t>& buffer) : mBuffer(buffer) {}

    template <class T>
    requires std::is_arithmetic_v<T>
    void Write(T value) { StoreLittleEndian(Extend(sizeof(T)), value); }

    void WriteBytes(const void* data, std::size_t size) { std::memcpy(Extend(size), data, size); }

    /// Appends `size` bytes and returns where they start; valid until the next write.
    uint8_t* Extend(std::size_t size)
    {
        const std::size_t offset = mBuffer.size();
        mBuffer.resize(offset + size);
        return mBuffer.data() + offset;
    }

    /// Reserves one byte to be filled in later with PatchByte.
    std::size_t ReserveByte()
    {
        mBuffer.push_back(0);
        return mBuffer.size() - 1;
    }
    void PatchByte(std::size_t offset, uint8_t value) { mBuffer[offset] = value; }

    std::size_t GetSize() const { return mBuffer.size(); }
    std::vector<uint8_t>& GetBuffer() { return mBuffer; }

    template <class T> static void StoreLittleEndian(uint8_t* destination, T value)
    {
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
            uint8_t bytes[sizeof(T)];
            std::memcpy(bytes, &value, sizeof(T));
            for (std::size_t i = 0; i < sizeof(T); ++i)
                destination[i] = bytes[sizeof(T) - 1 - i];
        } else {
            std::memcpy(destination, &value, sizeof(T));
        }
    }

private:
    std::vector<uint8_t>& mBuffer; // not owned
};

} // namespace Profiler
