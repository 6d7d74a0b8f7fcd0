// Reads damaged snapshot records (decompressed): the serialized open bar processor state, then
// the stored graph record. A state that reads is written again and must read back the same; the
// processor then goes on with a few events, so that read bars are exercised.

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CallGraphModel/IBrokenStackCursor.h"
#include "CallGraphModel/ITraceEventSource.h"
#include "CallGraphModel/OpenBarProcessor.h"
#include "CallGraphModel/RecordReader.h"
#include "Utility/ErrorList.h"

#include <cstdlib>
#include <cstring>
#include <limits>

using namespace Profiler;

namespace {

/// A capture with one stack, for a processor whose state comes from the input.
class TinyInput final : public IOpenBarInput {
public:
    double GetSampleInterval() const override { return 1.0; }
    double GetCaptureStartTime() const override { return 0.0; }
    double GetThreadStartTime(ThreadID) const override { return 0.0; }
    bool ResolveStack(ThreadID, uint64_t stackId, double, std::vector<ResolvedFrame>& frames) const override
    {
        frames.clear();
        for (uint64_t i = 0; i < stackId % 5; ++i)
            frames.push_back({ResolvedAddress::Make(0x1000 * (i + 1), 0, 1), 0x1000 * (i + 1) + 0x10,
                              i == 0 ? ~uint64_t{0} : 0x1000 * i + 0x10});
        return true;
    }
    ResolvedAddress ResolveZone(const TraceEvent&) const override
    {
        return ResolvedAddress::Make(0x9000, 2, 0, true);
    }
    std::unique_ptr<IBrokenStackCursor> CreateBrokenStackCursor(ThreadID, double) const override
    {
        return nullptr;
    }
    IOpenBarFiberState* GetFiberState() const override { return nullptr; }
    std::unique_ptr<ITraceEventSource> CreateEventSource() const override { return nullptr; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const TinyInput input;
    if (size < 4)
        return 0;
    uint32_t thread = 0;
    std::memcpy(&thread, data, sizeof(thread));
    OpenBarProcessor processor(input, ThreadID{thread}, true, OpenBarProcessor::kNoReportingInterval, 0.0);
    Serialization::ErrorList errors;
    RecordReader reader(std::span<const uint8_t>(data, size));
    if (processor.Deserialize(reader, errors)) {
        std::vector<uint8_t> written;
        processor.Serialize(written);
        OpenBarProcessor again(input, ThreadID{thread}, true, OpenBarProcessor::kNoReportingInterval, 0.0);
        RecordReader rereader(written);
        std::vector<uint8_t> rewritten;
        if (!again.Deserialize(rereader, errors) || (again.Serialize(rewritten), rewritten != written))
            std::abort();
        CallGraph bars;
        CallGraphOpenBarProcessorRouter router(processor, bars);
        TraceEvent event;
        event.threadId = ThreadID{thread};
        event.kind = ETraceEventKind::Sample;
        event.time = processor.GetBars().empty() ? 0.0 : processor.GetBars().back().EndTime;
        event.stackId = 3;
        processor.HandleEvent(event, std::numeric_limits<double>::max());
        event.kind = ETraceEventKind::ZoneEnd;
        processor.HandleEvent(event, std::numeric_limits<double>::max());
        processor.CloseAll();
    }
    CallGraph graph;
    graph.GetRoot().DeserializeAdd(reader, errors);
    return 0;
}
