#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct ZSTD_CCtx_s ZSTD_CCtx;
typedef struct ZSTD_DCtx_s ZSTD_DCtx;

// zstd framing of event chunks and broken stack chunks: one frame per chunk, compressed at
// level 1 with the content size recorded in the frame, so a reader sizes its buffer before
// decompressing. Both classes keep their buffers across chunks; a compressor keeps its context,
// decompressors share one context per thread.

namespace Profiler {

class EventChunkCompressor {
public:
    static constexpr int kLevel = 1;

    EventChunkCompressor();
    ~EventChunkCompressor();
    EventChunkCompressor(const EventChunkCompressor&) = delete;
    EventChunkCompressor& operator=(const EventChunkCompressor&) = delete;

    /// Compresses `size` bytes into one frame held in GetFrame(); false (with `error`) on failure.
    bool Compress(const uint8_t* data, std::size_t size, std::string& error);
    const uint8_t* GetFrame() const { return mFrame.get(); }
    std::size_t GetFrameSize() const { return mFrameSize; }

private:
    ZSTD_CCtx* mContext;
    /// Room for the compression bound, left uninitialised: only the pages that a frame fills
    /// become resident, a fraction of the bound for a large record.
    std::unique_ptr<uint8_t[]> mFrame;
    std::size_t mFrameCapacity = 0;
    std::size_t mFrameSize = 0;
};

class EventChunkDecompressor {
public:
    /// zstd cannot expand data by more than this: a run-length block of up to 128 KiB costs
    /// four bytes. A frame that claims more is damaged, so its size is refused before any
    /// buffer is allocated for it.
    static constexpr uint64_t kMaxExpansion = 32768;

    EventChunkDecompressor();
    ~EventChunkDecompressor();
    EventChunkDecompressor(const EventChunkDecompressor&) = delete;
    EventChunkDecompressor& operator=(const EventChunkDecompressor&) = delete;

    /// Decompresses the one frame in `frame` into the reused buffer. The recorded content size
    /// must be known, at most `maxContentSize` and at most kMaxExpansion times the frame size,
    /// and the frame must decompress to exactly that size.
    bool Decompress(const uint8_t* frame, std::size_t frameSize, uint64_t maxContentSize, std::string& error);

    /// Fills `size` bytes from `offset` of a frame that is read in pieces.
    using FrameReader = std::function<bool(uint64_t offset, uint8_t* into, std::size_t size, std::string& error)>;
    /// Decompresses the first `wanted` bytes of a frame of `frameSize` bytes, or all of it when it
    /// holds no more, reading the frame through `read` a piece at a time: a reader that needs only
    /// the start of a large frame neither reads nor decompresses the rest. The frame's checksum
    /// is checked only when the whole content is produced; IsWhole() tells which it was.
    bool DecompressPrefix(std::size_t frameSize, std::size_t wanted, const FrameReader& read, std::string& error);

    const uint8_t* GetData() const { return mBuffer.get(); }
    std::size_t GetSize() const { return mSize; }
    /// Whether GetData() holds the frame's whole content (always after Decompress).
    bool IsWhole() const { return mSize == mContentSize; }

private:
    /// Reads the frame's recorded content size; false with `error` when it is unknown or implausible.
    static bool CheckContentSize(const uint8_t* frame, std::size_t available, std::size_t frameSize,
                                 uint64_t maxContentSize, uint64_t& contentSize, std::string& error);

    /// Room for `size` bytes of content. Not zeroed: the frame overwrites them, and zeroing a
    /// fresh buffer cost as much as decompressing into it.
    void Reserve(std::size_t size);

    std::unique_ptr<uint8_t[]> mBuffer;
    std::size_t mCapacity = 0;
    std::vector<uint8_t> mInput; ///< the piece of a frame being decompressed by DecompressPrefix
    std::size_t mSize = 0;
    uint64_t mContentSize = 0;
};

} // namespace Profiler
