#include "CallGraphModel/SnapshotTable.h"

#include <algorithm>

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::SnapshotTable, 1)
{
    type.Property("Snapshots", &SnapshotTable::mSnapshots)
        .Property("FullSnapshots", &SnapshotTable::mFullSnapshots);
}

QX_RTTI_DEFINE_CLASS(Profiler::SnapshotTable::SnapshotDescription, 1)
{
    type.Property("Time", &SnapshotDescription::mTime)
        .Property("Offset", &SnapshotDescription::mOffset)
        .Property("Size", &SnapshotDescription::mSize)
        .Property("Type", &SnapshotDescription::mType);
}

void SnapshotTable::Append(const SnapshotDescription& snapshot)
{
    if (snapshot.mType == ESnapshotType::Full)
        mFullSnapshots.push_back(static_cast<uint32_t>(mSnapshots.size()));
    mSnapshots.push_back(snapshot);
}

void SnapshotTable::InsertBeforeLast(const SnapshotDescription& snapshot)
{
    if (mSnapshots.empty()) {
        Append(snapshot);
        return;
    }
    const SnapshotDescription last = mSnapshots.back();
    mSnapshots.pop_back();
    if (!mFullSnapshots.empty() && mFullSnapshots.back() == mSnapshots.size())
        mFullSnapshots.pop_back();
    Append(snapshot);
    Append(last);
}

bool SnapshotTable::HasSnapshotAt(double time) const
{
    // Snapshots ascend, so a repeated time is nearly always the latest one: search from there.
    for (auto it = mSnapshots.rbegin(); it != mSnapshots.rend(); ++it)
        if (it->mTime == time)
            return true;
    return false;
}

SnapshotTable::Range SnapshotTable::FindSnapshots(double time) const
{
    if (mFullSnapshots.empty() || mSnapshots[mFullSnapshots.front()].mTime > time)
        return {};
    // The last Full snapshot at or before `time`.
    auto after = std::upper_bound(mFullSnapshots.begin(), mFullSnapshots.end(), time,
                                  [this](double t, uint32_t index) { return t < mSnapshots[index].mTime; });
    const uint32_t first = *std::prev(after);
    uint32_t last = first + 1;
    while (last < mSnapshots.size() && mSnapshots[last].mTime <= time)
        ++last;
    return {first, last - first};
}

bool SnapshotTable::Repair()
{
    std::vector<uint32_t> fullSnapshots;
    for (uint32_t i = 0; i < mSnapshots.size(); ++i) {
        if (i > 0 && !(mSnapshots[i - 1].mTime <= mSnapshots[i].mTime))
            return false;
        if (mSnapshots[i].mType != ESnapshotType::Full && mSnapshots[i].mType != ESnapshotType::Delta)
            return false;
        if (mSnapshots[i].mType == ESnapshotType::Full)
            fullSnapshots.push_back(i);
    }
    mFullSnapshots = std::move(fullSnapshots);
    return true;
}

} // namespace Profiler
