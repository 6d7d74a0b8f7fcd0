// Capture processing and call graph queries on a capture on disk, as the host runs them, on the
// two workloads of the synthetic capture generator (QX_RUNTIME_BENCH_WORKLOAD):
// - "saturating" (default): 8 threads sampled at 1 kHz for 60 minutes wandering through a call
//   tree of 30,000 stacks 20 to 60 frames deep over 20,000 functions, switched out about 50 times
//   a second; its call paths never grow.
// - "growing": what `qx generate --seconds 3600 --threads 8 --seed 7` writes: a new call path at
//   every other sample, as in a compiler or an interpreter.
// QX_RUNTIME_BENCH_MINUTES changes the length. Figures: processing throughput and peak memory,
// "Snapshots.dat" against "events.dat" and split into Full and Delta records, whole-capture query
// latency, range query percentiles over 200 random ranges (10 ms to 10 minutes on the saturating
// workload, 1 s to 60 s on the growing one) with peak memory, and ranges in the last quarter
// against a replay of every event from the start.
//
// Run: RuntimeBenchmark --benchmark_out=BenchmarkResults/Runtime.json --benchmark_out_format=json
// QX_RUNTIME_BENCH_KEEP=1 leaves the capture in /tmp; QX_RUNTIME_BENCH_CAPTURE=DIR reuses one.

#include "CallGraphModel/CallGraphReplay.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SyntheticCaptureGenerator.h"

#include <benchmark/benchmark.h>
#include <latch>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <time.h>
#include <unistd.h>

using namespace Profiler;

namespace {

/// One query through the shared query API, waited for as qx does.
std::shared_ptr<const CallGraph> RunQuery(CaptureDocument& document, double from, double to,
                                          Serialization::ErrorList& errors)
{
    CaptureQueries queries(document, MakeInlineExecutor());
    CallGraphRequest request;
    request.From = from;
    request.To = to;
    std::latch done(1);
    CallGraphResult outcome;
    queries.SubmitCallGraph(std::move(request), [&](CallGraphResult result) {
        outcome = std::move(result);
        done.count_down();
    });
    done.wait();
    errors = outcome.Errors;
    return outcome.Graph;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// CPU time of the whole process (every worker) in ms: on a machine shared with other work the
/// wall time of a query says more about the load than about the query.
double ProcessCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

double CaptureMinutes()
{
    const char* text = std::getenv("QX_RUNTIME_BENCH_MINUTES");
    const double minutes = text ? std::atof(text) : 60.0;
    return minutes > 0.0 ? minutes : 60.0;
}

bool IsGrowing()
{
    const char* workload = std::getenv("QX_RUNTIME_BENCH_WORKLOAD");
    return workload != nullptr && std::strcmp(workload, "growing") == 0;
}

SyntheticCaptureGenerator::Parameters WorkloadParameters(double durationMs)
{
    SyntheticCaptureGenerator::Parameters parameters;
    parameters.threadCount = 8;
    parameters.durationMs = durationMs;
    if (IsGrowing()) {
        parameters.seed = 7; // the defaults of `qx generate`
        return parameters;
    }
    parameters.seed = 42;
    parameters.functionCount = 20000;
    parameters.moduleCount = 10;
    parameters.minStackDepth = 18;
    parameters.maxStackDepth = 58;
    parameters.callPaths = 30000;
    parameters.newPathChance = 0.0;
    parameters.zonesPerSecond = 0.0;
    parameters.unrootedFraction = 0.0;
    return parameters;
}

/// The peak resident size of the process so far, in MB, and a fresh start for the next peak.
double PeakMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1000.0;
    return 0.0;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Fixture {
    Fixture()
    {
        durationMs = CaptureMinutes() * 60000.0;
        // QX_RUNTIME_BENCH_CAPTURE reuses a capture kept from an earlier run of the same length.
        if (const char* kept = std::getenv("QX_RUNTIME_BENCH_CAPTURE")) {
            capture = kept;
            keep = true;
            return;
        }
        char pattern[] = "/tmp/qx-runtime-bench-XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        root = pattern;
        capture = root / "capture";
        keep = std::getenv("QX_RUNTIME_BENCH_KEEP") != nullptr;
        const Clock::time_point start = Clock::now();
        Serialization::ErrorList errors;
        SyntheticCaptureGenerator::Summary summary;
        if (!SyntheticCaptureGenerator(WorkloadParameters(durationMs))
                 .Generate(capture, CaptureDocument::GetRegistry(), summary, errors))
            std::abort();
        samples = summary.samples;
        callPaths = summary.callPaths;
        writeSeconds = Seconds(start);
    }
    ~Fixture()
    {
        if (!keep) {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        }
    }

    /// A document over the processed capture with two workers (processed by BM_ProcessCapture,
    /// or here).
    CaptureDocument& Document()
    {
        if (!document) {
            document = std::make_unique<CaptureDocument>(2);
            Serialization::ErrorList errors;
            if (!document->Open(capture, errors) ||
                document->Process({}, errors) == CaptureDocument::EProcessResult::Failed)
                std::abort();
        }
        return *document;
    }

    std::filesystem::path root;
    std::filesystem::path capture;
    double durationMs = 0.0;
    uint64_t samples = 0;
    uint64_t callPaths = 0;
    double writeSeconds = 0.0;
    bool keep = false; ///< leave the capture on disk
    std::unique_ptr<CaptureDocument> document;
};

Fixture& GetFixture()
{
    static Fixture fixture;
    return fixture;
}

uint64_t FileSize(const std::filesystem::path& path)
{
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

void BM_ProcessCapture(benchmark::State& state)
{
    Fixture& fixture = GetFixture();
    for (auto _ : state) {
        // One worker: the snapshot writing job beside the processing thread.
        auto document = std::make_unique<CaptureDocument>(1);
        Serialization::ErrorList errors;
        if (!document->Open(fixture.capture, errors)) {
            state.SkipWithError(errors.ToString().c_str());
            return;
        }
        ResetPeak();
        const Clock::time_point start = Clock::now();
        const auto result = document->Process({}, errors, true);
        const double seconds = Seconds(start);
        state.counters["peak_rss_MB"] = PeakMegabytes();
        if (result != CaptureDocument::EProcessResult::Processed) {
            state.SkipWithError(errors.ToString().c_str());
            return;
        }
        state.SetIterationTime(seconds);
        const double events = static_cast<double>(document->GetProcessedEventCount());
        const double samples = static_cast<double>(document->GetProcessedSampleCount());
        state.counters["capture_minutes"] = fixture.durationMs / 60000.0;
        state.counters["events"] = events;
        state.counters["samples"] = samples;
        state.counters["process_seconds"] = seconds;
        state.counters["events_per_s"] = events / seconds;
        state.counters["samples_per_s"] = samples / seconds;
        state.counters["write_capture_seconds"] = fixture.writeSeconds;
        const std::filesystem::path& capture = fixture.capture;
        const double snapshots = static_cast<double>(FileSize(capture / "CallGraph" / "Snapshots.dat"));
        const double eventsBytes = static_cast<double>(FileSize(capture / "events.dat"));
        state.counters["snapshots_dat_MB"] = snapshots / 1e6;
        state.counters["events_dat_MB"] = eventsBytes / 1e6;
        state.counters["snapshots_per_events_dat"] = eventsBytes > 0.0 ? snapshots / eventsBytes : 0.0;
        double fullBytes = 0.0;
        double deltaBytes = 0.0;
        for (ThreadID thread : document->GetModelThreads()) {
            const SnapshotTable table = document->GetModel()->FindThread(thread)->GetTable();
            for (const auto& snapshot : table.GetSnapshots())
                (snapshot.mType == ESnapshotType::Full ? fullBytes : deltaBytes) +=
                    static_cast<double>(snapshot.mSize);
        }
        state.counters["full_snapshots_MB"] = fullBytes / 1e6;
        state.counters["delta_snapshots_MB"] = deltaBytes / 1e6;
        state.counters["call_paths"] = static_cast<double>(fixture.callPaths);
        // The queries open the capture anew with two workers, loading the model just stored.
        fixture.document.reset();
    }
}
BENCHMARK(BM_ProcessCapture)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_WholeCaptureQuery(benchmark::State& state)
{
    CaptureDocument& document = GetFixture().Document();
    std::size_t nodes = 0;
    ResetPeak();
    for (auto _ : state) {
        Serialization::ErrorList errors;
        std::shared_ptr<const CallGraph> graph =
            RunQuery(document, 0.0, CallGraphModel::kEndOfCapture, errors);
        if (!graph) {
            state.SkipWithError(errors.ToString().c_str());
            return;
        }
        nodes = graph->CountNodes();
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["peak_rss_MB"] = PeakMegabytes();
}
BENCHMARK(BM_WholeCaptureQuery)->Unit(benchmark::kMillisecond)->Iterations(3);

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(fraction * values.size())) - 1;
    return values[std::min(index, values.size() - 1)];
}

/// 200 ranges over every thread: random starts, lengths log-uniform from 10 ms to 10 minutes
/// (saturating workload) or from 1 s to 60 s (growing workload).
void BM_RangeQueries(benchmark::State& state)
{
    Fixture& fixture = GetFixture();
    CaptureDocument& document = fixture.Document();
    const double shortest = IsGrowing() ? 1000.0 : 10.0;
    const double longest = IsGrowing() ? 60000.0 : 600000.0;
    std::mt19937_64 random(7);
    std::vector<double> latencies;
    std::vector<double> cpu;
    ResetPeak();
    for (auto _ : state) {
        latencies.clear();
        cpu.clear();
        double total = 0.0;
        for (int i = 0; i < 200; ++i) {
            const double length = std::exp(
                std::uniform_real_distribution<double>(std::log(shortest), std::log(longest))(random));
            const double span = std::min(length, fixture.durationMs);
            const double from =
                std::uniform_real_distribution<double>(0.0, fixture.durationMs - span)(random);
            Serialization::ErrorList errors;
            const Clock::time_point start = Clock::now();
            const double cpuStart = ProcessCpuMs();
            std::shared_ptr<const CallGraph> graph = RunQuery(document, from, from + span, errors);
            const double ms = Seconds(start) * 1000.0;
            cpu.push_back(ProcessCpuMs() - cpuStart);
            if (!graph) {
                state.SkipWithError(errors.ToString().c_str());
                return;
            }
            latencies.push_back(ms);
            total += ms;
        }
        state.SetIterationTime(total / 1000.0);
    }
    state.counters["ranges"] = static_cast<double>(latencies.size());
    state.counters["p50_ms"] = Percentile(latencies, 0.50);
    state.counters["p95_ms"] = Percentile(latencies, 0.95);
    state.counters["max_ms"] = Percentile(latencies, 1.0);
    state.counters["p50_cpu_ms"] = Percentile(cpu, 0.50);
    state.counters["p95_cpu_ms"] = Percentile(cpu, 0.95);
    state.counters["max_cpu_ms"] = Percentile(cpu, 1.0);
    state.counters["peak_rss_MB"] = PeakMegabytes();
}
BENCHMARK(BM_RangeQueries)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

/// G(end) - G(start) by replaying every event from the capture's start, without snapshots.
std::unique_ptr<CallGraph> ReplayRange(const CaptureDocument& document, double start, double end)
{
    const std::atomic<bool> canceled{false};
    return CallGraphReplay::Range(*document.GetModel()->GetContext().Input, document.GetModelThreads(), start,
                                  end, canceled);
}

/// Three ranges of 2 s to 60 s in the last quarter, each answered from the snapshots and by a
/// replay from the start; the figures are the slowest query, the fastest replay and the
/// smallest speed-up.
void BM_LastQuarterAgainstReplay(benchmark::State& state)
{
    Fixture& fixture = GetFixture();
    CaptureDocument& document = fixture.Document();
    std::mt19937_64 random(11);
    double slowestQuery = 0.0;
    double fastestReplay = 1e300;
    double smallestSpeedup = 1e300;
    double largestDifference = 0.0;
    for (auto _ : state) {
        double total = 0.0;
        for (const double span : {2000.0, 15000.0, 60000.0}) {
            const double from = std::uniform_real_distribution<double>(0.75 * fixture.durationMs,
                                                                       fixture.durationMs - span)(random);
            Serialization::ErrorList errors;
            Clock::time_point start = Clock::now();
            std::shared_ptr<const CallGraph> query = RunQuery(document, from, from + span, errors);
            const double queryMs = Seconds(start) * 1000.0;
            start = Clock::now();
            std::unique_ptr<CallGraph> replay = ReplayRange(document, from, from + span);
            const double replayMs = Seconds(start) * 1000.0;
            if (!query) {
                state.SkipWithError(errors.ToString().c_str());
                return;
            }
            total += queryMs + replayMs;
            slowestQuery = std::max(slowestQuery, queryMs);
            fastestReplay = std::min(fastestReplay, replayMs);
            smallestSpeedup = std::min(smallestSpeedup, replayMs / queryMs);
            largestDifference =
                std::max(largestDifference, std::abs(query->GetTotalTime() - replay->GetTotalTime()));
        }
        state.SetIterationTime(total / 1000.0);
    }
    state.counters["slowest_query_ms"] = slowestQuery;
    state.counters["fastest_replay_ms"] = fastestReplay;
    state.counters["min_speedup"] = smallestSpeedup;
    state.counters["max_total_difference_ms"] = largestDifference;
}
BENCHMARK(BM_LastQuarterAgainstReplay)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
