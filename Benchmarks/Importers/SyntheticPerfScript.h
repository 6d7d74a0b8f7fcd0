#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Profiler {

/// Writes realistic `perf script` text of any size: a few processes with many threads, stacks
/// 20 to 60 frames deep that drift the way real call stacks do (a few frames popped and pushed
/// between samples), thousands of functions over many DSOs, a kernel part under system calls,
/// context switch records with their blocked stacks, and task and mmap records. The same seed
/// gives the same text.
class SyntheticPerfScript {
public:
    struct Shape {
        uint32_t processes = 4;
        uint32_t threadsPerProcess = 8;
        uint32_t functions = 5000;
        uint32_t dsos = 40;
        uint32_t minDepth = 20;
        uint32_t maxDepth = 60;
        uint32_t switchEveryNthRecord = 12; ///< one sched_switch record per this many samples
        uint64_t seed = 42;
    };

    struct Totals {
        uint64_t bytes = 0;
        uint64_t samples = 0;
        uint64_t switches = 0;
    };

    /// Calls `write` with pieces of text until at least `targetBytes` were produced; every
    /// record is complete.
    static Totals Generate(const Shape& shape, uint64_t targetBytes,
                           const std::function<void(std::string_view)>& write);
};

} // namespace Profiler
