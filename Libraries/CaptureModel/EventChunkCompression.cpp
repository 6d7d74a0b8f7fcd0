#include "CaptureModel/EventChunkCompression.h"

#include "Utility/Format.h"

#include <memory>
#include <new>
#include <zstd.h>

namespace Profiler {

namespace {

struct DecompressionContextDeleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

/// One decompression context per thread, shared by all decompressors that run on it: a context
/// keeps nothing between frames, and one per reader (a reader per thread of a capture of a busy
/// machine) cost 96 KB and its set-up each.
ZSTD_DCtx* GetDecompressionContext()
{
    thread_local std::unique_ptr<ZSTD_DCtx, DecompressionContextDeleter> context;
    if (!context) {
        context.reset(ZSTD_createDCtx());
        if (!context)
            throw std::bad_alloc();
    }
    return context.get();
}

} // namespace

EventChunkCompressor::EventChunkCompressor() : mContext(ZSTD_createCCtx())
{
    if (!mContext)
        throw std::bad_alloc();
    ZSTD_CCtx_setParameter(mContext, ZSTD_c_compressionLevel, kLevel);
    // The frame's own checksum lets readers tell damaged chunks from sound ones; it costs one
    // hash pass over the chunk and any zstd reader accepts it.
    ZSTD_CCtx_setParameter(mContext, ZSTD_c_checksumFlag, 1);
}

EventChunkCompressor::~EventChunkCompressor()
{
    ZSTD_freeCCtx(mContext);
}

bool EventChunkCompressor::Compress(const uint8_t* data, std::size_t size, std::string& error)
{
    const std::size_t bound = ZSTD_compressBound(size);
    if (mFrameCapacity < bound) {
        mFrame = std::make_unique_for_overwrite<uint8_t[]>(bound);
        mFrameCapacity = bound;
    }
    const std::size_t written = ZSTD_compress2(mContext, mFrame.get(), bound, data, size);
    if (ZSTD_isError(written)) {
        error = Utility::Format("Unable to compress %zu bytes: %s", size, ZSTD_getErrorName(written));
        mFrameSize = 0;
        return false;
    }
    mFrameSize = written;
    return true;
}

EventChunkDecompressor::EventChunkDecompressor() = default;

EventChunkDecompressor::~EventChunkDecompressor() = default;

bool EventChunkDecompressor::Decompress(const uint8_t* frame, std::size_t frameSize, uint64_t maxContentSize,
                                        std::string& error)
{
    mSize = 0;
    const unsigned long long contentSize = ZSTD_getFrameContentSize(frame, frameSize);
    if (contentSize == ZSTD_CONTENTSIZE_ERROR || contentSize == ZSTD_CONTENTSIZE_UNKNOWN) {
        error = "The compressed frame is damaged or does not record its size";
        return false;
    }
    if (contentSize > maxContentSize || contentSize / kMaxExpansion > frameSize) {
        error = Utility::Format("The compressed frame of %zu bytes claims an implausible size of %llu bytes",
                                frameSize, contentSize);
        return false;
    }
    if (mBuffer.size() < contentSize)
        mBuffer.resize(static_cast<std::size_t>(contentSize));
    const std::size_t produced = ZSTD_decompressDCtx(GetDecompressionContext(), mBuffer.data(),
                                                     static_cast<std::size_t>(contentSize), frame, frameSize);
    if (ZSTD_isError(produced)) {
        error = Utility::Format("Unable to decompress: %s", ZSTD_getErrorName(produced));
        return false;
    }
    if (produced != contentSize) {
        error =
            Utility::Format("The compressed frame yielded %zu bytes instead of %llu", produced, contentSize);
        return false;
    }
    mSize = produced;
    return true;
}

} // namespace Profiler
