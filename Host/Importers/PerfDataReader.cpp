#include "Importers/PerfDataReader.h"

#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/StackUnwinder.h"
#include "SymbolResolution/SymbolResolver.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <bitset>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace Profiler {

using Serialization::EErrorCode;

namespace {

// The parts of perf's file format and record layout that the reader uses
// (linux/perf_event.h and tools/perf/util/header.h).
constexpr uint64_t kMagic = 0x32454c4946524550ull; // "PERFILE2"
constexpr std::size_t kFileHeaderBytes = 104;
constexpr std::size_t kFeatureBits = 256;
enum EFeature : unsigned { kFeatureTracingData = 1, kFeatureArch = 6, kFeatureEventDesc = 12,
                           kFeatureCompressed = 27 };

enum ESampleType : uint64_t {
    kSampleIp = 1u << 0,
    kSampleTid = 1u << 1,
    kSampleTime = 1u << 2,
    kSampleAddr = 1u << 3,
    kSampleRead = 1u << 4,
    kSampleCallchain = 1u << 5,
    kSampleId = 1u << 6,
    kSampleCpu = 1u << 7,
    kSamplePeriod = 1u << 8,
    kSampleStreamId = 1u << 9,
    kSampleRaw = 1u << 10,
    kSampleBranchStack = 1u << 11,
    kSampleRegsUser = 1u << 12,
    kSampleStackUser = 1u << 13,
    kSampleIdentifier = 1u << 16,
};
enum EReadFormat : uint64_t { kReadTimeEnabled = 1, kReadTimeRunning = 2, kReadId = 4, kReadGroup = 8, kReadLost = 16 };
constexpr uint64_t kBranchHwIndex = 1u << 17;

enum ERecordType : uint16_t {
    kRecordMmap = 1,
    kRecordComm = 3,
    kRecordExit = 4,
    kRecordFork = 7,
    kRecordSample = 9,
    kRecordMmap2 = 10,
    kRecordSwitch = 14,
    kRecordSwitchCpuWide = 15,
    kRecordUserTypeStart = 64,
    kRecordFinishedRound = 68,
    kRecordAuxtrace = 71,
    kRecordCompressed = 81,
};
constexpr uint16_t kMiscCpuModeMask = 7;
constexpr uint16_t kMiscKernel = 1;
constexpr uint16_t kMiscCommExec = 1u << 13;
constexpr uint16_t kMiscSwitchOut = 1u << 13;
constexpr uint16_t kMiscSwitchOutPreempt = 1u << 14;
constexpr uint16_t kMiscMmapData = 1u << 13;
constexpr uint64_t kContextKernel = static_cast<uint64_t>(-128);
constexpr uint64_t kContextUser = static_cast<uint64_t>(-512);
constexpr uint64_t kContextHypervisor = static_cast<uint64_t>(-32);
constexpr uint64_t kContextMax = static_cast<uint64_t>(-4095);
constexpr unsigned kRegisterIp = 8;

template <typename T>
T Load(const uint8_t* at)
{
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

/// Reads fields one after another out of a record, failing (never reading past the end) when
/// the record is shorter than its fields say.
class FieldReader {
public:
    FieldReader(const uint8_t* begin, const uint8_t* end) : mAt(begin), mEnd(end) {}
    bool U64(uint64_t& value) { return Take(value); }
    bool U32(uint32_t& value) { return Take(value); }
    bool Skip(uint64_t bytes)
    {
        if (bytes > static_cast<uint64_t>(mEnd - mAt))
            return Fail();
        mAt += bytes;
        return true;
    }
    const uint8_t* Here() const { return mAt; }
    uint64_t Left() const { return static_cast<uint64_t>(mEnd - mAt); }
    bool Ok() const { return mOk; }

private:
    template <typename T>
    bool Take(T& value)
    {
        if (sizeof(T) > static_cast<std::size_t>(mEnd - mAt))
            return Fail();
        value = Load<T>(mAt);
        mAt += sizeof(T);
        return true;
    }
    bool Fail()
    {
        mOk = false;
        mAt = mEnd;
        return false;
    }
    const uint8_t* mAt;
    const uint8_t* mEnd;
    bool mOk = true;
};

/// A NUL-terminated text of at most `limit` bytes.
std::string_view TextAt(const uint8_t* at, std::size_t limit)
{
    const char* text = reinterpret_cast<const char*>(at);
    return {text, strnlen(text, limit)};
}

struct EventAttr {
    uint32_t Type = 0;
    uint64_t Config = 0;
    uint64_t SampleType = 0;
    uint64_t ReadFormat = 0;
    uint64_t BranchSampleType = 0;
    uint64_t RegsUserMask = 0;
    bool SampleIdAll = false;
    std::string Name;
    bool IsSchedSwitch = false;
    bool SampleKernel = false; ///< kernel frames can appear: call chains or kernel samples
    /// Whether samples carry the user registers and stack to unwind (a DWARF call graph).
    bool Unwinds() const { return (SampleType & kSampleRegsUser) && (SampleType & kSampleStackUser); }
};

/// Where the fields of sched_switch's raw data lie, from the format the recording carries.
struct SchedSwitchLayout {
    struct Field {
        uint32_t Offset = 0;
        uint32_t Size = 0;
    };
    Field PrevComm, PrevPid, PrevPrio, PrevState, NextComm, NextPid, NextPrio;
    /// prev_state's letters by bit, as the kernel's print format names them; the bit above the
    /// highest one marks a preempted task ("+").
    std::vector<std::pair<uint64_t, std::string>> StateFlags;
    bool Valid = false;
};

std::string DefaultEventName(uint32_t type, uint64_t config)
{
    static const char* const kHardware[] = {"cycles", "instructions", "cache-references", "cache-misses",
                                            "branches", "branch-misses", "bus-cycles"};
    static const char* const kSoftware[] = {"cpu-clock", "task-clock", "page-faults", "context-switches",
                                            "cpu-migrations", "minor-faults", "major-faults"};
    if (type == 0 && config < std::size(kHardware))
        return kHardware[config];
    if (type == 1 && config < std::size(kSoftware))
        return kSoftware[config];
    return "event-" + std::to_string(type) + ":" + std::to_string(config);
}

/// Parses the sched_switch format out of the recording's tracing data: the kernel's own
/// description of the raw record, so that the layout of whichever kernel recorded it is used.
SchedSwitchLayout ParseSchedSwitchFormat(std::string_view tracing)
{
    SchedSwitchLayout layout;
    std::size_t at = tracing.find("name: sched_switch\n");
    if (at == std::string_view::npos)
        return layout;
    std::string_view text = tracing.substr(at);
    const std::size_t printAt = text.find("print fmt:");
    if (printAt == std::string_view::npos)
        return layout;
    std::string_view fields = text.substr(0, printAt);
    std::string_view print = text.substr(printAt, text.find('\n', printAt) - printAt);
    auto number = [](std::string_view line, std::string_view key, uint32_t& out) {
        const std::size_t k = line.find(key);
        if (k == std::string_view::npos)
            return false;
        const char* begin = line.data() + k + key.size();
        return std::from_chars(begin, line.data() + line.size(), out).ec == std::errc();
    };
    int found = 0;
    while (!fields.empty()) {
        const std::size_t end = fields.find('\n');
        std::string_view line = fields.substr(0, end);
        fields = end == std::string_view::npos ? std::string_view() : fields.substr(end + 1);
        const std::size_t f = line.find("field:");
        if (f == std::string_view::npos)
            continue;
        const std::size_t semicolon = line.find(';', f);
        std::string_view declaration = line.substr(f + 6, semicolon - f - 6);
        const std::size_t bracket = declaration.find('[');
        if (bracket != std::string_view::npos)
            declaration = declaration.substr(0, bracket);
        const std::size_t space = declaration.rfind(' ');
        const std::string_view name = declaration.substr(space + 1);
        SchedSwitchLayout::Field field;
        if (!number(line, "offset:", field.Offset) || !number(line, "size:", field.Size))
            continue;
        static constexpr std::pair<std::string_view, SchedSwitchLayout::Field SchedSwitchLayout::*> kFields[] = {
            {"prev_comm", &SchedSwitchLayout::PrevComm}, {"prev_pid", &SchedSwitchLayout::PrevPid},
            {"prev_prio", &SchedSwitchLayout::PrevPrio}, {"prev_state", &SchedSwitchLayout::PrevState},
            {"next_comm", &SchedSwitchLayout::NextComm}, {"next_pid", &SchedSwitchLayout::NextPid},
            {"next_prio", &SchedSwitchLayout::NextPrio}};
        for (const auto& [key, member] : kFields)
            if (name == key) {
                layout.*member = field;
                ++found;
            }
    }
    // The state letters: `{ 0x0001, "S" }, { 0x0002, "D" }, ...` in __print_flags.
    for (std::size_t brace = print.find("{ 0x"); brace != std::string_view::npos;
         brace = print.find("{ 0x", brace + 1)) {
        uint64_t bit = 0;
        const char* begin = print.data() + brace + 4;
        auto [end, error] = std::from_chars(begin, print.data() + print.size(), bit, 16);
        const std::size_t open = print.find('"', brace);
        const std::size_t close = open == std::string_view::npos ? open : print.find('"', open + 1);
        if (error != std::errc() || close == std::string_view::npos)
            break;
        layout.StateFlags.emplace_back(bit, std::string(print.substr(open + 1, close - open - 1)));
    }
    auto fits = [](const SchedSwitchLayout::Field& field, uint32_t size) {
        return field.Size == size || (size == 16 && field.Size > 0);
    };
    layout.Valid = found == 7 && !layout.StateFlags.empty() && fits(layout.PrevComm, 16) &&
                   fits(layout.NextComm, 16) && layout.PrevPid.Size == 4 && layout.NextPid.Size == 4 &&
                   layout.PrevPrio.Size == 4 && layout.NextPrio.Size == 4 &&
                   (layout.PrevState.Size == 8 || layout.PrevState.Size == 4);
    return layout;
}

/// C++ names as perf prints them: demangled without the parameter list and what follows it
/// (cv-qualifiers of member functions, and the " [clone .part.0]" of a compiler's copy).
std::string PerfStyleName(std::string_view name)
{
    if (const std::size_t clone = name.find(" [clone "); clone != std::string_view::npos)
        name = name.substr(0, clone);
    // Trailing qualifiers after the parameter list.
    for (bool trimmed = true; trimmed;) {
        trimmed = false;
        for (std::string_view qualifier : {" const", " volatile", " &&", " &", " noexcept"})
            if (name.ends_with(qualifier)) {
                name.remove_suffix(qualifier.size());
                trimmed = true;
            }
    }
    if (!name.ends_with(')'))
        return std::string(name);
    int depth = 0;
    std::size_t open = std::string_view::npos;
    for (std::size_t i = name.size(); i-- > 0;) {
        if (name[i] == ')')
            ++depth;
        else if (name[i] == '(' && --depth == 0) {
            open = i;
            break;
        }
    }
    // "(anonymous namespace)" and operator() are parts of the name, not its parameters.
    if (open == std::string_view::npos || open == 0)
        return std::string(name);
    std::string_view base = name.substr(0, open);
    if (base.ends_with("operator()") && name.substr(open) == "()")
        return std::string(name);
    // A template function's return type comes first; perf leaves it out with the parameters.
    if (base.ends_with('>')) {
        int angle = 0;
        for (std::size_t i = 0; i < base.size(); ++i) {
            const char c = base[i];
            if (c == '<')
                ++angle;
            else if (c == '>')
                --angle;
            else if (c == '(' || c == ')')
                break;
            else if (c == ' ' && angle == 0 && i > 0 && base.substr(0, i).find("operator") == std::string_view::npos) {
                base = base.substr(i + 1);
                break;
            }
        }
    }
    return std::string(base);
}

/// /proc/kallsyms, sorted: names of kernel addresses. The names stay in the file's text, read
/// whole: a kernel has over a hundred thousand symbols.
class KernelSymbols {
public:
    struct Symbol {
        uint64_t Address;
        std::string_view Name;
        std::string_view Module; ///< "[kernel.kallsyms]" or "[module]"
    };
    /// Loads the running kernel's symbols when its text starts at `textStart` (the recording's
    /// kernel layout); otherwise none are used.
    void Load(uint64_t textStart)
    {
        const int fd = ::open("/proc/kallsyms", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        std::size_t size = 0;
        mText.resize(std::size_t{8} << 20);
        for (;;) {
            if (size == mText.size())
                mText.resize(mText.size() * 2);
            const ssize_t count = ::read(fd, mText.data() + size, mText.size() - size);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            size += static_cast<std::size_t>(count);
        }
        close(fd);
        mText.resize(size);
        bool layoutMatches = false;
        std::string_view text = mText;
        while (!text.empty()) {
            // "ffffffff81000000 T _text" or "ffffffffc0a00000 t name\t[module]"
            const std::size_t newline = text.find('\n');
            std::string_view line = text.substr(0, newline);
            text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
            const std::size_t space = line.find(' ');
            if (space == std::string_view::npos || space + 3 > line.size())
                continue;
            uint64_t address = 0;
            if (std::from_chars(line.data(), line.data() + space, address, 16).ec != std::errc() || address == 0)
                continue;
            const char kind = line[space + 1];
            if (kind != 't' && kind != 'T' && kind != 'w' && kind != 'W')
                continue;
            std::string_view name = line.substr(space + 3);
            std::string_view module = "[kernel.kallsyms]";
            if (const std::size_t tab = name.find('\t'); tab != std::string_view::npos) {
                module = name.substr(tab + 1);
                name = name.substr(0, tab);
            }
            if (name == "_text" && address == textStart)
                layoutMatches = true;
            mSymbols.push_back({address, name, module});
        }
        if (!layoutMatches) {
            mSymbols.clear();
            mText.clear();
            return;
        }
        std::stable_sort(mSymbols.begin(), mSymbols.end(),
                         [](const Symbol& a, const Symbol& b) { return a.Address < b.Address; });
    }
    const Symbol* Find(uint64_t address) const
    {
        auto after = std::upper_bound(mSymbols.begin(), mSymbols.end(), address,
                                      [](uint64_t value, const Symbol& s) { return value < s.Address; });
        if (after == mSymbols.begin() || after == mSymbols.end())
            return nullptr; // past the last symbol nothing tells where kernel code ends
        return &*(after - 1);
    }

private:
    std::string mText;
    std::vector<Symbol> mSymbols;
};

/// One record, decoded on the reading thread, in time order.
struct Item {
    enum class EKind : uint8_t { Sample, SchedSwitch, Task, Mmap };
    EKind Kind = EKind::Sample;
    PerfRecordHeader Header;
    // Samples:
    const EventAttr* Attr = nullptr;
    uint16_t Misc = 0;
    uint64_t Ip = 0;
    std::optional<uint64_t> Period;
    const uint8_t* Callchain = nullptr;
    uint64_t CallchainCount = 0;
    const uint8_t* Regs = nullptr;
    uint64_t RegsAbi = 0;
    const uint8_t* Stack = nullptr;
    uint64_t StackBytes = 0;
    const uint8_t* Raw = nullptr;
    uint32_t RawBytes = 0;
    std::shared_ptr<const UnwindAddressSpace> Space;
    uint32_t FrameBegin = 0;
    uint32_t FrameCount = 0;
    bool Truncated = false;
    // Task and mmap records:
    PerfTaskEvent Task;
    PerfMmapEvent Mmap;
};

struct Batch {
    std::vector<Item> Items;
    std::vector<PerfFrame> Frames;
    std::size_t StackBytes = 0;
    bool Submitted = false; ///< handed to the pipeline; no more records go in
    std::atomic<bool> Done{false};
};

/// The processes that ended, in the order their exits were read, for every worker to let go of
/// their unwinding sessions (a system-wide recording sees thousands of short processes).
class ExitLog {
public:
    void Add(int32_t processId)
    {
        std::lock_guard lock(mMutex);
        mExited.push_back(processId);
    }
    /// Calls `forget` for each exit after the first `seen` ones and advances `seen`.
    template <typename Forget>
    void ForEachSince(std::size_t& seen, Forget&& forget)
    {
        std::vector<int32_t> exited;
        {
            std::lock_guard lock(mMutex);
            exited.assign(mExited.begin() + static_cast<std::ptrdiff_t>(std::min(seen, mExited.size())), mExited.end());
            seen = mExited.size();
        }
        for (int32_t processId : exited)
            forget(processId);
    }

private:
    std::mutex mMutex;
    std::vector<int32_t> mExited;
};

/// Frames of samples, made on a worker thread: the stack unwound, each address named. Each
/// worker keeps its own unwinder and name caches; modules come from the shared resolver.
class FrameMaker {
public:
    FrameMaker(SymbolResolver& resolver, const KernelSymbols& kernel, ExitLog& exits)
        : mResolver(resolver), mKernel(kernel), mExits(exits)
    {}

    void Make(Batch& batch)
    {
        // A sample of an ended process still in a later batch only makes its session again.
        mExits.ForEachSince(mExitsSeen, [this](int32_t processId) { mUnwinder.ForgetProcess(processId); });
        for (Item& item : batch.Items) {
            if (item.Kind != Item::EKind::Sample && item.Kind != Item::EKind::SchedSwitch)
                continue;
            item.FrameBegin = static_cast<uint32_t>(batch.Frames.size());
            AddFrames(item, batch.Frames);
            item.FrameCount = static_cast<uint32_t>(batch.Frames.size() - item.FrameBegin);
        }
    }

private:
    void AddFrames(Item& item, std::vector<PerfFrame>& frames)
    {
        const EventAttr& attr = *item.Attr;
        const bool unwinds = attr.Unwinds() && item.RegsAbi != 0 && item.Regs != nullptr;
        bool kernel = (item.Misc & kMiscCpuModeMask) == kMiscKernel;
        for (uint64_t i = 0; i < item.CallchainCount; ++i) {
            const uint64_t address = Load<uint64_t>(item.Callchain + i * 8);
            if (address >= kContextMax) {
                // Any other marker is not one perf writes: the walk went wrong there, and the
                // frames before it are all that can be trusted.
                if (address != kContextKernel && address != kContextUser && address != kContextHypervisor)
                    break;
                kernel = address == kContextKernel;
                continue;
            }
            if (!kernel && unwinds)
                continue; // the unwound stack stands for the user part
            Push(frames, item, address, kernel);
            if (frames.size() - item.FrameBegin >= PerfScriptParser::kMaxFrames) {
                item.Truncated = true;
                return;
            }
        }
        if (unwinds) {
            const uint64_t mask = attr.RegsUserMask;
            const int count = std::popcount(mask);
            mRegs.resize(static_cast<std::size_t>(count));
            std::memcpy(mRegs.data(), item.Regs, mRegs.size() * 8);
            mIps.clear();
            const std::size_t left = PerfScriptParser::kMaxFrames - (frames.size() - item.FrameBegin);
            if (item.Space)
                mUnwinder.Unwind(item.Header.pid.value_or(item.Header.tid), item.Space, mask, mRegs,
                                 std::span(reinterpret_cast<const std::byte*>(item.Stack), item.StackBytes),
                                 mIps, left);
            if (mIps.empty() && (mask >> kRegisterIp & 1)) {
                // Not even one frame could be unwound: the sampled instruction still counts.
                const int index = std::popcount(mask & ((uint64_t{1} << kRegisterIp) - 1));
                mIps.push_back(mRegs[static_cast<std::size_t>(index)]);
            }
            for (std::size_t i = 0; i < mIps.size(); ++i) {
                // perf names a caller by its call instruction, the byte before its return address.
                Push(frames, item, i == 0 ? mIps[i] : mIps[i] - 1, false);
            }
            if (mIps.size() >= left && left > 0)
                item.Truncated = true;
        }
        if (frames.size() == item.FrameBegin && (item.Attr->SampleType & kSampleIp))
            Push(frames, item, item.Ip, (item.Misc & kMiscCpuModeMask) == kMiscKernel);
    }

    void Push(std::vector<PerfFrame>& frames, const Item& item, uint64_t address, bool kernel)
    {
        static constexpr std::string_view kUnknown = "[unknown]";
        PerfFrame frame;
        frame.address = address;
        frame.symbol = kUnknown;
        frame.dso = kUnknown;
        if (kernel) {
            frame.dso = "[kernel.kallsyms]";
            if (const KernelSymbols::Symbol* symbol = mKernel.Find(address)) {
                frame.symbol = symbol->Name;
                frame.dso = symbol->Module;
                frame.symbolOffset = address - symbol->Address;
                frame.hasSymbolOffset = true;
            }
            frames.push_back(frame);
            return;
        }
        const UnwindMapping* mapping = item.Space ? item.Space->Find(address) : nullptr;
        if (mapping == nullptr) {
            frames.push_back(frame);
            return;
        }
        frame.dso = mapping->Path;
        const bool anonymous = mapping->Path.empty() || mapping->Path.starts_with("//anon") ||
                               mapping->Path == "/dev/zero" || mapping->Path.starts_with("/anon_hugepage");
        if (anonymous) {
            frames.push_back(frame); // perf prints such code at its own address
            return;
        }
        frame.address = address - mapping->Start + mapping->PageOffset;
        if (mapping->Path.front() != '/') {
            frames.push_back(frame); // [vdso] and the like: no file to read
            return;
        }
        const ModuleSymbols* module = GetModule(mapping->Path);
        if (module == nullptr) {
            frames.push_back(frame);
            return;
        }
        const uint64_t elfAddress = module->FileOffsetToAddress(frame.address).value_or(frame.address);
        const ElfSymbol* symbol = module->FindSymbol(elfAddress);
        if (symbol != nullptr) {
            auto [name, added] = mNames.try_emplace(symbol);
            if (added)
                name->second = mTexts.emplace_back(PerfStyleName(symbol->Name));
            frame.symbol = name->second;
            frame.symbolOffset = elfAddress - symbol->Address;
            frame.hasSymbolOffset = true;
        }
        frames.push_back(frame);
    }

    const ModuleSymbols* GetModule(const std::string& path)
    {
        auto found = mModules.find(path);
        if (found == mModules.end()) {
            std::shared_ptr<const ModuleSymbols> module = mResolver.GetModule(path);
            if (module != nullptr && module->GetImagePath().empty())
                module = nullptr;
            found = mModules.emplace(path, std::move(module)).first;
        }
        return found->second.get();
    }

    SymbolResolver& mResolver;
    const KernelSymbols& mKernel;
    ExitLog& mExits;
    std::size_t mExitsSeen = 0;
    StackUnwinder mUnwinder;
    std::vector<uint64_t> mRegs;
    std::vector<uint64_t> mIps;
    std::unordered_map<std::string, std::shared_ptr<const ModuleSymbols>> mModules;
    std::unordered_map<const ElfSymbol*, std::string_view> mNames;
    std::deque<std::string> mTexts;
};

/// Unwinds and names the samples of batches on worker threads, handing the batches back in the
/// order they came.
class FramePipeline {
public:
    FramePipeline(unsigned workers, SymbolResolver& resolver, const KernelSymbols& kernel)
    {
        for (unsigned i = 0; i < std::max(1u, workers); ++i)
            mMakers.push_back(std::make_unique<FrameMaker>(resolver, kernel, mExits));
        if (workers == 0)
            return;
        for (unsigned i = 0; i < workers; ++i)
            mThreads.emplace_back([this, i] { Work(*mMakers[i]); });
    }
    ~FramePipeline()
    {
        {
            std::lock_guard lock(mMutex);
            mClosing = true;
        }
        mWake.notify_all();
        for (std::thread& thread : mThreads)
            thread.join();
    }
    bool Threaded() const { return !mThreads.empty(); }
    void NoteExit(int32_t processId) { mExits.Add(processId); }

    /// Without threads the batch is made at once.
    void Submit(Batch& batch)
    {
        if (mThreads.empty()) {
            mMakers.front()->Make(batch);
            batch.Done.store(true, std::memory_order_release);
            return;
        }
        {
            std::lock_guard lock(mMutex);
            mQueue.push_back(&batch);
        }
        mWake.notify_one();
    }
    void WaitFor(Batch& batch)
    {
        if (batch.Done.load(std::memory_order_acquire))
            return;
        std::unique_lock lock(mMutex);
        mDone.wait(lock, [&] { return batch.Done.load(std::memory_order_acquire); });
    }

private:
    void Work(FrameMaker& maker)
    {
        for (;;) {
            Batch* batch = nullptr;
            {
                std::unique_lock lock(mMutex);
                mWake.wait(lock, [&] { return mClosing || !mQueue.empty(); });
                if (mQueue.empty())
                    return;
                batch = mQueue.front();
                mQueue.pop_front();
            }
            maker.Make(*batch);
            {
                std::lock_guard lock(mMutex);
                batch->Done.store(true, std::memory_order_release);
            }
            mDone.notify_all();
        }
    }

    ExitLog mExits; // before the makers, which refer to it
    std::vector<std::unique_ptr<FrameMaker>> mMakers;
    std::vector<std::thread> mThreads;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::condition_variable mDone;
    std::deque<Batch*> mQueue;
    bool mClosing = false;
};

class Reader {
public:
    Reader(PerfScriptParser& parser, const PerfDataReader::Options& options, Serialization::ErrorList& errors)
        : mParser(parser), mHandler(parser.GetHandler()), mOptions(options), mErrors(errors)
    {}
    ~Reader()
    {
        if (mMap != nullptr)
            munmap(const_cast<uint8_t*>(mMap), mMapBytes);
    }

    PerfDataReader::EResult Run(const std::string& path, std::string& reason)
    {
        if (!Open(path, reason))
            return mFailed ? PerfDataReader::EResult::Failed : PerfDataReader::EResult::Unsupported;
        unsigned workers = mOptions.Workers;
        const bool unwinds = std::any_of(mAttrs.begin(), mAttrs.end(), [](const EventAttr& a) { return a.Unwinds(); });
        if (workers == 0)
            workers = unwinds ? std::clamp(std::thread::hardware_concurrency(), 1u, 4u) : 0u;
        if (mOptions.KernelSymbols &&
            std::any_of(mAttrs.begin(), mAttrs.end(), [](const EventAttr& a) { return a.SampleKernel; })) {
            FindKernelText();
            mKernel.Load(mKernelText);
        }
        SymbolResolver* symbols = mOptions.Symbols;
        if (symbols == nullptr)
            symbols = &mOwnResolver.emplace();
        FramePipeline pipeline(unwinds ? workers : 0, *symbols, mKernel);
        mPipeline = &pipeline;
        const bool complete = ReadRecords();
        mPipeline = nullptr;
        mParser.AddDecodedRecords(mStats);
        if (mStopped)
            mErrors.AddFormatted(EErrorCode::FileAccess, "stopped while reading the perf data file");
        return complete ? PerfDataReader::EResult::Read : PerfDataReader::EResult::Failed;
    }

private:
    struct Queued {
        uint64_t Time;
        uint64_t Sequence;
        const uint8_t* Record;
    };

    bool Unsupported(std::string& reason, std::string text)
    {
        reason = std::move(text);
        return false;
    }
    bool Damaged(const char* what)
    {
        mErrors.AddFormatted(EErrorCode::Corrupt, "the perf data file is damaged: %s", what);
        mFailed = true;
        return false;
    }

    bool Open(const std::string& path, std::string& reason)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            mErrors.AddFormatted(EErrorCode::FileAccess, "Unable to open %s: %s", path.c_str(), std::strerror(errno));
            mFailed = true;
            return false;
        }
        struct stat info = {};
        if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kFileHeaderBytes)) {
            close(fd);
            return Unsupported(reason, "not a perf data file of the seekable format");
        }
        mMapBytes = static_cast<std::size_t>(info.st_size);
        void* map = mmap(nullptr, mMapBytes, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (map == MAP_FAILED) {
            mMap = nullptr;
            mErrors.AddFormatted(EErrorCode::FileAccess, "Unable to map %s: %s", path.c_str(), std::strerror(errno));
            mFailed = true;
            return false;
        }
        mMap = static_cast<const uint8_t*>(map);
        madvise(map, mMapBytes, MADV_SEQUENTIAL);

        if (Load<uint64_t>(mMap) != kMagic || Load<uint64_t>(mMap + 8) != kFileHeaderBytes)
            return Unsupported(reason, "perf data in pipe mode or of an unknown version");
        const uint64_t attrSize = Load<uint64_t>(mMap + 16);
        const uint64_t attrsOffset = Load<uint64_t>(mMap + 24), attrsSize = Load<uint64_t>(mMap + 32);
        mDataOffset = Load<uint64_t>(mMap + 40);
        mDataSize = Load<uint64_t>(mMap + 48);
        std::bitset<kFeatureBits> features;
        for (std::size_t word = 0; word < 4; ++word) {
            const uint64_t bits = Load<uint64_t>(mMap + 72 + word * 8);
            for (unsigned bit = 0; bit < 64; ++bit)
                if (bits >> bit & 1)
                    features.set(word * 64 + bit);
        }
        if (!InFile(attrsOffset, attrsSize) || !InFile(mDataOffset, mDataSize) || attrSize < 16 + 64)
            return Damaged("its sections lie outside the file");
        if (features.test(kFeatureCompressed))
            return Unsupported(reason, "compressed records");

        // Feature sections follow the data, one (offset, size) pair per feature present.
        uint64_t sectionAt = mDataOffset + mDataSize;
        std::map<unsigned, std::string_view> sections;
        for (unsigned feature = 0; feature < kFeatureBits; ++feature) {
            if (!features.test(feature))
                continue;
            if (!InFile(sectionAt, 16))
                break;
            const uint64_t offset = Load<uint64_t>(mMap + sectionAt), size = Load<uint64_t>(mMap + sectionAt + 8);
            sectionAt += 16;
            if (InFile(offset, size))
                sections[feature] = {reinterpret_cast<const char*>(mMap + offset), size};
        }
        if (auto arch = sections.find(kFeatureArch); arch != sections.end()) {
            const std::string_view text = arch->second.size() > 4 ? TextAt(reinterpret_cast<const uint8_t*>(arch->second.data()) + 4, arch->second.size() - 4) : std::string_view();
            mArch = std::string(text);
        }

        // One slot per event: the attribute, then where the event's ids lie.
        const uint64_t attrCount = std::min<uint64_t>(attrsSize / attrSize, 4096);
        for (uint64_t index = 0; index < attrCount; ++index) {
            const uint8_t* attr = mMap + attrsOffset + index * attrSize;
            EventAttr event;
            event.Type = Load<uint32_t>(attr);
            event.Config = Load<uint64_t>(attr + 8);
            event.SampleType = Load<uint64_t>(attr + 24);
            event.ReadFormat = Load<uint64_t>(attr + 32);
            const uint64_t flags = Load<uint64_t>(attr + 40);
            event.SampleIdAll = flags >> 18 & 1;
            event.SampleKernel = (event.SampleType & kSampleCallchain) || !(flags >> 5 & 1);
            // Older perfs wrote shorter attributes, without the later fields.
            const uint64_t attrBytes = attrSize - 16;
            event.BranchSampleType = attrBytes >= 80 ? Load<uint64_t>(attr + 72) : 0;
            event.RegsUserMask = attrBytes >= 88 ? Load<uint64_t>(attr + 80) : 0;
            event.Name = DefaultEventName(event.Type, event.Config);
            const uint64_t idsOffset = Load<uint64_t>(attr + attrSize - 16), idsSize = Load<uint64_t>(attr + attrSize - 8);
            if (InFile(idsOffset, idsSize))
                for (uint64_t i = 0; i + 8 <= idsSize; i += 8)
                    mAttrById[Load<uint64_t>(mMap + idsOffset + i)] = mAttrs.size();
            mAttrs.push_back(std::move(event));
        }
        if (mAttrs.empty())
            return Damaged("it describes no events");
        ReadEventNames(sections);
        for (EventAttr& attr : mAttrs) {
            if (attr.Unwinds() && mArch != "x86_64")
                return Unsupported(reason, "DWARF call graphs of " + (mArch.empty() ? std::string("an unknown machine") : mArch));
            if (attr.Unwinds() && (attr.RegsUserMask >> kRegisterIp & 1) == 0)
                return Unsupported(reason, "DWARF call graphs without the instruction pointer");
            attr.IsSchedSwitch = attr.Name == "sched:sched_switch";
        }
        if (std::any_of(mAttrs.begin(), mAttrs.end(), [](const EventAttr& a) { return a.IsSchedSwitch; })) {
            auto tracing = sections.find(kFeatureTracingData);
            if (tracing != sections.end())
                mSchedSwitch = ParseSchedSwitchFormat(tracing->second);
            if (!mSchedSwitch.Valid)
                return Unsupported(reason, "a sched_switch format it does not know");
        }
        // With several events each record must say whose it is: IDENTIFIER, at the start of a
        // sample and at the end of other records, in every event.
        if (mAttrs.size() > 1 &&
            !std::all_of(mAttrs.begin(), mAttrs.end(), [](const EventAttr& a) { return a.SampleType & kSampleIdentifier; }))
            return Unsupported(reason, "several events without record identifiers");
        return true;
    }

    /// Where the recorded kernel's text started: its map is among the first records.
    void FindKernelText()
    {
        const uint8_t* at = mMap + mDataOffset;
        const uint8_t* end = at + mDataSize;
        for (int records = 0; records < 100000 && end - at >= 8; ++records) {
            const uint32_t type = Load<uint32_t>(at);
            const uint16_t size = Load<uint16_t>(at + 6);
            if (size < 8 || size > end - at)
                return;
            if (type == kRecordMmap && size >= 8 + 32 + 17 &&
                TextAt(at + 40, size - 40u).starts_with("[kernel.kallsyms]")) {
                const uint64_t start = Load<uint64_t>(at + 16), pageOffset = Load<uint64_t>(at + 32);
                // perf writes the address of the kernel's reference symbol (_text) as the offset.
                mKernelText = pageOffset != 0 ? pageOffset : start;
                return;
            }
            at += size;
        }
    }

    bool InFile(uint64_t offset, uint64_t size) const { return offset <= mMapBytes && size <= mMapBytes - offset; }

    void ReadEventNames(const std::map<unsigned, std::string_view>& sections)
    {
        auto desc = sections.find(kFeatureEventDesc);
        if (desc == sections.end())
            return;
        const auto* at = reinterpret_cast<const uint8_t*>(desc->second.data());
        FieldReader reader(at, at + desc->second.size());
        uint32_t count = 0, attrSize = 0;
        if (!reader.U32(count) || !reader.U32(attrSize))
            return;
        for (uint32_t event = 0; event < count && reader.Ok(); ++event) {
            uint32_t ids = 0, nameSize = 0;
            if (!reader.Skip(attrSize) || !reader.U32(ids) || !reader.U32(nameSize) || reader.Left() < nameSize)
                return;
            const std::string name(TextAt(reader.Here(), nameSize));
            reader.Skip(nameSize);
            for (uint32_t i = 0; i < ids; ++i) {
                uint64_t id = 0;
                if (!reader.U64(id))
                    return;
                if (auto found = mAttrById.find(id); found != mAttrById.end())
                    mAttrs[found->second].Name = name;
            }
            if (count == mAttrs.size() && ids == 0)
                mAttrs[event].Name = name;
        }
    }

    /// The event of a non-sample record: named by the identifier that ends it.
    const EventAttr* TrailerEvent(const uint8_t* body, const uint8_t* end) const
    {
        if (mAttrs.size() == 1)
            return &mAttrs.front();
        if (end - body < 8)
            return nullptr;
        auto found = mAttrById.find(Load<uint64_t>(end - 8));
        return found == mAttrById.end() ? nullptr : &mAttrs[found->second];
    }

    /// The sample_id_all fields at the end of a non-sample record.
    void ReadTrailer(const uint8_t* body, const uint8_t* end, PerfRecordHeader& header, uint64_t& time)
    {
        const EventAttr* event = TrailerEvent(body, end);
        if (event == nullptr || !event->SampleIdAll)
            return;
        const EventAttr& attr = *event;
        const uint64_t type = attr.SampleType;
        const int fields = ((type & kSampleTid) != 0) + ((type & kSampleTime) != 0) + ((type & kSampleId) != 0) +
                           ((type & kSampleStreamId) != 0) + ((type & kSampleCpu) != 0) +
                           ((type & kSampleIdentifier) != 0);
        if (end - body < fields * 8)
            return;
        const uint8_t* at = end - fields * 8;
        if (type & kSampleTid) {
            header.pid = static_cast<int32_t>(Load<uint32_t>(at));
            header.tid = static_cast<int32_t>(Load<uint32_t>(at + 4));
            at += 8;
        }
        if (type & kSampleTime) {
            time = Load<uint64_t>(at);
            header.timeNs = time;
            at += 8;
        }
        at += ((type & kSampleId) != 0) * 8 + ((type & kSampleStreamId) != 0) * 8;
        if (type & kSampleCpu)
            header.cpu = static_cast<int32_t>(Load<uint32_t>(at));
    }

    uint64_t RecordTime(const uint8_t* record)
    {
        const uint32_t type = Load<uint32_t>(record);
        const uint16_t size = Load<uint16_t>(record + 6);
        if (type >= kRecordUserTypeStart)
            return 0;
        if (type == kRecordSample) {
            const EventAttr* event = SampleEvent(record, size);
            if (event == nullptr || !(event->SampleType & kSampleTime))
                return 0;
            // IDENTIFIER, IP, TID come before the time.
            const uint64_t t = event->SampleType;
            const std::size_t at = 8 + ((t & kSampleIdentifier) ? 8 : 0) + ((t & kSampleIp) ? 8 : 0) +
                                   ((t & kSampleTid) ? 8 : 0);
            return at + 8 <= size ? Load<uint64_t>(record + at) : 0;
        }
        const EventAttr* event = TrailerEvent(record + 8, record + size);
        if (event == nullptr || !event->SampleIdAll || !(event->SampleType & kSampleTime))
            return 0;
        const uint64_t t = event->SampleType;
        const int after = ((t & kSampleId) != 0) + ((t & kSampleStreamId) != 0) + ((t & kSampleCpu) != 0) +
                          ((t & kSampleIdentifier) != 0);
        const std::size_t trailer = static_cast<std::size_t>(after + 1) * 8;
        return size >= 8 + trailer ? Load<uint64_t>(record + size - trailer) : 0;
    }

    bool ReadRecords()
    {
        const uint8_t* at = mMap + mDataOffset;
        const uint8_t* end = at + mDataSize;
        uint64_t sequence = 0;
        uint64_t roundMax = 0, flushLimit = 0;
        bool ok = true;
        while (ok && at < end) {
            if (end - at < 8) {
                ok = Damaged("a record is cut off at its end");
                break;
            }
            const uint32_t type = Load<uint32_t>(at);
            const uint16_t size = Load<uint16_t>(at + 6);
            if (size < 8 || size > end - at) {
                ok = Damaged("a record's size runs past the data");
                break;
            }
            const uint8_t* record = at;
            at += size;
            if (type == kRecordAuxtrace && record + 16 <= end) {
                const uint64_t payload = Load<uint64_t>(record + 8);
                if (payload > static_cast<uint64_t>(end - at)) {
                    ok = Damaged("a trace payload runs past the data");
                    break;
                }
                at += payload;
                continue;
            }
            if (type == kRecordCompressed) {
                mErrors.AddFormatted(EErrorCode::NotThisFormat,
                                     "the perf data file holds compressed records, which this reader does not read");
                mFailed = true;
                ok = false;
                break;
            }
            mStats.bytes += size;
            if (type == kRecordFinishedRound) {
                // Every record of the rounds before this one has been written: whatever is
                // no later than the previous round's latest time can go out in order.
                ok = Flush(flushLimit);
                flushLimit = roundMax;
                continue;
            }
            if (type >= kRecordUserTypeStart)
                continue;
            const uint64_t time = RecordTime(record);
            roundMax = std::max(roundMax, time);
            mQueue.push_back({time, sequence++, record});
        }
        // The records read before a damaged one still go out, in order.
        ok = Flush(UINT64_MAX) && ok;
        FinishBatches();
        return ok;
    }

    bool Flush(uint64_t limit)
    {
        // Records of equal times keep their order in the file.
        std::stable_sort(mQueue.begin(), mQueue.end(), [](const Queued& a, const Queued& b) { return a.Time < b.Time; });
        std::size_t taken = 0;
        bool ok = true;
        for (; ok && taken < mQueue.size() && mQueue[taken].Time <= limit; ++taken) {
            if (mOptions.StopRequested && (taken & 1023) == 0 && mOptions.StopRequested()) {
                mStopped = true;
                ok = false;
                break;
            }
            ok = Decode(mQueue[taken].Record);
        }
        // After a damaged or stopped record nothing more is decoded.
        mQueue.erase(mQueue.begin(), ok ? mQueue.begin() + static_cast<std::ptrdiff_t>(taken) : mQueue.end());
        return ok;
    }

    Batch& Current()
    {
        if (mBatches.empty() || mBatches.back()->Submitted)
            mBatches.push_back(std::make_unique<Batch>());
        return *mBatches.back();
    }

    /// Submits the batch being filled when it is big enough, and hands on the finished ones.
    void MaybeSubmit(bool force)
    {
        if (mBatches.empty() || mBatches.back()->Submitted)
            return;
        Batch& batch = *mBatches.back();
        const bool full = batch.Items.size() >= 4096 || batch.StackBytes >= (std::size_t{2} << 20);
        if (!full && !force)
            return;
        batch.Submitted = true;
        mPipeline->Submit(batch);
        const std::size_t inFlight = mPipeline->Threaded() ? 8 : 0;
        while (mBatches.size() > inFlight)
            EmitFront();
    }

    void FinishBatches()
    {
        MaybeSubmit(true);
        while (!mBatches.empty())
            EmitFront();
    }

    void EmitFront()
    {
        Batch& batch = *mBatches.front();
        mPipeline->WaitFor(batch);
        for (Item& item : batch.Items) {
            switch (item.Kind) {
            case Item::EKind::Sample: {
                PerfSample sample;
                FillSample(item, batch, sample);
                mHandler.OnSample(sample);
                break;
            }
            case Item::EKind::SchedSwitch: {
                PerfSchedSwitch record;
                DecodeSchedSwitch(item, record);
                FillSample(item, batch, record.sample);
                mHandler.OnSchedSwitch(record);
                break;
            }
            case Item::EKind::Task:
                mHandler.OnTaskEvent(item.Task);
                break;
            case Item::EKind::Mmap:
                mHandler.OnMmapEvent(item.Mmap);
                break;
            }
        }
        mBatches.pop_front();
    }

    void FillSample(const Item& item, const Batch& batch, PerfSample& sample)
    {
        sample.header = item.Header;
        sample.period = item.Period;
        sample.eventName = item.Attr->Name;
        sample.frames = std::span(batch.Frames.data() + item.FrameBegin, item.FrameCount);
        sample.framesTruncated = item.Truncated;
        mStats.truncatedStacks += item.Truncated;
    }

    void DecodeSchedSwitch(const Item& item, PerfSchedSwitch& record)
    {
        const SchedSwitchLayout& layout = mSchedSwitch;
        auto field = [&](const SchedSwitchLayout::Field& f) -> const uint8_t* {
            return uint64_t{f.Offset} + f.Size <= item.RawBytes ? item.Raw + f.Offset : nullptr;
        };
        auto integer = [&](const SchedSwitchLayout::Field& f) -> int64_t {
            const uint8_t* at = field(f);
            if (at == nullptr)
                return 0;
            return f.Size == 8 ? Load<int64_t>(at) : Load<int32_t>(at);
        };
        if (const uint8_t* at = field(layout.PrevComm))
            record.prevComm = TextAt(at, layout.PrevComm.Size);
        if (const uint8_t* at = field(layout.NextComm))
            record.nextComm = TextAt(at, layout.NextComm.Size);
        record.prevPid = static_cast<int32_t>(integer(layout.PrevPid));
        record.nextPid = static_cast<int32_t>(integer(layout.NextPid));
        record.prevPrio = static_cast<int32_t>(integer(layout.PrevPrio));
        record.nextPrio = static_cast<int32_t>(integer(layout.NextPrio));
        // As the kernel prints it: the letters of the state bits joined by '|', "R" for none,
        // and '+' when the bit above the highest letter says the task was preempted.
        const uint64_t state = static_cast<uint64_t>(integer(layout.PrevState));
        uint64_t highest = 0;
        for (const auto& flag : layout.StateFlags)
            highest = std::max(highest, flag.first);
        const uint64_t preempted = highest << 1;
        std::string text;
        for (const auto& [bit, letter] : layout.StateFlags)
            if (state & (preempted - 1) & bit) {
                text += text.empty() ? "" : "|";
                text += letter;
            }
        if (text.empty())
            text = "R";
        if (state & preempted)
            text += "+";
        record.prevState = Intern(text);
    }

    /// Texts that records handed on point at: they stay as long as the reader.
    std::string_view Intern(std::string_view text) { return *mTexts.emplace(text).first; }

    std::string_view CommOf(int32_t tid)
    {
        auto found = mComms.find(tid);
        if (found != mComms.end())
            return found->second;
        return mComms.emplace(tid, Intern(":" + std::to_string(tid))).first->second;
    }

    std::shared_ptr<const UnwindAddressSpace>& SpaceOf(int32_t pid)
    {
        auto& space = mSpaces[pid];
        if (space == nullptr)
            space = std::make_shared<UnwindAddressSpace>();
        return space;
    }

    void AddMapping(int32_t pid, UnwindMapping mapping)
    {
        std::shared_ptr<const UnwindAddressSpace>& current = SpaceOf(pid);
        auto next = std::make_shared<UnwindAddressSpace>();
        next->Version = ++mVersion;
        // A new mapping replaces whatever it overlaps, as mmap does.
        for (const UnwindMapping& old : current->Mappings) {
            if (old.End <= mapping.Start || old.Start >= mapping.End) {
                next->Mappings.push_back(old);
                continue;
            }
            if (old.Start < mapping.Start) {
                UnwindMapping left = old;
                left.End = mapping.Start;
                next->Mappings.push_back(std::move(left));
            }
            if (old.End > mapping.End) {
                UnwindMapping right = old;
                right.PageOffset += mapping.End - old.Start;
                right.Start = mapping.End;
                next->Mappings.push_back(std::move(right));
            }
        }
        next->Mappings.push_back(std::move(mapping));
        std::sort(next->Mappings.begin(), next->Mappings.end(),
                  [](const UnwindMapping& a, const UnwindMapping& b) { return a.Start < b.Start; });
        current = std::move(next);
    }

    bool Decode(const uint8_t* record)
    {
        const uint32_t type = Load<uint32_t>(record);
        const uint16_t misc = Load<uint16_t>(record + 4);
        const uint16_t size = Load<uint16_t>(record + 6);
        const uint8_t* body = record + 8;
        const uint8_t* end = record + size;
        ++mRecordNumber;
        PerfRecordHeader header;
        header.lineNumber = mRecordNumber;
        uint64_t time = 0;
        switch (type) {
        case kRecordSample:
            return DecodeSample(record, misc, header);
        case kRecordComm: {
            if (end - body < 9)
                return Damaged("a COMM record is too short");
            ReadTrailer(body, end, header, time);
            Item item;
            item.Kind = Item::EKind::Task;
            item.Task.kind = EPerfTaskEventKind::Comm;
            item.Task.pid = static_cast<int32_t>(Load<uint32_t>(body));
            item.Task.tid = static_cast<int32_t>(Load<uint32_t>(body + 4));
            item.Task.isExec = (misc & kMiscCommExec) != 0;
            std::string_view comm = TextAt(body + 8, static_cast<std::size_t>(end - body - 8));
            // A thread always has a name to show; an empty one reads as unknown.
            comm = Intern(comm.empty() ? ":" + std::to_string(item.Task.tid) : std::string(comm));
            mComms[item.Task.tid] = comm;
            item.Task.newComm = comm;
            return AddTaskEvent(std::move(item), header);
        }
        case kRecordFork:
        case kRecordExit: {
            if (end - body < 24)
                return Damaged("a FORK or EXIT record is too short");
            ReadTrailer(body, end, header, time);
            Item item;
            item.Kind = Item::EKind::Task;
            item.Task.kind = type == kRecordFork ? EPerfTaskEventKind::Fork : EPerfTaskEventKind::Exit;
            item.Task.pid = static_cast<int32_t>(Load<uint32_t>(body));
            item.Task.parentPid = static_cast<int32_t>(Load<uint32_t>(body + 4));
            item.Task.tid = static_cast<int32_t>(Load<uint32_t>(body + 8));
            item.Task.parentTid = static_cast<int32_t>(Load<uint32_t>(body + 12));
            if (type == kRecordFork) {
                // The child starts with its parent's name and, as a new process, a copy of its
                // parent's mappings.
                if (auto parent = mComms.find(item.Task.parentTid); parent != mComms.end())
                    mComms[item.Task.tid] = parent->second;
                if (item.Task.pid != item.Task.parentPid) {
                    auto parentSpace = mSpaces.find(item.Task.parentPid);
                    if (parentSpace != mSpaces.end())
                        mSpaces[item.Task.pid] = parentSpace->second;
                }
            } else if (item.Task.pid == item.Task.tid) {
                mPipeline->NoteExit(item.Task.pid);
            }
            return AddTaskEvent(std::move(item), header);
        }
        case kRecordMmap:
        case kRecordMmap2: {
            const std::size_t fixed = type == kRecordMmap ? 32 : 64;
            if (static_cast<std::size_t>(end - body) < fixed)
                return Damaged("an MMAP record is too short");
            ReadTrailer(body, end, header, time);
            Item item;
            item.Kind = Item::EKind::Mmap;
            PerfMmapEvent& mmap = item.Mmap;
            mmap.pid = static_cast<int32_t>(Load<uint32_t>(body));
            mmap.tid = static_cast<int32_t>(Load<uint32_t>(body + 4));
            mmap.start = Load<uint64_t>(body + 8);
            mmap.length = Load<uint64_t>(body + 16);
            mmap.pageOffset = Load<uint64_t>(body + 24);
            bool executable = (misc & kMiscMmapData) == 0;
            if (type == kRecordMmap2) {
                const uint32_t prot = Load<uint32_t>(body + 56);
                const uint32_t flags = Load<uint32_t>(body + 60);
                executable = (prot & PROT_EXEC) != 0;
                static const char* const kProtection[] = {"---", "r--", "-w-", "rw-", "--x", "r-x", "-wx", "rwx"};
                mmap.protection = Intern(std::string(kProtection[prot & 7]) + ((flags & MAP_SHARED) ? "s" : "p"));
            } else {
                mmap.protection = executable ? "x" : "";
            }
            const std::string_view file = TextAt(body + fixed, static_cast<std::size_t>(end - body) - fixed);
            mmap.fileName = Intern(file);
            header.comm = CommOf(mmap.tid);
            if (!header.pid) {
                header.pid = mmap.pid;
                header.tid = mmap.tid;
            }
            mmap.header = header;
            const bool kernelMap = mmap.pid == -1 || file.starts_with("[kernel.kallsyms]");
            if (!kernelMap && executable && mmap.length > 0 && mmap.start + mmap.length > mmap.start)
                AddMapping(mmap.pid, {mmap.start, mmap.start + mmap.length, mmap.pageOffset, std::string(file), true});
            ++mStats.mmapEvents;
            return Add(std::move(item));
        }
        case kRecordSwitch:
        case kRecordSwitchCpuWide: {
            ReadTrailer(body, end, header, time);
            const EventAttr* event = TrailerEvent(body, end);
            if (event == nullptr || !event->SampleIdAll || !(event->SampleType & kSampleTid))
                return true; // nothing says whose switch it was
            Item item;
            item.Kind = Item::EKind::Task;
            item.Task.kind = (misc & kMiscSwitchOut) ? EPerfTaskEventKind::SwitchOut : EPerfTaskEventKind::SwitchIn;
            item.Task.preempted = (misc & kMiscSwitchOut) && (misc & kMiscSwitchOutPreempt);
            header.comm = CommOf(header.tid);
            item.Task.header = header;
            item.Task.tid = header.tid;
            item.Task.pid = header.pid.value_or(0);
            item.Task.knownProcess = header.pid.has_value();
            ++mStats.switchRecords;
            return Add(std::move(item));
        }
        default:
            ++mStats.otherRecords;
            return true;
        }
    }

    /// The event of a sample: named by its leading identifier when the file has several.
    const EventAttr* SampleEvent(const uint8_t* record, uint16_t size) const
    {
        if (mAttrs.size() == 1)
            return &mAttrs.front();
        if (size < 16)
            return nullptr;
        auto found = mAttrById.find(Load<uint64_t>(record + 8));
        return found == mAttrById.end() ? nullptr : &mAttrs[found->second];
    }

    bool DecodeSample(const uint8_t* record, uint16_t misc, PerfRecordHeader& header)
    {
        const uint16_t size = Load<uint16_t>(record + 6);
        FieldReader reader(record + 8, record + size);
        const EventAttr* attr = SampleEvent(record, size);
        if (attr == nullptr)
            return Damaged("a sample names an event the file does not describe");
        uint64_t value = 0;
        const uint64_t type = attr->SampleType;
        if (type & kSampleIdentifier)
            reader.Skip(8);
        Item item;
        item.Kind = attr->IsSchedSwitch ? Item::EKind::SchedSwitch : Item::EKind::Sample;
        item.Attr = attr;
        item.Misc = misc;
        if (type & kSampleIp)
            reader.U64(item.Ip);
        if (type & kSampleTid) {
            uint32_t pid = 0, tid = 0;
            reader.U32(pid);
            reader.U32(tid);
            header.pid = static_cast<int32_t>(pid);
            header.tid = static_cast<int32_t>(tid);
        }
        if (type & kSampleTime) {
            reader.U64(value);
            header.timeNs = value;
        }
        if (type & kSampleAddr)
            reader.Skip(8);
        if (type & kSampleId)
            reader.Skip(8);
        if (type & kSampleStreamId)
            reader.Skip(8);
        if (type & kSampleCpu) {
            uint32_t cpu = 0;
            reader.U32(cpu);
            reader.Skip(4);
            header.cpu = static_cast<int32_t>(cpu);
        }
        if (type & kSamplePeriod) {
            reader.U64(value);
            item.Period = value;
        }
        if (type & kSampleRead) {
            const uint64_t format = attr->ReadFormat;
            const uint64_t perValue = 8 + ((format & kReadId) ? 8 : 0) + ((format & kReadLost) ? 8 : 0);
            const uint64_t times = ((format & kReadTimeEnabled) ? 8 : 0) + ((format & kReadTimeRunning) ? 8 : 0);
            if (format & kReadGroup) {
                uint64_t count = 0;
                reader.U64(count);
                reader.Skip(times);
                if (count > reader.Left() / perValue)
                    return Damaged("a sample's counter group runs past the record");
                reader.Skip(count * perValue);
            } else {
                reader.Skip(perValue + times);
            }
        }
        if (type & kSampleCallchain) {
            reader.U64(item.CallchainCount);
            if (item.CallchainCount > reader.Left() / 8)
                return Damaged("a sample's call chain runs past the record");
            item.Callchain = reader.Here();
            reader.Skip(item.CallchainCount * 8);
        }
        if (type & kSampleRaw) {
            reader.U32(item.RawBytes);
            item.Raw = reader.Here();
            if (!reader.Skip(item.RawBytes))
                return Damaged("a sample's raw data runs past the record");
        }
        if (type & kSampleBranchStack) {
            uint64_t count = 0;
            reader.U64(count);
            if (attr->BranchSampleType & kBranchHwIndex)
                reader.Skip(8);
            if (count > reader.Left() / 24)
                return Damaged("a sample's branch stack runs past the record");
            reader.Skip(count * 24);
        }
        if (type & kSampleRegsUser) {
            reader.U64(item.RegsAbi);
            if (item.RegsAbi != 0) {
                const uint64_t count = static_cast<uint64_t>(std::popcount(attr->RegsUserMask));
                item.Regs = reader.Here();
                if (!reader.Skip(count * 8))
                    return Damaged("a sample's registers run past the record");
            }
        }
        if (type & kSampleStackUser) {
            uint64_t bytes = 0;
            reader.U64(bytes);
            if (bytes != 0) {
                item.Stack = reader.Here();
                if (!reader.Skip(bytes))
                    return Damaged("a sample's stack copy runs past the record");
                uint64_t used = 0;
                reader.U64(used); // the part of the copy that held stack
                item.StackBytes = std::min(bytes, used);
            }
        }
        if (!reader.Ok())
            return Damaged("a sample is shorter than its fields");
        if (item.Kind == Item::EKind::SchedSwitch && item.Raw == nullptr)
            return Damaged("a sched_switch sample has no raw data");
        header.comm = CommOf(header.tid);
        const int32_t pid = header.pid.value_or(header.tid);
        auto space = mSpaces.find(pid);
        if (space != mSpaces.end())
            item.Space = space->second;
        item.Header = header;
        if (item.Kind == Item::EKind::SchedSwitch)
            ++mStats.schedSwitches;
        else
            ++mStats.samples;
        Batch& batch = Current();
        batch.StackBytes += item.StackBytes;
        return Add(std::move(item));
    }

    /// A comm, fork or exit record, printed under the thread it is about when nothing else says
    /// whose record it is.
    bool AddTaskEvent(Item&& item, PerfRecordHeader header)
    {
        header.comm = CommOf(item.Task.tid);
        if (!header.pid) {
            header.pid = item.Task.pid;
            header.tid = item.Task.tid;
        }
        item.Task.header = header;
        ++mStats.taskEvents;
        return Add(std::move(item));
    }

    bool Add(Item&& item)
    {
        Current().Items.push_back(std::move(item));
        MaybeSubmit(false);
        return true;
    }

    PerfScriptParser& mParser;
    IPerfScriptHandler& mHandler;
    const PerfDataReader::Options& mOptions;
    Serialization::ErrorList& mErrors;
    PerfScriptParseStats mStats;
    bool mFailed = false;
    bool mStopped = false;

    const uint8_t* mMap = nullptr;
    std::size_t mMapBytes = 0;
    uint64_t mDataOffset = 0;
    uint64_t mDataSize = 0;
    std::string mArch;
    std::vector<EventAttr> mAttrs;
    std::unordered_map<uint64_t, std::size_t> mAttrById;
    SchedSwitchLayout mSchedSwitch;

    std::vector<Queued> mQueue;
    uint64_t mRecordNumber = 0;
    std::unordered_map<int32_t, std::string_view> mComms;
    std::unordered_map<int32_t, std::shared_ptr<const UnwindAddressSpace>> mSpaces;
    uint64_t mVersion = 0;
    std::set<std::string, std::less<>> mTexts;
    uint64_t mKernelText = 0;
    KernelSymbols mKernel;
    std::optional<SymbolResolver> mOwnResolver;

    FramePipeline* mPipeline = nullptr;
    std::deque<std::unique_ptr<Batch>> mBatches;
};

} // namespace

PerfDataReader::EResult PerfDataReader::Read(const std::string& path, PerfScriptParser& parser, const Options& options,
                                             std::string& reason, Serialization::ErrorList& errors)
{
    Reader reader(parser, options, errors);
    return reader.Run(path, reason);
}

} // namespace Profiler
