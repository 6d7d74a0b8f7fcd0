#pragma once

#include "Importers/PerfScriptRecords.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace Profiler {

struct PerfReorderStats {
    uint64_t reorderedRecords = 0; ///< came after a later record and were sorted into place
    uint64_t lateRecords = 0;      ///< came after the window had passed their time: placed at its edge
    uint64_t outlierRecords = 0;   ///< single records far from the others' time, placed at the latest time
    uint64_t firstOutlierLine = 0;
    uint64_t concatenatedRecordings = 0; ///< times the time went back for good (another recording)
    uint64_t firstConcatenationLine = 0;
    uint64_t timeJumps = 0; ///< long gaps ahead that the records after them confirmed
};

/// Puts the records of a perf script stream in time order before they reach `downstream`, the way
/// perf orders its own events: records are held in a window of kWindowNs and handed on once a
/// record that much later has been seen, earliest first (input order among equal times).
///
/// perf prints its records sorted only as far as its own window reached, so the text is mostly,
/// not strictly, in time order. Beyond the window the input says something else:
/// - A record more than kWindowNs behind or kJumpNs ahead of the latest time is a suspect. It
///   waits for the next timed record: if that one agrees with it (within the window), time really
///   moved. Ahead, that is a gap. Back, another recording follows (`cat a.txt b.txt`): it is
///   placed right after the one before with its own spacing, so its records do not collapse onto
///   one instant. If the next record does not agree, the suspect was an outlier (a damaged or
///   foreign record): it is kept, at the latest time seen, and never moves the clock.
/// - A record behind a time that was handed on already (only after the memory bound forced it)
///   is placed at that time.
///
/// Records without a time, and records other than samples at time 0 (the state perf found when
/// it started), keep their place in the input and do not set the clock. Memory is bounded by
/// kMaxHeldBytes whatever the input: when the window holds more, its earliest records go first.
class PerfRecordReorderer : public IPerfScriptHandler {
public:
    static constexpr uint64_t kWindowNs = 1'000'000'000;
    /// Gaps shorter than this pass without waiting for confirmation: a traced program may well
    /// be idle for a few seconds.
    static constexpr uint64_t kJumpNs = 10'000'000'000;
    static constexpr std::size_t kMaxHeldBytes = 64u << 20;

    explicit PerfRecordReorderer(IPerfScriptHandler& downstream);
    ~PerfRecordReorderer() override;

    void OnSample(const PerfSample& sample) override;
    void OnSchedSwitch(const PerfSchedSwitch& record) override;
    void OnTaskEvent(const PerfTaskEvent& event) override;
    void OnMmapEvent(const PerfMmapEvent& event) override;

    /// Hands on everything still held. A suspect that nothing confirmed is an outlier.
    void Finish();

    const PerfReorderStats& GetStats() const { return mStats; }

private:
    struct Held;
    class Arena;
    class DsoNames;
    /// A held record with its place in the output order: by time, then input order.
    struct Queued {
        uint64_t key;
        uint64_t sequence;
        Held* record;
        bool operator>(const Queued& other) const
        {
            return key != other.key ? key > other.key : sequence > other.sequence;
        }
    };

    Held& Acquire();
    void Hold(Held& record, const PerfRecordHeader& header, bool isSample);
    void Place(Held& record);
    void Push(Held& record, uint64_t key);
    void ReleaseUpTo(uint64_t key);
    void ReleaseFirst();
    void Deliver(Held& record);
    void ResolveSuspect(uint64_t nextTimeNs, bool nextIsTimed);

    IPerfScriptHandler& mDownstream; // not owned
    PerfReorderStats mStats;
    bool IsEmpty() const { return mInOrder.empty() && mHeap.empty(); }
    /// The queue that holds the next record to hand on.
    bool NextIsInOrder() const;

    // Most records come in output order already: they queue in mInOrder at no cost, and only
    // those that come earlier than the last one queued go to the heap.
    std::deque<Queued> mInOrder; ///< in output order
    std::vector<Queued> mHeap;   ///< min-heap in output order
    std::unique_ptr<Arena> mArena; ///< the text and frames of the held records
    std::unique_ptr<DsoNames> mDsoNames;
    std::deque<Held> mPool;
    std::vector<Held*> mFree; ///< records handed on, kept for reuse
    Held* mSuspect = nullptr;
    std::size_t mHeldBytes = 0;
    uint64_t mSequence = 0;
    uint64_t mLatestNs = 0;   ///< the latest time placed so far, in output time
    uint64_t mReleasedNs = 0; ///< the time of the last record handed on
    uint64_t mOffsetNs = 0;   ///< added to the times of a recording that follows another
    bool mHaveTime = false;
};

} // namespace Profiler
