#pragma once

#include "CaptureModel/TraceEvent.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Profiler {

/// Walks the events of an uncompressed row-wise chunk (event data version 1): each event is
/// u8 kind, f64 time, u32 process ID, u32 thread ID, then its payload, and the chunk's bytes are
/// consumed event by event. An unknown kind or a payload that runs past the end is damage:
/// the row sizes are unknown from there on, so decoding stops with an error.
class EventChunkRowDecoder {
public:
    static constexpr std::size_t kRowHeaderSize = 1 + 8 + 4 + 4;

    EventChunkRowDecoder(const uint8_t* data, std::size_t size) : mData(data), mSize(size) {}

    /// The next event, or false at the end of the chunk or on damage (see HasFailed).
    bool Next(TraceEvent& event);
    bool HasFailed() const { return !mError.empty(); }
    const std::string& GetError() const { return mError; }
    std::size_t GetPosition() const { return mPosition; }

private:
    const uint8_t* mData;
    std::size_t mSize;
    std::size_t mPosition = 0;
    std::string mError;
};

/// Encodes events row by row as version-1 chunks hold them (old captures and tests).
void EncodeEventRow(const TraceEvent& event, std::vector<uint8_t>& out);

} // namespace Profiler
