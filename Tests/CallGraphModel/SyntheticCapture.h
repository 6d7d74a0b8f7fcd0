#pragma once

// Random captures for open bar processing, the model and its queries: several threads whose
// stacks wander by random walk, context switches with every wait reason, instrumentation zones,
// fiber context switches, stacks without time, ignored kinds and unrooted stacks inside broken
// ranges. With dyadic times every time is a multiple of 1/64 ms, so that all sums of times are
// exact whatever their grouping; otherwise times carry arbitrary fractions.

#include "TestCapture.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphModel.h"
#include "CallGraphModel/CallGraphQuery.h"

#include "RTTI/Registry.h"
#include "Support/TempDirectory.h"
#include "System/JobScheduler.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace CallGraphTest {

struct SyntheticOptions {
    uint64_t seed = 1;
    double durationMs = 60000.0;
    int threadCount = 3;
    double sampleInterval = 1.0;
    bool dyadicTimes = true;
    bool zones = true;
    bool fibers = true;
    bool unrooted = true;
    /// Per walk step: the chance that the thread calls a function it never called before, so
    /// that its next stack is a call path never seen. 0 leaves the 12 functions, whose paths
    /// soon repeat; 1 makes nearly every sample new.
    double newPathChance = 0.0;
};

std::unique_ptr<TestCapture> MakeSyntheticCapture(const SyntheticOptions& options);

/// The threads that have events, ascending.
std::vector<Profiler::ThreadID> GetThreads(const TestCapture& capture);

/// A registry with the model's classes, for saving and loading models.
RTTI::Registry& ModelRegistry();

/// Drives `model` over the capture as the host does: threads begin at their first event, a
/// progress call precedes every event, threads end after the last event, then the model is
/// saved. Processors report every 500 ms, as in capture processing.
bool ProcessCapture(Profiler::CallGraphModel& model, const TestCapture& capture,
                    Serialization::ErrorList& errors);

/// A query of `model` run inline along `path`. Its errors go to `failures`, or fail the test
/// when `failures` is null.
std::unique_ptr<Profiler::CallGraph> QueryModel(const Profiler::CallGraphModel& model, double start,
                                                double end, std::vector<Profiler::ThreadID> threads,
                                                Serialization::ErrorList* failures = nullptr,
                                                Profiler::ERangePath path = Profiler::ERangePath::Cheapest);

/// A thread's snapshots as "5000F 10000D endF ": the time and F(ull) or D(elta) of each.
std::string SnapshotTimes(const Profiler::SnapshotTable& table);

/// The stored (decompressed) bytes of one snapshot record; fails the test when it cannot be read.
std::vector<uint8_t> ReadSnapshot(const Profiler::CallGraphModel& model,
                                  const Profiler::SnapshotTable::SnapshotDescription& snapshot);

/// A model in a temporary session folder over a capture built by the test.
struct ModelFixture {
    explicit ModelFixture(std::shared_ptr<TestCapture> made = std::make_shared<TestCapture>())
        : capture(std::move(made))
    {}

    /// Sorts the events, then processes them into a new model.
    bool Process();
    Profiler::CallGraphModel& MakeModel();
    std::unique_ptr<Profiler::CallGraph> Query(double start, double end,
                                               std::vector<Profiler::ThreadID> threads,
                                               Serialization::ErrorList* failures = nullptr,
                                               Profiler::ERangePath path = Profiler::ERangePath::Cheapest)
    {
        return QueryModel(*model, start, end, std::move(threads), failures, path);
    }
    std::filesystem::path Folder() const
    {
        return directory.GetPath() / Profiler::CallGraphModel::kFolderName;
    }
    Profiler::SnapshotTable Table(Profiler::ThreadID thread) const
    {
        return model->FindThread(thread)->GetTable();
    }

    TestSupport::TempDirectory directory;
    System::JobScheduler scheduler{2};
    std::shared_ptr<TestCapture> capture;
    std::unique_ptr<Profiler::CallGraphModel> model;
    Serialization::ErrorList errors;
};

} // namespace CallGraphTest
