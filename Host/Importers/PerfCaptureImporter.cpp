#include "Importers/PerfCaptureImporter.h"

#include "Importers/FoldedStackNamer.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "Importers/PerfWaitReasonMapper.h"

#include "CaptureModel/CaptureWriter.h"
#include "RTTI/Registry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>

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
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed,
                            "%s exists and is not an empty directory; the capture is only written into "
                            "a new or empty directory, so that nothing is overwritten",
                            directory.string().c_str());
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

void PerfCaptureImporter::Emit(uint8_t kind, double timeMs, int32_t processId, int32_t threadId, uint64_t value)
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
        mWriter.AddSwitchOut(event.timeMs, event.processId, event.threadId, static_cast<uint8_t>(event.value));
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
    if (header.timeNs) {
        time = static_cast<double>(*header.timeNs) / 1e6;
        // The stream takes events in time order only; a record that perf printed out of order
        // keeps its place at the time of the one before.
        if (mHaveTime && time < mLastTimeMs) {
            ++mStats.reorderedRecords;
            time = mLastTimeMs;
        }
    } else if (isSample) {
        mStats.syntheticTimes = true;
        time = mHaveSample ? mLastTimeMs + mStats.sampleIntervalMs : (mHaveTime ? mLastTimeMs : 0.0);
    } else {
        time = mHaveTime ? mLastTimeMs : 0.0;
    }
    mLastTimeMs = time;
    mHaveTime = true;
    return time;
}

PerfCaptureImporter::ThreadState& PerfCaptureImporter::EnsureThread(const PerfRecordHeader& header, double timeMs)
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

void PerfCaptureImporter::OnSample(const PerfSample& sample)
{
    if (mStats.eventName.empty())
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
    const uint64_t stack = AddStack(thread.processId, sample.frames);
    if (sample.period)
        Emit(kWeight, time, thread.processId, sample.header.tid, *sample.period);
    Emit(kSample, time, thread.processId, sample.header.tid, stack);
    ++mStats.samples;
}

void PerfCaptureImporter::OnSchedSwitch(const PerfSchedSwitch& record)
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
    const std::span<const PerfFrame> frames = record.sample.frames;
    const uint8_t reason =
        PerfWaitReasonMapper::ToWaitReason(PerfWaitReasonMapper::Classify(record.prevState, frames));
    prev->blockedUserStack = AddStack(prev->processId, frames.subspan(PerfWaitReasonMapper::FirstUserFrame(frames)));
    SwitchOut(time, record.prevPid, *prev, reason);

    // A thread that was not seen before has no known process yet; its first own record tells.
    auto next = mThreads.find(record.nextPid);
    if (next == mThreads.end())
        return;
    next->second.ended = false;
    Emit(kSwitchIn, time, next->second.processId, record.nextPid, next->second.blockedUserStack);
    ++mStats.switchIns;
}

void PerfCaptureImporter::SwitchOut(double timeMs, int32_t threadId, ThreadState& thread, uint8_t reason)
{
    if (thread.ended)
        return;
    Emit(kSwitchOut, timeMs, thread.processId, threadId, reason);
    ++mStats.switchOuts;
    if (reason == PerfWaitReasonMapper::kReasonThreadEnd) {
        thread.ended = true;
        ++mStats.threadEnds;
        if (Thread* written = mWriter.FindThread(threadId))
            written->mEndTimeMs = timeMs;
    }
}

void PerfCaptureImporter::OnTaskEvent(const PerfTaskEvent& event)
{
    const double time = RecordTime(event.header, false);
    switch (event.kind) {
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

uint64_t PerfCaptureImporter::StoreFrame(int32_t processId, const PerfFrame& frame)
{
    const bool unknownSymbol = IsUnknownName(frame.symbol);
    if (unknownSymbol && IsUnknownName(frame.dso)) {
        mUnknownFrames[processId].insert(frame.address);
        return frame.address;
    }
    const bool relative = frame.address < kRelativeAddressLimit;
    mKey.assign(reinterpret_cast<const char*>(&processId), sizeof(processId));
    mKey += relative ? 'r' : 'a';
    mKey += frame.dso;
    auto [found, inserted] = mModuleByKey.try_emplace(mKey, static_cast<uint32_t>(mModules.size()));
    if (inserted) {
        auto module = std::make_unique<ModuleState>();
        module->dso = frame.dso;
        module->processId = processId;
        module->relative = relative;
        if (relative)
            module->base = mWriter.AllocateModuleBase(processId);
        mModules.push_back(std::move(module));
    }
    ModuleState& module = *mModules[found->second];
    const uint64_t address = frame.address;
    if (module.seenAddresses.insert(address).second) {
        if (unknownSymbol) {
            module.unknownAddresses.insert(address);
        } else {
            const uint64_t start =
                frame.hasSymbolOffset && frame.symbolOffset <= address ? address - frame.symbolOffset : address;
            auto [function, added] = module.functions.try_emplace(start);
            // When two names claim one address the first one stays.
            if (added)
                function->second.name = frame.symbol;
            function->second.lastAddress = std::max(function->second.lastAddress, address);
        }
    }
    return relative ? module.base + address : address;
}

uint64_t PerfCaptureImporter::AddStack(int32_t processId, std::span<const PerfFrame> innermostFirst)
{
    mAddresses.clear();
    for (const PerfFrame& frame : innermostFirst) {
        // perf prints functions inlined at a call site as frames of their own, "(inlined)", at
        // the address of the real frame that follows. A capture names a frame by its address
        // alone, so they cannot be told apart from that frame: they are left out, and the
        // address resolves to the function it was compiled into.
        if (frame.dso == kInlined)
            continue;
        mAddresses.push_back(StoreFrame(processId, frame));
    }
    return mWriter.AddStackInnermostFirst(mAddresses);
}

void PerfCaptureImporter::AddFunctions()
{
    std::unordered_map<int32_t, std::vector<uint64_t>> barriers;
    for (const auto& [process, addresses] : mUnknownFrames) {
        std::vector<uint64_t>& sorted = barriers[process];
        sorted.assign(addresses.begin(), addresses.end());
        std::sort(sorted.begin(), sorted.end());
    }
    const std::vector<uint64_t> noBarriers;
    for (const auto& module : mModules) {
        const uint32_t index = mWriter.AddNativeModule(
            std::string(FoldedStackNamer::BaseName(module->dso)), module->dso, 0,
            module->relative ? NativeModule::ESymbolLookupAddressMode::Relative
                             : NativeModule::ESymbolLookupAddressMode::Absolute);
        mWriter.AddModuleInstance(index, module->processId, module->relative ? module->base : 0);
        ++mStats.modules;
        for (const auto& [start, function] : module->functions) {
            mWriter.AddFunction(index, start, function.lastAddress - start + 1, function.name);
            ++mStats.functions;
        }

        // Unknown addresses that follow each other with no named function and, for absolute
        // addresses, no frame outside the module between them form one unknown range.
        std::vector<uint64_t> unknown(module->unknownAddresses.begin(), module->unknownAddresses.end());
        std::sort(unknown.begin(), unknown.end());
        std::erase_if(unknown, [&](uint64_t address) { return module->functions.contains(address); });
        auto barrierList = barriers.find(module->processId);
        const std::vector<uint64_t>& outside =
            module->relative || barrierList == barriers.end() ? noBarriers : barrierList->second;
        const std::string name = FoldedStackNamer::DisplayName(kUnknown, module->dso);
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
            mWriter.AddFunction(index, first, last - first + 1, name);
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
    if (!mWriterOpen)
        OpenWriter(mOptions.intervalMs.value_or(kDefaultIntervalMs));
    if (!mOpenErrors.IsEmpty()) {
        for (const auto& record : mOpenErrors.GetErrors())
            errors.Add(record.code, record.message);
        return false;
    }
    AddFunctions();
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
    return Import([&input](PerfScriptParser& parser,
                           Serialization::ErrorList& readErrors) { return PerfScriptReader::Read(input, parser, readErrors); },
                  directory, options, stats, problems, errors);
}

bool PerfCaptureImporter::Import(const std::function<bool(PerfScriptParser&, Serialization::ErrorList&)>& feed,
                                 const std::filesystem::path& directory, const PerfImportOptions& options,
                                 PerfImportStats& stats, std::string& problems,
                                 Serialization::ErrorList& errors)
{
    RTTI::Registry registry; // outlives the writer
    CaptureWriter writer;
    PerfCaptureImporter importer(writer, options);
    if (!importer.Begin(directory, registry, errors))
        return false;
    PerfScriptParser parser(importer);
    const bool complete = feed(parser, errors);
    problems = PerfScriptReader::DescribeProblems(parser);
    // An input that could not be read at all leaves no capture behind.
    if (!complete && parser.GetStats().bytes == 0)
        return false;
    // What was read before a failure is kept: a cut recording still shows what it holds.
    const bool written = importer.Finish(errors);
    stats = importer.GetStats();
    return complete && written;
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
    char interval[64];
    std::snprintf(interval, sizeof(interval), "; sample interval %g ms", stats.sampleIntervalMs);
    text += interval;
    if (stats.syntheticTimes)
        text += " (no timestamps: samples placed one interval apart)";
    if (stats.otherSamples > 0)
        text += "; " + std::to_string(stats.otherSamples) + " samples of other events left out";
    if (stats.reorderedRecords > 0)
        text += "; " + std::to_string(stats.reorderedRecords) + " records out of time order";
    return text;
}

} // namespace Profiler
