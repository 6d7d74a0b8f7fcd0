#include "CaptureModel/TraceEventPayload.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "stored formats are read by copying bytes");

namespace Profiler {

namespace {

// A bounds-checked cursor over payload bytes. Any read past the end sets the failed flag and
// yields zero, so a decoder checks once at the end instead of after every field.
class PayloadCursor {
public:
    PayloadCursor(const uint8_t* data, std::size_t available) : mData(data), mAvailable(available) {}

    template <class T> T Read()
    {
        T value{};
        if (mAvailable - mPosition < sizeof(T)) {
            mFailed = true;
            mPosition = mAvailable;
            return value;
        }
        std::memcpy(&value, mData + mPosition, sizeof(T));
        mPosition += sizeof(T);
        return value;
    }

    std::string_view ReadString()
    {
        const uint64_t length = Read<uint64_t>();
        if (mFailed || length > mAvailable - mPosition) {
            mFailed = true;
            mPosition = mAvailable;
            return {};
        }
        std::string_view text(reinterpret_cast<const char*>(mData + mPosition),
                              static_cast<std::size_t>(length));
        mPosition += static_cast<std::size_t>(length);
        return text;
    }

    std::size_t Finish() const { return mFailed ? kPayloadDecodeFailed : mPosition; }

private:
    const uint8_t* mData;
    std::size_t mAvailable;
    std::size_t mPosition = 0;
    bool mFailed = false;
};

template <class T> void Append(std::vector<uint8_t>& out, T value)
{
    const std::size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void AppendString(std::vector<uint8_t>& out, std::string_view text)
{
    Append<uint64_t>(out, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace

std::size_t DecodeTraceEventPayload(ETraceEventKind kind, const uint8_t* data, std::size_t available,
                                    TraceEvent& event)
{
    PayloadCursor cursor(data, available);
    switch (kind) {
    case ETraceEventKind::Sample:
    case ETraceEventKind::ContextSwitchIn:
    case ETraceEventKind::StackOnly:
        event.stackId = cursor.Read<uint64_t>();
        break;
    case ETraceEventKind::ContextSwitchOut:
    case ETraceEventKind::ThreadStatus:
        event.data8 = cursor.Read<uint8_t>();
        break;
    case ETraceEventKind::StackWithoutTime:
        event.stackId = cursor.Read<uint64_t>();
        event.data32[0] = cursor.Read<uint32_t>();
        event.data32[1] = cursor.Read<uint32_t>();
        break;
    case ETraceEventKind::Kind4:
        event.data8 = cursor.Read<uint8_t>();
        event.data64[0] = cursor.Read<uint64_t>();
        break;
    case ETraceEventKind::Kind6:
        event.text[0] = cursor.ReadString();
        break;
    case ETraceEventKind::ZoneBegin:
        event.stackId = cursor.Read<uint64_t>();
        event.text[0] = cursor.ReadString();
        event.text[1] = cursor.ReadString();
        break;
    case ETraceEventKind::ZoneEnd:
        break;
    case ETraceEventKind::ZoneBeginWithColour:
        event.stackId = cursor.Read<uint64_t>();
        event.text[0] = cursor.ReadString();
        event.text[1] = cursor.ReadString();
        event.data32[0] = cursor.Read<uint32_t>();
        break;
    case ETraceEventKind::Kind10:
        event.data64[0] = cursor.Read<uint64_t>();
        event.data32[0] = cursor.Read<uint32_t>();
        event.data32[1] = cursor.Read<uint32_t>();
        event.data64[1] = cursor.Read<uint64_t>();
        break;
    case ETraceEventKind::Kind11:
        event.data32[0] = cursor.Read<uint32_t>();
        event.data8 = cursor.Read<uint8_t>();
        event.data64[0] = cursor.Read<uint64_t>();
        break;
    case ETraceEventKind::ThreadStatusWithValue:
        event.data32[0] = cursor.Read<uint32_t>();
        event.data8 = cursor.Read<uint8_t>();
        break;
    case ETraceEventKind::Kind13:
    case ETraceEventKind::Kind14:
    case ETraceEventKind::InstrumentationContextIn:
        event.data64[0] = cursor.Read<uint64_t>();
        break;
    case ETraceEventKind::InstrumentationContextOut:
        event.data64[0] = cursor.Read<uint64_t>();
        event.data64[1] = cursor.Read<uint64_t>();
        break;
    default:
        return kPayloadDecodeFailed;
    }
    return cursor.Finish();
}

void EncodeTraceEventPayload(const TraceEvent& event, std::vector<uint8_t>& out)
{
    switch (event.kind) {
    case ETraceEventKind::Sample:
    case ETraceEventKind::ContextSwitchIn:
    case ETraceEventKind::StackOnly:
        Append(out, event.stackId);
        break;
    case ETraceEventKind::ContextSwitchOut:
    case ETraceEventKind::ThreadStatus:
        Append(out, event.data8);
        break;
    case ETraceEventKind::StackWithoutTime:
        Append(out, event.stackId);
        Append(out, event.data32[0]);
        Append(out, event.data32[1]);
        break;
    case ETraceEventKind::Kind4:
        Append(out, event.data8);
        Append(out, event.data64[0]);
        break;
    case ETraceEventKind::Kind6:
        AppendString(out, event.text[0]);
        break;
    case ETraceEventKind::ZoneBegin:
        Append(out, event.stackId);
        AppendString(out, event.text[0]);
        AppendString(out, event.text[1]);
        break;
    case ETraceEventKind::ZoneEnd:
        break;
    case ETraceEventKind::ZoneBeginWithColour:
        Append(out, event.stackId);
        AppendString(out, event.text[0]);
        AppendString(out, event.text[1]);
        Append(out, event.data32[0]);
        break;
    case ETraceEventKind::Kind10:
        Append(out, event.data64[0]);
        Append(out, event.data32[0]);
        Append(out, event.data32[1]);
        Append(out, event.data64[1]);
        break;
    case ETraceEventKind::Kind11:
        Append(out, event.data32[0]);
        Append(out, event.data8);
        Append(out, event.data64[0]);
        break;
    case ETraceEventKind::ThreadStatusWithValue:
        Append(out, event.data32[0]);
        Append(out, event.data8);
        break;
    case ETraceEventKind::Kind13:
    case ETraceEventKind::Kind14:
    case ETraceEventKind::InstrumentationContextIn:
        Append(out, event.data64[0]);
        break;
    case ETraceEventKind::InstrumentationContextOut:
        Append(out, event.data64[0]);
        Append(out, event.data64[1]);
        break;
    case ETraceEventKind::EndMarker:
        break;
    }
}

std::size_t GetTraceEventPayloadSize(const TraceEvent& event)
{
    switch (event.kind) {
    case ETraceEventKind::Sample:
    case ETraceEventKind::ContextSwitchIn:
    case ETraceEventKind::StackOnly:
    case ETraceEventKind::Kind13:
    case ETraceEventKind::Kind14:
    case ETraceEventKind::InstrumentationContextIn:
        return 8;
    case ETraceEventKind::ContextSwitchOut:
    case ETraceEventKind::ThreadStatus:
        return 1;
    case ETraceEventKind::StackWithoutTime:
    case ETraceEventKind::InstrumentationContextOut:
        return 16;
    case ETraceEventKind::Kind4:
        return 9;
    case ETraceEventKind::Kind6:
        return 8 + event.text[0].size();
    case ETraceEventKind::ZoneBegin:
        return 24 + event.text[0].size() + event.text[1].size();
    case ETraceEventKind::ZoneBeginWithColour:
        return 28 + event.text[0].size() + event.text[1].size();
    case ETraceEventKind::Kind10:
        return 24;
    case ETraceEventKind::Kind11:
        return 13;
    case ETraceEventKind::ThreadStatusWithValue:
        return 5;
    case ETraceEventKind::ZoneEnd:
    case ETraceEventKind::EndMarker:
        return 0;
    }
    return 0;
}

} // namespace Profiler
