#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace Profiler {

/// Reads little-endian fields from a byte span. A read past the end fails and leaves the reader
/// failed; nothing is read after that.
class RecordReader {
public:
    explicit RecordReader(std::span<const uint8_t> data) : mData(data) {}

    template <class T>
    requires std::is_arithmetic_v<T>
    bool Read(T& value)
    {
        const uint8_t* bytes = Take(sizeof(T));
        if (bytes == nullptr)
            return false;
        value = LoadLittleEndian<T>(bytes);
        return true;
    }

    /// The next `size` bytes, or null (and failed) when fewer remain.
    const uint8_t* Take(std::size_t size)
    {
        if (mFailed || size > mData.size() - mOffset) {
            mFailed = true;
            return nullptr;
        }
        const uint8_t* bytes = mData.data() + mOffset;
        mOffset += size;
        return bytes;
    }

    std::size_t GetRemaining() const { return mData.size() - mOffset; }
    std::size_t GetOffset() const { return mOffset; }
    bool HasFailed() const { return mFailed; }

    template <class T> static T LoadLittleEndian(const uint8_t* source)
    {
        T value;
        if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
            uint8_t bytes[sizeof(T)];
            for (std::size_t i = 0; i < sizeof(T); ++i)
                bytes[i] = source[sizeof(T) - 1 - i];
            std::memcpy(&value, bytes, sizeof(T));
        } else {
            std::memcpy(&value, source, sizeof(T));
        }
        return value;
    }

private:
    std::span<const uint8_t> mData;
    std::size_t mOffset = 0;
    bool mFailed = false;
};

} // namespace Profiler
