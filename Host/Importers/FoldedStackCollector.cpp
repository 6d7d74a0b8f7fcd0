#include "Importers/FoldedStackCollector.h"

#include <algorithm>
#include <vector>

namespace Profiler {

FoldedStackCollector::FoldedStackCollector(const FoldOptions& options, std::string eventName)
    : mOptions(options), mEventName(std::move(eventName))
{}

void FoldedStackCollector::OnSample(const PerfSample& sample)
{
    if (!mEventChosen) {
        // The first sample picks the event (it may be unnamed when `-F` leaves the event out).
        mEventChosen = true;
        if (mEventName.empty())
            mEventName = sample.eventName;
    }
    if (sample.eventName != mEventName) {
        ++mSkippedSamples;
        return;
    }
    const PerfRecordHeader& header = sample.header;
    mStack = FoldedStackNamer::StackPrefix(header.comm, header.pid, header.tid, mOptions);
    for (auto frame = sample.frames.rbegin(); frame != sample.frames.rend(); ++frame)
        FoldedStackNamer::AppendFrame(mStack, frame->symbol, frame->dso, frame->address, header.comm,
                                      mOptions);
    uint64_t weight = sample.period && *sample.period != 0 ? *sample.period : 1;
    mCounts[mStack] += weight;
}

std::string FoldedStackCollector::ToText() const
{
    std::vector<const std::pair<const std::string, uint64_t>*> entries;
    entries.reserve(mCounts.size());
    for (const auto& entry : mCounts)
        entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    std::string text;
    for (const auto* entry : entries) {
        text += entry->first;
        text += ' ';
        text += std::to_string(entry->second);
        text += '\n';
    }
    return text;
}

} // namespace Profiler
