#include "CallGraphModel/OpenBarFiberState.h"

#include "Utility/Fnv1a.h"

#include <algorithm>

namespace Profiler {

namespace {

uint64_t HashBars(std::span<const SavedFiberBar> bars)
{
    uint64_t hash = Utility::kFnv1aOffsetBasis;
    for (const SavedFiberBar& bar : bars) {
        hash = Utility::Fnv1aValue(bar.InstrumentationContextID, hash);
        hash = Utility::Fnv1aValue(bar.LastAbsoluteAddress, hash);
        hash = Utility::Fnv1aValue(bar.ReturnAddress, hash);
        hash = Utility::Fnv1aValue(bar.Frame.RelativeAddress, hash);
        hash = Utility::Fnv1aValue(bar.Frame.ResolveIndex, hash);
    }
    return hash;
}

} // namespace

void OpenBarFiberState::SaveFiberState(uint64_t contextId, double time, std::span<const SavedFiberBar> bars)
{
    std::lock_guard lock(mMutex);
    const uint32_t index = AddState(bars);
    std::vector<FiberEvent>& events = mEvents[contextId];
    // Keep time order even if a producer saves out of order; equal times stay in saving order.
    auto position = std::upper_bound(events.begin(), events.end(), time,
                                     [](double t, const FiberEvent& event) { return t < event.EventTimeMs; });
    events.insert(position, FiberEvent{time, index});
}

bool OpenBarFiberState::FindFiberState(uint64_t contextId, double time,
                                       std::vector<SavedFiberBar>& bars) const
{
    std::lock_guard lock(mMutex);
    auto found = mEvents.find(contextId);
    if (found == mEvents.end())
        return false;
    const std::vector<FiberEvent>& events = found->second;
    auto atOrAfter =
        std::lower_bound(events.begin(), events.end(), time,
                         [](const FiberEvent& event, double t) { return event.EventTimeMs < t; });
    if (atOrAfter == events.begin())
        return false;
    const std::vector<SavedFiberBar>& state = mStates[std::prev(atOrAfter)->FiberStateIndex];
    bars.assign(state.begin(), state.end());
    return true;
}

OpenBarFiberState::FiberStates OpenBarFiberState::GetFiberStates() const
{
    std::lock_guard lock(mMutex);
    return mStates;
}

OpenBarFiberState::FiberEvents OpenBarFiberState::GetFiberEvents() const
{
    std::lock_guard lock(mMutex);
    return mEvents;
}

void OpenBarFiberState::Assign(FiberStates states, FiberEvents events)
{
    std::lock_guard lock(mMutex);
    mStates = std::move(states);
    mEvents.clear();
    mStatesByHash.clear();
    for (uint32_t i = 0; i < mStates.size(); ++i)
        IndexState(i);
    for (auto& [context, list] : events) {
        std::erase_if(list,
                      [this](const FiberEvent& event) { return event.FiberStateIndex >= mStates.size(); });
        std::stable_sort(list.begin(), list.end(), [](const FiberEvent& a, const FiberEvent& b) {
            return a.EventTimeMs < b.EventTimeMs;
        });
        if (!list.empty())
            mEvents.emplace(context, std::move(list));
    }
}

uint32_t OpenBarFiberState::AddState(std::span<const SavedFiberBar> bars)
{
    const uint64_t hash = HashBars(bars);
    auto [first, last] = mStatesByHash.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        const std::vector<SavedFiberBar>& state = mStates[it->second];
        if (std::equal(state.begin(), state.end(), bars.begin(), bars.end()))
            return it->second;
    }
    const auto index = static_cast<uint32_t>(mStates.size());
    mStates.emplace_back(bars.begin(), bars.end());
    mStatesByHash.emplace(hash, index);
    return index;
}

void OpenBarFiberState::IndexState(uint32_t index)
{
    mStatesByHash.emplace(HashBars(mStates[index]), index);
}

} // namespace Profiler
