#pragma once

#include "CallGraphModel/IOpenBarFiberState.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace Profiler {

/// The in-memory fiber state: saved bar lists, stored once each, and per instrumentation
/// context the fiber events that refer to them, in the order saved. The shared model of a
/// session persists the same two tables.
class OpenBarFiberState final : public IOpenBarFiberState {
public:
    struct FiberEvent {
        double EventTimeMs = 0.0;
        uint32_t FiberStateIndex = 0;
    };
    using FiberStates = std::vector<std::vector<SavedFiberBar>>;
    using FiberEvents = std::map<uint64_t, std::vector<FiberEvent>>;

    void SaveFiberState(uint64_t contextId, double time, std::span<const SavedFiberBar> bars) override;
    bool FindFiberState(uint64_t contextId, double time, std::vector<SavedFiberBar>& bars) const override;

    FiberStates GetFiberStates() const;
    FiberEvents GetFiberEvents() const;
    /// Replaces both tables (a loaded shared model). Events whose state index is out of range
    /// are dropped; each context's events are kept in time order.
    void Assign(FiberStates states, FiberEvents events);

private:
    uint32_t AddState(std::span<const SavedFiberBar> bars);
    void IndexState(uint32_t index);

    mutable std::mutex mMutex;
    FiberStates mStates;
    FiberEvents mEvents;
    std::unordered_multimap<uint64_t, uint32_t> mStatesByHash; ///< FNV-1a of the bars -> state index
};

} // namespace Profiler
