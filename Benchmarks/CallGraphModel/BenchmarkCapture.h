#pragma once

#include "CallGraphModel/IBrokenStackCursor.h"
#include "CallGraphModel/IOpenBarInput.h"
#include "CallGraphModel/ITraceEventSource.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace CallGraphBench {

struct CaptureShape {
    int threadCount = 8;
    double durationMs = 60000.0;
    double sampleInterval = 1.0;
    double switchChance = 0.05; ///< per sample: the thread waits (0.1 ms to 20 ms)
    uint32_t treeNodes = 20000; ///< distinct stacks of the program's call tree
    uint32_t functionCount = 2000;
    uint32_t maxDepth = 40;
    uint64_t seed = 1;
};

/// An in-memory capture shaped like a busy program: the threads wander through one call tree
/// (a stack ID is a node of the tree, its frames the path from the root), sampled at the
/// sampling interval, with context switches between them.
class BenchmarkCapture final : public Profiler::IOpenBarInput {
public:
    explicit BenchmarkCapture(const CaptureShape& shape);

    const std::vector<Profiler::TraceEvent>& GetEvents() const { return mEvents; }
    std::vector<Profiler::ThreadID> GetThreads() const;
    std::size_t GetSampleCount() const { return mSampleCount; }
    double GetDuration() const { return mShape.durationMs; }
    double GetMeanDepth() const
    {
        return mSampleCount > 0 ? static_cast<double>(mDepthSum) / mSampleCount : 0.0;
    }

    double GetSampleInterval() const override { return mShape.sampleInterval; }
    double GetCaptureStartTime() const override { return 0.0; }
    double GetThreadStartTime(Profiler::ThreadID) const override { return 0.0; }
    bool ResolveStack(Profiler::ThreadID thread, uint64_t stackId, double time,
                      std::vector<Profiler::ResolvedFrame>& frames) const override;
    Profiler::ResolvedAddress ResolveZone(const Profiler::TraceEvent&) const override { return {}; }
    std::unique_ptr<Profiler::IBrokenStackCursor> CreateBrokenStackCursor(Profiler::ThreadID,
                                                                          double) const override
    {
        return nullptr;
    }
    Profiler::IOpenBarFiberState* GetFiberState() const override { return nullptr; }
    std::unique_ptr<Profiler::ITraceEventSource> CreateEventSource() const override;

private:
    struct TreeNode {
        uint32_t parent;
        uint32_t depth;
        Profiler::ResolvedFrame frame;
        std::vector<uint32_t> children;
    };

    CaptureShape mShape;
    std::vector<TreeNode> mTree;
    std::vector<Profiler::TraceEvent> mEvents;
    std::size_t mSampleCount = 0;
    uint64_t mDepthSum = 0;
};

} // namespace CallGraphBench
