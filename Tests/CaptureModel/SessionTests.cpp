#include "CaptureModelTestSupport.h"

#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/Model.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/SessionViewState.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/SyntheticCaptureGenerator.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "RTTI/ObjectFactory.h"
#include "Serialization/Binary.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

namespace {

using namespace Profiler;
using TestSupport::LoadSession;
using A = TestSupport::SmallCaptureAddresses;

std::vector<std::string> FunctionNames(const Session& session, int32_t process, uint64_t stackId)
{
    std::vector<ResolvedFrame> frames;
    std::vector<std::string> names;
    if (session.ResolveStack(process, stackId, 0.0, frames))
        for (const ResolvedFrame& frame : frames)
            names.push_back(session.GetModuleDatabase().GetFunctionName(frame.Function));
    return names;
}

TEST(Session, SmallCaptureReloadsWithItsProcessesThreadsModulesStacksEventsAndBrokenStackRanges)
{
    TestSupport::TempDirectory temp;
    const auto path = TestSupport::WriteSmallCapture(temp / "small");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.filename(), "small.session");
    // The session file is found from its stem, its directory or another extension.
    for (const auto& named : {path, temp / "small", temp / "small" / "small", temp / "small" / "small.json"})
        EXPECT_EQ(Session::GetSessionFilePath(named), path) << named;

    auto loaded = LoadSession(temp / "small");
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    const Session& session = *loaded.session;
    EXPECT_EQ(loaded.platform->GetID(), LinuxPlatform::kID);
    EXPECT_TRUE(session.GetLoadWarnings().IsEmpty()) << session.GetLoadWarnings().ToString();

    EXPECT_EQ(session.GetSampleIntervalMs(), 1.0);
    EXPECT_EQ(session.GetStartTimeMs(), 0.0);
    EXPECT_EQ(session.GetEndTimeMs(), 7.0);

    ASSERT_EQ(session.GetProcessList().size(), 2u);
    const Process& app = session.GetProcessList()[0];
    EXPECT_EQ(app.mID, 10);
    EXPECT_EQ(app.mName, "app");
    EXPECT_EQ(app.mPath, "/usr/bin/app");
    EXPECT_EQ(app.mThreadOrder, (std::vector<int32_t>{11, 12}));
    ASSERT_EQ(session.GetThreadList().size(), 3u);
    const Thread* worker = session.FindThread(12);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(worker->mThreadName, "worker");
    // Without explicit times a thread spans its events.
    EXPECT_EQ(worker->mStartTimeMs, 0.5);
    EXPECT_EQ(worker->mEndTimeMs, 6.5);
    EXPECT_EQ(session.GetThreadStartTimeMs(12), 0.5);
    EXPECT_EQ(session.FindThread(99), nullptr);
    EXPECT_EQ(session.GetThreadStartTimeMs(99), session.GetStartTimeMs());

    auto* platformSession = dynamic_cast<const LinuxPlatformSession*>(session.GetPlatformSession());
    ASSERT_NE(platformSession, nullptr);
    EXPECT_EQ(platformSession->GetThreadName(12, 1.0), "worker");
    EXPECT_EQ(platformSession->GetThreadName(12, 3.0), "renamed");

    EXPECT_EQ(session.GetModuleDatabase().GetNativeModuleCount(), 2u);
    EXPECT_EQ(session.GetModuleDatabase().GetFunctionCount(), 6u);

    const std::vector<TraceEvent> events = TestSupport::ReadAllEvents(session);
    ASSERT_EQ(events.size(), 14u);
    EXPECT_EQ(events[2].kind, CaptureWriter::kSampleWeightKind);
    EXPECT_EQ(events[2].data64[0], 250000u);
    EXPECT_EQ(events[7].kind, ETraceEventKind::ContextSwitchOut);
    EXPECT_EQ(events[7].GetWaitReason(), 6);
    EXPECT_EQ(events[12].kind, ETraceEventKind::ThreadStatus);
    EXPECT_EQ(events[12].GetStatus(), CaptureWriter::kThreadEndedStatus);

    EXPECT_EQ(FunctionNames(session, 10, events[0].stackId),
              (std::vector<std::string>{"_start", "main", "work"}));
    EXPECT_EQ(FunctionNames(session, 10, events[3].stackId),
              (std::vector<std::string>{"_start", "main", "work", "helper"}));
    EXPECT_EQ(FunctionNames(session, 20, events[4].stackId),
              (std::vector<std::string>{"_start", "main", "[app]"}));
    EXPECT_EQ(FunctionNames(session, 10, events[8].stackId),
              (std::vector<std::string>{"_start", "main", "schedule"}));
    // Another process sees the same addresses in no module.
    EXPECT_EQ(FunctionNames(session, 20, events[0].stackId),
              (std::vector<std::string>{"Unknown", "Unknown", "Unknown"}));

    EXPECT_EQ(session.GetModuleDatabase().GetFunctionName(ModuleDatabase::ZoneFunction("Frame")), "Frame");
    EXPECT_TRUE(ModuleDatabase::ZoneFunction("Frame").IsInstrumentationZone());

    std::vector<uint64_t> frames;
    ASSERT_TRUE(session.GetCallstack(events[3].stackId, frames));
    EXPECT_EQ(frames.back(), A::kAppBase10 + A::kHelper + 2);
    EXPECT_FALSE(session.GetCallstack(session.GetNodeStore()->GetNodeCount(), frames));

    // Broken stack ranges follow the Linux rootedness.
    EXPECT_TRUE(session.IsStackRooted(10, events[0].stackId, 0.0));
    EXPECT_TRUE(session.IsStackRooted(10, events[1].stackId, 0.5)); // start_thread
    EXPECT_FALSE(session.IsStackRooted(10, events[5].stackId, 2.0));
    EXPECT_FALSE(session.IsStackRooted(10, 0, 2.0));

    // Thread 11: unrooted samples at 2.0 and 3.0, then the rooted stack of the switch-in at 4.5.
    ASSERT_NE(session.GetBrokenStackReader(), nullptr);
    BrokenStackCursor cursor(*session.GetBrokenStackReader(), ThreadID{11});
    EXPECT_EQ(cursor.Find(1.5), nullptr);
    const BrokenStackRecord* range = cursor.Find(2.5);
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->startTime, 2.0);
    EXPECT_EQ(range->endTime, 4.5);
    EXPECT_EQ(range->stackId, events[8].stackId);
    EXPECT_EQ(cursor.Find(5.0), nullptr);
    BrokenStackCursor other(*session.GetBrokenStackReader(), ThreadID{12});
    EXPECT_EQ(other.Find(1.0), nullptr);
}

TEST(Session, LoadFailuresLeaveOneRecordAndNoSession)
{
    TestSupport::TempDirectory temp;
    auto missing = LoadSession(temp / "none.session");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.session, nullptr);
    EXPECT_EQ(missing.errors.GetCount(), 1u);

    // A binary object file without a session in it.
    SessionInfo header;
    header.mPlatformID = LinuxPlatform::kID;
    Serialization::ErrorList errors;
    ASSERT_TRUE(Serialization::WriteBinaryFile(temp / "header.session", {&header}, errors));
    auto headerOnly = LoadSession(temp / "header.session");
    EXPECT_EQ(headerOnly.status, 1);
    EXPECT_TRUE(
        TestSupport::HasOnlyError(headerOnly.errors, Serialization::EErrorCode::Corrupt,
                                  "The file does not appear to be a session file (missing Session object)"));

    // An unknown platform.
    header.mPlatformID = {1, 2};
    Session session;
    ASSERT_TRUE(Serialization::WriteBinaryFile(temp / "unknown.session", {&header, &session}, errors));
    auto unknown = LoadSession(temp / "unknown.session");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(
        TestSupport::HasOnlyError(unknown.errors, Serialization::EErrorCode::WriteFailed, // code 0
                                  "This session was created for a platform for which the plugin can no "
                                  "longer be found. Please ensure the platform plugin is installed "
                                  "before opening the file."));

    // A damaged node store fails the load and touches nothing.
    const auto path = TestSupport::WriteSmallCapture(temp / "damaged");
    const auto store = path.parent_path() / CallstackNodeStore::kFileName;
    std::filesystem::resize_file(store, std::filesystem::file_size(store) - 3);
    const auto before = std::filesystem::last_write_time(store);
    auto damaged = LoadSession(path);
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(damaged.session, nullptr);
    EXPECT_EQ(std::filesystem::last_write_time(store), before);
}

TEST(Session, CapturesWithoutNodeStoreOrEventsLoad)
{
    // Without its node store a capture finds no stacks.
    TestSupport::TempDirectory temp;
    const auto path = TestSupport::WriteSmallCapture(temp / "nostore");
    std::filesystem::remove(path.parent_path() / CallstackNodeStore::kFileName);
    auto loaded = LoadSession(path);
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    EXPECT_FALSE(loaded.session->UsesNodeStore());
    std::vector<uint64_t> frames;
    EXPECT_FALSE(loaded.session->GetCallstack(1, frames));
    std::vector<ResolvedFrame> resolved;
    EXPECT_FALSE(loaded.session->ResolveStack(10, 1, 0.0, resolved));
    EXPECT_TRUE(resolved.empty());

    // Without its events it loads with a warning.
    const auto noEvents = TestSupport::WriteSmallCapture(temp / "noevents");
    std::filesystem::remove(noEvents.parent_path() / TraceEventStream::kDataFileName);
    loaded = LoadSession(noEvents);
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    EXPECT_EQ(loaded.session->GetTraceEventStream(), nullptr);
    ASSERT_EQ(loaded.session->GetLoadWarnings().GetCount(), 1u);
    EXPECT_NE(loaded.session->GetLoadWarnings().GetErrors()[0].message.find("the file does not exist"),
              std::string::npos);
}

/// Records the calls a model receives.
class RecordingModel final : public Model {
public:
    ThreadProcessingState* BeginThread(OpenBarProcessor&) override { return nullptr; }
    bool EndThread(OpenBarProcessor&, Serialization::ErrorList&) override { return true; }
    bool Progress(const ProcessingProgress&, ThreadProcessingState&, Serialization::ErrorList&) override
    {
        return true;
    }
    bool BeginProcessing(Serialization::ErrorList&) override
    {
        calls += "begin;";
        return true;
    }
    void EndProcessing() override { calls += "end;"; }
    bool DeleteStoredData(Serialization::ErrorList&) override
    {
        calls += "delete;";
        return true;
    }
    bool Save(Serialization::ErrorList& errors) override
    {
        calls += "save;";
        if (failSave)
            errors.Add(Serialization::EErrorCode::WriteFailed, "model save failed");
        return !failSave;
    }

    std::string calls;
    bool failSave = false;
};

class CountingHandler final : public IReprocessHandler {
public:
    bool BeginReprocessing(std::span<Model* const> models, Serialization::ErrorList&) override
    {
        modelCount = models.size();
        return true;
    }
    bool HandleEvent(const TraceEvent& event, Serialization::ErrorList&) override
    {
        inOrder = inOrder && event.time >= lastTime;
        lastTime = event.time;
        ++events;
        return true;
    }
    bool EndReprocessing(Serialization::ErrorList&) override
    {
        ended = true;
        return true;
    }

    std::size_t modelCount = 0;
    uint64_t events = 0;
    double lastTime = -1.0;
    bool inOrder = true;
    bool ended = false;
};

TEST(Session, ReprocessingHandsEveryEventOnInOrderWithProgress)
{
    TestSupport::TempDirectory temp;
    SyntheticCaptureGenerator::Parameters parameters;
    parameters.threadCount = 3;
    parameters.durationMs = 400.0;
    SyntheticCaptureGenerator::Summary summary;
    Serialization::ErrorList errors;
    ASSERT_TRUE(SyntheticCaptureGenerator(parameters)
                    .Generate(temp / "synthetic", TestSupport::CaptureModelRegistry(), summary, errors))
        << errors.ToString();
    auto loaded = LoadSession(temp / "synthetic");
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    Session& session = *loaded.session;
    RecordingModel model;
    session.RegisterModel(model);
    session.RegisterModel(model);
    CountingHandler handler;
    std::vector<double> progress;
    ASSERT_TRUE(session.Reprocess(
        handler, [&](double fraction) { progress.push_back(fraction); }, errors))
        << errors.ToString();
    EXPECT_EQ(handler.modelCount, 1u);
    EXPECT_EQ(handler.events, summary.events);
    EXPECT_TRUE(handler.inOrder);
    EXPECT_TRUE(handler.ended);
    EXPECT_EQ(model.calls, "delete;begin;end;");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_LE(progress.size(), 102u);

    // Saving goes through the model; a failing model stops the save before the session file.
    ASSERT_TRUE(session.Save(errors)) << errors.ToString();
    EXPECT_EQ(model.calls, "delete;begin;end;save;");
    const auto written = std::filesystem::last_write_time(session.GetPath());
    model.failSave = true;
    EXPECT_FALSE(session.Save(errors));
    EXPECT_EQ(std::filesystem::last_write_time(session.GetPath()), written);
    session.UnregisterModel(model);
    EXPECT_TRUE(session.GetModels().empty());
}

TEST(Session, SharedModelAndViewStateRoundTrip)
{
    TestSupport::TempDirectory temp;
    auto loaded = LoadSession(TestSupport::WriteSmallCapture(temp / "shared"));
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    Session& session = *loaded.session;
    OpenBarProcessorFiberState state;
    state.mFiberStates.resize(1);
    state.mFiberStates[0].mBars.push_back({7, 0x1234, 0x5678, ResolvedAddress::Make(0x10, 0, 1)});
    state.mFiberEvents[7].push_back({2.5, 0});
    session.GetSharedModel()->SetFiberState(state);
    Serialization::ErrorList errors;
    ASSERT_TRUE(session.Save(errors)) << errors.ToString();

    auto reloaded = LoadSession(session.GetPath());
    ASSERT_EQ(reloaded.status, 0) << reloaded.FirstError();
    const OpenBarProcessorFiberState back = reloaded.session->GetSharedModel()->GetFiberState();
    ASSERT_EQ(back.mFiberStates.size(), 1u);
    ASSERT_EQ(back.mFiberStates[0].mBars.size(), 1u);
    EXPECT_EQ(back.mFiberStates[0].mBars[0].mLastAbsoluteAddress, 0x1234u);
    EXPECT_EQ(back.mFiberStates[0].mBars[0].mFrame, ResolvedAddress::Make(0x10, 0, 1));
    EXPECT_EQ(back.mFiberEvents.at(7).at(0).mEventTimeMs, 2.5);

    auto missing = SharedModel::Load(temp / "nowhere", TestSupport::CaptureModelRegistry(), errors);
    EXPECT_EQ(missing, nullptr);
    EXPECT_TRUE(
        TestSupport::LastErrorIs(errors, Serialization::EErrorCode::FileNotFound, "Unable to open file"));
    EXPECT_FALSE(SharedModel().Save({}, errors));
    EXPECT_EQ(errors.GetErrors().back().message, "Could not model path ");

    SessionViewState view;
    view.mThreadViewState = std::make_unique<ThreadViewState>();
    view.mThreadViewState->mSelectedThreads = {ThreadID{11}, ThreadID{12}};
    view.mVerticalSplitterPos = 0.25f;
    ASSERT_TRUE(view.Save(session.GetDirectory(), errors)) << errors.ToString();
    auto viewBack =
        SessionViewState::Load(session.GetDirectory(), TestSupport::CaptureModelRegistry(), errors);
    ASSERT_NE(viewBack, nullptr) << errors.ToString();
    EXPECT_EQ(viewBack->mThreadViewState->mSelectedThreads, view.mThreadViewState->mSelectedThreads);
    EXPECT_EQ(viewBack->mVerticalSplitterPos, 0.25f);
}

} // namespace
