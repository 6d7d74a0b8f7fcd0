#include "Importers/PerfCaptureImporter.h"

#include "Importers/InlineFrameExpander.h"
#include "SymbolResolution/ResolveReport.h"
#include "SymbolResolution/SymbolResolver.h"

#include "Importers/FoldedStackNamer.h"
#include "Importers/PerfRecordPipe.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "Importers/PerfWaitReasonMapper.h"

#include "CaptureModel/CaptureWriter.h"
#include "CaptureModel/ModuleDatabase.h"
#include "RTTI/Registry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

namespace Profiler {

namespace {

constexpr std::string_view kUnknown = "[unknown]";
constexpr std::string_view kInlined = "inlined";

enum EPendingKind : uint8_t { kSample, kWeight, kSwitchOut, kSwitchIn };

bool IsUnknownName(std::string_view text)
{
    return text.empty() || text == kUnknown;
}

/// Clock events count time: their period is the sample interval in nanoseconds.
bool IsClockEvent(std::string_view event)
{
    return event.starts_with("cpu-clock") || event.starts_with("task-clock");
}

} // namespace

PerfCaptureImporter::PerfCaptureImporter(CaptureWriter& writer, PerfImportOptions options)
    : mWriter(writer), mOptions(std::move(options))
{
    mStats.eventName = mOptions.eventName;
}

PerfCaptureImporter::~PerfCaptureImporter() = default;

bool PerfCaptureImporter::Begin(const std::filesystem::path& directory, RTTI::Registry& registry,
                                Serialization::ErrorList& errors)
{
    std::error_code error;
    if (std::filesystem::exists(directory, error) &&
        (!std::filesystem::is_directory(directory, error) || !std::filesystem::is_empty(directory, error))) {
        const bool isDirectory = std::filesystem::is_directory(directory, error);
        bool hasSession = false;
        bool hasEvents = false;
        if (isDirectory)
            for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
                hasSession = hasSession || entry.path().extension() == ".session";
                hasEvents = hasEvents || entry.path().filename().string().starts_with("events");
            }
        if (isDirectory && hasEvents && !hasSession) {
            // What an import leaves when it is killed before it wrote the session file.
            errors.AddFormatted(
                Serialization::EErrorCode::WriteFailed,
                "%s holds an incomplete capture (an import or recording that did not finish); "
                "remove it with: rm -r '%s', then try again",
                directory.string().c_str(), directory.string().c_str());
        } else {
            errors.AddFormatted(Serialization::EErrorCode::WriteFailed,
                                "%s exists and is not an empty directory%s; the capture is only written into "
                                "a new or empty directory, so that nothing is overwritten",
                                directory.string().c_str(), hasSession ? " (it holds a capture)" : "");
        }
        return false;
    }
    if (mOptions.intervalMs && !(*mOptions.intervalMs > 0.0 && std::isfinite(*mOptions.intervalMs))) {
        errors.Add(Serialization::EErrorCode::WriteFailed, "The sample interval must be a positive number");
        return false;
    }
    mDirectory = directory;
    mRegistry = &registry;
    mBegun = true;
    if (mOptions.intervalMs) {
        OpenWriter(*mOptions.intervalMs);
        if (!mOpenErrors.IsEmpty()) {
            for (const auto& record : mOpenErrors.GetErrors())
                errors.Add(record.code, record.message);
            return false;
        }
    }
    return true;
}

void PerfCaptureImporter::OpenWriter(double intervalMs)
{
    if (mWriterOpen || !mBegun)
        return;
    mWriterOpen = true;
    mStats.sampleIntervalMs = intervalMs;
    CaptureWriter::Options options;
    options.sampleIntervalMs = intervalMs;
    if (!mWriter.Open(mDirectory, *mRegistry, options, mOpenErrors))
        return;
    for (const PendingEvent& event : mPending)
        EmitNow(event);
    mPending.clear();
    mPending.shrink_to_fit();
}

void PerfCaptureImporter::Emit(uint8_t kind, double timeMs, int32_t processId, int32_t threadId,
                               uint64_t value)
{
    PendingEvent event{timeMs, value, processId, threadId, kind};
    if (mWriterOpen) {
        EmitNow(event);
        return;
    }
    mPending.push_back(event);
    // The interval is still unknown after many records: take the one that the options or the
    // default give rather than holding more.
    if (mPending.size() >= kMaxPending)
        OpenWriter(mOptions.intervalMs.value_or(kDefaultIntervalMs));
}

void PerfCaptureImporter::EmitNow(const PendingEvent& event)
{
    switch (event.kind) {
    case kSample:
        mWriter.AddSample(event.timeMs, event.processId, event.threadId, event.value);
        break;
    case kWeight:
        mWriter.AddSampleWeight(event.timeMs, event.processId, event.threadId, event.value);
        break;
    case kSwitchOut:
        mWriter.AddSwitchOut(event.timeMs, event.processId, event.threadId,
                             static_cast<uint8_t>(event.value));
        break;
    case kSwitchIn:
        mWriter.AddSwitchIn(event.timeMs, event.processId, event.threadId, event.value);
        break;
    default:
        break;
    }
}

double PerfCaptureImporter::RecordTime(const PerfRecordHeader& header, bool isSample)
{
    double time;
    if (header.timeNs && *header.timeNs == 0 && !isSample) {
        // perf prints the state that existed before it started (the kernel map, running tasks)
        // at time zero: that says nothing about the clock of the recording.
        return mHaveTime ? mLastTimeMs : 0.0;
    }
    if (header.timeNs) {
        // The reorder window hands records on in time order; the event stream must never go
        // back, whatever a record without a time did to the clock before.
        time = std::max(static_cast<double>(*header.timeNs) / 1e6, mHaveTime ? mLastTimeMs : 0.0);
    } else if (isSample) {
        mStats.syntheticTimes = true;
        time = mHaveSample ? mLastTimeMs + mStats.sampleIntervalMs : (mHaveTime ? mLastTimeMs : 0.0);
    } else {
        time = mHaveTime ? mLastTimeMs : 0.0;
    }
    mPreviousRecordMs = mHaveTime ? mLastTimeMs : time;
    mLastTimeMs = time;
    mHaveTime = true;
    CloseSampleGaps(time);
    return time;
}

void PerfCaptureImporter::CloseSampleGaps(double timeMs)
{
    while (!mSampleGaps.empty() && mSampleGaps.front().deadlineMs < timeMs) {
        const SampleGap gap = mSampleGaps.front();
        mSampleGaps.pop_front();
        if (mHaveSwitchRecords)
            continue;
        auto found = mThreads.find(gap.threadId);
        if (found == mThreads.end())
            continue;
        ThreadState& thread = found->second;
        if (!thread.running || thread.ended || thread.lastSampleMs != gap.sampleMs)
            continue;
        // Events are written in time order, so the wait cannot start before the record that
        // came before this one: up to two intervals of a gap count as running.
        const double outMs =
            std::min(std::max(gap.sampleMs + mStats.sampleIntervalMs, mPreviousRecordMs), timeMs);
        ++mStats.sampleGapWaits;
        SwitchOut(outMs, gap.threadId, thread, PerfWaitReasonMapper::kReasonIdle);
    }
}

PerfCaptureImporter::ThreadState& PerfCaptureImporter::EnsureThread(const PerfRecordHeader& header,
                                                                    double timeMs)
{
    return EnsureThread(header.pid.value_or(UnknownProcessId(header.tid)), header.tid, header.comm, timeMs);
}

PerfCaptureImporter::ThreadState& PerfCaptureImporter::EnsureThread(int32_t processId, int32_t threadId,
                                                                    std::string_view comm, double timeMs)
{
    auto [it, inserted] = mThreads.try_emplace(threadId);
    ThreadState& state = it->second;
    if (inserted) {
        state.processId = processId;
        state.comm = comm;
        // No name of its own: the thread is called by its latest comm.
        mWriter.AddThread(processId, threadId, {});
        mWriter.AddThreadName(threadId, timeMs, std::string(comm));
        Process& process = mWriter.AddProcess(processId, {});
        if (process.mName.empty() || threadId == processId)
            process.mName = comm;
    } else if (state.comm != comm) {
        state.comm = comm;
        mWriter.AddThreadName(threadId, timeMs, std::string(comm));
        if (threadId == state.processId)
            mWriter.AddProcess(state.processId, {}).mName = comm;
    }
    return state;
}

void PerfCaptureImporter::ImportSample(const PerfSample& sample)
{
    ++mStats.samplesByEvent[std::string(sample.eventName)];
    if (sample.framesTruncated)
        ++mStats.truncatedStacks;
    if (!mHaveSample && mStats.eventName.empty() && mOptions.eventName.empty())
        mStats.eventName = sample.eventName;
    if (sample.eventName != mStats.eventName) {
        ++mStats.otherSamples;
        return;
    }
    if (!mWriterOpen) {
        double interval = mOptions.intervalMs.value_or(kDefaultIntervalMs);
        if (!mOptions.intervalMs && IsClockEvent(sample.eventName) && sample.period && *sample.period > 0)
            interval = static_cast<double>(*sample.period) / 1e6;
        OpenWriter(interval);
    }
    const double time = RecordTime(sample.header, true);
    mHaveSample = true;
    ThreadState& thread = EnsureThread(sample.header, time);
    thread.ended = false;
    // A clock sample counts the CPU time of the interval before it, so the thread ran for about
    // that long before this sample.
    EnsureRunning(time, sample.header.tid, thread, time - mStats.sampleIntervalMs);
    const uint64_t stack = AddStack(thread.processId, sample.frames, time);
    if (sample.period)
        Emit(kWeight, time, thread.processId, sample.header.tid, *sample.period);
    Emit(kSample, time, thread.processId, sample.header.tid, stack);
    ++mStats.samples;
    // A clock fires every interval of a thread's CPU time, so a thread whose samples stop while
    // others go on was not running. Without any record of context switches nothing else says
    // so, and the time up to its next sample would count as running in its last stack: it
    // waits instead (Idle, the reason being unknown) from one interval after this sample, when
    // no sample of it comes within two intervals. A steadily running thread's samples come one
    // interval apart, with far less jitter than that.
    // Periods under 10 microseconds are above the highest rate perf samples at (its default
    // limit is 100,000 samples a second): no interval to judge gaps by. Samples of a text without
    // times are placed one interval apart whatever their event, so each stands for one interval
    // of its thread.
    constexpr double kGapIntervals = 2.0;
    constexpr double kShortestClockIntervalMs = 0.01;
    if (!mHaveSwitchRecords && (IsClockEvent(sample.eventName) || !sample.header.timeNs) &&
        mStats.sampleIntervalMs >= kShortestClockIntervalMs) {
        thread.lastSampleMs = time;
        mSampleGaps.push_back({time + kGapIntervals * mStats.sampleIntervalMs, time, sample.header.tid});
    }
}

void PerfCaptureImporter::EnsureRunning(double timeMs, int32_t threadId, ThreadState& thread,
                                        double earliestMs)
{
    if (thread.running)
        return;
    // No record showed this thread switching back in (sched_switch fires in the context of the
    // task that leaves the CPU, so a switch from an untraced task is never seen), but its own
    // event proves that it runs now. The switch-in is placed as early as the evidence allows:
    // not before it switched out, not before the previous record (events are written in time
    // order), and not before `earliestMs`, the start of the time that the event itself covers.
    double inferred = std::max({thread.switchedOutMs, earliestMs, mPreviousRecordMs});
    inferred = std::min(inferred, timeMs);
    ++mStats.inferredSwitchIns;
    SwitchIn(inferred, threadId, thread);
}

void PerfCaptureImporter::SwitchIn(double timeMs, int32_t threadId, ThreadState& thread)
{
    thread.running = true;
    thread.ended = false;
    Emit(kSwitchIn, timeMs, thread.processId, threadId, thread.blockedUserStack);
    ++mStats.switchIns;
}

void PerfCaptureImporter::ImportSchedSwitch(const PerfSchedSwitch& record)
{
    const PerfRecordHeader& header = record.sample.header;
    const double time = RecordTime(header, false);
    // The record is printed for the task that ran on the CPU: its header names the previous
    // thread and its process.
    ThreadState* prev;
    if (header.tid == record.prevPid) {
        prev = &EnsureThread(header, time);
    } else {
        auto found = mThreads.find(record.prevPid);
        prev = found != mThreads.end()
                   ? &found->second
                   : &EnsureThread(UnknownProcessId(record.prevPid), record.prevPid, record.prevComm, time);
    }
    // Switching out proves that it ran; its time since the previous record is unknown.
    EnsureRunning(time, record.prevPid, *prev, time);
    const std::span<const PerfFrame> frames = record.sample.frames;
    const uint8_t reason =
        PerfWaitReasonMapper::ToWaitReason(PerfWaitReasonMapper::Classify(record.prevState, frames));
    prev->blockedUserStack =
        AddStack(prev->processId, frames.subspan(PerfWaitReasonMapper::FirstUserFrame(frames)), time);
    SwitchOut(time, record.prevPid, *prev, reason);

    // A thread that was not seen before has no known process yet; its first own record tells.
    auto next = mThreads.find(record.nextPid);
    if (next == mThreads.end() || next->second.running)
        return;
    SwitchIn(time, record.nextPid, next->second);
}

void PerfCaptureImporter::SwitchOut(double timeMs, int32_t threadId, ThreadState& thread, uint8_t reason)
{
    // A thread that is switched out already can still end (its exit record comes later).
    if (thread.ended || (!thread.running && reason != PerfWaitReasonMapper::kReasonThreadEnd))
        return;
    Emit(kSwitchOut, timeMs, thread.processId, threadId, reason);
    thread.running = false;
    thread.switchedOutMs = timeMs;
    ++mStats.switchOuts;
    if (reason == PerfWaitReasonMapper::kReasonThreadEnd) {
        thread.ended = true;
        ++mStats.threadEnds;
        if (Thread* written = mWriter.FindThread(threadId))
            written->mEndTimeMs = timeMs;
    }
}

void PerfCaptureImporter::ImportTaskEvent(const PerfTaskEvent& event)
{
    const double time = RecordTime(event.header, false);
    switch (event.kind) {
    case EPerfTaskEventKind::SwitchIn:
    case EPerfTaskEventKind::SwitchOut: {
        ++mStats.switchRecords;
        auto found = mThreads.find(event.tid);
        ThreadState& thread = found != mThreads.end()
                                  ? found->second
                                  : EnsureThread(event.knownProcess ? event.pid : UnknownProcessId(event.tid),
                                                 event.tid, event.header.comm, time);
        if (event.kind == EPerfTaskEventKind::SwitchIn) {
            if (!thread.running)
                SwitchIn(time, event.tid, thread);
        } else {
            // With the tracepoint recorded, it gives the switch-out and why: it fires before perf's
            // own record, which then finds the thread switched out already. When the tracepoint's
            // record was lost, perf's own still ends the run; it only knows whether the thread
            // was preempted.
            SwitchOut(time, event.tid, thread,
                      event.preempted ? PerfWaitReasonMapper::kReasonPreemption
                                      : PerfWaitReasonMapper::kReasonSynchronization);
        }
        break;
    }
    case EPerfTaskEventKind::Comm:
        EnsureThread(event.pid, event.tid, event.newComm, time);
        if (event.isExec)
            mWriter.AddProcess(event.pid, {}).mName = event.newComm;
        break;
    case EPerfTaskEventKind::Fork: {
        // The child carries its parent's name until it renames itself.
        ThreadState& thread = EnsureThread(event.pid, event.tid, event.header.comm, time);
        thread.ended = false;
        if (Thread* written = mWriter.FindThread(event.tid)) {
            written->mStartTimeMs = time;
            written->mEndTimeMs = std::numeric_limits<double>::quiet_NaN();
        }
        if (event.pid == event.tid)
            mWriter.AddProcess(event.pid, {}).mStartTimeMs = time;
        break;
    }
    case EPerfTaskEventKind::Exit: {
        ThreadState& thread = EnsureThread(event.pid, event.tid, event.header.comm, time);
        // Threads that exit while perf records them do not switch out once more.
        SwitchOut(time, event.tid, thread, PerfWaitReasonMapper::kReasonThreadEnd);
        if (Thread* written = mWriter.FindThread(event.tid))
            written->mEndTimeMs = time;
        if (event.pid == event.tid)
            mWriter.AddProcess(event.pid, {}).mEndTimeMs = time;
        break;
    }
    }
}

const std::string& PerfCaptureImporter::ModuleKey(char kind, int32_t processId, std::string_view dso)
{
    mKey.assign(reinterpret_cast<const char*>(&processId), sizeof(processId));
    mKey += kind;
    mKey += dso;
    return mKey;
}

PerfCaptureImporter::ModuleState& PerfCaptureImporter::FindOrAddModule(char kind, int32_t processId,
                                                                       std::string_view dso)
{
    for (const RecentModule& recent : mRecentModules)
        if (recent.processId == processId && recent.kind == kind && recent.index != ~0u && recent.dso == dso)
            return *mModules[recent.index];
    auto [found, inserted] =
        mModuleByKey.try_emplace(ModuleKey(kind, processId, dso), static_cast<uint32_t>(mModules.size()));
    RecentModule& recent = mRecentModules[mNextRecentModule++ % mRecentModules.size()];
    recent.dso.assign(dso);
    recent.processId = processId;
    recent.kind = kind;
    recent.index = found->second;
    if (!inserted)
        return *mModules[found->second];
    auto module = std::make_unique<ModuleState>();
    module->dso = dso;
    module->processId = processId;
    module->relative = kind != 'a';
    if (module->relative)
        module->base = mWriter.AllocateModuleBase(processId);
    mModules.push_back(std::move(module));
    return *mModules.back();
}

uint64_t PerfCaptureImporter::StoreFrame(int32_t processId, const PerfFrame& printed, double timeMs)
{
    // The capture reserves the all-ones address for "unknown code"; a named frame that perf
    // printed there (a bogus kernel address) moves one byte down so that it keeps its name.
    PerfFrame frame = printed;
    if (frame.address == ~0ull && frame.symbol != kUnknown) {
        frame.address = ~0ull - 1;
        frame.symbolOffset = frame.hasSymbolOffset && frame.symbolOffset > 0 ? frame.symbolOffset - 1 : 0;
    }
    // An empty symbol is what perf printed for code it found no name for in a known DSO; it is
    // kept as it is (the folding tools keep it too), unlike "[unknown]".
    const bool unknownSymbol = frame.symbol == kUnknown;
    if (unknownSymbol && IsUnknownName(frame.dso)) {
        if (mLastUnknownFrames == nullptr || mLastUnknownProcess != processId) {
            mLastUnknownFrames = &mUnknownFrames[processId];
            mLastUnknownProcess = processId;
        }
        mLastUnknownFrames->Insert(frame.address);
        return frame.address;
    }
    const bool relative = frame.address < kRelativeAddressLimit;
    ModuleState* module = &FindOrAddModule(relative ? 'r' : 'a', processId, frame.dso);
    // Module addresses: relative ones as printed; a renamed absolute module (below) counts from
    // the 4 GiB block where it was renamed.
    auto toModuleAddress = [](const ModuleState& m, uint64_t printed) -> std::optional<uint64_t> {
        if (!m.rebased)
            return printed;
        if (printed < m.anchor || printed - m.anchor >= kRelativeAddressLimit)
            return std::nullopt;
        return printed - m.anchor;
    };
    std::optional<uint64_t> moduleAddress = toModuleAddress(*module, frame.address);
    if (!moduleAddress)
        return frame.address; // outside the renamed block: left unresolved rather than misnamed
    uint64_t address = *moduleAddress;
    const std::size_t nameHash = std::hash<std::string_view>{}(frame.symbol);
    auto [seen, firstTime] = module->seenAddresses.TryEmplace(address, nameHash);
    if (!firstTime && *seen != nameHash && !unknownSymbol && timeMs > module->loadTimeMs) {
        // The code at this address has a new name: a JIT reused the region (perf reads the
        // names of such code from /tmp/perf-PID.map as they are at each sample). From now on
        // the module is a new instance that learns its names afresh; earlier samples keep the
        // names they had. Each instance needs addresses of its own (stacks are resolved by
        // address), so the new one sits at a synthetic base; an absolute module becomes
        // relative to the 4 GiB block of the renamed address, which holds a JIT's code region.
        auto previous = module->functions.find(
            frame.hasSymbolOffset && frame.symbolOffset <= address ? address - frame.symbolOffset : address);
        const bool renamed = previous == module->functions.end() || previous->second.name != frame.symbol;
        if (renamed && module->unloadTimeMs == std::numeric_limits<double>::max()) {
            module->unloadTimeMs = timeMs;
            auto next = std::make_unique<ModuleState>();
            next->dso = module->dso;
            next->processId = processId;
            next->relative = true;
            next->rebased = module->rebased || !module->relative;
            next->anchor = module->rebased
                               ? module->anchor
                               : (module->relative ? 0 : frame.address & ~(kRelativeAddressLimit - 1));
            next->loadTimeMs = timeMs;
            next->base = mWriter.AllocateModuleBase(processId);
            mModuleByKey[ModuleKey(relative ? 'r' : 'a', processId, frame.dso)] =
                static_cast<uint32_t>(mModules.size());
            for (RecentModule& recent : mRecentModules)
                recent.index = ~0u;
            mModules.push_back(std::move(next));
            module = mModules.back().get();
            address = *toModuleAddress(*module, frame.address);
            module->seenAddresses.TryEmplace(address, nameHash);
            firstTime = true;
            ++mStats.codeChanges;
        } else {
            *seen = nameHash;
        }
    }
    if (firstTime) {
        if (unknownSymbol) {
            module->unknownAddresses.Insert(address);
        } else {
            const uint64_t start = frame.hasSymbolOffset && frame.symbolOffset <= address
                                       ? address - frame.symbolOffset
                                       : address;
            auto [function, added] = module->functions.try_emplace(start);
            // When two names claim one start address at one time the first one stays.
            if (added)
                function->second.name = frame.symbol;
            function->second.lastAddress = std::max(function->second.lastAddress, address);
        }
    }
    return module->relative ? module->base + address : address;
}

uint64_t PerfCaptureImporter::StoreInlineFrame(int32_t processId, std::string_view symbol,
                                               std::string_view ownerDso)
{
    // A capture names a frame by its address, and perf prints an inlined function at the
    // address of the code it was inlined into. Each inlined function therefore gets an address
    // of its own in an inline module beside the owner's module: one synthetic address per name,
    // so that the function shows as one function wherever it was inlined.
    ModuleState& module = FindOrAddModule('i', processId, ownerDso);
    auto [found, inserted] =
        module.inlineFunctions.try_emplace(std::string(symbol), module.inlineFunctions.size());
    return module.base + found->second;
}

uint64_t PerfCaptureImporter::AddStack(int32_t processId, std::span<const PerfFrame> innermostFirst,
                                       double timeMs)
{
    mAddresses.clear();
    if (innermostFirst.empty()) {
        mAddresses.push_back(kNoFramesAddress);
        return mWriter.AddStackInnermostFirst(mAddresses);
    }
    for (std::size_t i = 0; i < innermostFirst.size(); ++i) {
        const PerfFrame& frame = innermostFirst[i];
        if (frame.dso == kInlined) {
            // The function it was inlined into is the next frame out that is not inlined itself.
            std::string_view owner = kUnknown;
            for (std::size_t j = i + 1; j < innermostFirst.size(); ++j)
                if (innermostFirst[j].dso != kInlined) {
                    owner = innermostFirst[j].dso;
                    break;
                }
            ++mStats.inlineFrames;
            mAddresses.push_back(StoreInlineFrame(processId, frame.symbol, owner));
            continue;
        }
        mAddresses.push_back(StoreFrame(processId, frame, timeMs));
    }
    return mWriter.AddStackInnermostFirst(mAddresses);
}

void PerfCaptureImporter::AddFunctions()
{
    std::unordered_map<int32_t, std::vector<uint64_t>> barriers;
    for (const auto& [process, addresses] : mUnknownFrames) {
        std::vector<uint64_t>& sorted = barriers[process];
        sorted = addresses.Addresses();
        std::sort(sorted.begin(), sorted.end());
    }
    const std::vector<uint64_t> noBarriers;
    for (const auto& module : mModules) {
        if (!module->inlineFunctions.empty() || module->seenAddresses.Empty()) {
            if (module->inlineFunctions.empty())
                continue;
            // Inline modules: one byte per inlined function at its synthetic address.
            const std::string path = module->dso + std::string(kInlineModuleSuffix);
            const uint32_t index = mWriter.AddNativeModule(
                std::string(FoldedStackNamer::BaseName(module->dso)) + std::string(kInlineModuleSuffix), path,
                0, NativeModule::ESymbolLookupAddressMode::Relative);
            mWriter.AddModuleInstance(index, module->processId, module->base);
            ++mStats.modules;
            for (const auto& [name, offset] : module->inlineFunctions) {
                mWriter.AddFunction(index, offset, 1, name);
                ++mStats.functions;
            }
            continue;
        }
        const uint32_t index =
            mWriter.AddNativeModule(std::string(FoldedStackNamer::BaseName(module->dso)), module->dso, 0,
                                    module->relative ? NativeModule::ESymbolLookupAddressMode::Relative
                                                     : NativeModule::ESymbolLookupAddressMode::Absolute);
        mWriter.AddModuleInstance(index, module->processId, module->relative ? module->base : 0,
                                  module->loadTimeMs, module->unloadTimeMs);
        ++mStats.modules;
        for (const auto& [start, function] : module->functions) {
            mWriter.AddFunction(index, start, function.lastAddress - start + 1, function.name);
            ++mStats.functions;
        }

        // Unknown addresses that follow each other with no named function and, for absolute
        // addresses, no frame outside the module between them form one unknown range.
        std::vector<uint64_t> unknown = module->unknownAddresses.Addresses();
        std::sort(unknown.begin(), unknown.end());
        std::erase_if(unknown, [&](uint64_t address) { return module->functions.contains(address); });
        auto barrierList = barriers.find(module->processId);
        const std::vector<uint64_t>& outside =
            module->relative || barrierList == barriers.end() ? noBarriers : barrierList->second;
        auto separated = [&](uint64_t from, uint64_t to) {
            auto named = module->functions.upper_bound(from);
            if (named != module->functions.end() && named->first <= to)
                return true;
            auto other = std::upper_bound(outside.begin(), outside.end(), from);
            return other != outside.end() && *other <= to;
        };
        std::size_t i = 0;
        while (i < unknown.size()) {
            const uint64_t first = unknown[i];
            uint64_t last = first;
            ++i;
            while (i < unknown.size() && !separated(last, unknown[i]))
                last = unknown[i++];
            // Distinct ranges get distinct names, so that the views do not list several
            // identical rows for one module.
            mWriter.AddFunction(index, first, last - first + 1,
                                FoldedStackNamer::UnknownRangeName(module->dso, first));
            ++mStats.functions;
        }
    }
}

bool PerfCaptureImporter::Finish(Serialization::ErrorList& errors)
{
    if (!mBegun) {
        errors.Add(Serialization::EErrorCode::WriteFailed, "The import was not begun");
        return false;
    }
    // The records still in the reorder window come first: the first sample may open the writer.
    mReorderer.Finish();
    mStats.order = mReorderer.GetStats();
    if (!mWriterOpen)
        OpenWriter(mOptions.intervalMs.value_or(kDefaultIntervalMs));
    if (!mOpenErrors.IsEmpty()) {
        for (const auto& record : mOpenErrors.GetErrors())
            errors.Add(record.code, record.message);
        return false;
    }
    AddFunctions();
    if (mSymbols != nullptr) {
        const std::atomic<bool> never{false};
        UpdateModuleResolveStatuses(mWriter.GetModuleDatabase(), *mSymbols, never);
        uint64_t matched = 0, used = 0;
        for (const std::unique_ptr<NativeModule>& module : mWriter.GetModuleDatabase().GetNativeModules()) {
            if (module == nullptr || module->mResolveStatus == NativeModule::EResolveStatus::Unused)
                continue;
            ++used;
            matched += module->mResolveStatus == NativeModule::EResolveStatus::Resolved;
        }
        mStats.modulesWithDebugInfo = std::pair(matched, used);
    }
    mStats.threads = mThreads.size();
    std::unordered_set<int32_t> processes;
    for (const auto& [thread, state] : mThreads)
        processes.insert(state.processId);
    mStats.processes = processes.size();
    return mWriter.Finish(errors);
}

bool PerfCaptureImporter::Import(const std::string& input, const std::filesystem::path& directory,
                                 const PerfImportOptions& options, PerfImportStats& stats,
                                 std::string& problems, Serialization::ErrorList& errors)
{
    // Reading and tokenising the text is about half the work: on a large input, with a core to
    // spare, the records are imported on a second thread while the text is read.
    std::error_code sizeError;
    const bool large = input != "-" && std::filesystem::file_size(input, sizeError) >= kPipelineMinBytes &&
                       !sizeError && std::thread::hardware_concurrency() >= 2;
    return Import(
        [&input](PerfScriptParser& parser, Serialization::ErrorList& readErrors) {
            return PerfScriptReader::Read(input, parser, readErrors);
        },
        directory, options, stats, problems, errors, large);
}

bool PerfCaptureImporter::Import(
    const std::function<bool(PerfScriptParser&, Serialization::ErrorList&)>& feed,
    const std::filesystem::path& directory, const PerfImportOptions& options, PerfImportStats& stats,
    std::string& problems, Serialization::ErrorList& errors, bool pipelined)
{
    std::error_code error;
    const bool existedBefore = std::filesystem::exists(directory, error);
    // Takes away what this import wrote, leaving an empty directory that the user made as it was.
    auto removeCapture = [&]() {
        std::error_code ignored;
        if (!existedBefore) {
            std::filesystem::remove_all(directory, ignored);
            return;
        }
        for (const auto& entry : std::filesystem::directory_iterator(directory, ignored))
            std::filesystem::remove_all(entry.path(), ignored);
    };

    RTTI::Registry registry; // outlives the writer
    CaptureWriter writer;
    PerfCaptureImporter importer(writer, options);
    if (!importer.Begin(directory, registry, errors))
        return false;
    std::optional<SymbolResolver> resolver;
    std::optional<InlineFrameExpander> expander;
    IPerfScriptHandler* handler = &importer;
    if (options.inlineFramesFromDebugInfo) {
        SymbolResolver* symbols = options.symbols != nullptr ? options.symbols : &resolver.emplace();
        handler = &expander.emplace(importer, *symbols);
        importer.SetSymbolResolver(symbols);
    }
    std::optional<PerfRecordPipe> pipe;
    if (pipelined) {
        try {
            handler = &pipe.emplace(*handler);
        } catch (const std::system_error&) {
            // No thread to be had: the records are imported as they are read.
        }
    }
    PerfScriptParser parser(*handler);
    const bool complete = feed(parser, errors);
    if (pipe)
        pipe->Close(); // the importer is this thread's again
    problems = PerfScriptReader::DescribeProblems(parser);
    // An input that could not be read at all leaves no capture behind.
    if (!complete && parser.GetStats().bytes == 0) {
        removeCapture();
        return false;
    }
    // What was read before a failure is kept: a cut recording still shows what it holds.
    const bool written = importer.Finish(errors);
    stats = importer.GetStats();
    stats.truncatedStacks = std::max(stats.truncatedStacks, parser.GetStats().truncatedStacks);
    if (written && stats.samples == 0) {
        // An empty capture would answer every question with zero; say what the input held instead.
        errors.AddFormatted(Serialization::EErrorCode::NotThisFormat, "%s; no capture was written",
                            DescribeMissingSamples(stats, parser.GetStats(), options.eventName).c_str());
        removeCapture();
        return false;
    }
    if (written && !complete)
        errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                            "the input was not read to its end; %s holds only the %llu samples before the "
                            "failure (remove it with: rm -r '%s')",
                            directory.string().c_str(), static_cast<unsigned long long>(stats.samples),
                            directory.string().c_str());
    return complete && written;
}

std::string PerfCaptureImporter::DescribeMissingSamples(const PerfImportStats& stats,
                                                        const PerfScriptParseStats& parsed,
                                                        const std::string& eventName)
{
    std::string text = eventName.empty() ? std::string("no samples in the input")
                                         : "no samples of event '" + eventName + "' in the input";
    std::string held;
    for (const auto& [event, count] : stats.samplesByEvent) {
        held += held.empty() ? "" : ", ";
        held += std::to_string(count) + " samples of " +
                (event.empty() ? std::string("an unnamed event") : "'" + event + "'");
    }
    auto add = [&held](uint64_t count, const char* what) {
        if (count == 0)
            return;
        held += held.empty() ? "" : ", ";
        held += std::to_string(count) + " " + what;
    };
    add(parsed.schedSwitches, "sched_switch records");
    add(parsed.taskEvents + parsed.switchRecords + parsed.mmapEvents + parsed.otherRecords,
        "PERF_RECORD lines");
    add(parsed.badLines, "lines that are not perf script text");
    if (held.empty())
        held = parsed.bytes == 0 ? "nothing (it is empty)" : "no records";
    return text + "; it held " + held;
}

std::string PerfCaptureImporter::DescribeStats(const PerfImportStats& stats)
{
    std::string text = std::to_string(stats.samples) + " samples";
    if (!stats.eventName.empty())
        text += " of " + stats.eventName;
    text += ", " + std::to_string(stats.switchOuts) + " switches out, " + std::to_string(stats.switchIns) +
            " in, " + std::to_string(stats.threads) + " threads in " + std::to_string(stats.processes) +
            " processes, " + std::to_string(stats.modules) + " modules, " + std::to_string(stats.functions) +
            " functions";
    if (stats.modulesWithDebugInfo)
        text += " (debug information for " + std::to_string(stats.modulesWithDebugInfo->first) + " of the " +
                std::to_string(stats.modulesWithDebugInfo->second) + " modules that stacks use)";
    char interval[64];
    std::snprintf(interval, sizeof(interval), "; sample interval %g ms", stats.sampleIntervalMs);
    text += interval;
    if (stats.syntheticTimes)
        text += " (no timestamps: samples placed one interval apart)";
    if (stats.otherSamples > 0)
        text += "; " + std::to_string(stats.otherSamples) + " samples of other events left out";
    const PerfReorderStats& order = stats.order;
    if (order.reorderedRecords + order.lateRecords > 0)
        text += "; " + std::to_string(order.reorderedRecords + order.lateRecords) +
                " records out of time order (put in order)";
    if (order.outlierRecords > 0)
        text += "; " + std::to_string(order.outlierRecords) +
                " isolated records far from the time of the others (first at line " +
                std::to_string(order.firstOutlierLine) + ") were placed at the latest time before them";
    if (order.concatenatedRecordings > 0)
        text += "; time went back " + std::to_string(order.concatenatedRecordings) +
                " times for good (first at line " + std::to_string(order.firstConcatenationLine) +
                "): the input holds several recordings one after another, each placed after the one before";
    if (stats.inferredSwitchIns > 0)
        text += "; " + std::to_string(stats.inferredSwitchIns) +
                " switch-ins inferred from the threads' own records (no record showed them)";
    if (stats.sampleGapWaits > 0)
        text +=
            "; " + std::to_string(stats.sampleGapWaits) +
            " waits inferred where a thread's clock samples stopped (the recording has no context switches)";
    if (stats.inlineFrames > 0)
        text += "; " + std::to_string(stats.inlineFrames) + " inlined frames";
    if (stats.codeChanges > 0)
        text += "; code renamed " + std::to_string(stats.codeChanges) + " times (JIT code reused)";
    if (stats.truncatedStacks > 0)
        text += "; " + std::to_string(stats.truncatedStacks) + " stacks deeper than " +
                std::to_string(PerfScriptParser::kMaxFrames) + " frames kept only their innermost " +
                std::to_string(PerfScriptParser::kMaxFrames);
    return text;
}

} // namespace Profiler
