#include "SymbolResolution/ElfImage.h"

#include "SymbolResolution/Demangle.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

namespace Profiler {

namespace {

constexpr uint32_t kNoteGnuBuildId = 3; // NT_GNU_BUILD_ID

void EnsureElfVersion()
{
    static const bool kInitialized = elf_version(EV_CURRENT) != EV_NONE;
    (void)kInitialized;
}

std::string ToHex(const uint8_t* bytes, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string FindBuildIdInData(Elf_Data* data)
{
    if (data == nullptr || data->d_buf == nullptr)
        return {};
    std::size_t offset = 0;
    GElf_Nhdr header;
    std::size_t nameOffset = 0;
    std::size_t descOffset = 0;
    while (offset < data->d_size &&
           (offset = gelf_getnote(data, offset, &header, &nameOffset, &descOffset)) > 0) {
        const auto* base = static_cast<const uint8_t*>(data->d_buf);
        if (header.n_type == kNoteGnuBuildId && header.n_namesz == 4 &&
            std::memcmp(base + nameOffset, "GNU", 4) == 0 && header.n_descsz > 0 &&
            descOffset + header.n_descsz <= data->d_size)
            return ToHex(base + descOffset, header.n_descsz);
    }
    return {};
}

} // namespace

ElfImage::~ElfImage()
{
    if (mElf != nullptr)
        elf_end(mElf);
    if (mFd >= 0)
        close(mFd);
}

bool ElfImage::Open(const std::string& path, std::string& error)
{
    EnsureElfVersion();
    mPath = path;
    mFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (mFd < 0) {
        error = std::strerror(errno);
        return false;
    }
    mElf = elf_begin(mFd, ELF_C_READ_MMAP, nullptr);
    if (mElf == nullptr || elf_kind(mElf) != ELF_K_ELF) {
        error = "not an ELF file";
        return false;
    }
    GElf_Ehdr header;
    if (gelf_getehdr(mElf, &header) == nullptr) {
        error = std::string("unreadable ELF header: ") + elf_errmsg(-1);
        return false;
    }
    mMachine = header.e_machine;
    ReadIdentity();
    return true;
}

void ElfImage::ReadIdentity()
{
    std::size_t stringSection = 0;
    if (elf_getshdrstrndx(mElf, &stringSection) != 0)
        stringSection = 0;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(mElf, section)) != nullptr) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr)
            continue;
        const char* name = stringSection ? elf_strptr(mElf, stringSection, header.sh_name) : nullptr;
        if (header.sh_type == SHT_NOTE && mBuildId.empty()) {
            mBuildId = FindBuildIdInData(elf_getdata(section, nullptr));
        } else if (name != nullptr && std::strcmp(name, ".gnu_debuglink") == 0) {
            Elf_Data* data = elf_getdata(section, nullptr);
            if (data == nullptr || data->d_buf == nullptr || data->d_size < 8)
                continue;
            const char* text = static_cast<const char*>(data->d_buf);
            const std::size_t length = strnlen(text, data->d_size);
            const std::size_t crcOffset = (length + 4) & ~std::size_t(3);
            if (length == 0 || crcOffset + 4 > data->d_size)
                continue;
            uint32_t crc = 0;
            std::memcpy(&crc, text + crcOffset, 4); // stored in the file's byte order; ours is LE
            mDebugLink = std::make_pair(std::string(text, length), crc);
        } else if (name != nullptr && header.sh_type != SHT_NOBITS && header.sh_size > 0 &&
                   (std::strcmp(name, ".debug_info") == 0 || std::strcmp(name, ".zdebug_info") == 0)) {
            mHasDebugInfo = true;
        }
    }
    if (mBuildId.empty()) {
        // Section headers may be stripped away; the note segment still names the build.
        std::size_t count = 0;
        if (elf_getphdrnum(mElf, &count) == 0) {
            for (std::size_t i = 0; i < count && mBuildId.empty(); ++i) {
                GElf_Phdr program;
                if (gelf_getphdr(mElf, static_cast<int>(i), &program) == nullptr || program.p_type != PT_NOTE)
                    continue;
                mBuildId = FindBuildIdInData(elf_getdata_rawchunk(
                    mElf, static_cast<int64_t>(program.p_offset), program.p_filesz, ELF_T_NHDR));
            }
        }
    }
}

std::vector<ElfSymbol> ElfImage::ReadFunctionSymbols() const
{
    std::unordered_map<std::size_t, bool> codeSections;
    auto IsCodeSection = [&](std::size_t index) {
        auto [found, added] = codeSections.try_emplace(index, false);
        GElf_Shdr header;
        if (added) {
            Elf_Scn* section = elf_getscn(mElf, index);
            found->second = section != nullptr && gelf_getshdr(section, &header) != nullptr &&
                            (header.sh_flags & SHF_EXECINSTR) != 0; // NOBITS in a debug file
        }
        return found->second;
    };
    struct Candidate {
        ElfSymbol Symbol;
        int Binding;
    };
    std::vector<Candidate> candidates;
    for (const uint32_t type : {SHT_SYMTAB, SHT_DYNSYM}) {
        Elf_Scn* section = nullptr;
        while ((section = elf_nextscn(mElf, section)) != nullptr) {
            GElf_Shdr header;
            if (gelf_getshdr(section, &header) == nullptr || header.sh_type != type || header.sh_entsize == 0)
                continue;
            Elf_Data* data = elf_getdata(section, nullptr);
            if (data == nullptr)
                continue;
            const std::size_t count = header.sh_size / header.sh_entsize;
            for (std::size_t i = 0; i < count; ++i) {
                GElf_Sym symbol;
                if (gelf_getsym(data, static_cast<int>(i), &symbol) == nullptr)
                    break;
                const int kind = GELF_ST_TYPE(symbol.st_info);
                if (symbol.st_shndx == SHN_UNDEF || symbol.st_shndx >= SHN_LORESERVE || symbol.st_value == 0)
                    continue;
                // Untyped labels in code name entry points written in assembly (_start and
                // the like); other untyped symbols mark data or section bounds.
                if (kind != STT_FUNC && kind != STT_GNU_IFUNC && (kind != STT_NOTYPE || !IsCodeSection(symbol.st_shndx)))
                    continue;
                const char* name = elf_strptr(mElf, header.sh_link, symbol.st_name);
                if (name == nullptr || *name == '\0')
                    continue;
                candidates.push_back({{symbol.st_value, symbol.st_size, Demangle(name)}, GELF_ST_BIND(symbol.st_info)});
            }
        }
        if (!candidates.empty())
            break;
    }
    // Aliases share an address; one name stands for them all, chosen as the usual Linux tools
    // choose so that a stack reads the same here as in their output: one with a size, then a
    // global one over a local one over a weak one, then the fewest leading underscores, then
    // the longest name.
    auto rank = [](const Candidate& c) {
        const std::string& name = c.Symbol.Name;
        const int binding = c.Binding == STB_GLOBAL ? 2 : c.Binding == STB_WEAK ? 0 : 1;
        const auto underscores = static_cast<int>(name.find_first_not_of('_'));
        return std::make_tuple(c.Symbol.Size != 0, binding, -underscores, name.size());
    };
    std::stable_sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
        return a.Symbol.Address != b.Symbol.Address ? a.Symbol.Address < b.Symbol.Address : rank(a) > rank(b);
    });
    std::vector<ElfSymbol> symbols;
    symbols.reserve(candidates.size());
    for (Candidate& candidate : candidates)
        if (symbols.empty() || symbols.back().Address != candidate.Symbol.Address)
            symbols.push_back(std::move(candidate.Symbol));
    return symbols;
}

std::vector<ElfSymbol> ElfImage::ReadPltSymbols() const
{
    std::vector<ElfSymbol> symbols;
    std::size_t namesIndex = 0;
    if (mElf == nullptr || mMachine != EM_X86_64 || elf_getshdrstrndx(mElf, &namesIndex) != 0)
        return symbols;
    Elf_Scn* relocations = nullptr;
    GElf_Shdr relocationHeader = {}, pltHeader = {}, pltSecHeader = {};
    bool havePlt = false, havePltSec = false;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(mElf, section)) != nullptr) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr)
            continue;
        const char* name = elf_strptr(mElf, namesIndex, header.sh_name);
        if (name == nullptr)
            continue;
        if (std::strcmp(name, ".rela.plt") == 0 && header.sh_type == SHT_RELA) {
            relocations = section;
            relocationHeader = header;
        } else if (std::strcmp(name, ".plt") == 0 && header.sh_type == SHT_PROGBITS) {
            pltHeader = header;
            havePlt = true;
        } else if (std::strcmp(name, ".plt.sec") == 0 && header.sh_type == SHT_PROGBITS) {
            pltSecHeader = header;
            havePltSec = true;
        }
    }
    if (relocations == nullptr || !havePlt || relocationHeader.sh_entsize == 0)
        return symbols;
    Elf_Data* data = elf_getdata(relocations, nullptr);
    Elf_Scn* symbolSection = elf_getscn(mElf, relocationHeader.sh_link);
    GElf_Shdr symbolHeader;
    Elf_Data* symbolData = symbolSection ? elf_getdata(symbolSection, nullptr) : nullptr;
    if (data == nullptr || symbolData == nullptr || gelf_getshdr(symbolSection, &symbolHeader) == nullptr)
        return symbols;
    // x86-64 entries are 16 bytes; .plt starts with a 16-byte header unless the entries were
    // moved to .plt.sec (indirect branch tracking), which has none.
    constexpr uint64_t kEntryBytes = 16;
    const uint64_t first = havePltSec ? pltSecHeader.sh_addr : pltHeader.sh_addr + kEntryBytes;
    const uint64_t limit = havePltSec ? pltSecHeader.sh_addr + pltSecHeader.sh_size : pltHeader.sh_addr + pltHeader.sh_size;
    const std::size_t count = relocationHeader.sh_size / relocationHeader.sh_entsize;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Rela relocation;
        const uint64_t address = first + i * kEntryBytes;
        if (gelf_getrela(data, static_cast<int>(i), &relocation) == nullptr || address + kEntryBytes > limit)
            break;
        const char* name = "";
        GElf_Sym symbol;
        if (GELF_R_SYM(relocation.r_info) != 0 &&
            gelf_getsym(symbolData, static_cast<int>(GELF_R_SYM(relocation.r_info)), &symbol) != nullptr)
            if (const char* text = elf_strptr(mElf, symbolHeader.sh_link, symbol.st_name))
                name = text;
        symbols.push_back({address, kEntryBytes, Demangle(name) + "@plt"});
    }
    return symbols;
}

bool ElfImage::ReadCode(uint64_t address, uint64_t size, std::vector<uint8_t>& bytes) const
{
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(mElf, section)) != nullptr) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr || header.sh_type != SHT_PROGBITS ||
            (header.sh_flags & SHF_EXECINSTR) == 0)
            continue;
        if (address < header.sh_addr || address - header.sh_addr >= header.sh_size)
            continue;
        Elf_Data* data = elf_getdata(section, nullptr);
        if (data == nullptr || data->d_buf == nullptr)
            return false;
        const uint64_t offset = address - header.sh_addr;
        const uint64_t available =
            std::min<uint64_t>(data->d_size, header.sh_size) - std::min<uint64_t>(offset, data->d_size);
        const uint64_t count = std::min(size, available);
        const auto* begin = static_cast<const uint8_t*>(data->d_buf) + offset;
        bytes.assign(begin, begin + count);
        return count > 0;
    }
    return false;
}

std::optional<uint32_t> ComputeFileCrc32(const std::string& path)
{
    static const std::array<uint32_t, 256> kTable = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            table[i] = value;
        }
        return table;
    }();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    uint32_t crc = 0xFFFFFFFFu;
    std::array<uint8_t, 65536> buffer;
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        for (std::size_t i = 0; i < read; ++i)
            crc = kTable[(crc ^ buffer[i]) & 0xFF] ^ (crc >> 8);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return crc ^ 0xFFFFFFFFu;
}

} // namespace Profiler
