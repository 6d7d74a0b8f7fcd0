#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Profiler {

/// Full snapshots hold a thread's whole graph so far, Delta snapshots what was added since the
/// snapshot before.
enum class ESnapshotType : uint8_t {
    Full = 0,
    Delta = 1,
};
QX_RTTI_ENUM(ESnapshotType, "Profiler::ESnapshotType", Full, Delta);

/// Where one thread's snapshots lie in "Snapshots.dat", in the order written (ascending time).
class SnapshotTable {
    QX_RTTI_STRUCT(SnapshotTable);

    struct SnapshotDescription {
        QX_RTTI_STRUCT(SnapshotDescription);

        double mTime = 0.0;   ///< capture time (ms) at which the snapshot was taken
        uint64_t mOffset = 0; ///< of the compressed record in "Snapshots.dat"
        uint64_t mSize = 0;   ///< bytes of the compressed record
        ESnapshotType mType = ESnapshotType::Full;
    };

    const std::vector<SnapshotDescription>& GetSnapshots() const { return mSnapshots; }
    const std::vector<uint32_t>& GetFullSnapshots() const { return mFullSnapshots; }

    /// Appends a snapshot (and, for a Full one, its index to the Full list).
    void Append(const SnapshotDescription& snapshot);
    /// Puts a snapshot before the last one (after it when the table is empty).
    void InsertBeforeLast(const SnapshotDescription& snapshot);
    bool HasSnapshotAt(double time) const;

    /// The snapshots that rebuild the thread's graph at `time`: the last Full snapshot at or
    /// before it and every following one at or before it, as [first, first + count) of
    /// GetSnapshots(). Count 0 when there is no Full snapshot at or before `time`.
    struct Range {
        uint32_t first = 0;
        uint32_t count = 0;
    };
    Range FindSnapshots(double time) const;

    /// Checks a table read from a file and derives its Full list from the snapshots again, so
    /// that a damaged list cannot point anywhere else. False when the snapshots are not in
    /// ascending time order or have an unknown type.
    bool Repair();

private:
    std::vector<SnapshotDescription> mSnapshots;
    std::vector<uint32_t> mFullSnapshots; ///< indices into mSnapshots of the Full ones, ascending
};

} // namespace Profiler
