#include "Importers/PerfRecordReorderer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace Profiler {

/// The text and frames of held records, back to back in large blocks. Records are handed on
/// in about the order they came, so a block empties soon after the next one starts, and an
/// empty block is reused: the window's memory is allocated (and faulted in) once, not once per
/// record, and a record costs one copy of its bytes and no allocation.
class PerfRecordReorderer::Arena {
public:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
        std::size_t live = 0; ///< records whose bytes lie in the block
    };

    static constexpr std::size_t kBlockSize = 256u << 10;

    /// `size` bytes, aligned for PerfFrame, in `owner`, which must be released once.
    char* Allocate(std::size_t size, Block*& owner)
    {
        size = (size + alignof(PerfFrame) - 1) & ~(alignof(PerfFrame) - 1);
        if (mCurrent != nullptr && mCurrent->live == 0)
            mCurrent->used = 0; // nothing in it is held any more
        if (mCurrent == nullptr || mCurrent->capacity - mCurrent->used < size) {
            if (mCurrent != nullptr && mCurrent->live == 0)
                Retire(*mCurrent);
            mCurrent = Take(size);
        }
        char* at = mCurrent->bytes.get() + mCurrent->used;
        mCurrent->used += size;
        ++mCurrent->live;
        owner = mCurrent;
        return at;
    }

    void Release(Block& block)
    {
        if (--block.live == 0 && &block != mCurrent)
            Retire(block);
    }

    /// The bytes of the blocks that hold records (spare ones not counted).
    std::size_t GetBytes() const { return mBytes; }

private:
    Block* Take(std::size_t size)
    {
        Block* block;
        if (!mSpare.empty()) {
            block = mSpare.back();
            mSpare.pop_back();
        } else {
            block = &mBlocks.emplace_back();
        }
        if (block->capacity < size) {
            block->capacity = std::max(kBlockSize, size);
            block->bytes = std::make_unique_for_overwrite<char[]>(block->capacity);
        }
        block->used = 0;
        mBytes += block->capacity;
        return block;
    }

    void Retire(Block& block)
    {
        block.used = 0;
        mBytes -= block.capacity;
        if (block.capacity > kBlockSize) {
            // One huge record's block is not kept for the small ones after it.
            block.bytes.reset();
            block.capacity = 0;
        }
        mSpare.push_back(&block);
    }

    std::deque<Block> mBlocks;
    std::vector<Block*> mSpare;
    Block* mCurrent = nullptr;
    std::size_t mBytes = 0;
};

/// Copies of the DSO names that frames named: a recording names few, each in many frames, so
/// frames point at one copy rather than each holding its own. Bounded: once full, further names
/// are copied with their records.
class PerfRecordReorderer::DsoNames {
public:
    static constexpr std::size_t kMaxNames = 64;

    /// The kept copy of `name`, or an empty view when there is none (and no room for one when
    /// `add` is false).
    std::string_view Find(std::string_view name, bool add)
    {
        if (mLast < mNames.size() && mNames[mLast] == name)
            return mNames[mLast];
        for (std::size_t i = 0; i < mNames.size(); ++i)
            if (mNames[i] == name) {
                mLast = i;
                return mNames[i];
            }
        if (!add || mNames.size() >= kMaxNames || name.empty())
            return {};
        mLast = mNames.size();
        return mNames.emplace_back(name);
    }

private:
    std::deque<std::string> mNames; ///< never move, so views of them stay valid
    std::size_t mLast = 0;
};

/// A record copied out of the parser's buffers: its views and frames point into the arena.
struct PerfRecordReorderer::Held {
    enum class EKind : uint8_t { Sample, SchedSwitch, Task, Mmap };

    /// What the memory bound counts for a record besides its text and frames.
    static constexpr std::size_t kOverhead = 544;

    EKind kind = EKind::Sample;
    bool timed = false;
    uint64_t key = 0; ///< the time it is handed on at
    uint64_t sequence = 0;
    PerfSchedSwitch record; ///< samples use its `sample`
    PerfTaskEvent task;
    PerfMmapEvent mmap;
    Arena::Block* block = nullptr;
    std::size_t bytes = 0; ///< text and frames

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

    std::size_t Bytes() const { return kOverhead + bytes; }

    /// Visits every string view of the record (frames excepted) in a fixed order.
    template <class Visit> void ForEachView(Visit&& visit)
    {
        switch (kind) {
        case EKind::Sample:
        case EKind::SchedSwitch:
            visit(record.sample.header.comm);
            visit(record.sample.eventName);
            visit(record.sample.arguments);
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

    /// Copies the frames and the text that the views point to into the arena (DSO names into
    /// `dsoNames`), and points the views at the copies.
    void Keep(Arena& arena, DsoNames& dsoNames)
    {
        const std::span<const PerfFrame> source =
            kind == EKind::Sample || kind == EKind::SchedSwitch ? record.sample.frames
                                                                : std::span<const PerfFrame>();
        std::size_t textBytes = 0;
        ForEachView([&textBytes](std::string_view& view) { textBytes += view.size(); });
        std::size_t sharedBytes = 0;
        for (const PerfFrame& frame : source) {
            textBytes += frame.symbol.size() + frame.dso.size();
            sharedBytes += dsoNames.Find(frame.dso, true).size();
        }
        const std::size_t frameBytes = source.size() * sizeof(PerfFrame);
        // The memory bound counts the text as if each record held all of it.
        bytes = frameBytes + textBytes;
        char* at = arena.Allocate(bytes - sharedBytes, block);
        PerfFrame* frames = reinterpret_cast<PerfFrame*>(at);
        char* text = at + frameBytes;
        auto copy = [&text](std::string_view& view) {
            if (view.empty()) {
                view = {};
                return;
            }
            std::memcpy(text, view.data(), view.size());
            view = std::string_view(text, view.size());
            text += view.size();
        };
        for (std::size_t i = 0; i < source.size(); ++i) {
            PerfFrame& frame = *new (frames + i) PerfFrame(source[i]);
            copy(frame.symbol);
            if (const std::string_view shared = dsoNames.Find(frame.dso, false); !shared.empty())
                frame.dso = shared;
            else
                copy(frame.dso);
        }
        ForEachView(copy);
        if (kind == EKind::Sample || kind == EKind::SchedSwitch)
            record.sample.frames = std::span<const PerfFrame>(frames, source.size());
    }
};

bool PerfRecordReorderer::NextIsInOrder() const
{
    return mHeap.empty() || (!mInOrder.empty() && mHeap.front() > mInOrder.front());
}

PerfRecordReorderer::PerfRecordReorderer(IPerfScriptHandler& downstream)
    : mDownstream(downstream), mArena(std::make_unique<Arena>()), mDsoNames(std::make_unique<DsoNames>())
{
}

PerfRecordReorderer::~PerfRecordReorderer() = default;

PerfRecordReorderer::Held& PerfRecordReorderer::Acquire()
{
    if (!mFree.empty()) {
        Held* record = mFree.back();
        mFree.pop_back();
        return *record;
    }
    return mPool.emplace_back();
}

void PerfRecordReorderer::OnSample(const PerfSample& sample)
{
    Held& held = Acquire();
    held.kind = Held::EKind::Sample;
    held.record.sample = sample;
    held.Keep(*mArena, *mDsoNames);
    Hold(held, sample.header, true);
}

void PerfRecordReorderer::OnSchedSwitch(const PerfSchedSwitch& record)
{
    Held& held = Acquire();
    held.kind = Held::EKind::SchedSwitch;
    held.record = record;
    held.Keep(*mArena, *mDsoNames);
    Hold(held, record.sample.header, false);
}

void PerfRecordReorderer::OnTaskEvent(const PerfTaskEvent& event)
{
    Held& held = Acquire();
    held.kind = Held::EKind::Task;
    held.task = event;
    held.Keep(*mArena, *mDsoNames);
    Hold(held, event.header, false);
}

void PerfRecordReorderer::OnMmapEvent(const PerfMmapEvent& event)
{
    Held& held = Acquire();
    held.kind = Held::EKind::Mmap;
    held.mmap = event;
    held.Keep(*mArena, *mDsoNames);
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
        if (!mHaveTime && IsEmpty())
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
    const Queued queued{key, record.sequence, &record};
    if (mInOrder.empty() || queued > mInOrder.back()) {
        mInOrder.push_back(queued);
    } else {
        mHeap.push_back(queued);
        std::push_heap(mHeap.begin(), mHeap.end(), std::greater<>{});
    }
    mHeldBytes += record.Bytes();
    // The arena's blocks hold more than the records in them when a few records that stay long
    // keep otherwise empty blocks alive; they count against the bound too.
    while ((mHeldBytes > kMaxHeldBytes || mArena->GetBytes() > 2 * kMaxHeldBytes) && !IsEmpty())
        ReleaseFirst();
}

void PerfRecordReorderer::ReleaseUpTo(uint64_t key)
{
    while (!IsEmpty() && (NextIsInOrder() ? mInOrder.front() : mHeap.front()).key <= key)
        ReleaseFirst();
}

void PerfRecordReorderer::ReleaseFirst()
{
    Held* next;
    if (NextIsInOrder()) {
        next = mInOrder.front().record;
        mInOrder.pop_front();
    } else {
        std::pop_heap(mHeap.begin(), mHeap.end(), std::greater<>{});
        next = mHeap.back().record;
        mHeap.pop_back();
    }
    Held& record = *next;
    mHeldBytes -= record.Bytes();
    mReleasedNs = std::max(mReleasedNs, record.key);
    Deliver(record);
}

void PerfRecordReorderer::Deliver(Held& record)
{
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
    mArena->Release(*record.block);
    record.block = nullptr;
    mFree.push_back(&record);
}

void PerfRecordReorderer::Finish()
{
    if (mSuspect)
        ResolveSuspect(0, false);
    ReleaseUpTo(~0ull);
}

} // namespace Profiler
