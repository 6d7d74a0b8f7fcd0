#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef struct Elf Elf;

namespace Profiler {

/// A function symbol of an ELF symbol table.
struct ElfSymbol {
    uint64_t Address = 0;
    uint64_t Size = 0; ///< 0 when the table gave none; then it reaches to the next symbol
    std::string Name;  ///< demangled
};

/// An open ELF file read through libelf. Every accessor tolerates damaged files: what cannot be
/// read is reported as absent, never trusted.
class ElfImage {
public:
    ElfImage() = default;
    ~ElfImage();
    ElfImage(const ElfImage&) = delete;
    ElfImage& operator=(const ElfImage&) = delete;

    /// False, with the reason, when the file cannot be opened or is not ELF.
    [[nodiscard]] bool Open(const std::string& path, std::string& error);

    Elf* GetElf() const { return mElf; }
    const std::string& GetPath() const { return mPath; }
    uint16_t GetMachine() const { return mMachine; }
    /// The GNU build id as lower-case hex; empty when the file has none.
    const std::string& GetBuildId() const { return mBuildId; }
    /// The .gnu_debuglink name and checksum, when present.
    const std::optional<std::pair<std::string, uint32_t>>& GetDebugLink() const { return mDebugLink; }
    /// Whether the file carries DWARF (a .debug_info section with contents).
    bool HasDebugInfo() const { return mHasDebugInfo; }

    /// Function symbols, .symtab preferred over .dynsym, sorted by address, one per address.
    std::vector<ElfSymbol> ReadFunctionSymbols() const;
    /// One "NAME@plt" symbol per entry of the procedure linkage table (x86-64 layouts, with or
    /// without a separate .plt.sec), sorted by address: calls into other modules pass there.
    std::vector<ElfSymbol> ReadPltSymbols() const;
    /// The bytes of [address, address + size) from the executable section that holds them.
    bool ReadCode(uint64_t address, uint64_t size, std::vector<uint8_t>& bytes) const;

private:
    void ReadIdentity();

    int mFd = -1;
    Elf* mElf = nullptr;
    std::string mPath;
    uint16_t mMachine = 0;
    std::string mBuildId;
    std::optional<std::pair<std::string, uint32_t>> mDebugLink;
    bool mHasDebugInfo = false;
};

/// The CRC-32 that .gnu_debuglink records of its debug file; nullopt when it cannot be read.
std::optional<uint32_t> ComputeFileCrc32(const std::string& path);

} // namespace Profiler
