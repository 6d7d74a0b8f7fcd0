// Feeds damaged chunk data to every decoder that reads stored chunks. The first byte picks the
// decoder (the unit tests write seeds in this layout):
//   0: u64 event count, then a decompressed column-wise chunk
//   1: u64 event count, then a zstd frame holding such a chunk; its start is also read alone
//      (the count's low bits give the length wanted), which must agree with the whole
//   2: an uncompressed row-wise chunk
//   3: a broken stack chunk frame

#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/EventChunkCompression.h"
#include "CaptureModel/EventChunkRowDecoder.h"
#include "CaptureModel/EventChunkView.h"

#include <cstring>
#include <vector>

using namespace Profiler;

namespace {

void DecodeAll(const uint8_t* data, std::size_t size, uint64_t eventCount)
{
    EventChunkView view;
    std::string error;
    if (!view.Attach(data, size, eventCount, error))
        return;
    TraceEvent event;
    volatile std::size_t sink = 0;
    for (uint64_t i = 0; i < view.GetEventCount(); ++i) {
        if (view.DecodeEvent(i, event))
            sink = sink + event.text[0].size() + event.text[1].size() + static_cast<std::size_t>(event.kind);
    }
    view.LowerBound(1.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0] % 4;
    ++data;
    --size;
    uint64_t eventCount = 0;
    if (mode <= 1) {
        if (size < sizeof(eventCount))
            return 0;
        std::memcpy(&eventCount, data, sizeof(eventCount));
        data += sizeof(eventCount);
        size -= sizeof(eventCount);
    }
    std::string error;
    switch (mode) {
    case 0: {
        // A copy of exactly the input's size, so reads past the end are caught.
        std::vector<uint8_t> copy(data, data + size);
        DecodeAll(copy.data(), copy.size(), eventCount);
        break;
    }
    case 1: {
        EventChunkDecompressor decompressor;
        const bool whole = decompressor.Decompress(data, size, ~0ull, error);
        std::vector<uint8_t> copy;
        if (whole) {
            copy.assign(decompressor.GetData(), decompressor.GetData() + decompressor.GetSize());
            DecodeAll(copy.data(), copy.size(), eventCount);
        }
        // The frame read in pieces of a copy of exactly its size.
        const std::vector<uint8_t> frame(data, data + size);
        auto read = [&frame](uint64_t offset, uint8_t* into, std::size_t bytes, std::string&) {
            if (offset > frame.size() || frame.size() - offset < bytes)
                __builtin_trap();
            if (bytes > 0)
                std::memcpy(into, frame.data() + offset, bytes);
            return true;
        };
        const std::size_t wanted = static_cast<std::size_t>(eventCount % (1u << 20));
        if (decompressor.DecompressPrefix(frame.size(), wanted, read, error) && whole) {
            if (decompressor.GetSize() > copy.size() ||
                (decompressor.GetSize() > 0 &&
                 std::memcmp(decompressor.GetData(), copy.data(), decompressor.GetSize()) != 0) ||
                decompressor.IsWhole() != (decompressor.GetSize() == copy.size()))
                __builtin_trap();
        }
        break;
    }
    case 2: {
        EventChunkRowDecoder decoder(data, size);
        TraceEvent event;
        while (decoder.Next(event)) {
        }
        break;
    }
    default: {
        EventChunkDecompressor decompressor;
        std::vector<BrokenStackRecord> records;
        BrokenStackReader::DecodeChunk(data, size, decompressor, records, error);
        break;
    }
    }
    return 0;
}
