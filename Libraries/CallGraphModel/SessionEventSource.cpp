#include "CallGraphModel/SessionEventSource.h"

#include "Utility/ErrorList.h"

namespace Profiler {

SessionEventSource::SessionEventSource(const TraceEventStream& stream) : mStream(stream), mReader(stream) {}

void SessionEventSource::SetThreads(std::span<const ThreadID> threads)
{
    mAllThreads = false;
    mThreads.assign(threads.begin(), threads.end());
    mReader.SetThreads(threads);
}

void SessionEventSource::SetZonesEnabled(bool enabled)
{
    mReader.SetZonesEnabled(enabled);
}

bool SessionEventSource::Seek(double time)
{
    return mReader.Seek(time);
}

bool SessionEventSource::Next(TraceEvent& event, double endTime)
{
    return mReader.Next(event, endTime);
}

std::unique_ptr<ITraceEventSource> SessionEventSource::Clone() const
{
    auto copy = std::make_unique<SessionEventSource>(mStream);
    if (!mAllThreads)
        copy->SetThreads(mThreads);
    copy->SetZonesEnabled(mReader.AreZonesEnabled());
    // Positions carry over between readers of one stream that read the same threads.
    copy->mReader.SetPosition(mReader.GetPosition());
    return copy;
}

bool SessionEventSource::HasFailed() const
{
    return mReader.HasFailed();
}

void SessionEventSource::GetErrors(Serialization::ErrorList& errors) const
{
    for (const auto& record : mReader.GetErrors().GetErrors()) {
        errors.PushContext(record.context);
        errors.Add(record.code, record.message);
        errors.PopContext();
    }
}

} // namespace Profiler
