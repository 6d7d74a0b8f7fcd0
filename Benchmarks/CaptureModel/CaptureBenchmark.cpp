// A 10-million-event synthetic capture (8 threads in 2 processes, stacks 3 to 24 frames deep
// over 2000 functions, switches, zones, 5% unrooted stacks) written through the capture writer,
// loaded with Session::sLoad and read back through the stream reader; then stack lookups and
// address resolutions on its stacks.

#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/CaptureWriter.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/StackResolver.h"
#include "CaptureModel/SyntheticCaptureGenerator.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <unistd.h>

using namespace Profiler;

namespace {

constexpr uint64_t kEvents = 10'000'000;

using Clock = std::chrono::steady_clock;

RTTI::Registry& GetRegistry()
{
    static RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry;
        RegisterAllCaptureTypes(*made);
        return made;
    }();
    return *registry;
}

SyntheticCaptureGenerator::Parameters CaptureParameters()
{
    SyntheticCaptureGenerator::Parameters parameters;
    parameters.seed = 11;
    parameters.processCount = 2;
    parameters.threadCount = 8;
    parameters.durationMs = 1e9;
    parameters.functionCount = 2000;
    parameters.moduleCount = 6;
    parameters.maxEvents = kEvents;
    return parameters;
}

/// The capture directory, removed when the program ends.
struct CaptureDirectory {
    std::filesystem::path path;
    CaptureDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qx-capture-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        path = pattern;
    }
    ~CaptureDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

CaptureDirectory& GetDirectory()
{
    static CaptureDirectory directory;
    return directory;
}

std::filesystem::path CapturePath()
{
    return GetDirectory().path / "capture";
}

uint64_t DirectoryBytes(const std::filesystem::path& directory)
{
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file())
            bytes += entry.file_size();
    return bytes;
}

bool gCaptureWritten = false;

/// Writes the capture unless BM_WriteCapture did.
void EnsureCapture()
{
    if (gCaptureWritten)
        return;
    std::filesystem::remove_all(CapturePath());
    CaptureWriter writer;
    Serialization::ErrorList errors;
    if (!writer.Open(CapturePath(), GetRegistry(), errors))
        std::abort();
    SyntheticCaptureGenerator::Summary summary;
    if (!SyntheticCaptureGenerator(CaptureParameters()).Fill(writer, summary) || !writer.Finish(errors))
        std::abort();
    gCaptureWritten = true;
}

std::unique_ptr<Session> LoadCapture()
{
    EnsureCapture();
    static const PlatformRegistry platforms;
    std::unique_ptr<Session> session;
    const Platform* platform = nullptr;
    Serialization::ErrorList errors;
    if (Session::sLoad(CapturePath(), GetRegistry(), RTTI::GetDefaultObjectFactory(), {},
                       platforms.GetLookup(), session, platform, errors) != 0)
        std::abort();
    return session;
}

/// (process, stack ID) of the first samples of the capture.
std::vector<std::pair<int32_t, uint64_t>> SampleStacks(const Session& session, std::size_t count)
{
    std::vector<std::pair<int32_t, uint64_t>> stacks;
    TraceEventStreamReader reader(*session.GetTraceEventStream());
    TraceEvent event;
    while (stacks.size() < count && reader.Next(event))
        if (event.kind == ETraceEventKind::Sample)
            stacks.emplace_back(static_cast<int32_t>(event.processId), event.stackId);
    return stacks;
}

void BM_WriteCapture(benchmark::State& state)
{
    for (auto _ : state) {
        std::filesystem::remove_all(CapturePath());
        CaptureWriter writer;
        Serialization::ErrorList errors;
        const Clock::time_point start = Clock::now();
        if (!writer.Open(CapturePath(), GetRegistry(), errors))
            std::abort();
        SyntheticCaptureGenerator::Summary summary;
        if (!SyntheticCaptureGenerator(CaptureParameters()).Fill(writer, summary))
            std::abort();
        const Clock::time_point appended = Clock::now();
        if (!writer.Finish(errors))
            std::abort();
        const Clock::time_point finished = Clock::now();
        gCaptureWritten = true;
        const double appendSeconds = std::chrono::duration<double>(appended - start).count();
        const double finishSeconds = std::chrono::duration<double>(finished - appended).count();
        const double events = static_cast<double>(summary.events);
        state.counters["events"] = events;
        state.counters["events_per_s_written"] = events / (appendSeconds + finishSeconds);
        state.counters["events_per_s_appended"] = events / appendSeconds;
        state.counters["finish_s"] = finishSeconds;
        state.counters["bytes_per_event_events_dat"] =
            static_cast<double>(std::filesystem::file_size(CapturePath() / "events.dat")) / events;
        state.counters["bytes_per_event_capture"] =
            static_cast<double>(DirectoryBytes(CapturePath())) / events;
        state.counters["samples"] = static_cast<double>(summary.samples);
    }
}
BENCHMARK(BM_WriteCapture)->Iterations(1)->Unit(benchmark::kSecond);

void BM_LoadAndReadCapture(benchmark::State& state)
{
    EnsureCapture();
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        std::unique_ptr<Session> session = LoadCapture();
        const Clock::time_point loaded = Clock::now();
        TraceEventStreamReader reader(*session->GetTraceEventStream());
        reader.SetZonesEnabled(true);
        TraceEvent event;
        uint64_t events = 0;
        uint64_t checksum = 0;
        while (reader.Next(event)) {
            ++events;
            checksum += event.stackId + event.data8;
        }
        benchmark::DoNotOptimize(checksum);
        const Clock::time_point read = Clock::now();
        const double readSeconds = std::chrono::duration<double>(read - loaded).count();
        state.counters["load_s"] = std::chrono::duration<double>(loaded - start).count();
        state.counters["events_per_s_read"] = static_cast<double>(events) / readSeconds;
        state.counters["io_s"] = reader.GetIoSeconds();
        state.counters["stack_nodes"] = static_cast<double>(session->GetNodeStore()->GetNodeCount());
    }
}
BENCHMARK(BM_LoadAndReadCapture)->Iterations(1)->Unit(benchmark::kSecond);

void BM_StackLookups(benchmark::State& state)
{
    static std::unique_ptr<Session> session = LoadCapture();
    const CallstackNodeStore& store = *session->GetNodeStore();
    std::mt19937_64 random(5);
    std::vector<uint64_t> ids(1 << 16);
    for (uint64_t& id : ids)
        id = 1 + random() % (store.GetNodeCount() - 1);
    std::vector<uint64_t> frames;
    std::size_t next = 0;
    uint64_t depth = 0;
    for (auto _ : state) {
        store.GetStack(ids[next++ & (ids.size() - 1)], frames);
        depth += frames.size();
    }
    state.counters["lookups_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["mean_depth"] = static_cast<double>(depth) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_StackLookups);

void BM_ResolveStacksMemoized(benchmark::State& state)
{
    static std::unique_ptr<Session> session = LoadCapture();
    static const auto stacks = SampleStacks(*session, 200'000);
    std::vector<ResolvedFrame> frames;
    for (const auto& [process, stack] : stacks) // warm the memo
        session->ResolveStack(process, stack, 0.0, frames);
    std::size_t next = 0;
    uint64_t resolved = 0;
    for (auto _ : state) {
        const auto& [process, stack] = stacks[next++ % stacks.size()];
        session->ResolveStack(process, stack, 0.0, frames);
        resolved += frames.size();
    }
    state.counters["stacks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(resolved), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResolveStacksMemoized);

/// The same stacks resolved frame by frame in the module database, without the memo.
void BM_ResolveStacksUnmemoized(benchmark::State& state)
{
    static std::unique_ptr<Session> session = LoadCapture();
    static const auto stacks = SampleStacks(*session, 200'000);
    const ModuleDatabase& modules = session->GetModuleDatabase();
    std::vector<uint64_t> addresses;
    std::vector<ResolvedFrame> frames;
    std::size_t next = 0;
    uint64_t resolved = 0;
    for (auto _ : state) {
        const auto& [process, stack] = stacks[next++ % stacks.size()];
        session->GetCallstack(stack, addresses);
        frames.clear();
        uint64_t caller = ~0ull;
        for (uint64_t address : addresses) {
            frames.push_back({modules.Resolve(process, 0.0, address).Function, address, caller});
            caller = address;
        }
        resolved += frames.size();
    }
    state.counters["stacks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(resolved), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResolveStacksUnmemoized);

void BM_ResolveAddressesUnmemoized(benchmark::State& state)
{
    static std::unique_ptr<Session> session = LoadCapture();
    static const auto stacks = SampleStacks(*session, 20'000);
    std::vector<std::pair<int32_t, uint64_t>> addresses;
    std::vector<uint64_t> frames;
    for (const auto& [process, stack] : stacks) {
        session->GetCallstack(stack, frames);
        for (uint64_t address : frames)
            addresses.emplace_back(process, address);
    }
    const ModuleDatabase& modules = session->GetModuleDatabase();
    std::size_t next = 0;
    for (auto _ : state) {
        const auto& [process, address] = addresses[next++ % addresses.size()];
        benchmark::DoNotOptimize(modules.Resolve(process, 1.0, address));
    }
    state.counters["resolutions_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResolveAddressesUnmemoized);

void BM_ResolveAddressesMemoized(benchmark::State& state)
{
    static std::unique_ptr<Session> session = LoadCapture();
    static const auto stacks = SampleStacks(*session, 20'000);
    std::vector<std::pair<int32_t, uint64_t>> addresses;
    std::vector<uint64_t> frames;
    for (const auto& [process, stack] : stacks) {
        session->GetCallstack(stack, frames);
        for (uint64_t address : frames)
            addresses.emplace_back(process, address);
    }
    const StackResolver& resolver = *session->GetStackResolver();
    std::size_t next = 0;
    for (auto _ : state) {
        const auto& [process, address] = addresses[next++ % addresses.size()];
        benchmark::DoNotOptimize(resolver.ResolveAddress(process, address, 1.0));
    }
    state.counters["resolutions_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResolveAddressesMemoized);

} // namespace

BENCHMARK_MAIN();
