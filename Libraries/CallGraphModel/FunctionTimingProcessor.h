#pragma once

#include "CallGraphModel/FunctionScope.h"
#include "CallGraphModel/FunctionTiming.h"
#include "CallGraphModel/IAddressLineMap.h"
#include "CaptureModel/FunctionData.h"
#include "System/Job.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace System {
class JobScheduler;
}

namespace Profiler {

/// Finds a function's source file, line table and instructions (symbol resolution does).
class IFunctionDataProvider {
public:
    virtual ~IFunctionDataProvider() = default;
    /// Fills both records. Outcomes such as "no debug information" are results in `data`;
    /// false, with `error`, only for failures that left nothing usable.
    virtual bool ResolveFunctionData(const ResolvedAddress& function, FunctionData& data,
                                     FunctionLineData& lines, std::string& error,
                                     const std::atomic<bool>& canceled) = 0;
    /// The address in the function's module (the space of its line data and instructions) of a
    /// code address as the capture's stacks record it.
    virtual uint64_t ToModuleAddress(const ResolvedAddress& function, uint64_t address) const
    {
        (void)function;
        return address;
    }
};

/// The line of each address of a function, from its resolved line data.
class LineDataAddressMap final : public IAddressLineMap {
public:
    explicit LineDataAddressMap(std::shared_ptr<const FunctionLineData> lines) : mLines(std::move(lines)) {}
    bool HasAddressRanges() const override;
    std::optional<int32_t> FindLine(uint64_t address) const override;

private:
    std::shared_ptr<const FunctionLineData> mLines;
};

/// Computes a function's timing for the source view: its time by address from a call graph,
/// then its function data from the provider, then the time by source line. Each request runs as
/// one job; a newer request cancels the older one, whose results are never delivered.
class FunctionTimingProcessor {
public:
    struct Callbacks {
        /// The function data, as soon as it is resolved (on the job's thread).
        std::function<void(std::shared_ptr<const FunctionData>)> FunctionDataReady;
        /// The finished timing (on the job's thread); not called for canceled requests.
        std::function<void(std::unique_ptr<FunctionTimingInfo>)> TimingReady;
    };

    /// `provider` may be null: the timing then has address entries only.
    FunctionTimingProcessor(System::JobScheduler& scheduler, std::shared_ptr<IFunctionDataProvider> provider);
    ~FunctionTimingProcessor();
    FunctionTimingProcessor(const FunctionTimingProcessor&) = delete;
    FunctionTimingProcessor& operator=(const FunctionTimingProcessor&) = delete;

    /// Starts a request, canceling the previous one.
    System::JobHandle Request(FunctionQuery query, const ResolvedAddress& function, Callbacks callbacks);
    /// Cancels the running request and waits until its job has returned.
    void Cancel();

    /// The whole request on the calling thread; the callbacks are not called once canceled.
    static void Process(const FunctionQuery& query, const ResolvedAddress& function,
                        IFunctionDataProvider* provider, const Callbacks& callbacks,
                        const std::atomic<bool>& canceled);

private:
    System::JobScheduler& mScheduler;
    std::shared_ptr<IFunctionDataProvider> mProvider;
    std::mutex mMutex;
    System::JobHandle mCurrent;
};

} // namespace Profiler
