// End-to-end import of generated perf script text into a capture directory: reading, parsing,
// threads, modules, functions, stacks, the event stream and the session file. Reported:
// bytes_per_second (input MB/s), samples_per_second, the peak resident memory of the run and the
// size of the capture written.
//
// The 200 MB input is generated once into the temporary directory and removed at exit;
// QX_PERF_BENCH_MB sets another size. QX_PERF_BENCH_TEXT=PATH writes the input there (or reuses
// the file there) and keeps it, for timing other tools on the same text.

#include "Importers/PerfCaptureImporter.h"
#include "PeakMemory.h"
#include "SyntheticPerfScript.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace Profiler;

uint64_t TargetBytes()
{
    const char* megabytes = std::getenv("QX_PERF_BENCH_MB");
    return (megabytes != nullptr ? std::strtoull(megabytes, nullptr, 10) : 200ull) << 20;
}

struct Input {
    std::filesystem::path directory;
    std::filesystem::path text;
    SyntheticPerfScript::Totals totals;

    Input()
    {
        directory = std::filesystem::temp_directory_path() / ("qx-import-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        const char* kept = std::getenv("QX_PERF_BENCH_TEXT");
        text = kept != nullptr ? std::filesystem::path(kept) : directory / "synthetic.txt";
        if (kept != nullptr && std::filesystem::exists(text)) {
            totals.bytes = std::filesystem::file_size(text);
            return;
        }
        std::ofstream out(text, std::ios::binary);
        totals = SyntheticPerfScript::Generate({}, TargetBytes(), [&](std::string_view piece) {
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        });
    }
    ~Input() { std::filesystem::remove_all(directory); }
};

Input& GetInput()
{
    static Input input;
    return input;
}

double DirectoryMegabytes(const std::filesystem::path& directory)
{
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file())
            bytes += entry.file_size();
    return static_cast<double>(bytes) / (1 << 20);
}

void BM_ImportToCapture(benchmark::State& state)
{
    const Input& input = GetInput();
    const std::filesystem::path capture = input.directory / "capture";
    PeakMemory::Reset();
    PerfImportStats stats;
    double captureMegabytes = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(capture);
        state.ResumeTiming();
        std::string problems;
        Serialization::ErrorList errors;
        if (!PerfCaptureImporter::Import(input.text.string(), capture, {}, stats, problems, errors) ||
            !problems.empty())
            state.SkipWithError(("the import failed: " + errors.ToString() + problems).c_str());
        state.PauseTiming();
        captureMegabytes = DirectoryMegabytes(capture);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.totals.bytes));
    state.counters["samples_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations() * stats.samples), benchmark::Counter::kIsRate);
    state.counters["input_MB"] = static_cast<double>(input.totals.bytes) / (1 << 20);
    state.counters["samples"] = static_cast<double>(stats.samples);
    state.counters["switches"] = static_cast<double>(stats.switchOuts + stats.switchIns);
    state.counters["functions"] = static_cast<double>(stats.functions);
    state.counters["capture_MB"] = captureMegabytes;
    state.counters["peak_RSS_MB"] = PeakMemory::Megabytes();
}

} // namespace

BENCHMARK(BM_ImportToCapture)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
