#include "SymbolResolution/StackUnwinder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <istream>
#include <elf.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

namespace Profiler {

namespace {

constexpr int kPerfRegisterSp = 7;
constexpr int kPerfRegisterIp = 8;
constexpr unsigned kDwarfRegisterSp = 7;
constexpr unsigned kDwarfRegisterCount = 17; ///< rax..r15 and the return address (rip)
/// The DWARF number of each of perf's x86-64 registers; -1 for those CFI never refers to.
constexpr std::array<int8_t, 24> kDwarfRegister = {0,  3,  2,  1,  4, 5, 6,  7,  16, -1, -1, -1,
                                                   -1, -1, -1, -1, 8, 9, 10, 11, 12, 13, 14, 15};

} // namespace

const UnwindMapping* UnwindAddressSpace::Find(uint64_t address) const
{
    auto after =
        std::upper_bound(Mappings.begin(), Mappings.end(), address,
                         [](uint64_t value, const UnwindMapping& mapping) { return value < mapping.Start; });
    if (after == Mappings.begin())
        return nullptr;
    const UnwindMapping& mapping = *std::prev(after);
    return address < mapping.End ? &mapping : nullptr;
}

void UnwindAddressSpace::ReadProcMaps(std::istream& input)
{
    for (std::string line; std::getline(input, line);) {
        unsigned long long start = 0, end = 0, offset = 0;
        char permissions[5] = {};
        int pathAt = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx %4s %llx %*s %*s %n", &start, &end, permissions, &offset,
                        &pathAt) >= 4)
            Mappings.push_back({start, end, offset, line.substr(static_cast<std::size_t>(pathAt)),
                                permissions[2] == 'x'});
    }
}

/// What the callbacks of a session read while one sample is unwound.
struct StackUnwinder::Sample {
    std::array<uint64_t, kDwarfRegisterCount> Registers{};
    uint32_t SetRegisters = 0; ///< bit per DWARF register
    uint64_t Ip = 0;
    uint64_t Sp = 0;
    std::span<const std::byte> Stack;
    const UnwindAddressSpace* Space = nullptr;
};

/// An ELF file opened once for every session that maps it. libdwfl gets counted references to
/// the one libelf handle, so a module of a new process costs no open, no mapping and no
/// header parsing.
class StackUnwinder::ImageFile {
public:
    explicit ImageFile(const std::string& path)
    {
        mFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (mFd < 0)
            return;
        mElf = elf_begin(mFd, ELF_C_READ_MMAP, nullptr);
        GElf_Ehdr header;
        std::size_t count = 0;
        if (mElf == nullptr || elf_kind(mElf) != ELF_K_ELF || gelf_getclass(mElf) != ELFCLASS64 ||
            gelf_getehdr(mElf, &header) == nullptr || elf_getphdrnum(mElf, &count) != 0) {
            Close();
            return;
        }
        mMachine = header.e_machine;
        mType = header.e_type;
        for (std::size_t i = 0; i < count; ++i) {
            GElf_Phdr program;
            if (gelf_getphdr(mElf, static_cast<int>(i), &program) != nullptr && program.p_type == PT_LOAD)
                mLoads.push_back(program);
        }
        std::size_t size = 0;
        mBytes = reinterpret_cast<const std::byte*>(elf_rawfile(mElf, &size));
        mSize = mBytes != nullptr ? size : 0;
        if (mLoads.empty() || (mType != ET_EXEC && mType != ET_DYN))
            Close();
    }
    ~ImageFile() { Close(); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    Elf* GetElf() const { return mElf; }
    uint16_t GetMachine() const { return mMachine; }

    /// Another reference to the handle, for a module that libdwfl ends on its own.
    Elf* Share() const { return elf_begin(mFd, ELF_C_READ_MMAP, mElf); }

    /// Where the file lies when `mapping` maps a part of it: [low, high) spans all its loadable
    /// segments, as libdwfl places a module (from the first segment's aligned start).
    bool Place(const UnwindMapping& mapping, uint64_t& low, uint64_t& high) const
    {
        if (mElf == nullptr)
            return false;
        uint64_t bias = 0;
        if (mType == ET_DYN) {
            // The segment holding the mapped offset tells which of the file's addresses the
            // mapping starts at; its offset and address differ by a multiple of the page size.
            const auto holder = std::find_if(mLoads.begin(), mLoads.end(), [&](const GElf_Phdr& load) {
                return mapping.PageOffset >= (load.p_offset & ~uint64_t(4095)) &&
                       mapping.PageOffset < load.p_offset + std::max(load.p_filesz, uint64_t(1));
            });
            if (holder == mLoads.end())
                return false;
            bias = mapping.Start - mapping.PageOffset - (holder->p_vaddr - holder->p_offset);
        }
        const GElf_Phdr& first = mLoads.front();
        low = bias + (first.p_vaddr & -first.p_align);
        high = low;
        for (const GElf_Phdr& load : mLoads)
            high = std::max<uint64_t>(high, bias + load.p_vaddr + load.p_memsz);
        return high > low;
    }

    /// The 8 bytes at `offset` of the file.
    bool Read(uint64_t offset, uint64_t& value) const
    {
        if (mSize < sizeof(value) || offset > mSize - sizeof(value))
            return false;
        std::memcpy(&value, mBytes + offset, sizeof(value));
        return true;
    }

private:
    void Close()
    {
        if (mElf != nullptr)
            elf_end(mElf);
        if (mFd >= 0)
            close(mFd);
        mElf = nullptr;
        mFd = -1;
        mBytes = nullptr;
        mSize = 0;
    }

    int mFd = -1;
    Elf* mElf = nullptr;
    uint16_t mMachine = EM_NONE;
    uint16_t mType = ET_NONE;
    std::vector<GElf_Phdr> mLoads;
    const std::byte* mBytes = nullptr; ///< the file's contents as libelf mapped them
    std::size_t mSize = 0;
};

/// One process: a libdwfl session whose modules follow the process's address space, and the
/// callbacks through which libdwfl reads the sample being unwound.
class StackUnwinder::Session {
public:
    Session(StackUnwinder& owner, int32_t processId) : mOwner(owner), mThreadId(processId > 0 ? processId : 1)
    {
        static const Dwfl_Callbacks kCallbacks = {&FindElf, &FindDebugInfo, &dwfl_offline_section_address,
                                                  nullptr};
        mDwfl = dwfl_begin(&kCallbacks);
    }
    ~Session()
    {
        if (mDwfl != nullptr)
            dwfl_end(mDwfl);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Reports the modules of `space` unless its version was reported already. A different
    /// space of the same version (a new address space after exec, say) is compared in full.
    void Follow(const std::shared_ptr<const UnwindAddressSpace>& followed)
    {
        if (mDwfl == nullptr || followed == mSpace)
            return;
        const bool known = mSpace != nullptr && mSpace->Version == followed->Version &&
                           mSpace->Mappings == followed->Mappings;
        mSpace = followed;
        if (known)
            return;
        const UnwindAddressSpace& space = *followed;

        std::vector<Module> wanted;
        for (const UnwindMapping& mapping : space.Mappings) {
            // Anonymous memory, [vdso], [stack] and the like have no file to read CFI from.
            if (!mapping.Executable || mapping.Path.empty() || mapping.Path.front() != '/')
                continue;
            ImageFile& file = mOwner.OpenFile(mapping.Path);
            Module module{&file, &mapping.Path, 0, 0};
            if (file.GetMachine() == mOwner.mMachine && file.Place(mapping, module.Low, module.High))
                wanted.push_back(module);
        }
        std::sort(wanted.begin(), wanted.end());
        wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

        // An unmapped module could shadow what took its place: then everything is reported
        // afresh (libdwfl keeps the modules reported again unchanged and drops the others).
        const bool onlyAdded = std::includes(wanted.begin(), wanted.end(), mModules.begin(), mModules.end());
        if (onlyAdded)
            dwfl_report_begin_add(mDwfl);
        else
            dwfl_report_begin(mDwfl);
        for (const Module& module : wanted) {
            if (onlyAdded && std::binary_search(mModules.begin(), mModules.end(), module))
                continue;
            Dwfl_Module* reported = dwfl_report_module(mDwfl, module.Path->c_str(), module.Low, module.High);
            void** userData = nullptr;
            if (reported != nullptr && dwfl_module_info(reported, &userData, nullptr, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr) != nullptr)
                *userData = module.File;
        }
        dwfl_report_end(mDwfl, nullptr, nullptr);
        mModules = std::move(wanted);

        if (!mAttached && !mModules.empty()) {
            static const Dwfl_Thread_Callbacks kThreadCallbacks = {
                &NextThread, &GetThread, &ReadMemory, &SetInitialRegisters, nullptr, nullptr};
            mAttached =
                dwfl_attach_state(mDwfl, mModules.front().File->GetElf(), mThreadId, &kThreadCallbacks, this);
        }
    }

    /// Appends the frames above the sampled one (which the caller appended); returns how many.
    std::size_t Walk(const Sample& sample, std::vector<uint64_t>& ips, std::size_t maxFrames)
    {
        if (!mAttached)
            return 0;
        Walker walker{mDwfl, ips, maxFrames, sample.Sp, {sample.Ip}};
        mSample = &sample;
        dwfl_getthread_frames(mDwfl, mThreadId, &Walker::OnFrame, &walker);
        mSample = nullptr;
        return walker.Appended;
    }

private:
    struct Module {
        ImageFile* File = nullptr;
        const std::string* Path = nullptr; ///< valid while reporting only
        uint64_t Low = 0;
        uint64_t High = 0;

        bool operator<(const Module& other) const
        {
            return Low != other.Low ? Low < other.Low : std::less<>()(File, other.File);
        }
        bool operator==(const Module& other) const { return Low == other.Low && File == other.File; }
    };

    struct Walker {
        Dwfl* Handle = nullptr;
        std::vector<uint64_t>& Ips;
        std::size_t MaxFrames = 0;
        uint64_t LastSp = 0;
        std::vector<uint64_t> PcsAtSp; ///< the frames seen at LastSp, to stop cycles
        std::size_t Frames = 0;        ///< seen, including the sampled one
        std::size_t Appended = 0;      ///< the sampled frame is not among them

        static int OnFrame(Dwfl_Frame* frame, void* argument)
        {
            return static_cast<Walker*>(argument)->Visit(frame) ? DWARF_CB_OK : DWARF_CB_ABORT;
        }

        bool Visit(Dwfl_Frame* frame)
        {
            Dwarf_Addr pc = 0;
            if (!dwfl_frame_pc(frame, &pc, nullptr))
                return false;
            if (Frames++ > 0) {
                Dwarf_Word sp = 0;
                if (pc == 0 || dwfl_frame_reg(frame, kDwarfRegisterSp, &sp) != 0 || !Advance(pc, sp))
                    return false;
                Ips.push_back(pc);
                if (++Appended + 1 >= MaxFrames)
                    return false;
            }
            // Code outside every module has no CFI: unwinding on would only guess with the frame
            // pointer. A return address points after its call, which may end the function.
            return dwfl_addrmodule(Handle, Frames == 1 ? pc : pc - 1) != nullptr;
        }

        /// False when the stack goes nowhere: downwards, or to a frame it has seen.
        bool Advance(uint64_t pc, uint64_t sp)
        {
            if (sp < LastSp)
                return false;
            if (sp > LastSp)
                PcsAtSp.clear();
            else if (std::find(PcsAtSp.begin(), PcsAtSp.end(), pc) != PcsAtSp.end())
                return false;
            PcsAtSp.push_back(pc);
            LastSp = sp;
            return true;
        }
    };

    static int FindElf(Dwfl_Module*, void** userData, const char*, Dwarf_Addr, char**, Elf** elf)
    {
        const auto* file = static_cast<const ImageFile*>(*userData);
        if (file != nullptr && file->GetElf() != nullptr)
            *elf = file->Share();
        return -1; // no descriptor of libdwfl's own: the file keeps it
    }

    static int FindDebugInfo(Dwfl_Module*, void**, const char*, Dwarf_Addr, const char*, const char*,
                             GElf_Word, char**)
    {
        // .eh_frame is in every loaded image; searching separate debug files for .debug_frame
        // would cost more than the few frames it could add.
        return -1;
    }

    static pid_t NextThread(Dwfl*, void*, void**) { return 0; }

    static bool GetThread(Dwfl*, pid_t, void* session, void** threadArgument)
    {
        *threadArgument = session;
        return true;
    }

    static bool SetInitialRegisters(Dwfl_Thread* thread, void* argument)
    {
        const Sample* sample = static_cast<Session*>(argument)->mSample;
        if (sample == nullptr)
            return false;
        for (unsigned reg = 0; reg < kDwarfRegisterCount; ++reg)
            if ((sample->SetRegisters >> reg & 1) != 0 &&
                !dwfl_thread_state_registers(thread, static_cast<int>(reg), 1, &sample->Registers[reg]))
                return false;
        dwfl_thread_state_register_pc(thread, sample->Ip);
        return true;
    }

    static bool ReadMemory(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void* argument)
    {
        const auto& session = *static_cast<Session*>(argument);
        const Sample* sample = session.mSample;
        if (sample == nullptr)
            return false;
        const std::size_t stackSize = sample->Stack.size();
        if (address >= sample->Sp && stackSize >= sizeof(*result) &&
            address - sample->Sp <= stackSize - sizeof(*result)) {
            std::memcpy(result, sample->Stack.data() + (address - sample->Sp), sizeof(*result));
            return true;
        }
        // Outside the stack copy only what the files hold can be known: read-only data such
        // as jump tables that CFI expressions may look at. Written data may differ: no guess.
        const UnwindMapping* mapping = sample->Space != nullptr ? sample->Space->Find(address) : nullptr;
        if (mapping == nullptr || mapping->Path.empty() || mapping->Path.front() != '/' ||
            address + sizeof(*result) > mapping->End)
            return false;
        uint64_t value = 0;
        if (!session.mOwner.OpenFile(mapping->Path)
                 .Read(address - mapping->Start + mapping->PageOffset, value))
            return false;
        *result = value;
        return true;
    }

    StackUnwinder& mOwner;
    pid_t mThreadId;
    Dwfl* mDwfl = nullptr;
    bool mAttached = false;
    std::shared_ptr<const UnwindAddressSpace> mSpace; ///< the one reported last
    std::vector<Module> mModules;                     ///< reported, by address
    const Sample* mSample = nullptr;                  ///< while a sample is unwound
};

StackUnwinder::StackUnwinder() : mMachine(EM_X86_64)
{
    elf_version(EV_CURRENT);
}

StackUnwinder::~StackUnwinder()
{
    mSessions.clear(); // before the files their modules share
}

StackUnwinder::ImageFile& StackUnwinder::OpenFile(const std::string& path)
{
    auto [found, added] = mFiles.try_emplace(path);
    if (added)
        found->second = std::make_unique<ImageFile>(path);
    return *found->second;
}

void StackUnwinder::ForgetProcess(int32_t processId)
{
    mSessions.erase(processId);
}

std::size_t StackUnwinder::Unwind(int32_t processId, const std::shared_ptr<const UnwindAddressSpace>& space,
                                  uint64_t regsMask, std::span<const uint64_t> regs,
                                  std::span<const std::byte> stack, std::vector<uint64_t>& ips,
                                  std::size_t maxFrames)
{
    if (mMachine != EM_X86_64 || maxFrames == 0)
        return 0;
    Sample sample;
    bool hasIp = false;
    bool hasSp = false;
    std::size_t index = 0;
    for (uint64_t mask = regsMask; mask != 0 && index < regs.size(); mask &= mask - 1, ++index) {
        const int perfRegister = std::countr_zero(mask);
        const uint64_t value = regs[index];
        if (perfRegister == kPerfRegisterIp) {
            sample.Ip = value;
            hasIp = true;
        } else if (perfRegister == kPerfRegisterSp) {
            sample.Sp = value;
            hasSp = true;
        }
        if (perfRegister < static_cast<int>(kDwarfRegister.size()) && kDwarfRegister[perfRegister] >= 0) {
            sample.Registers[kDwarfRegister[perfRegister]] = value;
            sample.SetRegisters |= 1u << kDwarfRegister[perfRegister];
        }
    }
    if (!hasIp || !hasSp)
        return 0;
    sample.Stack = stack;
    sample.Space = space.get();

    ips.push_back(sample.Ip);
    if (maxFrames == 1 || space == nullptr)
        return 1;
    auto [found, added] = mSessions.try_emplace(processId);
    if (added)
        found->second = std::make_unique<Session>(*this, processId);
    Session& session = *found->second;
    session.Follow(space);
    return 1 + session.Walk(sample, ips, maxFrames);
}

} // namespace Profiler
