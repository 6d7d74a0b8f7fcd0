#include "CallGraphModel/SessionBrokenStackCursor.h"

namespace Profiler {

SessionBrokenStackCursor::SessionBrokenStackCursor(const BrokenStackReader& reader, ThreadID thread)
    : mCursor(reader, thread)
{}

bool SessionBrokenStackCursor::Find(double time, uint64_t& closingStackId)
{
    const BrokenStackRecord* range = mCursor.Find(time);
    if (range == nullptr)
        return false;
    closingStackId = range->stackId; // all ones when no rooted stack closed the range
    return true;
}

BrokenStackPosition SessionBrokenStackCursor::GetPosition() const
{
    const BrokenStackCursor::Position position = mCursor.GetPosition();
    BrokenStackPosition stored;
    stored.Words[0] = position.chunkIndex;
    stored.Words[1] = position.recordIndex;
    return stored;
}

void SessionBrokenStackCursor::SetPosition(const BrokenStackPosition& position)
{
    mCursor.SetPosition({position.Words[0], position.Words[1]});
}

} // namespace Profiler
