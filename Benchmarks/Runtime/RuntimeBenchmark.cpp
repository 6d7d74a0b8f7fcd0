// Capture processing and call graph queries on a capture on disk, as the host runs them: a
// synthetic program of 8 threads sampled at 1 kHz for 60 minutes (QX_RUNTIME_BENCH_MINUTES
// changes the length), wandering through a call tree of 30,000 stacks 20 to 60 frames deep over
// 20,000 functions, switched out about 50 times a second. Figures: processing throughput on the
// processing thread, "Snapshots.dat" against "events.dat", whole-capture query latency, range
// query percentiles over 200 random ranges, and ranges in the last quarter against a replay of
// every event from the start.
//
// Run: RuntimeBenchmark --benchmark_out=BenchmarkResults/Runtime.json --benchmark_out_format=json
// QX_RUNTIME_BENCH_KEEP=1 leaves the capture in /tmp; QX_RUNTIME_BENCH_CAPTURE=DIR reuses one.

#include "CallGraphModel/CallGraphReplay.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CaptureModel/CaptureWriter.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"

#include <benchmark/benchmark.h>
#include <latch>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
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

constexpr int kThreads = 8;
constexpr uint32_t kFunctions = 20000;
constexpr uint32_t kModules = 10;
constexpr uint32_t kTreeNodes = 30000;
constexpr uint32_t kMinDepth = 20; ///< frames of every stack, the thread's base included
constexpr uint32_t kMaxDepth = 60;
constexpr double kSwitchChance = 0.05; ///< per sample: about 50 switches a second
constexpr double kMeanWaitMs = 2.0;
constexpr double kJumpChance = 0.002; ///< per sample: the thread moves to another part of the tree
constexpr int32_t kProcess = 4000;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CaptureMinutes()
{
    const char* text = std::getenv("QX_RUNTIME_BENCH_MINUTES");
    const double minutes = text ? std::atof(text) : 60.0;
    return minutes > 0.0 ? minutes : 60.0;
}

/// The call tree of the made-up program: node 0 is the thread base ("start_thread" under
/// "clone3"), a spine of framework frames leads to depth kMinDepth, and the rest hangs below,
/// each node under a recent one so that the tree gets deep.
struct CallTree {
    struct Node {
        uint32_t parent;
        uint32_t depth; ///< frames of the stack that ends here
        uint64_t stackId;
        std::vector<uint32_t> children;
    };
    std::vector<Node> nodes;
    uint32_t spineEnd = 0;
};

CallTree WriteProgram(CaptureWriter& writer, std::mt19937_64& random)
{
    // Functions spread over modules; the first two of module 0 are the Linux thread entry.
    std::vector<uint32_t> moduleOf(kFunctions + 2);
    std::vector<uint64_t> startOf(kFunctions + 2);
    std::vector<uint64_t> moduleSize(kModules, 0);
    for (uint32_t f = 0; f < kFunctions + 2; ++f) {
        moduleOf[f] = f < 2 ? 0 : f % kModules;
        startOf[f] = moduleSize[moduleOf[f]];
        moduleSize[moduleOf[f]] += 0x100;
    }
    std::vector<uint32_t> moduleIndex(kModules);
    for (uint32_t m = 0; m < kModules; ++m) {
        const std::string name = m == 0 ? "libc.so.6" : "libapp" + std::to_string(m) + ".so";
        moduleIndex[m] =
            writer.AddNativeModule(name, "/usr/lib/" + name, static_cast<int32_t>(moduleSize[m]));
        writer.AddModuleInstance(moduleIndex[m], kProcess, 0x10000000ull * (m + 1));
    }
    for (uint32_t f = 0; f < kFunctions + 2; ++f)
        writer.AddFunction(moduleIndex[moduleOf[f]], startOf[f], 0x100,
                           f == 0   ? "clone3"
                           : f == 1 ? "start_thread"
                                    : "fn_" + std::to_string(f));
    auto address = [&](uint32_t function, uint32_t node) {
        return 0x10000000ull * (moduleOf[function] + 1) + startOf[function] + 0x10 + 4 * (node % 32);
    };

    CallTree tree;
    const uint64_t clone = writer.AddFrame(0, address(0, 0));
    tree.nodes.push_back({0, 2, writer.AddFrame(clone, address(1, 0)), {}});
    auto add = [&](uint32_t parent) {
        const auto index = static_cast<uint32_t>(tree.nodes.size());
        const uint32_t function = 2 + std::uniform_int_distribution<uint32_t>(0, kFunctions - 1)(random);
        const uint64_t stack = writer.AddFrame(tree.nodes[parent].stackId, address(function, index));
        tree.nodes.push_back({parent, tree.nodes[parent].depth + 1, stack, {}});
        tree.nodes[parent].children.push_back(index);
        return index;
    };
    uint32_t node = 0;
    while (tree.nodes[node].depth < kMinDepth)
        node = add(node);
    tree.spineEnd = node;
    const auto spine = static_cast<uint32_t>(tree.nodes.size());
    while (tree.nodes.size() < kTreeNodes) {
        const auto count = static_cast<uint32_t>(tree.nodes.size());
        uint32_t parent = std::uniform_int_distribution<uint32_t>(
            std::max(spine - 1, count > 64 ? count - 64 : 0), count - 1)(random);
        while (tree.nodes[parent].depth >= kMaxDepth)
            parent = tree.nodes[parent].parent;
        add(parent);
    }
    return tree;
}

/// Writes the capture: every thread samples each millisecond (staggered within it), wandering
/// one step through the tree at a time, and now and then waits for a while.
bool WriteCapture(const std::filesystem::path& directory, double durationMs, uint64_t& samples)
{
    CaptureWriter writer;
    CaptureWriter::Options options;
    options.sampleIntervalMs = 1.0;
    options.startTimeMs = 0.0;
    options.endTimeMs = durationMs;
    Serialization::ErrorList errors;
    if (!writer.Open(directory, CaptureDocument::GetRegistry(), options, errors))
        return false;
    writer.AddProcess(kProcess, "app").mPath = "/usr/bin/app";
    for (int t = 0; t < kThreads; ++t)
        writer.AddThread(kProcess, kProcess + 1 + t, t == 0 ? "app" : "worker-" + std::to_string(t));
    std::mt19937_64 random(42);
    const CallTree tree = WriteProgram(writer, random);

    struct ThreadWalk {
        uint32_t node;
        double resumeAt = -1.0; ///< while waiting: the tick at which it switches back in
    };
    std::vector<ThreadWalk> walks(kThreads, ThreadWalk{tree.spineEnd});
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::exponential_distribution<double> wait(1.0 / kMeanWaitMs);
    const uint8_t reasons[] = {0, 4, 6, 9, 32};
    samples = 0;
    for (double tick = 0.0; tick < durationMs; tick += 1.0) {
        for (int t = 0; t < kThreads; ++t) {
            ThreadWalk& walk = walks[t];
            const int32_t thread = kProcess + 1 + t;
            const double time = tick + 0.1 * t;
            const CallTree::Node& here = tree.nodes[walk.node];
            if (walk.resumeAt >= 0.0) {
                if (tick < walk.resumeAt)
                    continue;
                walk.resumeAt = -1.0;
                if (!writer.AddSwitchIn(time + 0.05, kProcess, thread, here.stackId))
                    return false;
                continue;
            }
            const double r = unit(random);
            // Now and then the thread takes up other work: a random place in the program.
            if (r < kJumpChance)
                walk.node = tree.spineEnd + 1 + random() % (kTreeNodes - tree.spineEnd - 1);
            else if (r < 0.45 && !here.children.empty())
                walk.node = here.children[random() % here.children.size()];
            else if (r < 0.7 && walk.node != tree.spineEnd)
                walk.node = here.parent;
            if (unit(random) < kSwitchChance) {
                if (!writer.AddSwitchOut(time, kProcess, thread, reasons[random() % 5]))
                    return false;
                walk.resumeAt = std::ceil(tick + wait(random));
                continue;
            }
            if (!writer.AddSample(time, kProcess, thread, tree.nodes[walk.node].stackId))
                return false;
            ++samples;
        }
    }
    return writer.Finish(errors);
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
        if (!WriteCapture(capture, durationMs, samples))
            std::abort();
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
        const Clock::time_point start = Clock::now();
        const auto result = document->Process({}, errors, true);
        const double seconds = Seconds(start);
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
        // The queries open the capture anew with two workers, loading the model just stored.
        fixture.document.reset();
    }
}
BENCHMARK(BM_ProcessCapture)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_WholeCaptureQuery(benchmark::State& state)
{
    CaptureDocument& document = GetFixture().Document();
    std::size_t nodes = 0;
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
}
BENCHMARK(BM_WholeCaptureQuery)->Unit(benchmark::kMillisecond);

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(fraction * values.size())) - 1;
    return values[std::min(index, values.size() - 1)];
}

/// 200 ranges over every thread: random starts, lengths from 10 ms to 10 minutes (log-uniform).
void BM_RangeQueries(benchmark::State& state)
{
    Fixture& fixture = GetFixture();
    CaptureDocument& document = fixture.Document();
    std::mt19937_64 random(7);
    std::vector<double> latencies;
    for (auto _ : state) {
        latencies.clear();
        double total = 0.0;
        for (int i = 0; i < 200; ++i) {
            const double length =
                std::exp(std::uniform_real_distribution<double>(std::log(10.0), std::log(600000.0))(random));
            const double span = std::min(length, fixture.durationMs);
            const double from =
                std::uniform_real_distribution<double>(0.0, fixture.durationMs - span)(random);
            Serialization::ErrorList errors;
            const Clock::time_point start = Clock::now();
            std::shared_ptr<const CallGraph> graph = RunQuery(document, from, from + span, errors);
            const double ms = Seconds(start) * 1000.0;
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
