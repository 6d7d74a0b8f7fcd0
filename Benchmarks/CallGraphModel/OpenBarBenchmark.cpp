// Open bar processing, the call graph model and its range queries on synthetic in-memory
// captures (see BenchmarkCapture.h): events per second of one processor and of the model with
// its snapshots, and the time of range queries against a replay of the whole capture.

#include "BenchmarkCapture.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphModel.h"
#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"
#include "CallGraphModel/CallGraphQuery.h"
#include "CallGraphModel/CallGraphReplay.h"
#include "CallGraphModel/OpenBarProcessor.h"
#include "RTTI/Registry.h"
#include "Serialization/Schema.h"
#include "System/JobScheduler.h"
#include "Utility/ErrorList.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

using namespace Profiler;
using namespace CallGraphBench;

namespace {

constexpr double kNoLimit = std::numeric_limits<double>::max();

class Request final : public CallGraphModel::GetCallGraphOperation {
public:
    Request(double start, double end, std::vector<ThreadID> threads)
        : GetCallGraphOperation(start, end, 0, std::move(threads), 0)
    {}
    void Completed(std::unique_ptr<CallGraph>, bool) override {}
};

/// A capture processed into a model in a temporary folder, made once per shape.
struct ProcessedModel {
    explicit ProcessedModel(const CaptureShape& shape)
        : capture(std::make_shared<BenchmarkCapture>(shape)),
          directory(std::filesystem::temp_directory_path() /
                    ("qx-bench-" + std::to_string(::getpid()) + "-" + std::to_string(shape.seed))),
          model(CallGraphModelContext{directory, &scheduler, capture})
    {
        Serialization::ErrorList errors;
        Process(model, *capture, errors);
    }
    ~ProcessedModel()
    {
        std::error_code error;
        std::filesystem::remove_all(directory, error);
    }

    static bool Process(CallGraphModel& model, const BenchmarkCapture& capture,
                        Serialization::ErrorList& errors)
    {
        // Saving writes "Model.dat" through the registered classes.
        static const bool registered = [] {
            static RTTI::Registry registry;
            registry.RegisterPrimitives();
            Serialization::RegisterSchemaTypes(registry);
            CallGraphModel::RegisterTypes(registry);
            return true;
        }();
        (void)registered;
        if (!model.BeginProcessing(errors))
            return false;
        std::map<uint32_t, std::pair<std::unique_ptr<OpenBarProcessor>, ThreadProcessingState*>> threads;
        for (ThreadID thread : capture.GetThreads()) {
            auto processor = std::make_unique<OpenBarProcessor>(
                capture, thread, false, OpenBarProcessor::kProcessingReportingInterval, 0.0);
            ThreadProcessingState* state = model.BeginThread(*processor);
            threads.emplace(static_cast<uint32_t>(thread), std::make_pair(std::move(processor), state));
        }
        for (const TraceEvent& event : capture.GetEvents()) {
            auto& [processor, state] = threads.at(static_cast<uint32_t>(event.threadId));
            if (!model.Progress({0.0, event.time}, *state, errors))
                return false;
            processor->HandleEvent(event, kNoLimit);
        }
        for (auto& [id, thread] : threads)
            if (!model.EndThread(*thread.first, errors))
                return false;
        return model.Save(errors);
    }

    System::JobScheduler scheduler{2};
    std::shared_ptr<BenchmarkCapture> capture;
    std::filesystem::path directory;
    CallGraphModel model;
};

ProcessedModel& QueryModel()
{
    static ProcessedModel model([] {
        CaptureShape shape;
        shape.durationMs = 300000.0;
        return shape;
    }());
    return model;
}

/// G(end) - G(start) by replaying every event from the start, without snapshots.
std::unique_ptr<CallGraph> ReplayRange(const BenchmarkCapture& capture, const std::vector<ThreadID>& threads,
                                       double start, double end)
{
    const std::atomic<bool> canceled{false};
    return CallGraphReplay::Range(capture, threads, start, end, canceled);
}

void BM_ProcessorEvents(benchmark::State& state)
{
    CaptureShape shape;
    shape.threadCount = 1;
    shape.durationMs = 600000.0;
    static const BenchmarkCapture capture(shape);
    const ThreadID thread = capture.GetThreads().front();
    for (auto _ : state) {
        CallGraph graph;
        OpenBarProcessor processor(capture, thread, false, OpenBarProcessor::kProcessingReportingInterval,
                                   0.0);
        CallGraphOpenBarProcessorRouter router(processor, graph);
        for (const TraceEvent& event : capture.GetEvents())
            processor.HandleEvent(event, kNoLimit);
        processor.CloseAll();
        benchmark::DoNotOptimize(graph.GetRoot().Children.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * capture.GetEvents().size()));
    state.counters["samples"] = static_cast<double>(capture.GetSampleCount());
    state.counters["depth"] = capture.GetMeanDepth();
}
BENCHMARK(BM_ProcessorEvents)->Unit(benchmark::kMillisecond);

void BM_ModelProcessing(benchmark::State& state)
{
    CaptureShape shape;
    shape.durationMs = 60000.0;
    static const BenchmarkCapture capture(shape);
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("qx-bench-model-" + std::to_string(::getpid()));
    System::JobScheduler scheduler(1);
    for (auto _ : state) {
        std::error_code error;
        std::filesystem::remove_all(directory, error);
        std::shared_ptr<const IOpenBarInput> input(&capture, [](const IOpenBarInput*) {});
        CallGraphModel model(CallGraphModelContext{directory, &scheduler, input});
        Serialization::ErrorList errors;
        if (!ProcessedModel::Process(model, capture, errors))
            state.SkipWithError(errors.ToString().c_str());
    }
    std::error_code error;
    std::filesystem::remove_all(directory, error);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * capture.GetEvents().size()));
}
BENCHMARK(BM_ModelProcessing)->Unit(benchmark::kMillisecond);

/// Ranges of `span` ms in the last quarter of the capture, over every thread.
void BM_RangeQuery(benchmark::State& state)
{
    ProcessedModel& processed = QueryModel();
    const double span = static_cast<double>(state.range(0));
    const double duration = processed.capture->GetDuration();
    const std::vector<ThreadID> threads = processed.capture->GetThreads();
    std::mt19937_64 random(7);
    std::size_t nodes = 0;
    for (auto _ : state) {
        const double start = std::uniform_real_distribution<double>(0.75 * duration, duration - span)(random);
        Request request(start, start + span, threads);
        const std::atomic<bool> canceled{false};
        std::unique_ptr<CallGraph> result =
            BuildCallGraph(processed.model, request, request.mErrors, canceled);
        nodes = result != nullptr ? result->CountNodes() : 0;
    }
    state.counters["nodes"] = static_cast<double>(nodes);
}
BENCHMARK(BM_RangeQuery)->Arg(100)->Arg(2000)->Arg(20000)->Arg(60000)->Unit(benchmark::kMillisecond);

void BM_WholeCaptureQuery(benchmark::State& state)
{
    ProcessedModel& processed = QueryModel();
    const std::vector<ThreadID> threads = processed.capture->GetThreads();
    for (auto _ : state) {
        Request request(0.0, CallGraphModel::kEndOfCapture, threads);
        const std::atomic<bool> canceled{false};
        benchmark::DoNotOptimize(BuildCallGraph(processed.model, request, request.mErrors, canceled));
    }
}
BENCHMARK(BM_WholeCaptureQuery)->Unit(benchmark::kMillisecond);

/// The peak resident size of the process so far, in MiB (0 when it cannot be read).
double PeakMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0.0;
}

/// A system-wide recording of a busy machine: 100,000 threads with a few samples each, processed
/// and then asked for the whole capture. Both must stay linear in the number of threads.
void BM_ManyThreads(benchmark::State& state)
{
    CaptureShape shape;
    shape.threadCount = static_cast<int>(state.range(0));
    shape.durationMs = 4.0;
    const auto capture = std::make_shared<BenchmarkCapture>(shape);
    const std::vector<ThreadID> threads = capture->GetThreads();
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("qx-bench-threads-" + std::to_string(::getpid()));
    System::JobScheduler scheduler(2);
    double processSeconds = 0.0;
    double querySeconds = 0.0;
    std::size_t nodes = 0;
    for (auto _ : state) {
        std::error_code error;
        std::filesystem::remove_all(directory, error);
        CallGraphModel model(CallGraphModelContext{directory, &scheduler, capture});
        Serialization::ErrorList errors;
        auto start = std::chrono::steady_clock::now();
        if (!ProcessedModel::Process(model, *capture, errors)) {
            state.SkipWithError(errors.ToString().c_str());
            break;
        }
        processSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        start = std::chrono::steady_clock::now();
        Request request(0.0, CallGraphModel::kEndOfCapture, threads);
        const std::atomic<bool> canceled{false};
        std::unique_ptr<CallGraph> whole = BuildCallGraph(model, request, request.mErrors, canceled);
        querySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (whole == nullptr) {
            state.SkipWithError(request.mErrors.ToString().c_str());
            break;
        }
        nodes = whole->CountNodes();
    }
    std::error_code error;
    std::filesystem::remove_all(directory, error);
    state.counters["threads"] = static_cast<double>(threads.size());
    state.counters["events"] = static_cast<double>(capture->GetEvents().size());
    state.counters["process_s"] = processSeconds;
    state.counters["whole_query_s"] = querySeconds;
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["peak_rss_MB"] = PeakMegabytes();
}
BENCHMARK(BM_ManyThreads)->Arg(20000)->Arg(100000)->Iterations(1)->Unit(benchmark::kSecond);

/// The same ranges by replaying the capture from its start: what the snapshots save.
void BM_RangeByFullReplay(benchmark::State& state)
{
    ProcessedModel& processed = QueryModel();
    const double span = static_cast<double>(state.range(0));
    const double duration = processed.capture->GetDuration();
    const std::vector<ThreadID> threads = processed.capture->GetThreads();
    std::mt19937_64 random(7);
    for (auto _ : state) {
        const double start = std::uniform_real_distribution<double>(0.75 * duration, duration - span)(random);
        benchmark::DoNotOptimize(ReplayRange(*processed.capture, threads, start, start + span));
    }
}
BENCHMARK(BM_RangeByFullReplay)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
