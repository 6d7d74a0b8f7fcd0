#include "CaptureModel/EventChunkCompression.h"

#include "Utility/Format.h"

#include <algorithm>
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

void EventChunkDecompressor::Reserve(std::size_t size)
{
    if (size <= mCapacity && mBuffer)
        return;
    mBuffer.reset();
    mBuffer = std::make_unique_for_overwrite<uint8_t[]>(std::max<std::size_t>(size, 1));
    mCapacity = size;
}

bool EventChunkDecompressor::CheckContentSize(const uint8_t* frame, std::size_t available, std::size_t frameSize,
                                              uint64_t maxContentSize, uint64_t& contentSize, std::string& error)
{
    const unsigned long long recorded = ZSTD_getFrameContentSize(frame, available);
    if (recorded == ZSTD_CONTENTSIZE_ERROR || recorded == ZSTD_CONTENTSIZE_UNKNOWN) {
        error = "The compressed frame is damaged or does not record its size";
        return false;
    }
    if (recorded > maxContentSize || recorded / kMaxExpansion > frameSize) {
        error = Utility::Format("The compressed frame of %zu bytes claims an implausible size of %llu bytes",
                                frameSize, recorded);
        return false;
    }
    contentSize = recorded;
    return true;
}

bool EventChunkDecompressor::Decompress(const uint8_t* frame, std::size_t frameSize, uint64_t maxContentSize,
                                        std::string& error)
{
    mSize = 0;
    mContentSize = 0;
    uint64_t contentSize = 0;
    if (!CheckContentSize(frame, frameSize, frameSize, maxContentSize, contentSize, error))
        return false;
    Reserve(static_cast<std::size_t>(contentSize));
    const std::size_t produced = ZSTD_decompressDCtx(GetDecompressionContext(), mBuffer.get(),
                                                     static_cast<std::size_t>(contentSize), frame, frameSize);
    if (ZSTD_isError(produced)) {
        error = Utility::Format("Unable to decompress: %s", ZSTD_getErrorName(produced));
        return false;
    }
    if (produced != contentSize) {
        error =
            Utility::Format("The compressed frame yielded %zu bytes instead of %llu", produced,
                            static_cast<unsigned long long>(contentSize));
        return false;
    }
    mSize = produced;
    mContentSize = contentSize;
    return true;
}

bool EventChunkDecompressor::DecompressPrefix(std::size_t frameSize, std::size_t wanted, const FrameReader& read,
                                              std::string& error)
{
    // Pieces small enough that a state of a few kilobytes costs little more than itself to read.
    constexpr std::size_t kPieceBytes = 64 * 1024;
    mSize = 0;
    mContentSize = 0;
    if (frameSize == 0) {
        error = "The compressed frame is damaged or does not record its size";
        return false;
    }
    if (mInput.size() < kPieceBytes)
        mInput.resize(kPieceBytes);
    std::size_t readTo = std::min(frameSize, kPieceBytes);
    if (!read(0, mInput.data(), readTo, error))
        return false;
    uint64_t contentSize = 0;
    if (!CheckContentSize(mInput.data(), readTo, frameSize, ~0ull, contentSize, error))
        return false;
    const std::size_t target = static_cast<std::size_t>(std::min<uint64_t>(contentSize, wanted));
    Reserve(target);

    ZSTD_DCtx* context = GetDecompressionContext();
    ZSTD_DCtx_reset(context, ZSTD_reset_session_only);
    ZSTD_inBuffer input{mInput.data(), readTo, 0};
    ZSTD_outBuffer output{mBuffer.get(), target, 0};
    // The whole content is taken only with the frame's end (and its checksum); a prefix stops as
    // soon as it is there.
    const bool whole = target == contentSize;
    for (;;) {
        if (!whole && output.pos == target)
            break;
        if (input.pos == input.size) {
            if (readTo == frameSize) {
                error = "The compressed frame ends before its content";
                return false;
            }
            const std::size_t piece = std::min(frameSize - readTo, kPieceBytes);
            if (!read(readTo, mInput.data(), piece, error))
                return false;
            readTo += piece;
            input = ZSTD_inBuffer{mInput.data(), piece, 0};
        }
        const std::size_t consumed = input.pos;
        const std::size_t produced = output.pos;
        const std::size_t result = ZSTD_decompressStream(context, &output, &input);
        if (!ZSTD_isError(result) && result != 0 && input.pos == consumed && output.pos == produced) {
            // Content beyond the recorded size, with no room left to put it.
            error = "The compressed frame holds more than its recorded size";
            return false;
        }
        if (ZSTD_isError(result)) {
            error = Utility::Format("Unable to decompress: %s", ZSTD_getErrorName(result));
            return false;
        }
        if (result == 0) {
            if (output.pos != contentSize || input.pos != input.size || readTo != frameSize) {
                error = Utility::Format("The compressed frame yielded %zu bytes instead of %llu", output.pos,
                                        static_cast<unsigned long long>(contentSize));
                return false;
            }
            break;
        }
    }
    mSize = output.pos;
    mContentSize = contentSize;
    return true;
}

} // namespace Profiler
