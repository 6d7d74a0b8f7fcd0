#include "CallGraphModel/FunctionTimingProcessor.h"

#include "CallGraphModel/CallGraph.h"
#include "System/JobScheduler.h"
#include "System/Log.h"

#include <algorithm>

namespace Profiler {

bool LineDataAddressMap::HasAddressRanges() const
{
    return mLines != nullptr && !mLines->mAddressToLineMap.mResolvedLines.empty();
}

std::optional<int32_t> LineDataAddressMap::FindLine(uint64_t address) const
{
    if (!HasAddressRanges())
        return std::nullopt;
    const auto& lines = mLines->mAddressToLineMap.mResolvedLines;
    auto after =
        std::upper_bound(lines.begin(), lines.end(), address,
                         [](uint64_t value, const ResolvedLine& line) { return value < line.mAddress; });
    if (after == lines.begin() || (after - 1)->mLine <= 0)
        return std::nullopt;
    return (after - 1)->mLine;
}

FunctionTimingProcessor::FunctionTimingProcessor(System::JobScheduler& scheduler,
                                                 std::shared_ptr<IFunctionDataProvider> provider)
    : mScheduler(scheduler), mProvider(std::move(provider))
{}

FunctionTimingProcessor::~FunctionTimingProcessor()
{
    System::Log("FunctionTimingProcessor is being destroyed");
    Cancel();
}

void FunctionTimingProcessor::Process(const FunctionQuery& query, const ResolvedAddress& function,
                                      IFunctionDataProvider* provider, const Callbacks& callbacks,
                                      const std::atomic<bool>& canceled)
{
    auto info = std::make_unique<FunctionTimingInfo>();
    if (query.Graph != nullptr &&
        !ComputeFunctionTiming(query.Graph->GetRoot(), function, query.Scope, *info, canceled))
        return;
    if (provider == nullptr) {
        if (callbacks.TimingReady)
            callbacks.TimingReady(std::move(info));
        return;
    }

    // Stacks record where the module was loaded; line data and instructions use the module's own
    // addresses. Entries of several loads of the module meet at the same module address.
    std::unordered_map<TimingAddressKey, TimingEntry, TimingAddressKeyHash> moved;
    for (const auto& [key, entry] : info->AddressEntries) {
        TimingEntry& target = moved[{provider->ToModuleAddress(function, key.Address), key.IsReturnAddress}];
        for (int state = 0; state < kThreadStateCount; ++state)
            target.Times[state] += entry.Times[state];
        target.Total += entry.Total;
        target.Samples += entry.Samples;
    }
    info->AddressEntries = std::move(moved);

    auto data = std::make_shared<FunctionData>();
    auto lines = std::make_shared<FunctionLineData>();
    std::string error;
    if (!provider->ResolveFunctionData(function, *data, *lines, error, canceled)) {
        System::Log("Critical error during resolving of function data: %s", error.c_str());
        data->mResult = EResolveFunctionDataResult::CriticalError;
        data->mErrorMessage = error;
    }
    if (canceled.load()) {
        System::Log("Local job 'function data' wait was canceled");
        return;
    }
    info->Data = data;
    if (callbacks.FunctionDataReady)
        callbacks.FunctionDataReady(data);

    if (canceled.load()) {
        System::Log("Local job 'done' wait was canceled");
        return;
    }
    info->LineData = lines;
    MapAddressesToLines(*info, LineDataAddressMap(lines));
    if (callbacks.TimingReady)
        callbacks.TimingReady(std::move(info));
}

System::JobHandle FunctionTimingProcessor::Request(FunctionQuery query, const ResolvedAddress& function,
                                                   Callbacks callbacks)
{
    std::lock_guard lock(mMutex);
    if (mCurrent.IsValid())
        mScheduler.Cancel(System::ECancelMode::Group, mCurrent);
    System::JobDescription description;
    description.work = [query = std::move(query), function, provider = mProvider,
                        callbacks = std::move(callbacks)](System::Job&, const std::atomic<bool>& canceled) {
        Process(query, function, provider.get(), callbacks, canceled);
    };
    mCurrent = mScheduler.Schedule(std::move(description));
    return mCurrent;
}

void FunctionTimingProcessor::Cancel()
{
    std::lock_guard lock(mMutex);
    if (mCurrent.IsValid())
        mScheduler.CancelAndWait(System::ECancelMode::Group, mCurrent);
    mCurrent = {};
}

} // namespace Profiler
