#pragma once

#include "Importers/AddressMap.h"
#include "Importers/PerfRecordReorderer.h"
#include "Importers/PerfScriptRecords.h"

#include "Utility/ErrorList.h"

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Profiler {

class CaptureWriter;
class PerfScriptParser;
class SymbolResolver;
struct PerfScriptParseStats;

struct PerfImportOptions {
    std::string eventName;            ///< the sampled event to import; empty: the first one in the input
    std::optional<double> intervalMs; ///< the sample interval; default: the period of clock events
    /// Adds inlined functions to the frames from the modules' debug information, for text that
    /// perf script printed with --no-inline (frames perf marked inlined are kept as they are).
    bool inlineFramesFromDebugInfo = false;
    /// Where modules' symbols are looked up (not owned); null: the import makes its own. Whoever
    /// else names frames of the same input passes the same one, so each module is read once.
    SymbolResolver* symbols = nullptr;
};

struct PerfImportStats {
    uint64_t samples = 0;           ///< samples of the imported event written to the capture
    uint64_t otherSamples = 0;      ///< samples of other events, left out
    uint64_t switchOuts = 0;        ///< including thread ends
    uint64_t switchIns = 0;         ///< including inferred ones
    uint64_t inferredSwitchIns = 0; ///< switch-ins that no record showed, implied by the thread's own events
    uint64_t sampleGapWaits = 0;    ///< waits inferred from gaps between a thread's clock samples
    uint64_t threadEnds = 0;        ///< switch-outs with reason 22 (exit or a dead previous thread)
    uint64_t threads = 0;
    uint64_t processes = 0;
    uint64_t modules = 0;
    /// Modules whose debug information was found and matched, when the import looked for it
    /// (imports of perf.data and recordings made here; text from elsewhere keeps perf's symbols).
    std::optional<std::pair<uint64_t, uint64_t>> modulesWithDebugInfo; ///< matched, used
    uint64_t functions = 0;
    PerfReorderStats order;       ///< how far the input was from time order
    uint64_t switchRecords = 0;   ///< perf's own PERF_RECORD_SWITCH records read
    uint64_t inlineFrames = 0;    ///< frames that perf reported as inlined, kept as frames
    uint64_t codeChanges = 0;     ///< times an address of a module took a new name (JIT code reused)
    uint64_t truncatedStacks = 0; ///< stacks deeper than the parser keeps
    /// Samples of each event in the input (the imported one included), for saying what a file
    /// held when it had none of the event asked for.
    std::map<std::string, uint64_t> samplesByEvent;
    bool syntheticTimes = false; ///< some samples had no timestamp
    double sampleIntervalMs = 0.0;
    std::string eventName;
};

/// Streams the records of a perf script parser into a capture directory: processes and threads
/// (named by their comm, with name changes over time), one module per DSO and process (a new
/// instance when code at an address is renamed, as JIT code is), functions from symbols, inlined
/// functions as frames of their own, samples of one event with their call stacks and weights, and
/// thread states from context switches, with the switch-ins that no record showed inferred from
/// the threads' own events so that no sample lands while its thread is switched out.
///
/// Frame addresses: perf prints user code relative to its DSO (below 4 GiB) and kernel code
/// absolute. Relative addresses keep their meaning: the module sits at a synthetic base of its
/// process (CaptureWriter::AllocateModuleBase) in the Relative lookup mode, and frames are stored
/// as base + address. Other addresses are stored as printed, in modules in the Absolute lookup
/// mode (no image base is known). Frames whose symbol and DSO are both unknown belong to no module.
///
/// Memory does not grow with the input beyond the capture's own tables (threads, modules,
/// functions and each module's distinct frame addresses).
class PerfCaptureImporter : public IPerfScriptHandler {
public:
    /// Threads whose header names no process id (and that no task record ties to one) become
    /// processes of their own, so that the modules of different programs never share an address
    /// space. Their ids lie far below anything perf prints (it prints -1 for "no task"), so they
    /// never collide with a real id; negative ids print as `?`.
    static constexpr int32_t kUnknownProcessIdBase = -0x40000000;
    static constexpr int32_t UnknownProcessId(int32_t threadId)
    {
        return kUnknownProcessIdBase - static_cast<int32_t>(static_cast<uint32_t>(threadId) & 0x3fffffffu);
    }
    static constexpr bool IsUnknownProcessId(int32_t processId) { return processId <= kUnknownProcessIdBase; }
    /// What a module's path ends with when it holds the functions that perf reported as inlined
    /// into the module's code (see AddStack).
    static constexpr std::string_view kInlineModuleSuffix = " (inlined)";
    /// A sample that perf printed without any frame (it could not walk even to the sampled
    /// instruction) is stored with this one frame, in no module: the call graph shows its time and
    /// sample under "Unknown" rather than losing them, and folded output leaves the frame out as
    /// perf printed none. No code lives at the last address of the address space.
    static constexpr uint64_t kNoFramesAddress = ~uint64_t{0};
    /// Addresses below this were printed relative to their DSO.
    static constexpr uint64_t kRelativeAddressLimit = 1ull << 32;
    static constexpr double kDefaultIntervalMs = 1.0;

    PerfCaptureImporter(CaptureWriter& writer, PerfImportOptions options);
    ~PerfCaptureImporter() override;

    /// Checks that the capture directory may be written (new or empty) and remembers it. The
    /// writer is opened once the sample interval is known: at the first sample of the imported
    /// event, or at once when the options give the interval.
    bool Begin(const std::filesystem::path& directory, RTTI::Registry& registry,
               Serialization::ErrorList& errors);

    /// The symbols already searched while importing (inline frames): at the end, each module used
    /// by a stack records where its search ended, so the capture opens with its modules' status.
    void SetSymbolResolver(SymbolResolver* symbols) { mSymbols = symbols; }

    /// Records go through a reorder window (PerfRecordReorderer) before they are imported, so
    /// they may be imported some records later than they are received.
    void OnSample(const PerfSample& sample) override { mReorderer.OnSample(sample); }
    // Switch records are noted as they are read: the reorder window still holds the second of
    // records before the first of them, whose sample gaps must then not count as waits.
    void OnSchedSwitch(const PerfSchedSwitch& record) override
    {
        mHaveSwitchRecords = true;
        mReorderer.OnSchedSwitch(record);
    }
    void OnTaskEvent(const PerfTaskEvent& event) override
    {
        if (event.kind == EPerfTaskEventKind::SwitchIn || event.kind == EPerfTaskEventKind::SwitchOut)
            mHaveSwitchRecords = true;
        mReorderer.OnTaskEvent(event);
    }

    /// Imports what the reorder window still holds, adds the functions and module placements and writes the
    /// capture.
    bool Finish(Serialization::ErrorList& errors);

    const PerfImportStats& GetStats() const { return mStats; }

    /// Reads `input` ("-" for standard input; plain or gzip) into a new capture directory.
    /// False with an error when the input cannot be read to its end or the capture cannot be
    /// written; whatever was valid is imported either way. `problems` receives the parser's
    /// summary of bad lines ("" when none).
    static bool Import(const std::string& input, const std::filesystem::path& directory,
                       const PerfImportOptions& options, PerfImportStats& stats, std::string& problems,
                       Serialization::ErrorList& errors);
    /// The same for a parser fed by someone else (perf's own output): `feed` must feed and
    /// finish the parser and say whether the input was read completely. `pipelined`: the
    /// records are imported on a second thread while `feed` parses (for large inputs; the
    /// capture is the same either way).
    static bool Import(const std::function<bool(PerfScriptParser&, Serialization::ErrorList&)>& feed,
                       const std::filesystem::path& directory, const PerfImportOptions& options,
                       PerfImportStats& stats, std::string& problems, Serialization::ErrorList& errors,
                       bool pipelined = false);
    /// Inputs from this size up are read on one thread and imported on another.
    static constexpr uint64_t kPipelineMinBytes = 8u << 20;

    /// Why an input gave no sample to import, with what it held instead.
    static std::string DescribeMissingSamples(const PerfImportStats& stats,
                                              const PerfScriptParseStats& parsed,
                                              const std::string& eventName);

    /// One line for the user: what was imported.
    static std::string DescribeStats(const PerfImportStats& stats);

private:
    /// Receives the records in time order from the reorder window.
    class Ordered : public IPerfScriptHandler {
    public:
        explicit Ordered(PerfCaptureImporter& importer) : mImporter(importer) {}
        void OnSample(const PerfSample& sample) override { mImporter.ImportSample(sample); }
        void OnSchedSwitch(const PerfSchedSwitch& record) override { mImporter.ImportSchedSwitch(record); }
        void OnTaskEvent(const PerfTaskEvent& event) override { mImporter.ImportTaskEvent(event); }

    private:
        PerfCaptureImporter& mImporter;
    };

    struct ThreadState {
        int32_t processId = 0;
        std::string comm;
        uint64_t blockedUserStack = 0; ///< the user part of the stack the thread last blocked in
        bool ended = false;
        bool running = true;        ///< threads run until a record switches them out
        double switchedOutMs = 0.0; ///< when it last switched out
        double lastSampleMs = -1.0; ///< its latest clock sample
    };
    /// A clock sample whose thread waits from one interval after it, unless the thread shows
    /// itself again before `deadlineMs`.
    struct SampleGap {
        double deadlineMs;
        double sampleMs;
        int32_t threadId;
    };
    struct KnownFunction {
        std::string name;
        uint64_t lastAddress = 0; ///< the highest frame address seen in it
    };
    struct ModuleState {
        std::string dso;
        int32_t processId = 0;
        bool relative = false;
        uint64_t base = 0; ///< relative modules: where the module sits in its process
        std::map<uint64_t, KnownFunction> functions; ///< by start, in module addresses
        AddressMap<bool> unknownAddresses;
        /// Frames handled already, with a hash of the name they had, to notice reused code.
        AddressMap<std::size_t> seenAddresses;
        bool rebased = false; ///< an absolute module renamed over time, now relative to `anchor`
        uint64_t anchor = 0;
        double loadTimeMs = 0.0;
        double unloadTimeMs = std::numeric_limits<double>::max();
        std::map<std::string, uint64_t, std::less<>> inlineFunctions; ///< inline modules: name → address
    };
    struct PendingEvent {
        double timeMs;
        uint64_t value; ///< stack ID, weight or wait reason
        int32_t processId;
        int32_t threadId;
        uint8_t kind;
    };

    void ImportSample(const PerfSample& sample);
    void ImportSchedSwitch(const PerfSchedSwitch& record);
    void ImportTaskEvent(const PerfTaskEvent& event);
    ThreadState& EnsureThread(const PerfRecordHeader& header, double timeMs);
    ThreadState& EnsureThread(int32_t processId, int32_t threadId, std::string_view comm, double timeMs);
    double RecordTime(const PerfRecordHeader& header, bool isSample);
    uint64_t StoreFrame(int32_t processId, const PerfFrame& frame, double timeMs);
    uint64_t StoreInlineFrame(int32_t processId, std::string_view symbol, std::string_view ownerDso);
    ModuleState& FindOrAddModule(char kind, int32_t processId, std::string_view dso);
    const std::string& ModuleKey(char kind, int32_t processId, std::string_view dso);
    uint64_t AddStack(int32_t processId, std::span<const PerfFrame> innermostFirst, double timeMs);
    void SwitchIn(double timeMs, int32_t threadId, ThreadState& thread);
    void EnsureRunning(double timeMs, int32_t threadId, ThreadState& thread, double earliestMs);
    void SwitchOut(double timeMs, int32_t threadId, ThreadState& thread, uint8_t reason);
    void CloseSampleGaps(double timeMs);
    void OpenWriter(double intervalMs);
    void Emit(uint8_t kind, double timeMs, int32_t processId, int32_t threadId, uint64_t value);
    void EmitNow(const PendingEvent& event);
    void AddFunctions();

    CaptureWriter& mWriter; // not owned
    PerfImportOptions mOptions;
    SymbolResolver* mSymbols = nullptr;
    PerfImportStats mStats;
    std::filesystem::path mDirectory;
    RTTI::Registry* mRegistry = nullptr; // not owned
    bool mBegun = false;
    bool mWriterOpen = false;
    Serialization::ErrorList mOpenErrors; ///< a failure to open the writer late, reported by Finish

    std::vector<PendingEvent> mPending; ///< events before the writer is open, at most kMaxPending
    static constexpr std::size_t kMaxPending = 1 << 16;

    std::unordered_map<int32_t, ThreadState> mThreads;
    std::vector<std::unique_ptr<ModuleState>> mModules;
    std::unordered_map<std::string, uint32_t> mModuleByKey; ///< pid, relative flag, DSO → index
    /// The modules that frames named last: a stack names few, each many times over.
    struct RecentModule {
        std::string dso;
        int32_t processId = 0;
        char kind = 0;
        uint32_t index = ~0u;
    };
    std::array<RecentModule, 8> mRecentModules;
    std::size_t mNextRecentModule = 0;
    /// Per process, the addresses of frames in no module: unknown ranges of modules end there.
    std::unordered_map<int32_t, AddressMap<bool>> mUnknownFrames;
    AddressMap<bool>* mLastUnknownFrames = nullptr; ///< those of mLastUnknownProcess
    int32_t mLastUnknownProcess = 0;
    std::string mKey;                 // reused
    std::vector<uint64_t> mAddresses; // reused

    Ordered mOrdered{*this};
    PerfRecordReorderer mReorderer{mOrdered};
    double mLastTimeMs = 0.0;
    double mPreviousRecordMs = 0.0; ///< the time of the record before the current one
    bool mHaveTime = false;
    bool mHaveSample = false;
    /// Whether any record told of context switches; without them, waits come from sample gaps.
    bool mHaveSwitchRecords = false;
    std::deque<SampleGap> mSampleGaps; ///< in sample time order, so their deadlines are too
};

} // namespace Profiler
