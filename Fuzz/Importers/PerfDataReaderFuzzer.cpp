// Reads arbitrary bytes as a perf.data file (through a memory file, as the reader maps a path)
// and checks what comes out: every record the statistics count reached the handler, no stack
// is deeper than the parser's cap, and every record names its thread. Any crash, sanitizer
// report or broken invariant is a finding.

#include "Importers/PerfDataReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace Profiler;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class CountingHandler : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override
    {
        Check(sample.frames.size() <= PerfScriptParser::kMaxFrames);
        Check(!sample.header.comm.empty());
        for (const PerfFrame& frame : sample.frames)
            mSink += frame.symbol.size() + frame.dso.size();
        ++Samples;
    }
    void OnSchedSwitch(const PerfSchedSwitch& record) override
    {
        Check(record.sample.frames.size() <= PerfScriptParser::kMaxFrames);
        Check(!record.prevState.empty());
        mSink += record.prevComm.size() + record.nextComm.size();
        ++Switches;
    }
    void OnTaskEvent(const PerfTaskEvent& event) override
    {
        Check(!event.header.comm.empty());
        ++Tasks;
    }
    void OnMmapEvent(const PerfMmapEvent& event) override
    {
        mSink += event.fileName.size();
        ++Mmaps;
    }
    uint64_t Samples = 0, Switches = 0, Tasks = 0, Mmaps = 0;

private:
    std::size_t mSink = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const int fd = memfd_create("perf.data", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = write(fd, data + written, size - written);
        if (count <= 0)
            break;
        written += static_cast<std::size_t>(count);
    }
    CountingHandler handler;
    PerfScriptParser parser(handler);
    PerfDataReader::Options options;
    options.Workers = 1; // the threaded path, deterministic enough to reproduce
    options.KernelSymbols = false;
    std::string reason;
    Serialization::ErrorList errors;
    const auto result =
        PerfDataReader::Read("/proc/self/fd/" + std::to_string(fd), parser, options, reason, errors);
    close(fd);
    const PerfScriptParseStats& stats = parser.GetStats();
    Check(stats.samples == handler.Samples);
    Check(stats.schedSwitches == handler.Switches);
    Check(stats.taskEvents + stats.switchRecords == handler.Tasks);
    Check(stats.mmapEvents == handler.Mmaps);
    Check(result != PerfDataReader::EResult::Unsupported || handler.Samples + handler.Tasks + handler.Mmaps == 0);
    return 0;
}
