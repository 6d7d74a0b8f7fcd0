// The serialized state of an open bar processor, also the first part of every snapshot record:
//   thread id u32, bar count n u64, n bar records (outermost first), pending times 8 x f64,
//   pending flag u8, thread state u8, last switch time f64, broken-stack state u32,
//   broken-stack position 4 x u32 + u64, kept prefix u32.
// A bar record: mask u8 (bit i: state time i is not 0.0) and the non-zero state times f64,
//   current state u8, start time f64, end time f64, caller address u64, frame address u64,
//   function (RelativeAddress u64, ResolveIndex u32), instrumentation context u64,
//   sample count m u64, m x {address u64, count u32} ascending by address.
// Little-endian, no padding.

#include "CallGraphModel/IBrokenStackCursor.h"
#include "CallGraphModel/OpenBarProcessor.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"
#include "Utility/ErrorList.h"

#include <cmath>

namespace Profiler {

namespace {

constexpr std::size_t kBarMinimumBytes = 1 + 1 + 8 + 8 + 8 + 8 + 8 + 4 + 8 + 8;
constexpr std::size_t kSampleBytes = 8 + 4;

struct ParsedState {
    uint32_t thread = 0;
    std::vector<OpenBar> bars;
    StateTimeArray pendingTimes{};
    bool pending = false;
    uint8_t state = 0;
    double lastSwitchTime = 0.0;
    uint32_t brokenStackState = 0;
    BrokenStackPosition position;
    uint32_t keptPrefix = 0;
};

bool Fail(Serialization::ErrorList& errors, const char* what, const RecordReader& reader)
{
    errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                        "Open bar processor state is corrupt: %s at byte %zu", what, reader.GetOffset());
    return false;
}

bool ReadTime(RecordReader& reader, double& value)
{
    return reader.Read(value) && std::isfinite(value);
}

bool ParseBar(RecordReader& reader, OpenBar* bar, Serialization::ErrorList& errors)
{
    uint8_t mask = 0;
    if (!reader.Read(mask))
        return Fail(errors, "truncated bar", reader);
    StateTimeArray times{};
    for (int i = 0; i < kThreadStateCount; ++i)
        if ((mask & (1u << i)) != 0 && !ReadTime(reader, times[i]))
            return Fail(errors, "bad state time", reader);
    uint8_t state = 0;
    double start = 0.0;
    double end = 0.0;
    uint64_t callerAddress = 0;
    uint64_t frameAddress = 0;
    ResolvedAddress function;
    uint64_t context = 0;
    uint64_t sampleCount = 0;
    if (!reader.Read(state) || !reader.Read(start) || !reader.Read(end) || !reader.Read(callerAddress) ||
        !reader.Read(frameAddress) || !reader.Read(function.RelativeAddress) ||
        !reader.Read(function.ResolveIndex) || !reader.Read(context) || !reader.Read(sampleCount))
        return Fail(errors, "truncated bar", reader);
    if (state >= kThreadStateCount)
        return Fail(errors, "bad bar state", reader);
    if (!std::isfinite(start) || !std::isfinite(end))
        return Fail(errors, "bad bar time", reader);
    if (sampleCount > reader.GetRemaining() / kSampleBytes)
        return Fail(errors, "sample count beyond the end of the data", reader);
    const uint8_t* samples = reader.Take(sampleCount * kSampleBytes);
    if (bar != nullptr) {
        bar->StateTimes = times;
        bar->CurrentState = state;
        bar->StartTime = start;
        bar->EndTime = end;
        bar->CallerAddress = callerAddress;
        bar->FrameAddress = frameAddress;
        bar->Function = function;
        bar->InstrumentationContext = context;
        bar->Samples.resize(sampleCount);
    }
    uint64_t previous = 0;
    for (uint64_t i = 0; i < sampleCount; ++i, samples += kSampleBytes) {
        const AddressSample sample{RecordReader::LoadLittleEndian<uint64_t>(samples),
                                   RecordReader::LoadLittleEndian<uint32_t>(samples + 8)};
        if (i > 0 && sample.Address <= previous)
            return Fail(errors, "sample addresses out of order", reader);
        previous = sample.Address;
        if (bar != nullptr)
            bar->Samples[i] = sample;
    }
    return true;
}

/// Reads one state; with `out` null it is only checked.
bool ParseState(RecordReader& reader, ParsedState* out, Serialization::ErrorList& errors)
{
    uint32_t thread = 0;
    uint64_t barCount = 0;
    if (!reader.Read(thread) || !reader.Read(barCount))
        return Fail(errors, "truncated header", reader);
    if (barCount > reader.GetRemaining() / kBarMinimumBytes)
        return Fail(errors, "bar count beyond the end of the data", reader);
    if (out != nullptr) {
        out->thread = thread;
        out->bars.resize(barCount);
    }
    for (uint64_t i = 0; i < barCount; ++i)
        if (!ParseBar(reader, out != nullptr ? &out->bars[i] : nullptr, errors))
            return false;
    ParsedState tail;
    uint8_t pending = 0;
    for (double& time : tail.pendingTimes)
        if (!ReadTime(reader, time))
            return Fail(errors, "bad pending time", reader);
    if (!reader.Read(pending) || !reader.Read(tail.state) || !reader.Read(tail.lastSwitchTime) ||
        !reader.Read(tail.brokenStackState) || !reader.Read(tail.position.Words[0]) ||
        !reader.Read(tail.position.Words[1]) || !reader.Read(tail.position.Words[2]) ||
        !reader.Read(tail.position.Words[3]) || !reader.Read(tail.position.Value) ||
        !reader.Read(tail.keptPrefix))
        return Fail(errors, "truncated state", reader);
    if (pending > 1)
        return Fail(errors, "bad pending flag", reader);
    if (tail.state == 8 || tail.state > kThreadStateEnded)
        return Fail(errors, "bad thread state", reader);
    if (!std::isfinite(tail.lastSwitchTime))
        return Fail(errors, "bad switch time", reader);
    if (out != nullptr) {
        out->pendingTimes = tail.pendingTimes;
        out->pending = pending != 0;
        out->state = tail.state;
        out->lastSwitchTime = tail.lastSwitchTime;
        out->brokenStackState = tail.brokenStackState;
        out->position = tail.position;
        out->keptPrefix = tail.keptPrefix;
    }
    return true;
}

} // namespace

void OpenBarProcessor::Serialize(std::vector<uint8_t>& out) const
{
    RecordWriter writer(out);
    writer.Write(static_cast<uint32_t>(mThread));
    writer.Write(uint64_t{mBarCount});
    for (const OpenBar& bar : GetBars()) {
        const std::size_t mask = writer.ReserveByte();
        uint8_t bits = 0;
        for (int i = 0; i < kThreadStateCount; ++i)
            if (bar.StateTimes[i] != 0.0) {
                bits |= static_cast<uint8_t>(1u << i);
                writer.Write(bar.StateTimes[i]);
            }
        writer.PatchByte(mask, bits);
        writer.Write(bar.CurrentState);
        writer.Write(bar.StartTime);
        writer.Write(bar.EndTime);
        writer.Write(bar.CallerAddress);
        writer.Write(bar.FrameAddress);
        writer.Write(bar.Function.RelativeAddress);
        writer.Write(bar.Function.ResolveIndex);
        writer.Write(bar.InstrumentationContext);
        writer.Write(uint64_t{bar.Samples.size()});
        for (const AddressSample& sample : bar.Samples) {
            writer.Write(sample.Address);
            writer.Write(sample.Count);
        }
    }
    for (double time : mPendingTimes)
        writer.Write(time);
    writer.Write(static_cast<uint8_t>(mPending ? 1 : 0));
    writer.Write(mState);
    writer.Write(mLastSwitchTime);
    writer.Write(mBrokenStackState);
    const BrokenStackPosition position =
        mBrokenStacks != nullptr ? mBrokenStacks->GetPosition() : BrokenStackPosition{};
    for (uint32_t word : position.Words)
        writer.Write(word);
    writer.Write(position.Value);
    writer.Write(mKeptPrefix);
}

bool OpenBarProcessor::Deserialize(RecordReader& reader, Serialization::ErrorList& errors)
{
    ParsedState state;
    if (!ParseState(reader, &state, errors))
        return false;
    if (state.thread != static_cast<uint32_t>(mThread)) {
        errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                            "Open bar processor state is for thread %u, not thread %u", state.thread,
                            static_cast<uint32_t>(mThread));
        return false;
    }
    mBarCount = 0;
    for (OpenBar& bar : state.bars) {
        OpenBar& slot = PushBar();
        std::swap(slot, bar);
    }
    mPendingTimes = state.pendingTimes;
    mPending = state.pending;
    mState = state.state;
    mLastSwitchTime = state.lastSwitchTime;
    mBrokenStackState = state.brokenStackState;
    if (mBrokenStacks != nullptr)
        mBrokenStacks->SetPosition(state.position);
    mKeptPrefix = state.keptPrefix;
    return true;
}

bool OpenBarProcessor::SkipSerialized(RecordReader& reader, Serialization::ErrorList& errors)
{
    return ParseState(reader, nullptr, errors);
}

std::unique_ptr<OpenBarProcessor> OpenBarProcessor::Copy(bool reportingOff, float reportingInterval) const
{
    std::vector<uint8_t> bytes;
    Serialize(bytes);
    auto copy = std::make_unique<OpenBarProcessor>(mInput, mThread, reportingOff, reportingInterval,
                                                   mLastSwitchTime, mStacks);
    RecordReader reader(bytes);
    Serialization::ErrorList errors;
    copy->Deserialize(reader, errors);
    return copy;
}

} // namespace Profiler
