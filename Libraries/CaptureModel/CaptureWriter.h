#pragma once

#include "CaptureModel/Module.h"
#include "CaptureModel/Process.h"
#include "CaptureModel/Thread.h"
#include "CaptureModel/TraceEvent.h"
#include "Serialization/SerializableGUID.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Profiler {

class LinuxPlatformSession;
struct ThreadNameChange;
class ModuleDatabase;
class Session;
class TraceEventStreamWriter;

/// Produces a complete capture directory: the session file, "CallstackDatabase.dat", the event
/// stream with its index, the broken stack ranges and the shared model. Importers and tests use
/// it; Session::sLoad reads the result.
///
/// Processes and threads may be edited until Finish (end times are known last); modules,
/// instances and functions may be added at any time before Finish. Stacks go into the node
/// store as they come (outermost frame first; the result is the stack ID that events carry).
/// Events must be appended in time order; chunks are cut every `eventsPerChunk` events or
/// `bytesPerChunk` bytes. Finish derives the broken stack ranges through the Linux platform's
/// rootedness, with every function known by then, and writes the files.
///
/// Not thread-safe: one producer thread.
class CaptureWriter {
public:
    struct Options {
        double sampleIntervalMs = 1.0;
        /// The capture's time span; by default from the first to the last event.
        double startTimeMs = std::numeric_limits<double>::quiet_NaN();
        double endTimeMs = std::numeric_limits<double>::quiet_NaN();
        uint64_t eventsPerChunk = 100000;
        std::size_t bytesPerChunk = 8u << 20;
    };

    /// The event kind of a sample's weight: the period of the sample that follows on the same
    /// thread (perf's event count). Readers that do not know it ignore it.
    static constexpr ETraceEventKind kSampleWeightKind = ETraceEventKind::Kind13;
    /// The status byte of AddThreadEnd (kind 5): the thread has ended.
    static constexpr uint8_t kThreadEndedStatus = 1;
    /// The first synthetic module base (see AllocateModuleBase) and the distance between bases.
    static constexpr uint64_t kSyntheticBaseStart = 0x0001000000000000ull;
    static constexpr uint64_t kSyntheticBaseStride = 0x100000000ull;

    CaptureWriter();
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    /// Creates the capture directory (with its parents) and starts the event stream. Refuses a
    /// directory that exists and is not empty, so that nothing is overwritten. Registers the
    /// capture classes into `registry` (nothing happens for those already there); the registry
    /// must outlive the writer.
    bool Open(const std::filesystem::path& directory, RTTI::Registry& registry, const Options& options,
              Serialization::ErrorList& errors);
    bool Open(const std::filesystem::path& directory, RTTI::Registry& registry,
              Serialization::ErrorList& errors)
    {
        return Open(directory, registry, Options{}, errors);
    }
    /// The session file that Finish writes: "NAME.session" inside the directory, NAME being the
    /// directory's own name.
    const std::filesystem::path& GetSessionPath() const { return mSessionPath; }

    // Processes and threads.
    /// Adds a process or returns the one with that ID; the reference stays valid until Finish.
    Process& AddProcess(int32_t processId, std::string name);
    Process* FindProcess(int32_t processId);
    /// Adds a thread (and its process when unknown) or returns the one with that ID.
    Thread& AddThread(int32_t processId, int32_t threadId, std::string name);
    Thread* FindThread(int32_t threadId);
    /// Records that the thread is called `name` from `timeMs` on (Linux thread name history);
    /// the thread's name becomes the latest one unless it is set otherwise.
    void AddThreadName(int32_t threadId, double timeMs, std::string name);

    // Modules.
    /// Adds a native module and returns its index.
    uint32_t AddNativeModule(
        std::string name, std::string path, int32_t imageSize,
        NativeModule::ESymbolLookupAddressMode mode = NativeModule::ESymbolLookupAddressMode::Relative);
    /// Places a module in a process at `imageBase` from `loadTimeMs` to `unloadTimeMs`.
    void AddModuleInstance(uint32_t moduleIndex, int32_t processId, uint64_t imageBase,
                           double loadTimeMs = 0.0, double unloadTimeMs = std::numeric_limits<double>::max());
    /// A base address for a module of a process whose real base is unknown: producers that only
    /// know addresses relative to a module (as recent perf prints them) place each module of a
    /// process at its own base and store frames as base + relative address, so that two modules
    /// never share an absolute address. Bases lie in a range that no real x86-64 or AArch64
    /// address uses, 4 GiB apart.
    uint64_t AllocateModuleBase(int32_t processId);
    /// Adds a function to a module (address relative to the module, or absolute in the
    /// "Absolute" lookup mode); false when there is no such module.
    bool AddFunction(uint32_t moduleIndex, uint64_t address, uint64_t size, std::string name);
    ModuleDatabase& GetModuleDatabase();

    // Stacks.
    /// Inserts a stack, outermost frame first, and returns its ID (0 for an empty stack).
    uint64_t AddStack(std::span<const uint64_t> outermostFirst);
    /// The same for a stack listed innermost frame first (as perf prints it).
    uint64_t AddStackInnermostFirst(std::span<const uint64_t> innermostFirst);
    /// Extends the stack `parentStackId` (0: none) by one inner frame; returns the new stack's ID.
    uint64_t AddFrame(uint64_t parentStackId, uint64_t address);

    // Events, in time order. False (and nothing added) for an event earlier than the previous
    // one, after Finish, or after a write error; see GetRefusedEventCount.
    bool AddSample(double timeMs, int32_t processId, int32_t threadId, uint64_t stackId);
    /// A sample's weight, written just before the sample it weighs.
    bool AddSampleWeight(double timeMs, int32_t processId, int32_t threadId, uint64_t weight);
    bool AddSwitchOut(double timeMs, int32_t processId, int32_t threadId, uint8_t waitReason);
    bool AddSwitchIn(double timeMs, int32_t processId, int32_t threadId, uint64_t stackId);
    /// A zone begin; the zone's name becomes known under ModuleDatabase::ZoneFunction(name).
    bool AddZoneBegin(double timeMs, int32_t processId, int32_t threadId, uint64_t stackId,
                      std::string_view name, std::string_view detail = {});
    bool AddZoneEnd(double timeMs, int32_t processId, int32_t threadId);
    bool AddThreadEnd(double timeMs, int32_t processId, int32_t threadId);
    /// Any event by its kind (its process, thread and time included).
    bool AddEvent(const TraceEvent& event);

    uint64_t GetEventCount() const { return mEventCount; }
    uint64_t GetRefusedEventCount() const { return mRefusedEvents; }

    /// Writes the session file and the indexes. Threads without explicit start or end times get
    /// the times of their first and last event; events of unknown threads add them.
    bool Finish(Serialization::ErrorList& errors);

private:
    struct ThreadTimes {
        double first = std::numeric_limits<double>::infinity();
        double last = -std::numeric_limits<double>::infinity();
    };

    bool Accept(double timeMs, int32_t processId, int32_t threadId);
    bool FlushIfFull();

    Options mOptions;
    std::filesystem::path mDirectory;
    std::filesystem::path mSessionPath;
    bool mOpen = false;
    bool mFinished = false;

    std::map<int32_t, Process> mProcesses;
    std::vector<int32_t> mProcessOrder;
    std::map<int32_t, Thread> mThreads;
    std::vector<int32_t> mThreadOrder;
    std::vector<ThreadNameChange> mThreadNames; ///< until Finish hands them to the session
    std::map<int32_t, ThreadTimes> mThreadTimes;
    int32_t mLastThreadId = 0;
    ThreadTimes* mLastThreadTimes = nullptr; ///< of mLastThreadId; map entries never move
    std::map<int32_t, uint64_t> mNextModuleBase;
    std::unique_ptr<Session> mSession;                ///< being built: modules, stacks, platform session
    LinuxPlatformSession* mPlatformSession = nullptr; // owned by mSession
    std::unique_ptr<TraceEventStreamWriter> mEvents;

    double mLastTime = -std::numeric_limits<double>::infinity();
    uint64_t mEventCount = 0;
    uint64_t mRefusedEvents = 0;
    Serialization::ErrorList mWriteErrors; ///< the first failure, reported by Finish
};

} // namespace Profiler
