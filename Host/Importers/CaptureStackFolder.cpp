#include "Importers/CaptureStackFolder.h"
#include "Importers/PerfCaptureImporter.h"

#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/CaptureWriter.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <vector>

namespace Profiler {

namespace {

constexpr std::string_view kUnknown = "[unknown]";

struct PairHash {
    std::size_t operator()(const std::pair<int64_t, uint64_t>& key) const
    {
        return std::hash<uint64_t>()(key.second * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(key.first));
    }
};

/// A frame as perf printed it: what the folding rules need.
struct PrintedFrame {
    std::string symbol;
    std::string dso;
    uint64_t address = 0;
};

/// Thread names over time, searched per thread.
class ThreadNames {
public:
    explicit ThreadNames(const Session& session)
    {
        if (const auto* linux = dynamic_cast<const LinuxPlatformSession*>(session.GetPlatformSession()))
            for (const ThreadNameChange& change : linux->GetThreadNameHistory())
                mChanges[change.mThreadID].push_back({change.mTimeMs, change.mName});
        for (auto& [thread, changes] : mChanges)
            std::stable_sort(changes.begin(), changes.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const Thread& thread : session.GetThreadList())
            mFallback[thread.mThreadID] = thread.mThreadName;
    }

    /// The latest name at or before the time, else the first one, else the thread's own.
    const std::string& Get(int32_t thread, double timeMs) const
    {
        auto found = mChanges.find(thread);
        if (found == mChanges.end() || found->second.empty()) {
            auto fallback = mFallback.find(thread);
            return fallback != mFallback.end() ? fallback->second : mEmpty;
        }
        const auto& changes = found->second;
        auto after = std::upper_bound(changes.begin(), changes.end(), timeMs,
                                      [](double time, const auto& change) { return time < change.first; });
        return after == changes.begin() ? changes.front().second : std::prev(after)->second;
    }

private:
    std::unordered_map<int32_t, std::vector<std::pair<double, std::string>>> mChanges;
    std::unordered_map<int32_t, std::string> mFallback;
    std::string mEmpty;
};

PrintedFrame DescribeFrame(const ModuleDatabase& modules, int32_t process, double time, uint64_t address)
{
    PrintedFrame frame{std::string(kUnknown), std::string(kUnknown), address};
    const AddressResolution resolution = modules.Resolve(process, time, address);
    if (!resolution.InFunction || resolution.Function.GetKind() != ResolvedAddress::kKindNative ||
        resolution.InstanceIndex < 0)
        return frame; // in no module, or between the functions of one: perf knew neither
    const auto& nativeModules = modules.GetNativeModules();
    const uint32_t moduleIndex = resolution.Function.GetModuleIndex();
    if (moduleIndex >= nativeModules.size() || !nativeModules[moduleIndex])
        return frame;
    const NativeModule& module = *nativeModules[moduleIndex];
    const auto function = modules.FindFunction(resolution.Function);
    if (!function)
        return frame;
    if (std::string_view(module.mPath).ends_with(PerfCaptureImporter::kInlineModuleSuffix)) {
        // Functions that perf reported inlined: it printed "(inlined)" where the DSO goes.
        frame.dso = "inlined";
        frame.symbol = function->mName;
        return frame;
    }
    frame.dso = module.mPath;
    if (!module.IsAbsolute())
        frame.address = address - modules.GetNativeModuleInstances()[resolution.InstanceIndex].mImageBase;
    // Unknown ranges carry the name that the views show for them; the folding rules name them
    // from the module themselves.
    if (!FoldedStackNamer::IsUnknownRangeName(function->mName, module.mPath))
        frame.symbol = function->mName;
    return frame;
}

} // namespace

bool CaptureStackFolder::Fold(const std::filesystem::path& capture, const FoldOptions& options,
                              std::string& text, Serialization::ErrorList& errors)
{
    text.clear();
    return Fold(capture, options, Sink([&text](std::string_view piece) {
                    text += piece;
                    return true;
                }),
                errors);
}

bool CaptureStackFolder::Fold(const Session& session, const FoldOptions& options, std::string& text,
                              Serialization::ErrorList& errors)
{
    text.clear();
    return Fold(session, options, Sink([&text](std::string_view piece) {
                    text += piece;
                    return true;
                }),
                errors);
}

bool CaptureStackFolder::Fold(const std::filesystem::path& capture, const FoldOptions& options,
                              const Sink& sink, Serialization::ErrorList& errors)
{
    RTTI::Registry registry;
    RegisterAllCaptureTypes(registry);
    const PlatformRegistry platforms;
    std::unique_ptr<Session> session;
    const Platform* platform = nullptr;
    if (Session::sLoad(capture, registry, RTTI::GetDefaultObjectFactory(), {}, platforms.GetLookup(), session,
                       platform, errors) != 0)
        return false;
    return Fold(*session, options, sink, errors);
}

bool CaptureStackFolder::Fold(const Session& session, const FoldOptions& options, const Sink& sink,
                              Serialization::ErrorList& errors)
{
    const TraceEventStream* stream = session.GetTraceEventStream();
    if (!stream)
        return true;
    const ModuleDatabase& modules = session.GetModuleDatabase();
    const ThreadNames names(session);

    std::unordered_map<std::pair<int64_t, uint64_t>, PrintedFrame, PairHash> frameCache;
    // The frames part of a folded stack per process and stack (java stacks name frames apart).
    std::unordered_map<std::pair<int64_t, uint64_t>, std::string, PairHash> stackCache;
    std::unordered_map<uint32_t, uint64_t> pendingWeight;
    std::map<std::string, uint64_t> counts;
    std::vector<uint64_t> addresses;
    std::string stack;

    TraceEventStreamReader reader(*stream);
    TraceEvent event;
    while (reader.Next(event)) {
        const uint32_t thread = static_cast<uint32_t>(event.threadId);
        if (event.kind == CaptureWriter::kSampleWeightKind) {
            pendingWeight[thread] = event.data64[0];
            continue;
        }
        if (event.kind != ETraceEventKind::Sample)
            continue;
        uint64_t weight = 1;
        if (auto found = pendingWeight.find(thread); found != pendingWeight.end()) {
            weight = found->second != 0 ? found->second : 1;
            pendingWeight.erase(found);
        }
        const auto process = static_cast<int32_t>(static_cast<uint32_t>(event.processId));
        const auto threadId = static_cast<int32_t>(thread);
        const std::string& comm = names.Get(threadId, event.time);
        const bool javaNames = comm.starts_with("java");
        const std::pair<int64_t, uint64_t> stackKey{(int64_t{process} << 1) | (javaNames ? 1 : 0),
                                                    event.stackId};
        auto cached = stackCache.find(stackKey);
        if (cached == stackCache.end()) {
            std::string frames;
            addresses.clear();
            if (event.stackId != kNoStackId)
                session.GetCallstack(event.stackId, addresses);
            if (addresses.size() == 1 && addresses.front() == PerfCaptureImporter::kNoFramesAddress)
                addresses.clear();
            for (uint64_t address : addresses) {
                auto frame = frameCache.find({process, address});
                if (frame == frameCache.end())
                    frame = frameCache
                                .emplace(std::pair<int64_t, uint64_t>{process, address},
                                         DescribeFrame(modules, process, event.time, address))
                                .first;
                FoldedStackNamer::AppendFrame(frames, frame->second.symbol, frame->second.dso,
                                              frame->second.address, comm, options);
            }
            cached = stackCache.emplace(stackKey, std::move(frames)).first;
        }
        const std::optional<int32_t> pid =
            PerfCaptureImporter::IsUnknownProcessId(process) ? std::nullopt : std::optional<int32_t>(process);
        stack = FoldedStackNamer::StackPrefix(comm, pid, threadId, options);
        stack += cached->second;
        counts[stack] += weight;
    }
    if (reader.HasFailed()) {
        for (const auto& record : reader.GetErrors().GetErrors())
            errors.Add(record.code, record.message);
        return false;
    }
    // The per-stack names are not needed any more; free them before the output grows.
    stackCache = {};
    frameCache = {};
    std::string line;
    for (const auto& [stackText, count] : counts) {
        line.assign(stackText);
        line += ' ';
        line += std::to_string(count);
        line += '\n';
        if (!sink(line))
            return false;
    }
    return true;
}

} // namespace Profiler
