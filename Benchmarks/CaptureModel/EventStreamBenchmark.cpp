// Writing and reading a synthetic stream of 10 million events: mostly samples on eight threads,
// with context switches, cut into chunks of 100,000 events as a capture writer would.

#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "CaptureModel/TraceEventStreamWriter.h"
#include "RTTI/Registry.h"
#include "Serialization/Schema.h"
#include "Utility/ErrorList.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <random>

using namespace Profiler;

namespace {

constexpr uint64_t kEvents = 10'000'000;
constexpr uint64_t kEventsPerChunk = 100'000;
constexpr uint32_t kThreads = 8;

std::filesystem::path MakeDirectory(const char* name)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path);
    return path;
}

/// Index files are written through the type registry.
void RegisterTypes()
{
    static RTTI::Registry registry;
    static const bool registered = [] {
        registry.RegisterPrimitives();
        Serialization::RegisterSchemaTypes(registry);
        registry.Register<TraceEventStream>();
        return true;
    }();
    (void)registered;
}

/// Writes the synthetic stream; returns the index.
std::unique_ptr<TraceEventStream> WriteStream(const std::filesystem::path& directory)
{
    RegisterTypes();
    std::mt19937 random(7);
    std::uniform_int_distribution<uint64_t> stack(1, 20000);
    TraceEventStreamWriter writer;
    Serialization::ErrorList errors;
    if (!writer.Open(directory, errors))
        std::abort();
    for (uint64_t i = 0; i < kEvents; ++i) {
        const double time = static_cast<double>(i) * 0.125;
        const ThreadID thread{100 + static_cast<uint32_t>(i % kThreads)};
        const ProcessID process{4};
        const uint64_t choice = i % 20;
        if (choice == 0)
            writer.AddContextSwitchOut(time, process, thread, static_cast<uint8_t>(i % 30));
        else if (choice == 1)
            writer.AddContextSwitchIn(time, process, thread, stack(random));
        else
            writer.AddSample(time, process, thread, stack(random));
        if (writer.GetPendingEventCount() == kEventsPerChunk && !writer.FlushChunk(errors))
            std::abort();
    }
    if (!writer.Close(errors))
        std::abort();
    return writer.TakeStream();
}

const TraceEventStream& SharedStream()
{
    static std::unique_ptr<TraceEventStream> stream = [] {
        const std::filesystem::path directory = MakeDirectory("qx-bench-events-read");
        auto written = WriteStream(directory);
        Serialization::ErrorList errors;
        if (!written->OpenDataFile(directory, errors))
            std::abort();
        return written;
    }();
    return *stream;
}

void BM_WriteEvents(benchmark::State& state)
{
    const std::filesystem::path directory = MakeDirectory("qx-bench-events-write");
    uint64_t bytes = 0;
    for (auto _ : state) {
        WriteStream(directory);
        bytes = std::filesystem::file_size(directory / "events.dat");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEvents));
    state.counters["bytes_per_event"] = static_cast<double>(bytes) / kEvents;
    std::filesystem::remove_all(directory);
}
BENCHMARK(BM_WriteEvents)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ReadAndDecodeEvents(benchmark::State& state)
{
    const TraceEventStream& stream = SharedStream();
    uint64_t read = 0;
    for (auto _ : state) {
        TraceEventStreamReader reader(stream);
        TraceEvent event;
        uint64_t sum = 0;
        while (reader.Next(event)) {
            sum += event.stackId + event.data8;
            ++read;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(read));
}
BENCHMARK(BM_ReadAndDecodeEvents)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadOneThreadOfEight(benchmark::State& state)
{
    const TraceEventStream& stream = SharedStream();
    uint64_t read = 0;
    for (auto _ : state) {
        TraceEventStreamReader reader(stream);
        const ThreadID threads[] = {ThreadID{103}};
        reader.SetThreads(threads);
        TraceEvent event;
        while (reader.Next(event))
            ++read;
    }
    state.SetItemsProcessed(static_cast<int64_t>(read));
}
BENCHMARK(BM_ReadOneThreadOfEight)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SeekAndReadOneSecond(benchmark::State& state)
{
    const TraceEventStream& stream = SharedStream();
    std::mt19937 random(3);
    std::uniform_real_distribution<double> start(0.0, kEvents * 0.125 - 1000.0);
    TraceEventStreamReader reader(stream);
    for (auto _ : state) {
        const double from = start(random);
        reader.Seek(from);
        TraceEvent event;
        while (reader.Next(event, from + 1000.0)) {
        }
    }
}
BENCHMARK(BM_SeekAndReadOneSecond)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
