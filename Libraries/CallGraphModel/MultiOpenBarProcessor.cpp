#include "CallGraphModel/MultiOpenBarProcessor.h"

#include "CallGraphModel/ITraceEventSource.h"
#include "Utility/Assert.h"

#include <algorithm>

namespace Profiler {

namespace {

/// Whether nothing after `time` can change what the processor charged before it: the thread has
/// ended, or it runs with no wait pending and every bar charged up to `time`. A later stack
/// could then only close bars or open empty ones.
bool IsSettled(const OpenBarProcessor& processor, double time)
{
    if (processor.GetState() == kThreadStateEnded)
        return true;
    if (processor.GetState() != static_cast<uint8_t>(EThreadState::Executing))
        return false;
    if (processor.HasPending() && SumStateTimes(processor.GetPendingTimes()) != 0.0)
        return false;
    return std::all_of(processor.GetBars().begin(), processor.GetBars().end(),
                       [time](const OpenBar& bar) { return bar.EndTime >= time; });
}

} // namespace

MultiOpenBarProcessor::MultiOpenBarProcessor(std::unique_ptr<ITraceEventSource> source)
    : mSource(std::move(source))
{}

MultiOpenBarProcessor::~MultiOpenBarProcessor() = default;

void MultiOpenBarProcessor::AddProcessor(std::unique_ptr<OpenBarProcessor> processor)
{
    const auto thread = static_cast<uint32_t>(processor->GetThreadId());
    if (!QX_ASSERT(!mIndexByThread.contains(thread), "thread %u has a processor already", thread))
        return;
    mIndexByThread.emplace(thread, mProcessors.size());
    mProcessors.push_back(std::move(processor));
    mLastProcessor = nullptr;
}

OpenBarProcessor* MultiOpenBarProcessor::FindProcessor(ThreadID thread) const
{
    auto found = mIndexByThread.find(static_cast<uint32_t>(thread));
    return found != mIndexByThread.end() ? mProcessors[found->second].get() : nullptr;
}

OpenBarProcessor* MultiOpenBarProcessor::Lookup(ThreadID thread)
{
    if (mLastProcessor == nullptr || thread != mLastThread) {
        mLastThread = thread;
        mLastProcessor = FindProcessor(thread);
    }
    return mLastProcessor;
}

bool MultiOpenBarProcessor::Seek(double time)
{
    std::vector<ThreadID> threads;
    threads.reserve(mProcessors.size());
    for (const auto& processor : mProcessors)
        threads.push_back(processor->GetThreadId());
    mSource->SetThreads(threads);
    mSource->SetZonesEnabled(true);
    return mSource->Seek(time);
}

bool MultiOpenBarProcessor::Replay(double time, const std::atomic<bool>& canceled)
{
    TraceEvent event;
    while (mSource->Next(event, time)) {
        if (OpenBarProcessor* processor = Lookup(event.threadId))
            processor->HandleEvent(event, std::numeric_limits<double>::max());
        if (canceled.load(std::memory_order_relaxed))
            return false;
    }
    return !mSource->HasFailed();
}

bool MultiOpenBarProcessor::Finish(double time, const std::atomic<bool>& canceled)
{
    std::vector<uint8_t> active(mProcessors.size(), 0);
    std::size_t activeCount = 0;
    for (std::size_t i = 0; i < mProcessors.size(); ++i) {
        mProcessors[i]->ClampTo(time);
        if (!IsSettled(*mProcessors[i], time)) {
            active[i] = 1;
            ++activeCount;
        }
    }
    // Reading narrows to the threads still active, so that a thread waiting long after `time`
    // is looked for only in the parts of the stream that hold its events.
    auto readActiveThreads = [&] {
        std::vector<ThreadID> threads;
        for (std::size_t i = 0; i < mProcessors.size(); ++i)
            if (active[i] != 0)
                threads.push_back(mProcessors[i]->GetThreadId());
        mSource->SetThreads(threads);
    };
    if (activeCount < mProcessors.size())
        readActiveThreads();
    TraceEvent event;
    while (activeCount > 0 && mSource->Next(event)) {
        auto found = mIndexByThread.find(static_cast<uint32_t>(event.threadId));
        if (found != mIndexByThread.end() && active[found->second] != 0) {
            OpenBarProcessor& processor = *mProcessors[found->second];
            if (processor.HandleEvent(event, time) || processor.GetState() == kThreadStateEnded) {
                active[found->second] = 0;
                if (--activeCount > 0)
                    readActiveThreads();
            }
        }
        if (canceled.load(std::memory_order_relaxed))
            return false;
    }
    if (mSource->HasFailed())
        return false;
    for (const auto& processor : mProcessors)
        processor->CloseAll();
    return true;
}

} // namespace Profiler
