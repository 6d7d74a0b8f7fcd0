#include "BenchmarkCapture.h"

#include <algorithm>
#include <cmath>
#include <random>

using namespace Profiler;

namespace CallGraphBench {

namespace {

class VectorSource final : public ITraceEventSource {
public:
    explicit VectorSource(const std::vector<TraceEvent>& events) : mEvents(&events) {}

    void SetThreads(std::span<const ThreadID> threads) override
    {
        mThreads.assign(threads.begin(), threads.end());
    }
    void SetZonesEnabled(bool) override {}
    bool Seek(double time) override
    {
        mPosition = static_cast<std::size_t>(
            std::lower_bound(mEvents->begin(), mEvents->end(), time,
                             [](const TraceEvent& event, double t) { return event.time < t; }) -
            mEvents->begin());
        return true;
    }
    bool Next(TraceEvent& event, double endTime) override
    {
        while (mPosition < mEvents->size()) {
            const TraceEvent& next = (*mEvents)[mPosition];
            if (!(next.time < endTime))
                return false;
            ++mPosition;
            if (std::find(mThreads.begin(), mThreads.end(), next.threadId) != mThreads.end()) {
                event = next;
                return true;
            }
        }
        return false;
    }
    std::unique_ptr<ITraceEventSource> Clone() const override
    {
        return std::make_unique<VectorSource>(*this);
    }
    bool HasFailed() const override { return false; }
    void GetErrors(Serialization::ErrorList&) const override {}

private:
    const std::vector<TraceEvent>* mEvents;
    std::size_t mPosition = 0;
    std::vector<ThreadID> mThreads;
};

} // namespace

BenchmarkCapture::BenchmarkCapture(const CaptureShape& shape) : mShape(shape)
{
    std::mt19937_64 random(shape.seed);
    // The call tree: node 0 is the entry; each new node hangs below a random node that is not
    // too deep, preferring recent ones so that the tree gets deep.
    mTree.push_back({0, 0, {ResolvedAddress::Make(0x1000, 0, 1), 0x1010, ~uint64_t{0}}, {}});
    for (uint32_t i = 1; i < shape.treeNodes; ++i) {
        uint32_t parent = std::uniform_int_distribution<uint32_t>(i > 64 ? i - 64 : 0, i - 1)(random);
        while (mTree[parent].depth + 1 >= shape.maxDepth)
            parent = mTree[parent].parent;
        const uint32_t function =
            1 + std::uniform_int_distribution<uint32_t>(0, shape.functionCount - 1)(random);
        const uint64_t base = 0x1000 * (uint64_t{function} + 1);
        const uint64_t site = mTree[parent].frame.Function.RelativeAddress + 0x10 + 4 * (i % 3);
        mTree.push_back({parent,
                         mTree[parent].depth + 1,
                         {ResolvedAddress::Make(base, 0, 1 + function % 7), base + 0x10 + 4 * (i % 5), site},
                         {}});
        mTree[parent].children.push_back(i);
    }

    for (int t = 0; t < shape.threadCount; ++t) {
        const ThreadID thread{static_cast<uint32_t>(1000 + t)};
        uint32_t node = 0;
        double time = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        while (time < shape.durationMs) {
            // A short random walk: mostly stay near, sometimes go up or down.
            const double r = std::uniform_real_distribution<double>(0.0, 1.0)(random);
            if (r < 0.5 && !mTree[node].children.empty())
                node = mTree[node].children[std::uniform_int_distribution<std::size_t>(
                    0, mTree[node].children.size() - 1)(random)];
            else if (r < 0.7 && node != 0)
                node = mTree[node].parent;
            TraceEvent event;
            event.threadId = thread;
            event.time = time;
            if (std::uniform_real_distribution<double>(0.0, 1.0)(random) < shape.switchChance) {
                event.kind = ETraceEventKind::ContextSwitchOut;
                event.data8 = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 37)(random));
                if (event.data8 == 22)
                    event.data8 = 21;
                mEvents.push_back(event);
                time +=
                    std::exp(std::uniform_real_distribution<double>(std::log(0.1), std::log(20.0))(random));
                event.kind = ETraceEventKind::ContextSwitchIn;
                event.time = time;
                event.stackId = node + 1;
                mEvents.push_back(event);
            } else {
                event.kind = ETraceEventKind::Sample;
                event.stackId = node + 1;
                mEvents.push_back(event);
                ++mSampleCount;
                mDepthSum += mTree[node].depth + 1;
            }
            time += shape.sampleInterval * std::uniform_real_distribution<double>(0.9, 1.1)(random);
        }
    }
    std::stable_sort(mEvents.begin(), mEvents.end(),
                     [](const TraceEvent& a, const TraceEvent& b) { return a.time < b.time; });
}

std::vector<ThreadID> BenchmarkCapture::GetThreads() const
{
    std::vector<ThreadID> threads;
    for (int t = 0; t < mShape.threadCount; ++t)
        threads.push_back(ThreadID{static_cast<uint32_t>(1000 + t)});
    return threads;
}

bool BenchmarkCapture::ResolveStack(ThreadID, uint64_t stackId, double,
                                    std::vector<ResolvedFrame>& frames) const
{
    if (stackId == 0 || stackId > mTree.size())
        return false;
    frames.resize(mTree[stackId - 1].depth + 1);
    for (uint32_t node = static_cast<uint32_t>(stackId - 1), i = mTree[node].depth + 1; i-- > 0;
         node = mTree[node].parent)
        frames[i] = mTree[node].frame;
    return true;
}

std::unique_ptr<ITraceEventSource> BenchmarkCapture::CreateEventSource() const
{
    return std::make_unique<VectorSource>(mEvents);
}

} // namespace CallGraphBench
