// Node store inserts and stack lookups over stacks shaped like sampled ones: a few hundred
// thousand distinct stacks of depth 10 to 40 that share their outer frames.

#include "CaptureModel/CallstackNodeStore.h"

#include <benchmark/benchmark.h>
#include <random>

using namespace Profiler;

namespace {

std::vector<std::vector<uint64_t>> MakeStacks(std::size_t count)
{
    std::mt19937_64 random(11);
    std::vector<std::vector<uint64_t>> stacks(count);
    for (auto& frames : stacks) {
        frames.resize(10 + random() % 31);
        for (std::size_t depth = 0; depth < frames.size(); ++depth)
            frames[depth] = 0x140000000ull + depth * 0x100 + random() % (depth < 6 ? 2 : 64);
    }
    return stacks;
}

void BM_NodeStoreInsert(benchmark::State& state)
{
    const auto stacks = MakeStacks(200000);
    uint64_t inserts = 0;
    for (auto _ : state) {
        CallstackNodeStore store;
        store.Initialise();
        for (const auto& frames : stacks) {
            benchmark::DoNotOptimize(store.InsertStack(frames));
            inserts += frames.size();
        }
        state.counters["nodes"] = static_cast<double>(store.GetNodeCount());
    }
    state.SetItemsProcessed(static_cast<int64_t>(inserts));
}
BENCHMARK(BM_NodeStoreInsert)->Unit(benchmark::kMillisecond);

void BM_NodeStoreGetStack(benchmark::State& state)
{
    const auto stacks = MakeStacks(200000);
    CallstackNodeStore store(state.range(0) != 0);
    store.Initialise();
    std::vector<uint64_t> ids;
    for (const auto& frames : stacks)
        ids.push_back(store.InsertStack(frames));
    std::vector<uint64_t> frames;
    std::size_t next = 0;
    for (auto _ : state) {
        store.GetStack(ids[next], frames);
        benchmark::DoNotOptimize(frames.data());
        next = next + 7919 < ids.size() ? next + 7919 : (next + 7919) % ids.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NodeStoreGetStack)->Arg(0)->Arg(1)->ArgName("shared");

} // namespace
