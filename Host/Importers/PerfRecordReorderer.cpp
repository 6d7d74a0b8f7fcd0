#include "Importers/PerfRecordReorderer.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

namespace Profiler {

/// A record copied out of the parser's buffers: its strings live in `text`, and the views of
/// the record are pointed back into it when it is handed on.
struct PerfRecordReorderer::Held {
    enum class EKind : uint8_t { Sample, SchedSwitch, Task, Mmap };

    EKind kind = EKind::Sample;
    bool timed = false;
    uint64_t key = 0; ///< the time it is handed on at
    uint64_t sequence = 0;
    PerfSchedSwitch record; ///< samples use its `sample`
    PerfTaskEvent task;
    PerfMmapEvent mmap;
    std::vector<PerfFrame> frames;
    std::string text;
    std::vector<std::pair<uint32_t, uint32_t>> spans;

    PerfRecordHeader& Header()
    {
        switch (kind) {
        case EKind::Task:
            return task.header;
        case EKind::Mmap:
            return mmap.header;
        default:
            return record.sample.header;
        }
    }

    std::size_t Bytes() const { return sizeof(Held) + text.size() + frames.size() * sizeof(PerfFrame); }

    /// Visits every string view of the record in a fixed order, once to copy and once to restore.
    template <class Visit> void ForEachView(Visit&& visit)
    {
        switch (kind) {
        case EKind::Sample:
        case EKind::SchedSwitch:
            visit(record.sample.header.comm);
            visit(record.sample.eventName);
            visit(record.sample.arguments);
            for (PerfFrame& frame : frames) {
                visit(frame.symbol);
                visit(frame.dso);
            }
            if (kind == EKind::SchedSwitch) {
                visit(record.prevComm);
                visit(record.prevState);
                visit(record.nextComm);
            }
            break;
        case EKind::Task:
            visit(task.header.comm);
            visit(task.newComm);
            break;
        case EKind::Mmap:
            visit(mmap.header.comm);
            visit(mmap.protection);
            visit(mmap.fileName);
            break;
        }
    }

    void Keep(std::span<const PerfFrame> source)
    {
        frames.assign(source.begin(), source.end());
        text.clear();
        spans.clear();
        ForEachView([this](std::string_view& view) {
            spans.emplace_back(static_cast<uint32_t>(text.size()), static_cast<uint32_t>(view.size()));
            text.append(view);
        });
    }

    void Restore()
    {
        std::size_t index = 0;
        ForEachView([this, &index](std::string_view& view) {
            const auto [offset, length] = spans[index++];
            view = std::string_view(text.data() + offset, length);
        });
        record.sample.frames = frames;
    }
};

bool PerfRecordReorderer::Later::operator()(const Held* left, const Held* right) const
{
    return left->key != right->key ? left->key > right->key : left->sequence > right->sequence;
}

PerfRecordReorderer::PerfRecordReorderer(IPerfScriptHandler& downstream) : mDownstream(downstream) {}

PerfRecordReorderer::~PerfRecordReorderer() = default;

PerfRecordReorderer::Held& PerfRecordReorderer::Acquire()
{
    if (!mFree.empty()) {
        Held* record = mFree.back();
        mFree.pop_back();
        return *record;
    }
    mPool.push_back(std::make_unique<Held>());
    return *mPool.back();
}

void PerfRecordReorderer::OnSample(const PerfSample& sample)
{
    Held& held = Acquire();
    held.kind = Held::EKind::Sample;
    held.record.sample = sample;
    held.Keep(sample.frames);
    Hold(held, sample.header, true);
}

void PerfRecordReorderer::OnSchedSwitch(const PerfSchedSwitch& record)
{
    Held& held = Acquire();
    held.kind = Held::EKind::SchedSwitch;
    held.record = record;
    held.Keep(record.sample.frames);
    Hold(held, record.sample.header, false);
}

void PerfRecordReorderer::OnTaskEvent(const PerfTaskEvent& event)
{
    Held& held = Acquire();
    held.kind = Held::EKind::Task;
    held.task = event;
    held.Keep({});
    Hold(held, event.header, false);
}

void PerfRecordReorderer::OnMmapEvent(const PerfMmapEvent& event)
{
    Held& held = Acquire();
    held.kind = Held::EKind::Mmap;
    held.mmap = event;
    held.Keep({});
    Hold(held, event.header, false);
}

void PerfRecordReorderer::Hold(Held& record, const PerfRecordHeader& header, bool isSample)
{
    record.sequence = mSequence++;
    // perf prints the state it found when it started (running tasks, the kernel map) at time 0;
    // that says nothing about the clock of the recording.
    record.timed = header.timeNs && (isSample || *header.timeNs != 0);
    if (!record.timed) {
        // Keeps its place among the records around it.
        if (!mHaveTime && mHeap.empty())
            Deliver(record);
        else
            Push(record, mLatestNs);
        return;
    }
    if (mSuspect)
        ResolveSuspect(*header.timeNs + mOffsetNs, true);
    record.key = *header.timeNs + mOffsetNs;
    Place(record);
}

void PerfRecordReorderer::Place(Held& record)
{
    uint64_t time = record.key;
    if (!mHaveTime) {
        mHaveTime = true;
        mLatestNs = time;
        Push(record, time);
        return;
    }
    if (time > mLatestNs + kJumpNs || time + kWindowNs < mLatestNs) {
        mSuspect = &record; // the next timed record decides
        return;
    }
    if (time < mReleasedNs) {
        ++mStats.lateRecords;
        time = mReleasedNs;
    } else if (time < mLatestNs) {
        ++mStats.reorderedRecords;
    }
    Push(record, time);
    if (time > mLatestNs) {
        mLatestNs = time;
        if (mLatestNs >= kWindowNs)
            ReleaseUpTo(mLatestNs - kWindowNs);
    }
}

void PerfRecordReorderer::ResolveSuspect(uint64_t nextTimeNs, bool nextIsTimed)
{
    Held& suspect = *mSuspect;
    mSuspect = nullptr;
    uint64_t time = suspect.key;
    const uint64_t distance = nextTimeNs > time ? nextTimeNs - time : time - nextTimeNs;
    if (!nextIsTimed || distance > kWindowNs) {
        // Nothing after it agrees: a single record out of place, kept at the latest time.
        if (mStats.outlierRecords++ == 0)
            mStats.firstOutlierLine = suspect.Header().lineNumber;
        Push(suspect, mLatestNs);
        return;
    }
    if (time < mLatestNs) {
        // Time went back for good: another recording follows. What is held belongs to the one
        // before; the new one is placed right after it, keeping its own spacing.
        ReleaseUpTo(~0ull);
        const uint64_t shift = mLatestNs - time;
        mOffsetNs += shift;
        time += shift;
        if (mStats.concatenatedRecordings++ == 0)
            mStats.firstConcatenationLine = suspect.Header().lineNumber;
    } else {
        ++mStats.timeJumps;
    }
    Push(suspect, time);
    mLatestNs = time;
    if (mLatestNs >= kWindowNs)
        ReleaseUpTo(mLatestNs - kWindowNs);
}

void PerfRecordReorderer::Push(Held& record, uint64_t key)
{
    record.key = key;
    mHeap.push_back(&record);
    std::push_heap(mHeap.begin(), mHeap.end(), Later{});
    mHeldBytes += record.Bytes();
    while (mHeldBytes > kMaxHeldBytes && !mHeap.empty())
        ReleaseFirst();
}

void PerfRecordReorderer::ReleaseUpTo(uint64_t key)
{
    while (!mHeap.empty() && mHeap.front()->key <= key)
        ReleaseFirst();
}

void PerfRecordReorderer::ReleaseFirst()
{
    std::pop_heap(mHeap.begin(), mHeap.end(), Later{});
    Held& record = *mHeap.back();
    mHeap.pop_back();
    mHeldBytes -= record.Bytes();
    mReleasedNs = std::max(mReleasedNs, record.key);
    Deliver(record);
}

void PerfRecordReorderer::Deliver(Held& record)
{
    record.Restore();
    if (record.timed)
        record.Header().timeNs = record.key;
    switch (record.kind) {
    case Held::EKind::Sample:
        mDownstream.OnSample(record.record.sample);
        break;
    case Held::EKind::SchedSwitch:
        mDownstream.OnSchedSwitch(record.record);
        break;
    case Held::EKind::Task:
        mDownstream.OnTaskEvent(record.task);
        break;
    case Held::EKind::Mmap:
        mDownstream.OnMmapEvent(record.mmap);
        break;
    }
    mFree.push_back(&record);
}

void PerfRecordReorderer::Finish()
{
    if (mSuspect)
        ResolveSuspect(0, false);
    ReleaseUpTo(~0ull);
}

} // namespace Profiler
