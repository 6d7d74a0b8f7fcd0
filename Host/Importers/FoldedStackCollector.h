#pragma once

#include "Importers/FoldedStackNamer.h"
#include "Importers/PerfScriptRecords.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace Profiler {

/// Folds the samples of a perf script stream straight from the parser, without a capture:
/// one weighted count per distinct folded stack. Only samples of one event are counted, the
/// one asked for or else the first sampled event of the input; context switch records never
/// count. A sample weighs its period, or 1 when the header carries none.
class FoldedStackCollector : public IPerfScriptHandler {
public:
    explicit FoldedStackCollector(const FoldOptions& options, std::string eventName = {});

    void OnSample(const PerfSample& sample) override;

    /// `STACK COUNT` lines sorted by byte value, each ending in a line break.
    std::string ToText() const;
    /// The event that was counted (empty before the first sample).
    const std::string& GetEventName() const { return mEventName; }
    uint64_t GetSkippedSamples() const { return mSkippedSamples; }

private:
    FoldOptions mOptions;
    std::string mEventName;
    bool mEventChosen = false;
    std::unordered_map<std::string, uint64_t> mCounts;
    std::string mStack; // reused for every sample
    uint64_t mSkippedSamples = 0;
};

} // namespace Profiler
