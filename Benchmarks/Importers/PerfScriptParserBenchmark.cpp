// Throughput of the perf script parser on generated text: from a plain file and a gzip file
// through the reader (what an import sees), and from memory (the parser alone). Reported:
// bytes_per_second (input MB/s), samples_per_second, and the peak resident memory of the run.
//
// The 200 MB input is generated once into the temporary directory and removed at exit;
// QX_PERF_BENCH_MB sets another size.

#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "PeakMemory.h"
#include "SyntheticPerfScript.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <zlib.h>

namespace {

using namespace Profiler;

/// Counts what comes out, touching every frame as a consumer would.
class CountingHandler : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override { Count(sample); }
    void OnSchedSwitch(const PerfSchedSwitch& sw) override { Count(sw.sample); }

    uint64_t records = 0;
    uint64_t frames = 0;
    uint64_t checksum = 0;

private:
    void Count(const PerfSample& sample)
    {
        ++records;
        frames += sample.frames.size();
        for (const PerfFrame& frame : sample.frames)
            checksum += frame.address + frame.symbol.size() + frame.dso.size();
    }
};

uint64_t TargetBytes()
{
    const char* megabytes = std::getenv("QX_PERF_BENCH_MB");
    return (megabytes != nullptr ? std::strtoull(megabytes, nullptr, 10) : 200ull) << 20;
}

/// The generated inputs, made on first use.
struct Inputs {
    std::filesystem::path directory;
    std::filesystem::path plain;
    std::filesystem::path packed;
    SyntheticPerfScript::Totals totals;

    Inputs()
    {
        directory = std::filesystem::temp_directory_path() / ("qx-perf-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        plain = directory / "synthetic.txt";
        packed = directory / "synthetic.txt.gz";
        std::ofstream out(plain, std::ios::binary);
        gzFile gz = gzopen(packed.c_str(), "wb1");
        totals = SyntheticPerfScript::Generate({}, TargetBytes(), [&](std::string_view text) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
        });
        gzclose(gz);
    }
    ~Inputs() { std::filesystem::remove_all(directory); }
};

Inputs& GetInputs()
{
    static Inputs inputs;
    return inputs;
}

void ParseFile(benchmark::State& state, const std::filesystem::path& path)
{
    const Inputs& inputs = GetInputs();
    PeakMemory::Reset();
    CountingHandler handler;
    for (auto _ : state) {
        handler = {};
        PerfScriptParser parser(handler);
        Serialization::ErrorList errors;
        if (!PerfScriptReader::Read(path.string(), parser, errors) || parser.GetFirstError())
            state.SkipWithError("the generated input did not parse cleanly");
        benchmark::DoNotOptimize(handler.checksum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * inputs.totals.bytes));
    state.counters["samples_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations() * inputs.totals.samples), benchmark::Counter::kIsRate);
    state.counters["input_MB"] = static_cast<double>(inputs.totals.bytes) / (1 << 20);
    state.counters["frames_per_record"] =
        static_cast<double>(handler.frames) / static_cast<double>(handler.records ? handler.records : 1);
    state.counters["peak_RSS_MB"] = PeakMemory::Megabytes();
}

void BM_ParsePlainFile(benchmark::State& state)
{
    ParseFile(state, GetInputs().plain);
}

void BM_ParseGzipFile(benchmark::State& state)
{
    ParseFile(state, GetInputs().packed);
}

void BM_ParseFromMemory(benchmark::State& state)
{
    std::string text;
    SyntheticPerfScript::Totals totals =
        SyntheticPerfScript::Generate({}, 32ull << 20, [&](std::string_view piece) { text += piece; });
    for (auto _ : state) {
        CountingHandler handler;
        PerfScriptParser parser(handler);
        parser.Feed(text);
        parser.Finish();
        benchmark::DoNotOptimize(handler.checksum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totals.bytes));
    state.counters["samples_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations() * totals.samples), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_ParsePlainFile)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ParseGzipFile)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ParseFromMemory)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
