#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/BrokenStackWriter.h"
#include "CaptureModel/Model.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "System/Log.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <system_error>

namespace Profiler {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The kinds whose stack decides whether a thread's stacks are rooted.
bool CarriesRootingStack(const TraceEvent& event)
{
    switch (event.kind) {
    case ETraceEventKind::Sample:
    case ETraceEventKind::ContextSwitchIn:
    case ETraceEventKind::ZoneBegin:
    case ETraceEventKind::ZoneBeginWithColour:
        return event.HasStack();
    default:
        return false;
    }
}

void CopyErrors(const Serialization::ErrorList& from, Serialization::ErrorList& to)
{
    for (const auto& record : from.GetErrors()) {
        to.PushContext(record.context);
        to.Add(record.code, record.message);
        to.PopContext();
    }
}

} // namespace

bool Session::RebuildBrokenStacks(Serialization::ErrorList& errors)
{
    if (!mEventStream) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "The session has no event stream");
        return false;
    }
    const std::filesystem::path directory = GetDirectory();
    // The ranges are derived from the events alone, so the old files are simply replaced.
    mBrokenStacks.reset();
    std::error_code ignored;
    std::filesystem::remove(directory / BrokenStackIndex::kDataFileName, ignored);
    std::filesystem::remove(directory / BrokenStackIndex::kIndexFileName, ignored);

    BrokenStackWriter writer;
    if (!writer.Open(directory, errors))
        return false;
    TraceEventStreamReader reader(*mEventStream);
    reader.SetZonesEnabled(true);
    if (!reader.Seek(std::numeric_limits<double>::lowest())) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    TraceEvent event;
    while (reader.Next(event)) {
        if (!CarriesRootingStack(event))
            continue;
        const auto process = static_cast<int32_t>(event.processId);
        const std::optional<bool> rooted = FindRootedness(process, event.stackId, event.time);
        if (!rooted)
            continue;
        if (*rooted)
            writer.EndRange(event.threadId, event.time, event.stackId);
        else
            writer.BeginRange(event.threadId, event.time);
    }
    if (reader.HasFailed()) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    if (!writer.Finish(errors))
        return false;
    auto brokenStacks = std::make_unique<BrokenStackReader>();
    if (!brokenStacks->Open(directory, writer.GetIndex(), errors))
        return false;
    mBrokenStacks = std::move(brokenStacks);
    return true;
}

bool Session::Reprocess(IReprocessHandler& handler, const std::function<void(double)>& progress,
                        Serialization::ErrorList& errors)
{
    const Clock::time_point start = Clock::now();
    Serialization::ErrorList::ContextScope context(errors, mPath.string());
    if (!mEventStream) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "The session has no event stream");
        return false;
    }
    // Open bar processing asks for the broken stack ranges while it runs, so they must exist
    // before the events are handed out; a capture written without them gets them first.
    if (!mBrokenStacks && !RebuildBrokenStacks(errors))
        return false;

    for (Model* model : mModels)
        if (!model->DeleteStoredData(errors) || !model->BeginProcessing(errors))
            return false;
    if (!handler.BeginReprocessing(mModels, errors))
        return false;

    TraceEventStreamReader reader(*mEventStream);
    reader.SetZonesEnabled(true);
    // Every event, from the capture's first one.
    if (!reader.Seek(std::numeric_limits<double>::lowest())) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    int lastPercent = -1;
    TraceEvent event;
    while (reader.Next(event)) {
        if (!handler.HandleEvent(event, errors))
            return false;
        const double fraction = reader.GetProgress();
        const int percent = static_cast<int>(std::floor(fraction * 100.0));
        if (percent > lastPercent) {
            lastPercent = percent;
            if (progress)
                progress(fraction);
        }
    }
    if (reader.HasFailed()) {
        CopyErrors(reader.GetErrors(), errors);
        return false;
    }
    if (progress && lastPercent < 100)
        progress(1.0);

    const Clock::time_point finishing = Clock::now();
    if (!handler.EndReprocessing(errors))
        return false;
    for (Model* model : mModels)
        model->EndProcessing();
    const double finishingSeconds = SecondsSince(finishing);
    const double totalSeconds = SecondsSince(start);
    const double ioSeconds = reader.GetIoSeconds();
    System::Log(
        "Reprocessing finished after %f seconds (processing time: %f, IO time: %f, finishing time: %f)",
        totalSeconds, totalSeconds - ioSeconds - finishingSeconds, ioSeconds, finishingSeconds);
    return true;
}

} // namespace Profiler
