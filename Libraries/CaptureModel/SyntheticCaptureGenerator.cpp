#include "CaptureModel/SyntheticCaptureGenerator.h"

#include "CaptureModel/CaptureWriter.h"
#include "Utility/Format.h"

#include <algorithm>
#include <bit>
#include <cmath>
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

constexpr uint32_t kCalleesPerFunction = 4;
constexpr uint32_t kBaseFrames = 2;
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

struct ThreadState {
    int32_t process = 0;
    int32_t thread = 0;
    bool mainThread = false;
    Random random{0};
    std::vector<uint32_t> functions; ///< outermost first; the first two are the base frames
    std::vector<uint64_t> nodes;     ///< stack ID of the prefix ending at each frame
    uint32_t validNodes = 0;         ///< nodes[0, validNodes) match the functions
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
            thread.random = Random(mParameters.seed * 0x100000001B3ull + t + 1);
            thread.functions = thread.mainThread ? std::vector<uint32_t>{0, 1} : std::vector<uint32_t>{2, 3};
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

    uint32_t Callee(uint32_t caller, uint32_t index) const
    {
        const uint32_t synthetic = static_cast<uint32_t>(mLayout.functions.size()) - kLibcFunctions;
        const uint64_t mixed = (uint64_t{caller} * 2654435761u + uint64_t{index} * 40503u + 7) % synthetic;
        return kLibcFunctions + static_cast<uint32_t>(mixed);
    }

    /// The address of frame i: a return address into the caller, or for the innermost frame an
    /// instruction of the function.
    uint64_t FrameAddress(const ThreadState& thread, std::size_t i, uint64_t innermostOffset) const
    {
        const FunctionPlace& place = mLayout.functions[thread.functions[i]];
        const uint64_t base = ModuleBase(place.module, static_cast<uint32_t>(thread.process - 1000));
        uint64_t offset = innermostOffset;
        if (i + 1 < thread.functions.size())
            offset = 8 + (uint64_t{thread.functions[i + 1]} * 24) % (place.size - 8);
        return base + place.start + std::min(offset, place.size - 1);
    }

    /// Moves the thread's stack a little: pops a few frames, pushes a few callees.
    void Walk(ThreadState& thread)
    {
        Random& random = thread.random;
        const std::size_t minDepth = kBaseFrames + std::max(mParameters.minStackDepth, 1u);
        const std::size_t maxDepth =
            kBaseFrames + std::max(mParameters.maxStackDepth, mParameters.minStackDepth);
        std::size_t pops = std::countr_zero(random.Next() | (1ull << 6));
        pops = std::min(pops, thread.functions.size() - kBaseFrames);
        thread.functions.resize(thread.functions.size() - pops);
        // The frame that is now innermost gets another address (a new callee, or a sampled
        // instruction), so only the frames outside it keep their nodes.
        thread.validNodes =
            std::min<uint32_t>(thread.validNodes, static_cast<uint32_t>(thread.functions.size() - 1));
        std::size_t target = thread.functions.size() + random.Below(3);
        target = std::clamp(target, minDepth, maxDepth);
        while (thread.functions.size() < target)
            thread.functions.push_back(
                Callee(thread.functions.back(), static_cast<uint32_t>(random.Below(kCalleesPerFunction))));
    }

    uint64_t CurrentStack(ThreadState& thread)
    {
        const uint64_t innermostOffset = 4 * thread.random.Below(16);
        thread.nodes.resize(thread.functions.size());
        for (std::size_t i = thread.validNodes; i < thread.functions.size(); ++i) {
            const uint64_t parent = i == 0 ? 0 : thread.nodes[i - 1];
            thread.nodes[i] = mWriter.AddFrame(parent, FrameAddress(thread, i, innermostOffset));
        }
        // Only the outer frames stay valid: the innermost one is drawn anew each time.
        thread.validNodes = static_cast<uint32_t>(thread.functions.size() - 1);
        return thread.nodes.back();
    }

    /// The current stack without its outer frames, as when unwinding stopped early.
    uint64_t UnrootedStack(ThreadState& thread)
    {
        const std::size_t drop = std::min(thread.functions.size() - 1, kBaseFrames + thread.random.Below(3));
        uint64_t id = 0;
        for (std::size_t i = drop; i < thread.functions.size(); ++i)
            id = mWriter.AddFrame(id, FrameAddress(thread, i, 0));
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
    std::vector<ThreadState> mThreads;
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
