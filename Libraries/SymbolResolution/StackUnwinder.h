#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace Profiler {

/// One file mapping of a process (a perf MMAP/MMAP2 record): [Start, End) maps the file `Path`
/// from file offset PageOffset.
struct UnwindMapping {
    uint64_t Start = 0;
    uint64_t End = 0;
    uint64_t PageOffset = 0;
    std::string Path;
    bool Executable = true;

    bool operator==(const UnwindMapping&) const = default;
};

/// A process's mappings at one moment, sorted by Start, immutable once made. A new
/// mmap makes a new UnwindAddressSpace (copy plus the new mapping) with a higher Version.
struct UnwindAddressSpace {
    std::vector<UnwindMapping> Mappings;
    uint64_t Version = 0;
    /// The mapping holding `address`, or null.
    const UnwindMapping* Find(uint64_t address) const;
    /// Adds the mappings of the lines in the form of /proc/PID/maps that follow in `input` (a
    /// live process's address space); lines of another form are skipped.
    void ReadProcMaps(std::istream& input);
};

/// Unwinds user stacks copied by perf (sample_regs_user + sample_stack_user) with the modules'
/// CFI (.eh_frame / .debug_frame). One instance per thread: not thread-safe, keeps one libdwfl
/// session per process, reused across samples, updated when the process's address space Version
/// changes (report only the mappings that are new). x86-64 only; other architectures return 0 frames.
///
/// Files are opened once per unwinder and shared by the sessions of all processes. Special
/// mappings ([vdso], anonymous memory, JIT code) have no module: a frame in them ends the stack.
class StackUnwinder {
public:
    StackUnwinder();
    ~StackUnwinder();
    StackUnwinder(const StackUnwinder&) = delete;
    StackUnwinder& operator=(const StackUnwinder&) = delete;

    /// Appends the return addresses of the stack to `ips`, innermost first, starting with the
    /// sampled instruction pointer itself; at most maxFrames. `regs` holds the values of the
    /// registers whose bits are set in `regsMask`, in bit order (perf's x86-64 register numbering:
    /// AX=0 BX=1 CX=2 DX=3 SI=4 DI=5 BP=6 SP=7 IP=8 FLAGS=9 CS..GS=10..15 R8..R15=16..23).
    /// `stack` is the copy of the stack memory from the sampled SP upwards. Returns the number
    /// of frames appended (0 when the registers lack IP or SP).
    /// Pass only the dyn_size bytes of perf's copy: the rest of its buffer is not stack.
    std::size_t Unwind(int32_t processId, const std::shared_ptr<const UnwindAddressSpace>& space,
                       uint64_t regsMask, std::span<const uint64_t> regs, std::span<const std::byte> stack,
                       std::vector<uint64_t>& ips, std::size_t maxFrames = 512);
    /// Drops the session of a process that ended.
    void ForgetProcess(int32_t processId);

    /// The recording's architecture as an ELF machine number (EM_X86_64 unless set). For any
    /// other, Unwind returns 0 frames: the register numbering above is x86-64's.
    void SetMachine(uint16_t elfMachine) { mMachine = elfMachine; }

    /// Processes with a session, and files opened (readable or not), for tests and diagnostics.
    std::size_t GetSessionCount() const { return mSessions.size(); }
    std::size_t GetOpenedFileCount() const { return mFiles.size(); }

private:
    class ImageFile;
    class Session;
    struct Sample;

    /// The file at `path`, opened on first use; never null, but unusable when it cannot be read.
    ImageFile& OpenFile(const std::string& path);

    uint16_t mMachine;
    // Sessions hold references to the files: they go first.
    std::unordered_map<std::string, std::unique_ptr<ImageFile>> mFiles;
    std::unordered_map<int32_t, std::unique_ptr<Session>> mSessions;
};

} // namespace Profiler
