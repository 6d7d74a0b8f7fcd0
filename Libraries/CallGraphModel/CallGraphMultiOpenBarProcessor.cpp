#include "CallGraphModel/CallGraphMultiOpenBarProcessor.h"

#include "CallGraphModel/ITraceEventSource.h"

namespace Profiler {

CallGraphMultiOpenBarProcessor::CallGraphMultiOpenBarProcessor(std::unique_ptr<ITraceEventSource> source,
                                                               CallGraph& target)
    : MultiOpenBarProcessor(std::move(source)), mTarget(&target), mChildren(std::make_shared<ChildIndex>())
{}

// The routers are members of this class and die before the base's processors, so no processor
// is destroyed with a subscription left.
CallGraphMultiOpenBarProcessor::~CallGraphMultiOpenBarProcessor() = default;

void CallGraphMultiOpenBarProcessor::AddProcessor(std::unique_ptr<OpenBarProcessor> processor)
{
    if (FindProcessor(processor->GetThreadId()) != nullptr) {
        MultiOpenBarProcessor::AddProcessor(std::move(processor)); // reports the duplicate
        return;
    }
    mRouters.push_back(std::make_unique<CallGraphOpenBarProcessorRouter>(*processor, *mTarget, mChildren));
    MultiOpenBarProcessor::AddProcessor(std::move(processor));
}

void CallGraphMultiOpenBarProcessor::SetTarget(CallGraph& target)
{
    mTarget = &target;
    mChildren = std::make_shared<ChildIndex>();
    for (auto& router : mRouters)
        router->SetTarget(target, mChildren);
}

} // namespace Profiler
