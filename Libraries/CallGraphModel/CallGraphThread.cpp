#include "CallGraphModel/CallGraphThread.h"

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::CallGraphThread, 1)
{
    type.Property("ThreadID", &CallGraphThread::mThreadID)
        .Property("SnapshotTable", &CallGraphThread::mSnapshotTable);
}

void CallGraphThread::AppendSnapshot(const SnapshotDescription& snapshot)
{
    std::lock_guard lock(mMutex);
    mSnapshotTable.Append(snapshot);
}

void CallGraphThread::InsertSnapshotBeforeLast(const SnapshotDescription& snapshot)
{
    std::lock_guard lock(mMutex);
    mSnapshotTable.InsertBeforeLast(snapshot);
}

bool CallGraphThread::HasSnapshotAt(double time) const
{
    std::lock_guard lock(mMutex);
    return mSnapshotTable.HasSnapshotAt(time);
}

std::vector<CallGraphThread::SnapshotDescription> CallGraphThread::FindSnapshots(double time,
                                                                                 uint32_t* firstIndex) const
{
    std::lock_guard lock(mMutex);
    const SnapshotTable::Range range = mSnapshotTable.FindSnapshots(time);
    if (firstIndex != nullptr)
        *firstIndex = range.first;
    const auto& snapshots = mSnapshotTable.GetSnapshots();
    return {snapshots.begin() + range.first, snapshots.begin() + range.first + range.count};
}

std::optional<CallGraphThread::SnapshotDescription> CallGraphThread::GetLastSnapshot() const
{
    std::lock_guard lock(mMutex);
    const auto& snapshots = mSnapshotTable.GetSnapshots();
    if (snapshots.empty())
        return std::nullopt;
    return snapshots.back();
}

SnapshotTable CallGraphThread::GetTable() const
{
    std::lock_guard lock(mMutex);
    return mSnapshotTable;
}

void CallGraphThread::SetTable(SnapshotTable table)
{
    std::lock_guard lock(mMutex);
    mSnapshotTable = std::move(table);
}

bool CallGraphThread::RepairTable()
{
    std::lock_guard lock(mMutex);
    return mSnapshotTable.Repair();
}

} // namespace Profiler
