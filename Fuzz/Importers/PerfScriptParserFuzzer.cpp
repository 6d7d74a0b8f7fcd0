// Feeds arbitrary bytes to the perf script parser in chunks of a size taken from the input,
// and runs every record through the folding names and the wait classification, as the
// importer does, after the reorder window (which must hand on timed records in time order).
// Any crash, sanitizer report or broken invariant is a finding.

#include "Importers/FoldedStackNamer.h"
#include "Importers/PerfRecordReorderer.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfWaitReasonMapper.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace Profiler;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class ExercisingHandler : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override
    {
        CheckOrder(sample.header, true);
        Fold(sample);
    }
    void OnSchedSwitch(const PerfSchedSwitch& sw) override
    {
        CheckOrder(sw.sample.header, false);
        Fold(sw.sample);
        EPerfWaitKind kind = PerfWaitReasonMapper::Classify(sw.prevState, sw.sample.frames);
        Check(PerfWaitReasonMapper::ToWaitReason(kind) <= 37);
        Check(PerfWaitReasonMapper::FirstUserFrame(sw.sample.frames) <= sw.sample.frames.size());
    }
    void OnTaskEvent(const PerfTaskEvent& task) override
    {
        CheckOrder(task.header, false);
        mSink += task.newComm.size() + task.header.comm.size();
    }
    void OnMmapEvent(const PerfMmapEvent& mmap) override { mSink += mmap.fileName.size(); }

private:
    void CheckOrder(const PerfRecordHeader& header, bool isSample)
    {
        if (!header.timeNs || (!isSample && *header.timeNs == 0))
            return;
        Check(*header.timeNs >= mLastTimeNs);
        mLastTimeNs = *header.timeNs;
    }

    void Fold(const PerfSample& sample)
    {
        Check(sample.frames.size() <= PerfScriptParser::kMaxFrames);
        // Samples of texts without thread ids (`-F comm,ip,sym`, `-F ip,sym`) have one thread
        // per command name, possibly empty.
        if (sample.header.tid <= kUnnamedThreadIdBase)
            Check(!sample.header.pid && sample.header.tid == UnnamedThreadId(sample.header.comm));
        mStack =
            FoldedStackNamer::StackPrefix(sample.header.comm, sample.header.pid, sample.header.tid, mOptions);
        for (const PerfFrame& frame : sample.frames) {
            FoldedStackNamer::AppendFrame(mStack, frame.symbol, frame.dso, frame.address, sample.header.comm,
                                          mOptions);
            mSink += FoldedStackNamer::DisplayName(frame.symbol, frame.dso).size();
            // Folding a capture tells unknown ranges from named functions by their names.
            Check(FoldedStackNamer::IsUnknownRangeName(
                FoldedStackNamer::UnknownRangeName(frame.dso, frame.address), frame.dso));
        }
        // Alternate the options so that every naming path is reached.
        mOptions.includeAddresses = !mOptions.includeAddresses;
        mOptions.annotateKernel = mOptions.includeAddresses;
        mOptions.annotateJit = !mOptions.annotateJit;
        mOptions.includeTid = mOptions.annotateJit && mOptions.includeAddresses;
    }

    FoldOptions mOptions;
    std::string mStack;
    std::size_t mSink = 0;
    uint64_t mLastTimeNs = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::size_t chunk = size > 0 ? static_cast<std::size_t>(data[0]) + 1 : 1;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    ExercisingHandler handler;
    PerfRecordReorderer reorderer(handler);
    PerfScriptParser parser(reorderer);
    for (std::size_t at = 0; at < input.size(); at += chunk)
        parser.Feed(input.substr(at, chunk));
    parser.Finish();
    reorderer.Finish();

    const PerfScriptParseStats& stats = parser.GetStats();
    Check(stats.bytes == size);
    Check(parser.GetFirstError().has_value() == (stats.badLines > 0));
    if (parser.GetFirstError())
        Check(parser.GetFirstError()->lineNumber >= 1 && parser.GetFirstError()->lineNumber <= stats.lines);
    return 0;
}
