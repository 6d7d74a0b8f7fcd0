#pragma once

#include <cstddef>
#include <memory>

namespace System {

/// A byte buffer that only grows: each thread formats its log lines in one, so the steady path
/// allocates nothing.
class LogBuffer {
public:
    /// Grows the buffer to exactly `size` bytes when it is smaller, keeping its contents; the
    /// capacity grows by at least half its former value so that slowly longer lines do not
    /// reallocate every time.
    void EnsureSize(std::size_t size);

    char* GetData() { return mData.get(); }
    std::size_t GetSize() const { return mSize; }
    std::size_t GetCapacity() const { return mCapacity; }

private:
    std::unique_ptr<char[]> mData;
    std::size_t mSize = 0;
    std::size_t mCapacity = 0;
};

} // namespace System
