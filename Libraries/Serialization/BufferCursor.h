#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace Serialization {

/// A read position over a caller-owned byte buffer. Reads are little-endian and bounds-checked:
/// a read that does not fit fails and leaves the position unchanged; moves are clamped so the
/// position never passes the end.
class BufferCursor {
public:
    BufferCursor() = default;
    BufferCursor(const uint8_t* data, std::size_t size, std::size_t position = 0)
        : mData(data), mSize(size), mPosition(position <= size ? position : size)
    {}
    explicit BufferCursor(std::span<const uint8_t> bytes) : BufferCursor(bytes.data(), bytes.size()) {}

    const uint8_t* GetData() const { return mData; }
    std::size_t GetSize() const { return mSize; }
    std::size_t GetPosition() const { return mPosition; }
    std::size_t GetRemaining() const { return mSize - mPosition; }
    const uint8_t* GetCurrent() const { return mData + mPosition; }

    /// Moves to `position`, at most to the end.
    void SetPosition(uint64_t position)
    {
        mPosition = position < mSize ? static_cast<std::size_t>(position) : mSize;
    }
    /// Moves forward by `count` bytes, at most to the end.
    void Skip(uint64_t count)
    {
        mPosition += count < GetRemaining() ? static_cast<std::size_t>(count) : GetRemaining();
    }

    bool ReadBytes(void* out, std::size_t count)
    {
        if (count > GetRemaining())
            return false;
        if (count > 0)
            std::memcpy(out, mData + mPosition, count);
        mPosition += count;
        return true;
    }

    /// A number, bool (any non-zero byte is true) or enum in its little-endian encoding.
    template <class T>
    requires std::is_arithmetic_v<T> || std::is_enum_v<T>
    bool Read(T& value)
    {
        if constexpr (std::is_same_v<T, bool>) {
            uint8_t byte = 0;
            if (!ReadBytes(&byte, 1))
                return false;
            value = byte != 0;
            return true;
        } else {
            return ReadBytes(&value, sizeof(T));
        }
    }

    /// A u64 length followed by that many bytes.
    bool ReadString(std::string& text)
    {
        std::string_view view;
        if (!ReadStringView(view))
            return false;
        text.assign(view);
        return true;
    }

    /// Like ReadString, pointing into the buffer.
    bool ReadStringView(std::string_view& text)
    {
        const std::size_t start = mPosition;
        uint64_t length = 0;
        if (!Read(length))
            return false;
        if (length > GetRemaining()) {
            mPosition = start;
            return false;
        }
        text = std::string_view(reinterpret_cast<const char*>(mData + mPosition),
                                static_cast<std::size_t>(length));
        mPosition += static_cast<std::size_t>(length);
        return true;
    }

private:
    const uint8_t* mData = nullptr; // not owned
    std::size_t mSize = 0;
    std::size_t mPosition = 0;
};

static_assert(std::endian::native == std::endian::little,
              "the object file formats assume a little-endian host");

} // namespace Serialization
