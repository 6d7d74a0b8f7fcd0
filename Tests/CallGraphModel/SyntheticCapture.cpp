#include "SyntheticCapture.h"

#include "CallGraphModel/OpenBarProcessor.h"
#include "Serialization/Schema.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>

using namespace Profiler;

namespace CallGraphTest {

namespace {

constexpr double kGrid = 1.0 / 64.0;
constexpr int kFunctionCount = 12;
constexpr int kMaxDepth = 9;
constexpr uint64_t kOffsets[] = {0x10, 0x24, 0x38};

class ThreadGenerator {
public:
    ThreadGenerator(TestCapture& capture, const SyntheticOptions& options, std::mt19937_64& random,
                    ThreadID thread)
        : mCapture(capture), mOptions(options), mRandom(random), mThread(thread)
    {
        mFunctions.push_back(capture.GetNames().Get("main"));
        for (int i = 0; i < kFunctionCount; ++i)
            mFunctions.push_back(capture.GetNames().Get("f" + std::to_string(i)));
    }

    void Generate(double start, double end);

private:
    double Uniform(double low, double high)
    {
        return std::uniform_real_distribution<double>(low, high)(mRandom);
    }
    bool Chance(double p) { return Uniform(0.0, 1.0) < p; }
    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(mRandom); }
    /// A grid time; with arbitrary times a small fraction that keeps the order of grid times.
    double Time(double grid) const
    {
        if (mOptions.dyadicTimes)
            return grid;
        const double fraction = grid * 0.6180339887498949;
        return grid + (fraction - std::floor(fraction)) * 1e-3;
    }
    double Snap(double time) const { return std::round(time / kGrid) * kGrid; }
    void Walk();
    /// The current stack; unrooted stacks leave out their outer frames.
    uint64_t StackId(bool unrooted);
    double WaitLength();

    TestCapture& mCapture;
    const SyntheticOptions& mOptions;
    std::mt19937_64& mRandom;
    ThreadID mThread;
    std::vector<int> mStack{-1};             ///< -1 is main
    std::vector<ResolvedAddress> mFunctions; ///< main, then f0, f1, ...
    std::vector<ResolvedFrame> mFrames;
    int mZoneDepth = 0;
    double mBrokenStart = -1.0;
    double mBrokenUntil = -1.0;
};

void ThreadGenerator::Walk()
{
    if (mOptions.newPathChance > 0.0 && Chance(mOptions.newPathChance)) {
        if (mStack.size() >= kMaxDepth)
            mStack.pop_back();
        mStack.push_back(static_cast<int>(mFunctions.size()) - 1);
        mFunctions.push_back(mCapture.GetNames().Get("n" + std::to_string(static_cast<uint32_t>(mThread)) +
                                                     "_" + std::to_string(mFunctions.size())));
        return;
    }
    const double r = Uniform(0.0, 1.0);
    if (r < 0.3 && mStack.size() > 1)
        mStack.pop_back();
    else if (r < 0.6 && mStack.size() < kMaxDepth)
        mStack.push_back(Pick(kFunctionCount));
    else if (r < 0.8 && mStack.size() > 1)
        mStack.back() = Pick(kFunctionCount);
}

uint64_t ThreadGenerator::StackId(bool unrooted)
{
    std::size_t first = 0;
    if (unrooted)
        first = std::min<std::size_t>(mStack.size() - 1, 1 + Pick(3));
    mFrames.clear();
    for (std::size_t i = first; i < mStack.size(); ++i) {
        ResolvedFrame frame;
        frame.Function = mFunctions[mStack[i] + 1];
        // Call sites follow the callee (sometimes another one); the leaf's address varies.
        const uint64_t offset = i + 1 < mStack.size() ? kOffsets[(mStack[i + 1] + (Chance(0.05) ? 1 : 0)) % 2]
                                                      : kOffsets[Pick(3)];
        frame.FrameAddress = frame.Function.RelativeAddress + offset;
        if (!mFrames.empty())
            frame.CallerAddress = mFrames.back().FrameAddress;
        mFrames.push_back(frame);
    }
    return mCapture.InternStack(mFrames);
}

double ThreadGenerator::WaitLength()
{
    const double r = Uniform(0.0, 1.0);
    if (r < 0.03)
        return 0.0;
    if (r < 0.6)
        return Snap(Uniform(0.1, 2.0));
    if (r < 0.9)
        return Snap(Uniform(2.0, 50.0));
    return Snap(Uniform(50.0, 2000.0));
}

void ThreadGenerator::Generate(double start, double end)
{
    double grid = Snap(start);
    mCapture.SetThreadStart(mThread, Time(grid) - Snap(Uniform(0.0, 5.0)));
    const bool startsSwitchedOut = Chance(0.5);
    if (startsSwitchedOut) {
        // The thread's first event: running again after a wait that began before it was seen.
        grid += Snap(Uniform(0.0, 10.0));
        mCapture.SwitchIn(Time(grid), mThread, StackId(false));
    }
    while (grid < end) {
        const bool broken = mBrokenStart >= 0.0;
        if (broken && grid >= mBrokenUntil) {
            // The rooted stack that ends the broken range.
            const uint64_t closing = StackId(false);
            mCapture.Sample(Time(grid), mThread, closing);
            mCapture.AddBrokenRange(mThread, {Time(mBrokenStart), Time(grid), closing});
            mBrokenStart = -1.0;
            grid += Snap(mOptions.sampleInterval * Uniform(0.75, 1.25));
            continue;
        }
        const double r = Uniform(0.0, 1.0);
        const double time = Time(grid);
        if (r < 0.88) {
            mCapture.Sample(time, mThread, StackId(broken));
            Walk();
        } else if (r < 0.92) {
            uint8_t reason = static_cast<uint8_t>(Pick(41));
            if (reason == 22)
                reason = 23;
            mCapture.SwitchOut(time, mThread, reason);
            grid += WaitLength();
            if (Chance(0.3))
                Walk();
            const double in = Uniform(0.0, 1.0);
            if (in < 0.15)
                mCapture.SwitchIn(Time(grid), mThread);
            else
                mCapture.SwitchIn(Time(grid), mThread, StackId(broken));
            continue;
        } else if (r < 0.94 && mOptions.zones && !broken) {
            if (mZoneDepth < 3 && (mZoneDepth == 0 || Chance(0.5))) {
                mCapture.ZoneBegin(time, mThread, StackId(false), "zone" + std::to_string(Pick(5)));
                ++mZoneDepth;
            } else {
                mCapture.ZoneEnd(time, mThread);
                --mZoneDepth;
            }
        } else if (r < 0.95 && !broken) {
            mCapture.StackWithoutTime(time, mThread, StackId(false), Chance(0.5));
            Walk();
        } else if (r < 0.96) {
            static constexpr ETraceEventKind kIgnored[] = {ETraceEventKind::Kind4,  ETraceEventKind::Kind6,
                                                           ETraceEventKind::Kind10, ETraceEventKind::Kind11,
                                                           ETraceEventKind::Kind13, ETraceEventKind::Kind14};
            mCapture.Other(time, mThread, kIgnored[Pick(6)]);
        } else if (r < 0.97 && mOptions.fibers) {
            if (Chance(0.5))
                mCapture.ContextOut(time, mThread, 1 + Pick(4));
            else
                mCapture.ContextIn(time, mThread, 1 + Pick(4));
        } else if (r < 0.975 && mOptions.unrooted && !broken) {
            mBrokenStart = grid;
            mBrokenUntil = grid + Snap(Uniform(5.0, 50.0));
        }
        grid += Snap(mOptions.sampleInterval * Uniform(0.75, 1.25));
    }
    if (mBrokenStart >= 0.0)
        mCapture.AddBrokenRange(mThread, {Time(mBrokenStart), std::numeric_limits<double>::max(),
                                          IBrokenStackCursor::kNoClosingStack});
    const double r = Uniform(0.0, 1.0);
    if (r < 0.2)
        mCapture.SwitchOut(Time(grid), mThread, 22);
    else if (r < 0.4)
        mCapture.Status(Time(grid), mThread, static_cast<uint8_t>(1 + Pick(2)), Chance(0.5));
    if (r < 0.4 && Chance(0.5)) // events after the end are ignored
        mCapture.Sample(Time(grid + 1.0), mThread, StackId(false));
}

} // namespace

std::unique_ptr<TestCapture> MakeSyntheticCapture(const SyntheticOptions& options)
{
    auto capture = std::make_unique<TestCapture>(options.sampleInterval, true);
    std::mt19937_64 random(options.seed);
    for (int i = 0; i < options.threadCount; ++i) {
        ThreadGenerator generator(*capture, options, random, ThreadID{static_cast<uint32_t>(100 + i)});
        const double start =
            i == 0 ? 0.0 : std::uniform_real_distribution<double>(0.0, 0.2)(random) * options.durationMs;
        const double end =
            options.durationMs * (i == 0 ? 1.0 : std::uniform_real_distribution<double>(0.6, 1.0)(random));
        generator.Generate(start, end);
    }
    capture->SortEvents();
    return capture;
}

std::vector<ThreadID> GetThreads(const TestCapture& capture)
{
    std::set<uint32_t> ids;
    for (const TraceEvent& event : capture.GetEvents())
        ids.insert(static_cast<uint32_t>(event.threadId));
    std::vector<ThreadID> threads;
    for (uint32_t id : ids)
        threads.push_back(ThreadID{id});
    return threads;
}

RTTI::Registry& ModelRegistry()
{
    static RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry;
        made->RegisterPrimitives();
        Serialization::RegisterSchemaTypes(*made);
        CallGraphModel::RegisterTypes(*made);
        return made;
    }();
    return *registry;
}

bool ProcessCapture(CallGraphModel& model, const TestCapture& capture, Serialization::ErrorList& errors)
{
    ModelRegistry();
    if (!model.BeginProcessing(errors))
        return false;
    struct Thread {
        std::unique_ptr<OpenBarProcessor> processor;
        ThreadProcessingState* state = nullptr;
    };
    std::map<uint32_t, Thread> threads;
    for (const TraceEvent& event : capture.GetEvents()) {
        Thread& thread = threads[static_cast<uint32_t>(event.threadId)];
        if (thread.processor == nullptr) {
            thread.processor = std::make_unique<OpenBarProcessor>(
                capture, event.threadId, false, OpenBarProcessor::kProcessingReportingInterval, event.time);
            thread.state = model.BeginThread(*thread.processor);
        }
        if (!model.Progress({0.0, event.time}, *thread.state, errors)) {
            model.AbandonProcessing();
            return false;
        }
        thread.processor->HandleEvent(event, std::numeric_limits<double>::max());
    }
    for (auto& [id, thread] : threads)
        if (!model.EndThread(*thread.processor, errors)) {
            model.AbandonProcessing();
            return false;
        }
    model.EndProcessing();
    return model.Save(errors);
}

std::unique_ptr<CallGraph> QueryModel(const CallGraphModel& model, double start, double end,
                                      std::vector<ThreadID> threads, Serialization::ErrorList* failures,
                                      ERangePath path)
{
    struct InlineRequest final : CallGraphModel::GetCallGraphOperation {
        using GetCallGraphOperation::GetCallGraphOperation;
        void Completed(std::unique_ptr<CallGraph>, bool) override {}
    };
    InlineRequest request(start, end, 0, std::move(threads), 0);
    const std::atomic<bool> canceled{false};
    std::unique_ptr<CallGraph> result = BuildCallGraph(model, request, request.mErrors, canceled, path);
    if (failures != nullptr)
        *failures = request.mErrors;
    else
        EXPECT_TRUE(request.mErrors.IsEmpty()) << request.mErrors.ToString();
    return result;
}

std::string SnapshotTimes(const SnapshotTable& table)
{
    std::string text;
    for (const auto& snapshot : table.GetSnapshots())
        text += (snapshot.mTime == CallGraphModel::kEndOfCapture ? std::string("end")
                                                                 : FormatNumber(snapshot.mTime)) +
                (snapshot.mType == ESnapshotType::Full ? "F " : "D ");
    return text;
}

std::vector<uint8_t> ReadSnapshot(const CallGraphModel& model, const SnapshotTable::SnapshotDescription& snapshot)
{
    SnapshotFile::ReadBuffer buffer;
    std::string error;
    EXPECT_TRUE(model.GetSnapshotFile().ReadRecord(snapshot.mOffset, snapshot.mSize, buffer, error)) << error;
    return {buffer.GetData(), buffer.GetData() + buffer.GetSize()};
}

CallGraphModel& ModelFixture::MakeModel()
{
    model = std::make_unique<CallGraphModel>(CallGraphModelContext{directory.GetPath(), &scheduler, capture});
    return *model;
}

bool ModelFixture::Process()
{
    capture->SortEvents();
    MakeModel();
    errors.Clear();
    return ProcessCapture(*model, *capture, errors);
}

} // namespace CallGraphTest
