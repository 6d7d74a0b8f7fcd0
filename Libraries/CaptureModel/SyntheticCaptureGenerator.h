#pragma once

#include "Utility/ErrorList.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Profiler {

class CaptureWriter;

/// Writes large captures of made-up programs for tests and benchmarks: threads that sample a
/// random walk over a call tree, block with wait reasons and run instrumentation zones. The
/// same parameters (seed included) always give the same capture.
///
/// Each process's program is a call tree of `callPaths` stacks to begin with; its threads wander
/// through it step by step (to a caller, to a callee, now and then to another part of it), and at
/// each sample step onto a call path never sampled before with the chance `newPathChance`, which
/// grows the tree. 0 gives a program whose call paths saturate (a service in its steady loop); 1
/// gives a new call path at every sample (a compiler, an interpreter: more than half of their
/// samples are new paths).
class SyntheticCaptureGenerator {
public:
    struct Parameters {
        uint64_t seed = 1;
        uint32_t processCount = 1;
        uint32_t threadCount = 4; ///< over all processes
        double durationMs = 1000.0;
        double sampleIntervalMs = 1.0;
        uint32_t minStackDepth = 3; ///< frames below the thread's base function
        uint32_t maxStackDepth = 24;
        /// Stacks of each process's call tree before any new path is added.
        uint32_t callPaths = 2000;
        /// Per sample: the chance of a call path never sampled before, from 0 to 1.
        double newPathChance = 0.5;
        uint32_t functionCount = 500;
        uint32_t moduleCount = 4;
        /// Switch-outs per second of running time per thread.
        double switchesPerSecond = 50.0;
        /// Mean time a switched-out thread waits.
        double meanWaitMs = 2.0;
        /// Wait reasons, drawn with equal weight (kernel wait reason codes).
        std::vector<uint8_t> waitReasons = {0, 4, 6, 9, 32};
        /// Zone begin events per second of running time per thread; each zone lasts a few samples.
        double zonesPerSecond = 5.0;
        /// The fraction of samples whose stack misses its outer frames.
        double unrootedFraction = 0.05;
        /// Stop after this many events (0: run for the whole duration).
        uint64_t maxEvents = 0;
    };

    /// What was written.
    struct Summary {
        uint64_t events = 0;
        uint64_t samples = 0;
        uint32_t threads = 0;
        uint32_t functions = 0;
        uint64_t callPaths = 0; ///< distinct stacks of the call trees, over all processes
    };

    explicit SyntheticCaptureGenerator(Parameters parameters) : mParameters(std::move(parameters)) {}

    /// Writes a whole capture directory.
    bool Generate(const std::filesystem::path& directory, RTTI::Registry& registry, Summary& summary,
                  Serialization::ErrorList& errors) const;
    /// Adds the processes, modules, functions, stacks and events to an open writer (without
    /// finishing it).
    bool Fill(CaptureWriter& writer, Summary& summary) const;

    const Parameters& GetParameters() const { return mParameters; }

private:
    Parameters mParameters;
};

} // namespace Profiler
