#include "CaptureModel/SyntheticCaptureGenerator.h"

#include "CaptureModel/CaptureWriter.h"
#include "Utility/Format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <queue>

namespace Profiler {

namespace {

/// SplitMix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : mState(seed) {}
    uint64_t Next()
    {
        uint64_t z = (mState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t Below(uint64_t bound) { return bound == 0 ? 0 : Next() % bound; }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Exponential(double mean) { return -mean * std::log(1.0 - Unit()); }

private:
    uint64_t mState;
};

struct FunctionPlace {
    uint32_t module = 0;
    uint64_t start = 0; ///< relative to the module
    uint64_t size = 0;
};

constexpr uint32_t kBaseFrames = 2;
constexpr uint32_t kNoNode = UINT32_MAX;
/// Per walk step: the thread takes up other work, somewhere else in the program.
constexpr double kJumpChance = 0.002;
constexpr uint32_t kLibcFunctions = 4; // _start, __libc_start_main, clone3, start_thread

struct Layout {
    std::vector<FunctionPlace> functions; ///< libc's four first, then the synthetic ones
    std::vector<uint64_t> moduleSizes;
};

Layout BuildLayout(const SyntheticCaptureGenerator::Parameters& parameters, Random& random)
{
    Layout layout;
    const uint32_t modules = std::max(parameters.moduleCount, 1u);
    layout.moduleSizes.assign(modules + 1, 0); // module 0 is the C library
    auto place = [&](uint32_t module) {
        const uint64_t size = 64 + 16 * random.Below(250);
        layout.functions.push_back({module, layout.moduleSizes[module], size});
        layout.moduleSizes[module] += size + 16;
    };
    for (uint32_t i = 0; i < kLibcFunctions; ++i)
        place(0);
    for (uint32_t i = 0; i < std::max(parameters.functionCount, 1u); ++i)
        place(1 + i % modules);
    return layout;
}

/// One stack of a process's call tree: a frame and the stack that ends with it.
struct TreeNode {
    uint32_t parent = kNoNode;
    uint32_t firstChild = kNoNode;
    uint32_t nextSibling = kNoNode;
    uint32_t childCount = 0;
    uint32_t depth = 0; ///< frames of the stack, the base frames included
    uint32_t base = 0;  ///< the base it grows from: 0 a main thread's, 1 another thread's
    uint64_t address = 0;
    uint64_t stackId = 0;
};

struct ThreadState {
    int32_t process = 0;
    uint32_t processIndex = 0;
    int32_t thread = 0;
    bool mainThread = false;
    Random random{0};
    uint32_t node = kNoNode; ///< where the thread is in its process's call tree
    double time = 0.0;
    bool waiting = false;
    bool zoneOpen = false;
    int zoneSamplesLeft = 0;
    bool ended = false;
};

struct Pending {
    double time;
    uint32_t thread;
    friend bool operator>(const Pending& a, const Pending& b)
    {
        return a.time != b.time ? a.time > b.time : a.thread > b.thread;
    }
};

class Generator {
public:
    Generator(const SyntheticCaptureGenerator::Parameters& parameters, CaptureWriter& writer,
              SyntheticCaptureGenerator::Summary& summary)
        : mParameters(parameters), mWriter(writer), mSummary(summary), mRandom(parameters.seed)
    {}

    bool Run()
    {
        mLayout = BuildLayout(mParameters, mRandom);
        AddModules();
        const uint32_t processes = std::max(mParameters.processCount, 1u);
        mTrees.resize(processes);
        mBases.resize(processes);
        for (uint32_t p = 0; p < processes; ++p)
            BuildTree(p);
        AddThreads();
        std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue;
        for (uint32_t i = 0; i < mThreads.size(); ++i)
            queue.push({mThreads[i].time, i});
        while (!queue.empty()) {
            if (mParameters.maxEvents != 0 && mSummary.events >= mParameters.maxEvents)
                break;
            const Pending next = queue.top();
            queue.pop();
            ThreadState& thread = mThreads[next.thread];
            if (!Step(thread))
                return false;
            if (!thread.ended)
                queue.push({thread.time, next.thread});
        }
        return true;
    }

private:
    uint64_t ModuleBase(uint32_t module, uint32_t process) const
    {
        return 0x400000ull + uint64_t{module} * 0x10000000ull + uint64_t{process} * 0x1000ull;
    }

    void AddModules()
    {
        for (uint32_t m = 0; m < mLayout.moduleSizes.size(); ++m) {
            const std::string name = m == 0 ? "libc.so.6" : Utility::Format("libsynth%u.so", m);
            mWriter.AddNativeModule(name, "/usr/lib/" + name, static_cast<int32_t>(mLayout.moduleSizes[m]));
            for (uint32_t p = 0; p < std::max(mParameters.processCount, 1u); ++p)
                mWriter.AddModuleInstance(m, 1000 + static_cast<int32_t>(p), ModuleBase(m, p));
        }
        static constexpr const char* kLibcNames[kLibcFunctions] = {"_start", "__libc_start_main", "clone3",
                                                                   "start_thread"};
        for (uint32_t f = 0; f < mLayout.functions.size(); ++f) {
            const FunctionPlace& place = mLayout.functions[f];
            mWriter.AddFunction(place.module, place.start, place.size,
                                f < kLibcFunctions ? kLibcNames[f]
                                                   : Utility::Format("fn_%u", f - kLibcFunctions));
        }
        mSummary.functions = static_cast<uint32_t>(mLayout.functions.size());
    }

    void AddThreads()
    {
        const uint32_t processes = std::max(mParameters.processCount, 1u);
        for (uint32_t t = 0; t < std::max(mParameters.threadCount, 1u); ++t) {
            ThreadState thread;
            thread.process = 1000 + static_cast<int32_t>(t % processes);
            thread.thread = 2000 + static_cast<int32_t>(t);
            thread.mainThread = t < processes;
            thread.processIndex = t % processes;
            thread.random = Random(mParameters.seed * 0x100000001B3ull + t + 1);
            // Threads start at staggered times within the first interval.
            thread.time = mParameters.sampleIntervalMs * static_cast<double>(t % 16) / 16.0;
            mWriter.AddProcess(thread.process, Utility::Format("synthetic%d", thread.process));
            mWriter.AddThread(thread.process, thread.thread,
                              thread.mainThread ? Utility::Format("synthetic%d", thread.process)
                                                : Utility::Format("worker-%u", t));
            mThreads.push_back(std::move(thread));
        }
        mSummary.threads = static_cast<uint32_t>(mThreads.size());
    }

    using Tree = std::vector<TreeNode>;

    /// A new stack under `parent` (the base's outer frame when kNoNode) calling `function`.
    uint32_t AddNode(Tree& tree, uint32_t processIndex, uint32_t parent, uint32_t function, uint32_t base,
                     Random& random)
    {
        const FunctionPlace& place = mLayout.functions[function];
        TreeNode node;
        node.parent = parent;
        node.base = base;
        node.depth = parent == kNoNode ? 1 : tree[parent].depth + 1;
        // A return address into the function (or the sampled instruction when it is innermost).
        node.address =
            ModuleBase(place.module, processIndex) + place.start + 8 + 4 * random.Below((place.size - 8) / 4);
        node.stackId = mWriter.AddFrame(parent == kNoNode ? 0 : tree[parent].stackId, node.address);
        const auto index = static_cast<uint32_t>(tree.size());
        if (parent != kNoNode) {
            node.nextSibling = tree[parent].firstChild;
            tree[parent].firstChild = index;
            ++tree[parent].childCount;
        }
        tree.push_back(node);
        ++mSummary.callPaths;
        return index;
    }

    /// A function of the code that runs from `base`: the main threads' code and the other threads'
    /// code are separate halves of the program, so that no function outweighs the thread entries.
    uint32_t RandomFunction(Random& random, uint32_t base) const
    {
        const auto synthetic = static_cast<uint32_t>(mLayout.functions.size()) - kLibcFunctions;
        const uint32_t half = synthetic / 2;
        if (half == 0)
            return kLibcFunctions + static_cast<uint32_t>(random.Below(synthetic));
        return kLibcFunctions + (base == 0 ? 0 : half) +
               static_cast<uint32_t>(random.Below(base == 0 ? half : synthetic - half));
    }

    uint32_t MinDepth() const { return kBaseFrames + std::max(mParameters.minStackDepth, 1u); }
    uint32_t MaxDepth() const
    {
        return kBaseFrames + std::max(std::max(mParameters.maxStackDepth, mParameters.minStackDepth), 1u);
    }

    /// The initial call tree of a process: both bases (the main thread's "_start" and
    /// "__libc_start_main", the other threads' "clone3" and "start_thread") and `callPaths`
    /// stacks below them, each under a recent one so that the tree gets deep.
    void BuildTree(uint32_t processIndex)
    {
        Tree& tree = mTrees[processIndex];
        Random random(mParameters.seed * 0x9E3779B97F4A7C15ull + processIndex);
        for (uint32_t base = 0; base < 2; ++base)
            mBases[processIndex][base] =
                AddNode(tree, processIndex, AddNode(tree, processIndex, kNoNode, 2 * base, base, random),
                        2 * base + 1, base, random);
        while (tree.size() < std::max<std::size_t>(mParameters.callPaths, 4)) {
            const auto count = static_cast<uint32_t>(tree.size());
            uint32_t parent = count - 1 - static_cast<uint32_t>(random.Below(std::min(count - 4, 64u) + 1));
            if (parent < 4 || random.Unit() < 0.01)
                parent = mBases[processIndex][random.Below(2)];
            while (tree[parent].depth >= MaxDepth())
                parent = tree[parent].parent;
            AddNode(tree, processIndex, parent, RandomFunction(random, tree[parent].base), tree[parent].base,
                    random);
        }
    }

    /// A random callee of the node, or kNoNode.
    uint32_t RandomChild(const Tree& tree, uint32_t node, Random& random) const
    {
        if (tree[node].childCount == 0)
            return kNoNode;
        uint32_t child = tree[node].firstChild;
        for (uint64_t skip = random.Below(tree[node].childCount); skip > 0; --skip)
            child = tree[child].nextSibling;
        return child;
    }

    /// Moves the thread one step through its process's call tree, or onto a new call path.
    void Walk(ThreadState& thread)
    {
        Tree& tree = mTrees[thread.processIndex];
        Random& random = thread.random;
        const uint32_t base = thread.mainThread ? 0 : 1;
        if (thread.node == kNoNode)
            thread.node = mBases[thread.processIndex][base];
        // Keep at least the minimum depth, growing the tree where it has no callee yet.
        while (tree[thread.node].depth < MinDepth()) {
            const uint32_t child = RandomChild(tree, thread.node, random);
            thread.node = child != kNoNode ? child
                                           : AddNode(tree, thread.processIndex, thread.node,
                                                     RandomFunction(random, base), base, random);
        }
        if (random.Unit() < mParameters.newPathChance) {
            uint32_t parent = thread.node;
            if (tree[parent].depth >= MaxDepth() || (tree[parent].depth > MinDepth() && random.Unit() < 0.5))
                parent = tree[parent].parent;
            thread.node =
                AddNode(tree, thread.processIndex, parent, RandomFunction(random, base), base, random);
            return;
        }
        const double r = random.Unit();
        if (r < kJumpChance) {
            for (int attempt = 0; attempt < 8; ++attempt) {
                const auto candidate = static_cast<uint32_t>(random.Below(tree.size()));
                if (tree[candidate].base == base && tree[candidate].depth >= MinDepth()) {
                    thread.node = candidate;
                    break;
                }
            }
        } else if (r < 0.45) {
            const uint32_t child = RandomChild(tree, thread.node, random);
            if (child != kNoNode)
                thread.node = child;
        } else if (r < 0.7 && tree[thread.node].depth > MinDepth()) {
            thread.node = tree[thread.node].parent;
        }
    }

    uint64_t CurrentStack(ThreadState& thread)
    {
        if (thread.node == kNoNode)
            Walk(thread);
        return mTrees[thread.processIndex][thread.node].stackId;
    }

    /// The current stack without its outer frames, as when unwinding stopped early.
    uint64_t UnrootedStack(ThreadState& thread)
    {
        const Tree& tree = mTrees[thread.processIndex];
        std::vector<uint64_t>& addresses = mScratch;
        addresses.clear();
        for (uint32_t node = thread.node; node != kNoNode; node = tree[node].parent)
            addresses.push_back(tree[node].address);
        const std::size_t drop =
            std::min<std::size_t>(addresses.size() - 1, kBaseFrames + thread.random.Below(3));
        uint64_t id = 0;
        for (std::size_t i = addresses.size() - drop; i-- > 0;)
            id = mWriter.AddFrame(id, addresses[i]);
        return id;
    }

    bool Step(ThreadState& thread)
    {
        const double interval = mParameters.sampleIntervalMs;
        const double end = mParameters.durationMs;
        Random& random = thread.random;
        if (thread.time >= end) {
            if (thread.zoneOpen) {
                thread.zoneOpen = false;
                return Count(mWriter.AddZoneEnd(end, thread.process, thread.thread));
            }
            thread.ended = true;
            return Count(mWriter.AddThreadEnd(end, thread.process, thread.thread));
        }
        if (thread.waiting) {
            thread.waiting = false;
            const bool added =
                mWriter.AddSwitchIn(thread.time, thread.process, thread.thread, CurrentStack(thread));
            thread.time += interval;
            return Count(added);
        }
        if (thread.zoneOpen && thread.zoneSamplesLeft <= 0) {
            thread.zoneOpen = false;
            return Count(mWriter.AddZoneEnd(thread.time, thread.process, thread.thread));
        }
        const double switchChance = mParameters.switchesPerSecond * interval / 1000.0;
        if (!mParameters.waitReasons.empty() && random.Unit() < switchChance) {
            const uint8_t reason = mParameters.waitReasons[random.Below(mParameters.waitReasons.size())];
            const bool added = mWriter.AddSwitchOut(thread.time, thread.process, thread.thread, reason);
            thread.waiting = true;
            thread.time += std::max(random.Exponential(mParameters.meanWaitMs), interval / 100.0);
            return Count(added);
        }
        const double zoneChance = mParameters.zonesPerSecond * interval / 1000.0;
        if (!thread.zoneOpen && random.Unit() < zoneChance) {
            thread.zoneOpen = true;
            thread.zoneSamplesLeft = 1 + static_cast<int>(random.Below(5));
            return Count(mWriter.AddZoneBegin(thread.time, thread.process, thread.thread,
                                              CurrentStack(thread), "Zone"));
        }
        Walk(thread);
        const uint64_t stack =
            random.Unit() < mParameters.unrootedFraction ? UnrootedStack(thread) : CurrentStack(thread);
        const bool added = mWriter.AddSample(thread.time, thread.process, thread.thread, stack);
        ++mSummary.samples;
        --thread.zoneSamplesLeft;
        thread.time += interval;
        return Count(added);
    }

    bool Count(bool added)
    {
        ++mSummary.events;
        return added;
    }

    const SyntheticCaptureGenerator::Parameters& mParameters;
    CaptureWriter& mWriter;
    SyntheticCaptureGenerator::Summary& mSummary;
    Random mRandom;
    Layout mLayout;
    std::vector<Tree> mTrees;                    ///< per process
    std::vector<std::array<uint32_t, 2>> mBases; ///< per process: the two bases' inner nodes
    std::vector<ThreadState> mThreads;
    std::vector<uint64_t> mScratch;
};

} // namespace

bool SyntheticCaptureGenerator::Fill(CaptureWriter& writer, Summary& summary) const
{
    summary = {};
    return Generator(mParameters, writer, summary).Run();
}

bool SyntheticCaptureGenerator::Generate(const std::filesystem::path& directory, RTTI::Registry& registry,
                                         Summary& summary, Serialization::ErrorList& errors) const
{
    CaptureWriter writer;
    CaptureWriter::Options options;
    options.sampleIntervalMs = mParameters.sampleIntervalMs;
    options.startTimeMs = 0.0;
    options.endTimeMs = mParameters.durationMs;
    if (!writer.Open(directory, registry, options, errors))
        return false;
    if (!Fill(writer, summary)) {
        errors.Add(Serialization::EErrorCode::WriteFailed, "The synthetic capture could not be written");
        return false;
    }
    if (!writer.Finish(errors))
        return false;
    return true;
}

} // namespace Profiler
