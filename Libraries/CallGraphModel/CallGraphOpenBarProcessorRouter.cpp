#include "CallGraphModel/CallGraphOpenBarProcessorRouter.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/OpenBarProcessor.h"

#include <algorithm>

namespace Profiler {

CallGraphOpenBarProcessorRouter::CallGraphOpenBarProcessorRouter(OpenBarProcessor& processor,
                                                                 CallGraph& target,
                                                                 std::shared_ptr<ChildIndex> children)
    : mTarget(&target), mChildren(children != nullptr ? std::move(children) : std::make_shared<ChildIndex>())
{
    mRegistration = processor.SubscribeBarsClosed([this](std::span<const OpenBar> bars, int firstClosed, int,
                                                         double, bool) { OnBarsClosed(bars, firstClosed); });
}

void CallGraphOpenBarProcessorRouter::SetTarget(CallGraph& target, std::shared_ptr<ChildIndex> children)
{
    mTarget = &target;
    mPath.clear();
    mChildren = children != nullptr ? std::move(children) : std::make_shared<ChildIndex>();
}

void CallGraphOpenBarProcessorRouter::OnBarsClosed(std::span<const OpenBar> bars, int firstClosed)
{
    const std::size_t count = bars.size();
    if (firstClosed < 0 || static_cast<std::size_t>(firstClosed) >= count)
        return;
    CallGraphNode* node = mPath.empty() ? &mTarget->GetRoot() : mPath.back();
    if (count > mPath.capacity())
        mPath.reserve(std::max(count, mPath.capacity() * 2));
    for (std::size_t i = mPath.size(); i < count; ++i) {
        node = mChildren->FindOrCreate(*node, bars[i].Function, bars[i].CallerAddress);
        mPath.push_back(node);
    }
    for (std::size_t i = static_cast<std::size_t>(firstClosed); i < count; ++i) {
        CallGraphNode& closed = *mPath[i];
        closed.AddTimes(bars[i].StateTimes);
        if (!bars[i].Samples.empty())
            closed.MergeSamples(bars[i].Samples);
    }
    mPath.resize(static_cast<std::size_t>(firstClosed));
}

} // namespace Profiler
