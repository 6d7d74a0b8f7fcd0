#pragma once

#include "Importers/PerfScriptRecords.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Profiler {

/// Hands the records of a perf script parser to `downstream` on a thread of its own, so that
/// reading and tokenising the text and importing the records run on two cores. The downstream
/// handler sees exactly the records, in exactly the order, that it would have seen from the
/// parser directly. Records travel in batches (their text and frames copied into the batch),
/// a few batches at most, so memory does not grow with the input.
class PerfRecordPipe : public IPerfScriptHandler {
public:
    explicit PerfRecordPipe(IPerfScriptHandler& downstream);
    ~PerfRecordPipe() override;
    PerfRecordPipe(const PerfRecordPipe&) = delete;
    PerfRecordPipe& operator=(const PerfRecordPipe&) = delete;

    void OnSample(const PerfSample& sample) override;
    void OnSchedSwitch(const PerfSchedSwitch& record) override;
    void OnTaskEvent(const PerfTaskEvent& event) override;
    void OnMmapEvent(const PerfMmapEvent& event) override;

    /// Hands on the records still batched and waits until the downstream handler has seen all
    /// of them. No record may follow.
    void Close();

private:
    struct Batch;

    Batch& Reserve(std::size_t textBytes, std::size_t frames);
    void Send();
    void Run();

    IPerfScriptHandler& mDownstream; // not owned, used on mThread only
    std::unique_ptr<Batch> mFilling;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::deque<std::unique_ptr<Batch>> mFull;   ///< in input order
    std::vector<std::unique_ptr<Batch>> mEmpty; ///< handed back for reuse
    std::size_t mBatches = 0;                   ///< batches in existence
    bool mClosed = false;
    std::thread mThread;
};

} // namespace Profiler
