#pragma once

#include "CallGraphModel/SnapshotTable.h"
#include "CaptureModel/Identifiers.h"
#include "RTTI/Object.h"
#include "RTTI/Reflection.h"

#include <mutex>
#include <optional>
#include <vector>

namespace Profiler {

/// One thread of the call graph model: where its snapshots lie. The table is guarded by the
/// thread's own mutex, since the writing job appends while queries read.
class CallGraphThread : public RTTI::Object {
    QX_RTTI_CLASS(CallGraphThread);

    using SnapshotDescription = SnapshotTable::SnapshotDescription;

    explicit CallGraphThread(ThreadID thread = {}) : mThreadID(thread) {}

    ThreadID GetThreadId() const { return mThreadID; }

    void AppendSnapshot(const SnapshotDescription& snapshot);
    /// Puts a snapshot before the last one (the final snapshot of a thread ended early).
    void InsertSnapshotBeforeLast(const SnapshotDescription& snapshot);
    bool HasSnapshotAt(double time) const;
    /// The snapshots that rebuild the graph at `time` (last Full at or before it, then the
    /// following ones at or before it), and the index of the first in the table.
    std::vector<SnapshotDescription> FindSnapshots(double time, uint32_t* firstIndex = nullptr) const;
    /// The thread's last snapshot (its final one once the thread has ended).
    std::optional<SnapshotDescription> GetLastSnapshot() const;
    /// A copy of the table.
    SnapshotTable GetTable() const;
    void SetTable(SnapshotTable table);
    /// Checks the table read from a file (see SnapshotTable::Repair).
    bool RepairTable();
    void SetThreadId(ThreadID thread) { mThreadID = thread; }

private:
    ThreadID mThreadID;
    SnapshotTable mSnapshotTable;
    mutable std::mutex mMutex;
};

} // namespace Profiler
