#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace Profiler {

/// The one-byte codes of message field payloads.
enum class EMessageFieldType : uint8_t {
    Double = 1, ///< 8 bytes IEEE 754
    Int32 = 2,  ///< 4 bytes
    String = 5, ///< array elements only: uint64 length, then the bytes
    Frame = 6,  ///< uint64 RelativeAddress, then uint32 ResolveIndex (12 bytes)
    Array = 7,  ///< element-type byte, uint64 count, then the elements
};

/// A static description of one kind of message: its name and its fields in order.
struct MessageType {
    struct Field {
        const char* Name;
        EMessageFieldType Type;
    };
    const char* Name;
    std::vector<Field> Fields;
};

/// A message built against a MessageType: one payload offset per field (-1 until the field is
/// written) and the payload, little-endian throughout. Readers find fields by exact name.
class Message {
public:
    explicit Message(const MessageType& type) : mType(&type), mOffsets(type.Fields.size(), -1) {}

    const MessageType& GetType() const { return *mType; }
    std::string_view GetName() const { return mType->Name; }
    const std::vector<uint8_t>& GetPayload() const { return mPayload; }
    /// The payload offset of the field, -1 when it is unknown or was never written.
    int32_t GetOffset(std::string_view field) const
    {
        const int index = FindField(field);
        return index < 0 ? -1 : mOffsets[static_cast<size_t>(index)];
    }
    bool Has(std::string_view field) const { return GetOffset(field) >= 0; }

    // Writers: each appends the encoded value and records where it starts. Writing a field that
    // the type does not have appends nothing.
    void WriteDouble(std::string_view field, double value)
    {
        if (Begin(field))
            Put(value);
    }
    void WriteInt32(std::string_view field, int32_t value)
    {
        if (Begin(field))
            Put(value);
    }
    void WriteFrame(std::string_view field, const ResolvedAddress& frame)
    {
        if (Begin(field))
            PutFrame(frame);
    }
    void WriteInt32Array(std::string_view field, const std::vector<int32_t>& values)
    {
        if (!Begin(field))
            return;
        PutArrayHeader(EMessageFieldType::Int32, values.size());
        for (int32_t value : values)
            Put(value);
    }
    void WriteStringArray(std::string_view field, const std::vector<std::string>& values)
    {
        if (!Begin(field))
            return;
        PutArrayHeader(EMessageFieldType::String, values.size());
        for (const std::string& value : values) {
            Put(static_cast<uint64_t>(value.size()));
            mPayload.insert(mPayload.end(), value.begin(), value.end());
        }
    }
    void WriteFrameArray(std::string_view field, const std::vector<ResolvedAddress>& frames)
    {
        if (Begin(field))
            PutFrames(frames);
    }
    /// An array of call paths, each a nested array of frames.
    void WriteFrameArrays(std::string_view field, const std::vector<std::vector<ResolvedAddress>>& paths)
    {
        if (!Begin(field))
            return;
        PutArrayHeader(EMessageFieldType::Array, paths.size());
        for (const auto& frames : paths)
            PutFrames(frames);
    }

    // Readers: the value of a written field; a missing field or a short payload reads as zero
    // or empty, so a malformed message can never read past its payload.
    double ReadDouble(std::string_view field) const { return Get<double>(GetOffset(field)); }
    int32_t ReadInt32(std::string_view field) const { return Get<int32_t>(GetOffset(field)); }
    ResolvedAddress ReadFrame(std::string_view field) const { return GetFrame(GetOffset(field)); }
    std::vector<int32_t> ReadInt32Array(std::string_view field) const
    {
        std::vector<int32_t> values;
        size_t at = 0;
        const uint64_t count = GetArrayHeader(GetOffset(field), EMessageFieldType::Int32, at);
        for (uint64_t i = 0; i < count && Fits(at, 4); ++i, at += 4)
            values.push_back(Get<int32_t>(static_cast<int64_t>(at)));
        return values;
    }
    std::vector<std::string> ReadStringArray(std::string_view field) const
    {
        std::vector<std::string> values;
        size_t at = 0;
        const uint64_t count = GetArrayHeader(GetOffset(field), EMessageFieldType::String, at);
        for (uint64_t i = 0; i < count && Fits(at, 8); ++i) {
            const uint64_t length = Get<uint64_t>(static_cast<int64_t>(at));
            at += 8;
            if (!Fits(at, length))
                break;
            values.emplace_back(reinterpret_cast<const char*>(mPayload.data() + at), length);
            at += length;
        }
        return values;
    }
    std::vector<ResolvedAddress> ReadFrameArray(std::string_view field) const
    {
        size_t at = 0;
        return GetFrames(GetOffset(field), at);
    }
    std::vector<std::vector<ResolvedAddress>> ReadFrameArrays(std::string_view field) const
    {
        std::vector<std::vector<ResolvedAddress>> paths;
        size_t at = 0;
        const uint64_t count = GetArrayHeader(GetOffset(field), EMessageFieldType::Array, at);
        for (uint64_t i = 0; i < count && Fits(at, 9); ++i)
            paths.push_back(GetFrames(static_cast<int64_t>(at), at));
        return paths;
    }

private:
    int FindField(std::string_view field) const
    {
        for (size_t i = 0; i < mType->Fields.size(); ++i)
            if (field == mType->Fields[i].Name)
                return static_cast<int>(i);
        return -1;
    }
    bool Begin(std::string_view field)
    {
        const int index = FindField(field);
        if (index < 0)
            return false;
        mOffsets[static_cast<size_t>(index)] = static_cast<int32_t>(mPayload.size());
        return true;
    }
    template <class T> void Put(T value)
    {
        // The encoding is little-endian; so is every platform this builds for.
        static_assert(std::endian::native == std::endian::little);
        uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        mPayload.insert(mPayload.end(), bytes, bytes + sizeof(T));
    }
    void PutFrame(const ResolvedAddress& frame)
    {
        Put(frame.RelativeAddress);
        Put(frame.ResolveIndex);
    }
    void PutArrayHeader(EMessageFieldType elementType, size_t count)
    {
        mPayload.push_back(static_cast<uint8_t>(elementType));
        Put(static_cast<uint64_t>(count));
    }
    void PutFrames(const std::vector<ResolvedAddress>& frames)
    {
        PutArrayHeader(EMessageFieldType::Frame, frames.size());
        for (const ResolvedAddress& frame : frames)
            PutFrame(frame);
    }

    bool Fits(size_t at, uint64_t size) const
    {
        return at <= mPayload.size() && size <= mPayload.size() - at;
    }
    template <class T> T Get(int64_t offset) const
    {
        T value{};
        if (offset >= 0 && Fits(static_cast<size_t>(offset), sizeof(T)))
            std::memcpy(&value, mPayload.data() + offset, sizeof(T));
        return value;
    }
    ResolvedAddress GetFrame(int64_t offset) const
    {
        if (offset < 0 || !Fits(static_cast<size_t>(offset), 12))
            return {};
        return {Get<uint64_t>(offset), Get<uint32_t>(offset + 8)};
    }
    /// The element count of the array at `offset` when its element type is `type`; `at` is set
    /// to its first element.
    uint64_t GetArrayHeader(int64_t offset, EMessageFieldType type, size_t& at) const
    {
        if (offset < 0 || !Fits(static_cast<size_t>(offset), 9) ||
            mPayload[static_cast<size_t>(offset)] != static_cast<uint8_t>(type))
            return 0;
        at = static_cast<size_t>(offset) + 9;
        return Get<uint64_t>(offset + 1);
    }
    std::vector<ResolvedAddress> GetFrames(int64_t offset, size_t& at) const
    {
        std::vector<ResolvedAddress> frames;
        const uint64_t count = GetArrayHeader(offset, EMessageFieldType::Frame, at);
        for (uint64_t i = 0; i < count && Fits(at, 12); ++i, at += 12)
            frames.push_back(GetFrame(static_cast<int64_t>(at)));
        return frames;
    }

    const MessageType* mType; // not owned; message types are static
    std::vector<int32_t> mOffsets;
    std::vector<uint8_t> mPayload;
};

} // namespace Profiler
