#pragma once

#include "CallGraphModel/OpenBarProcessor.h"
#include "CaptureModel/Identifiers.h"

#include <atomic>
#include <memory>
#include <unordered_map>
#include <vector>

namespace Profiler {

class ITraceEventSource;

/// Feeds one event reader's events to the processors of a set of threads.
class MultiOpenBarProcessor {
public:
    /// `source` (not null) is read from its current position; Seek positions it.
    explicit MultiOpenBarProcessor(std::unique_ptr<ITraceEventSource> source);
    virtual ~MultiOpenBarProcessor();
    MultiOpenBarProcessor(const MultiOpenBarProcessor&) = delete;
    MultiOpenBarProcessor& operator=(const MultiOpenBarProcessor&) = delete;

    /// Adds the processor of a thread not yet in the set.
    virtual void AddProcessor(std::unique_ptr<OpenBarProcessor> processor);
    /// The processor of `thread`, or null.
    OpenBarProcessor* FindProcessor(ThreadID thread) const;
    const std::vector<std::unique_ptr<OpenBarProcessor>>& GetProcessors() const { return mProcessors; }

    /// Positions the reader at the first event at or after `time`, reading the set's threads
    /// with zone events (as capture processing saw them). False when the stream cannot be read.
    bool Seek(double time);
    ITraceEventSource& GetSource() const { return *mSource; }

    /// Hands every event before `time` to its thread's processor. False when canceled or when
    /// the stream could not be read. The reader keeps its position.
    bool Replay(double time, const std::atomic<bool>& canceled);
    /// Ends every processor at `time`: clamps the open bars, reads on with `time` as the limit
    /// until each thread has applied a call stack (or can no longer change what it charged
    /// before `time`), then closes every open bar. False when canceled or the stream failed.
    /// The reader is left reading the threads that were active last.
    bool Finish(double time, const std::atomic<bool>& canceled);

private:
    OpenBarProcessor* Lookup(ThreadID thread);

    std::unique_ptr<ITraceEventSource> mSource;
    std::vector<std::unique_ptr<OpenBarProcessor>> mProcessors;
    std::unordered_map<uint32_t, std::size_t> mIndexByThread;
    ThreadID mLastThread{};
    OpenBarProcessor* mLastProcessor = nullptr; // not owned
};

} // namespace Profiler
