#include "SymbolResolution/ModuleSymbols.h"

#include "SymbolResolution/DebugFileLocator.h"
#include "SymbolResolution/Demangle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dwarf.h>
#include <elf.h>
#include <elfutils/libdw.h>
#include <filesystem>
#include <gelf.h>
#include <iterator>

namespace Profiler {

namespace {

/// Deep enough for any real program; damaged files with cyclic or absurd nesting stop here.
constexpr int kMaxDieDepth = 64;
/// How many earlier functions may overlap an address (duplicated code in several units).
constexpr int kOverlapScan = 8;

} // namespace

/// Reads the line table and the function and inline scopes of one compile unit.
class DwarfIndexer {
public:
    explicit DwarfIndexer(ModuleSymbols::Unit& unit) : mUnit(unit) {}

    void Run(Dwarf* dwarf)
    {
        mUnit.Intern(""); // index 0 is "nothing"
        Dwarf_Die die;
        if (dwarf_offdie(dwarf, mUnit.DieOffset, &die) != nullptr)
            IndexUnit(die);
        auto& rows = mUnit.Rows;
        // An end of sequence sorts before a row starting at the same address, so the row wins.
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
            return a.Address != b.Address ? a.Address < b.Address : a.EndSequence > b.EndSequence;
        });
        auto byLow = [this](uint32_t a, uint32_t b) { return mUnit.Ranges[a].Low < mUnit.Ranges[b].Low; };
        std::sort(mUnit.TopRanges.begin(), mUnit.TopRanges.end(), byLow);
        for (auto& scope : mUnit.Scopes)
            std::sort(scope.ChildRanges.begin(), scope.ChildRanges.end(), byLow);
    }

private:
    void IndexUnit(Dwarf_Die& unit)
    {
        mFiles = nullptr;
        mFileCount = 0;
        mFileIndex.clear();
        mPathIndex.clear();
        Dwarf_Attribute attribute;
        const char* compDir = dwarf_formstring(dwarf_attr(&unit, DW_AT_comp_dir, &attribute));
        mCompDir = compDir ? compDir : "";
        dwarf_getsrcfiles(&unit, &mFiles, &mFileCount);

        Dwarf_Lines* lines = nullptr;
        std::size_t lineCount = 0;
        if (dwarf_getsrclines(&unit, &lines, &lineCount) == 0) {
            for (std::size_t i = 0; i < lineCount; ++i) {
                Dwarf_Line* line = dwarf_onesrcline(lines, i);
                Dwarf_Addr address = 0;
                int number = 0;
                bool end = false;
                if (line == nullptr || dwarf_lineaddr(line, &address) != 0 ||
                    dwarf_lineno(line, &number) != 0 || dwarf_lineendsequence(line, &end) != 0)
                    continue;
                mUnit.Rows.push_back({address, Path(dwarf_linesrc(line, nullptr, nullptr)), number, end});
            }
        }
        Dwarf_Die child;
        if (dwarf_child(&unit, &child) == 0)
            IndexChildren(child, -1, 0);
    }

    uint32_t FileName(Dwarf_Word index)
    {
        if (mFiles == nullptr || index >= mFileCount)
            return 0;
        auto [found, added] = mFileIndex.try_emplace(index, 0);
        if (added) {
            found->second = Path(dwarf_filesrc(mFiles, index, nullptr, nullptr));
        }
        return found->second;
    }

    /// A file name of the unit as an absolute path: names relative to the build directory (as
    /// compilers write them when invoked with relative paths) are joined to the unit's directory.
    uint32_t Path(const char* name)
    {
        if (name == nullptr)
            return 0;
        auto [found, added] = mPathIndex.try_emplace(name, 0);
        if (added) {
            std::filesystem::path path(name);
            if (path.is_relative() && !mCompDir.empty())
                path = (std::filesystem::path(mCompDir) / path).lexically_normal();
            found->second = mUnit.Intern(path.string());
        }
        return found->second;
    }

    uint32_t FunctionName(Dwarf_Die& die)
    {
        Dwarf_Attribute attribute;
        const char* linkage = dwarf_formstring(dwarf_attr_integrate(&die, DW_AT_linkage_name, &attribute));
        if (linkage == nullptr)
            linkage = dwarf_formstring(dwarf_attr_integrate(&die, DW_AT_MIPS_linkage_name, &attribute));
        if (linkage != nullptr)
            return mUnit.Intern(Demangle(linkage));
        const char* name = dwarf_formstring(dwarf_attr_integrate(&die, DW_AT_name, &attribute));
        return mUnit.Intern(name ? name : "??");
    }

    /// Adds the scope of a function or an inlined call with its ranges; false when it has none.
    bool AddScope(Dwarf_Die& die, int32_t parent, uint32_t& index)
    {
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        Dwarf_Addr base = 0, start = 0, end = 0;
        ptrdiff_t offset = 0;
        while ((offset = dwarf_ranges(&die, offset, &base, &start, &end)) > 0 && ranges.size() < 4096)
            if (end > start)
                ranges.emplace_back(start, end);
        if (ranges.empty())
            return false;
        ModuleSymbols::Scope scope;
        scope.Name = FunctionName(die);
        Dwarf_Attribute attribute;
        Dwarf_Word value = 0;
        if (parent >= 0) {
            if (dwarf_formudata(dwarf_attr(&die, DW_AT_call_file, &attribute), &value) == 0)
                scope.CallFile = FileName(value);
            if (dwarf_formudata(dwarf_attr(&die, DW_AT_call_line, &attribute), &value) == 0)
                scope.CallLine = static_cast<int32_t>(value);
        } else {
            scope.DeclFile = Path(dwarf_decl_file(&die));
            int line = 0;
            if (dwarf_decl_line(&die, &line) == 0)
                scope.DeclLine = line;
        }
        index = static_cast<uint32_t>(mUnit.Scopes.size());
        mUnit.Scopes.push_back(std::move(scope));
        for (const auto& [low, high] : ranges) {
            const auto rangeIndex = static_cast<uint32_t>(mUnit.Ranges.size());
            mUnit.Ranges.push_back({low, high, index});
            if (parent >= 0)
                mUnit.Scopes[static_cast<std::size_t>(parent)].ChildRanges.push_back(rangeIndex);
            else
                mUnit.TopRanges.push_back(rangeIndex);
        }
        return true;
    }

    void IndexChildren(Dwarf_Die die, int32_t scope, int depth)
    {
        if (depth > kMaxDieDepth)
            return;
        do {
            const int tag = dwarf_tag(&die);
            Dwarf_Die child;
            const bool hasChild = dwarf_haschildren(&die) > 0 && dwarf_child(&die, &child) == 0;
            uint32_t index = 0;
            switch (tag) {
            case DW_TAG_subprogram:
                // Nested definitions (local classes) start functions of their own.
                if (AddScope(die, -1, index) && hasChild)
                    IndexChildren(child, static_cast<int32_t>(index), depth + 1);
                break;
            case DW_TAG_inlined_subroutine:
                if (scope >= 0 && AddScope(die, scope, index) && hasChild)
                    IndexChildren(child, static_cast<int32_t>(index), depth + 1);
                break;
            case DW_TAG_lexical_block:
            case DW_TAG_namespace:
            case DW_TAG_class_type:
            case DW_TAG_structure_type:
            case DW_TAG_union_type:
                if (hasChild)
                    IndexChildren(child, scope, depth + 1);
                break;
            default:
                break;
            }
        } while (dwarf_siblingof(&die, &die) == 0);
    }

    ModuleSymbols::Unit& mUnit;
    Dwarf_Files* mFiles = nullptr;
    std::size_t mFileCount = 0;
    std::unordered_map<Dwarf_Word, uint32_t> mFileIndex;
    std::unordered_map<const char*, uint32_t> mPathIndex; ///< libdw keeps one string per file
    std::string mCompDir;
};

std::shared_ptr<ModuleSymbols> ModuleSymbols::Load(const std::string& imagePath,
                                                   const SymbolSearchOptions& options)
{
    std::shared_ptr<ModuleSymbols> module(new ModuleSymbols());
    module->mModuleName = std::filesystem::path(imagePath).filename().string();
    LocatedModuleFiles files = LocateModuleFiles(imagePath, options);
    module->mLog = std::move(files.Log);
    if (files.Image == nullptr) {
        module->mStatus =
            files.ImageBroken ? EModuleResolveStatus::ImageBroken : EModuleResolveStatus::ImageNotFound;
        return module;
    }
    module->mImage = std::move(files.Image);
    module->mImagePath = module->mImage->GetPath();
    module->mBuildId = module->mImage->GetBuildId();
    module->mMachine = module->mImage->GetMachine();
    if (const auto& link = module->mImage->GetDebugLink())
        module->mDebugLinkName = link->first;
    module->mSymbols = module->mImage->ReadFunctionSymbols();
    module->mLog.push_back(
        {"Function symbols",
         std::to_string(module->mSymbols.size()),
         module->mImagePath,
         {},
         module->mSymbols.empty() ? EResolveStepOutcome::NotFound : EResolveStepOutcome::Found});
    if (files.DebugFile != nullptr) {
        // A stripped image keeps only its exported symbols (if any); the debug file has the
        // whole symbol table, local functions included.
        std::vector<ElfSymbol> debugSymbols = files.DebugFile->ReadFunctionSymbols();
        if (debugSymbols.size() > module->mSymbols.size())
            module->mSymbols = std::move(debugSymbols);
    }
    if (std::vector<ElfSymbol> plt = module->mImage->ReadPltSymbols(); !plt.empty()) {
        // The entries lie in sections of their own, apart from every function.
        std::vector<ElfSymbol> merged;
        merged.reserve(module->mSymbols.size() + plt.size());
        std::merge(std::make_move_iterator(module->mSymbols.begin()), std::make_move_iterator(module->mSymbols.end()),
                   std::make_move_iterator(plt.begin()), std::make_move_iterator(plt.end()), std::back_inserter(merged),
                   [](const ElfSymbol& a, const ElfSymbol& b) { return a.Address < b.Address; });
        module->mSymbols = std::move(merged);
        module->mPltSymbolCount = plt.size();
    }
    module->mUnwindTable = dwarf_getcfi_elf(module->mImage->GetElf());
    module->ReadLoadSegments();

    ElfImage* debugFile = files.ImageHasDebugInfo ? module->mImage.get() : files.DebugFile.get();
    if (debugFile == nullptr) {
        module->mStatus = EModuleResolveStatus::SymbolsOnly;
        return module;
    }
    module->mDebugPath = debugFile->GetPath();
    module->mDebugSource = files.DebugSource;
    if (!files.ImageHasDebugInfo)
        module->mDebugImage = std::move(files.DebugFile);
    module->OpenDwarf(*debugFile);
    return module;
}

std::string ModuleSymbols::GetArchitectureText() const
{
    if (mImage == nullptr)
        return {};
    switch (mMachine) {
    case EM_X86_64:
        return "x86-64";
    case EM_AARCH64:
        return "AArch64";
    case EM_386:
        return "x86";
    case EM_ARM:
        return "ARM";
    case EM_RISCV:
        return "RISC-V";
    default:
        return "ELF machine " + std::to_string(mMachine);
    }
}

void ModuleSymbols::OpenDwarf(ElfImage& file)
{
    mDwarf = dwarf_begin_elf(file.GetElf(), DWARF_C_READ, nullptr);
    if (mDwarf == nullptr) {
        mLog.push_back({"Read debug information",
                        std::string("unreadable: ") + dwarf_errmsg(-1),
                        mDebugPath,
                        {},
                        EResolveStepOutcome::Failed});
        mStatus = EModuleResolveStatus::DebugInfoBroken;
        return;
    }
    // Only the units' first entries are read here: where each unit's code lies. Their lines
    // and scopes are read on first use.
    Dwarf_Off offset = 0;
    Dwarf_Off next = 0;
    std::size_t headerSize = 0;
    std::vector<uint32_t> rangeless;
    std::unordered_map<Dwarf_Off, uint32_t> unitByOffset;
    while (dwarf_nextcu(mDwarf, offset, &next, &headerSize, nullptr, nullptr, nullptr) == 0) {
        Dwarf_Die die;
        if (dwarf_offdie(mDwarf, offset + headerSize, &die) != nullptr) {
            const auto index = static_cast<uint32_t>(mUnits.size());
            auto unit = std::make_unique<Unit>();
            unit->DieOffset = offset + headerSize;
            unitByOffset.emplace(unit->DieOffset, index);
            mUnits.push_back(std::move(unit));
            const std::size_t before = mUnitRanges.size();
            Dwarf_Addr base = 0, start = 0, end = 0;
            ptrdiff_t rangeOffset = 0;
            while ((rangeOffset = dwarf_ranges(&die, rangeOffset, &base, &start, &end)) > 0 &&
                   mUnitRanges.size() - before < 65536)
                if (end > start)
                    mUnitRanges.push_back({start, end, index});
            if (mUnitRanges.size() == before)
                rangeless.push_back(index);
        }
        if (next <= offset)
            break; // a damaged unit length must not loop
        offset = next;
    }
    // Units whose first entry gives no code range (some assemblers write none) are found by the
    // address range table when there is one.
    Dwarf_Aranges* aranges = nullptr;
    std::size_t arangeCount = 0;
    if (!rangeless.empty() && dwarf_getaranges(mDwarf, &aranges, &arangeCount) == 0) {
        std::sort(rangeless.begin(), rangeless.end());
        for (std::size_t i = 0; i < arangeCount; ++i) {
            Dwarf_Arange* arange = dwarf_onearange(aranges, i);
            Dwarf_Addr start = 0;
            Dwarf_Word length = 0;
            Dwarf_Off dieOffset = 0;
            if (arange == nullptr || dwarf_getarangeinfo(arange, &start, &length, &dieOffset) != 0 ||
                length == 0)
                continue;
            auto found = unitByOffset.find(dieOffset);
            if (found != unitByOffset.end() &&
                std::binary_search(rangeless.begin(), rangeless.end(), found->second))
                mUnitRanges.push_back({start, start + length, found->second});
        }
    }
    std::sort(mUnitRanges.begin(), mUnitRanges.end(),
              [](const UnitRange& a, const UnitRange& b) { return a.Low < b.Low; });
    const bool usable = !mUnitRanges.empty();
    mLog.push_back({"Read debug information",
                    std::to_string(mUnits.size()) + " compile units, read as their code is looked up",
                    mDebugPath,
                    {},
                    usable ? EResolveStepOutcome::Found : EResolveStepOutcome::Failed});
    mStatus = usable ? EModuleResolveStatus::DebugInfo : EModuleResolveStatus::DebugInfoBroken;
}

const ModuleSymbols::Unit* ModuleSymbols::FindUnit(uint64_t address) const
{
    auto after = std::upper_bound(mUnitRanges.begin(), mUnitRanges.end(), address,
                                  [](uint64_t value, const UnitRange& range) { return value < range.Low; });
    for (int scanned = 0; after != mUnitRanges.begin() && scanned < kOverlapScan; ++scanned) {
        --after;
        if (address >= after->High)
            continue;
        Unit& unit = *mUnits[after->Unit];
        std::call_once(unit.Indexed, [&] {
            std::lock_guard lock(mImageMutex);
            DwarfIndexer(unit).Run(mDwarf);
            mIndexedRows.fetch_add(unit.Rows.size(), std::memory_order_relaxed);
        });
        return &unit;
    }
    return nullptr;
}

ModuleSymbols::~ModuleSymbols()
{
    // Before the images' Elf handles, which these read from, are closed with the members.
    if (mUnwindTable != nullptr)
        dwarf_cfi_end(mUnwindTable);
    if (mDwarf != nullptr)
        dwarf_end(mDwarf);
}

uint32_t ModuleSymbols::Unit::Intern(std::string_view text)
{
    auto found = StringIndex.find(text);
    if (found != StringIndex.end())
        return found->second;
    const auto index = static_cast<uint32_t>(Strings.size());
    Strings.emplace_back(text);
    StringIndex.emplace(Strings.back(), index);
    return index;
}

std::string_view ModuleSymbols::Unit::View(uint32_t index) const
{
    return index < Strings.size() ? std::string_view(Strings[index]) : std::string_view();
}

const ModuleSymbols::LineRow* ModuleSymbols::Unit::FindRow(uint64_t address) const
{
    auto after = std::upper_bound(Rows.begin(), Rows.end(), address,
                                  [](uint64_t value, const LineRow& row) { return value < row.Address; });
    if (after == Rows.begin())
        return nullptr;
    const LineRow& row = *(after - 1);
    return row.EndSequence ? nullptr : &row;
}

void ModuleSymbols::Unit::FindScopes(uint64_t address, std::vector<uint32_t>& chain,
                                     const ScopeRange** top) const
{
    chain.clear();
    auto findIn = [&](const std::vector<uint32_t>& ranges) -> const ScopeRange* {
        auto after =
            std::upper_bound(ranges.begin(), ranges.end(), address,
                             [this](uint64_t value, uint32_t range) { return value < Ranges[range].Low; });
        for (int scanned = 0; after != ranges.begin() && scanned < kOverlapScan; ++scanned) {
            --after;
            const ScopeRange& range = Ranges[*after];
            if (address < range.High)
                return &range;
        }
        return nullptr;
    };
    const ScopeRange* range = findIn(TopRanges);
    if (top != nullptr)
        *top = range;
    while (range != nullptr && chain.size() < static_cast<std::size_t>(kMaxDieDepth)) {
        chain.push_back(range->Scope);
        range = findIn(Scopes[range->Scope].ChildRanges);
    }
}

const ElfSymbol* ModuleSymbols::FindSymbol(uint64_t address) const
{
    auto after =
        std::upper_bound(mSymbols.begin(), mSymbols.end(), address,
                         [](uint64_t value, const ElfSymbol& symbol) { return value < symbol.Address; });
    if (after == mSymbols.begin())
        return nullptr;
    const ElfSymbol& symbol = *(after - 1);
    // A symbol without a size reaches to the next one; with one, only over its bytes.
    if (symbol.Size != 0 && address >= symbol.Address + symbol.Size)
        return nullptr;
    return &symbol;
}

void ModuleSymbols::ReadLoadSegments()
{
    Elf* elf = mImage->GetElf();
    std::size_t count = 0;
    if (elf == nullptr || elf_getphdrnum(elf, &count) != 0)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (gelf_getphdr(elf, static_cast<int>(i), &header) != nullptr && header.p_type == PT_LOAD)
            mSegments.push_back({header.p_offset, header.p_filesz, header.p_vaddr});
    }
}

std::optional<uint64_t> ModuleSymbols::FileOffsetToAddress(uint64_t offset) const
{
    for (const LoadSegment& segment : mSegments)
        if (offset >= segment.Offset && offset - segment.Offset < segment.FileSize)
            return segment.Address + (offset - segment.Offset);
    return std::nullopt;
}

bool ModuleSymbols::FindUnwindRange(uint64_t address, uint64_t& start, uint64_t& end) const
{
    if (mUnwindTable == nullptr)
        return false;
    Dwarf_Frame* frame = nullptr;
    if (dwarf_cfi_addrframe(mUnwindTable, address, &frame) != 0 || frame == nullptr)
        return false;
    Dwarf_Addr low = 0, high = 0;
    const bool found = dwarf_frame_info(frame, &low, &high, nullptr) >= 0 && low <= address && address < high;
    free(frame);
    start = low;
    end = high;
    return found;
}

bool ModuleSymbols::Resolve(uint64_t address, AddressInfo& info) const
{
    info.Frames.clear();
    info.HasFunction = false;
    thread_local std::vector<uint32_t> chain;
    chain.clear();
    const ScopeRange* topRange = nullptr;
    const Unit* unit = FindUnit(address);
    if (unit != nullptr)
        unit->FindScopes(address, chain, &topRange);
    const ElfSymbol* symbol = FindSymbol(address);
    if (symbol != nullptr) {
        info.HasFunction = true;
        info.FunctionStart = symbol->Address;
        const auto next =
            std::upper_bound(mSymbols.begin(), mSymbols.end(), symbol->Address,
                             [](uint64_t value, const ElfSymbol& s) { return value < s.Address; });
        info.FunctionEnd = symbol->Size ? symbol->Address + symbol->Size
                                        : (next != mSymbols.end() ? next->Address : address + 1);
    } else if (topRange != nullptr) {
        info.HasFunction = true;
        info.FunctionStart = topRange->Low;
        info.FunctionEnd = topRange->High;
    }

    const LineRow* row = unit != nullptr ? unit->FindRow(address) : nullptr;
    std::string_view file = row ? unit->View(row->File) : std::string_view();
    int32_t line = row ? row->Line : 0;
    for (auto scope = chain.rbegin(); scope != chain.rend(); ++scope) {
        const Scope& current = unit->Scopes[*scope];
        // The symbol table names the compiled function as the capture does.
        const std::string_view name = (scope + 1 == chain.rend() && symbol != nullptr)
                                          ? std::string_view(symbol->Name)
                                          : unit->View(current.Name);
        info.Frames.push_back({name, file, line});
        file = unit->View(current.CallFile);
        line = current.CallLine;
    }
    if (!chain.empty())
        return true;
    if (symbol != nullptr) {
        info.Frames.push_back({symbol->Name, file, line});
        return true;
    }

    // Code without a symbol: named after the module and the start of its unwind range, which
    // stays the same for every address of the function and across runs.
    std::lock_guard lock(mImageMutex);
    uint64_t start = address, end = address + 1;
    const bool found = FindUnwindRange(address, start, end);
    auto [entry, added] = mStableNames.try_emplace(start);
    if (added) {
        char text[32];
        std::snprintf(text, sizeof(text), "+0x%llx", static_cast<unsigned long long>(start));
        entry->second = mModuleName + text;
    }
    info.Frames.push_back({entry->second, file, line});
    if (found) {
        info.HasFunction = true;
        info.FunctionStart = start;
        info.FunctionEnd = end;
    }
    return found;
}

bool ModuleSymbols::GetFunctionLines(uint64_t address, FunctionLines& lines) const
{
    lines = {};
    AddressInfo info;
    if (!Resolve(address, info) || !info.HasFunction)
        return false;
    // A function's code, lines and scopes all belong to one unit.
    const Unit* unit = FindUnit(info.FunctionStart);
    if (unit == nullptr || unit->Rows.empty())
        return false;
    const auto& rows = unit->Rows;
    const auto& scopes = unit->Scopes;
    std::vector<uint32_t> chain;
    unit->FindScopes(info.FunctionStart, chain);
    const LineRow* entryRow = unit->FindRow(info.FunctionStart);
    uint32_t file = entryRow ? entryRow->File : 0;
    if (!chain.empty() && scopes[chain.front()].DeclFile != 0) {
        file = scopes[chain.front()].DeclFile;
        lines.FirstLine = scopes[chain.front()].DeclLine;
    }
    if (file == 0)
        return false;
    lines.SourcePath = std::string(unit->View(file));

    auto row = std::lower_bound(rows.begin(), rows.end(), info.FunctionStart,
                                [](const LineRow& r, uint64_t value) { return r.Address < value; });
    // The row in force at the start may begin before it.
    if ((row == rows.end() || row->Address > info.FunctionStart) && row != rows.begin() &&
        !(row - 1)->EndSequence)
        --row;
    int32_t lowest = 0;
    for (; row != rows.end() && row->Address < info.FunctionEnd; ++row) {
        const uint64_t rowAddress = std::max(row->Address, info.FunctionStart);
        int32_t line = 0;
        if (row->EndSequence) {
            line = 0;
        } else if (row->File == file) {
            line = row->Line;
        } else {
            // Inlined code from another file: the line of this function that called into it.
            unit->FindScopes(rowAddress, chain);
            if (chain.size() > 1 && scopes[chain[1]].CallFile == file)
                line = scopes[chain[1]].CallLine;
        }
        if (!lines.Lines.empty() && lines.Lines.back().mAddress == rowAddress)
            lines.Lines.back().mLine = line;
        else if (lines.Lines.empty() || lines.Lines.back().mLine != line)
            lines.Lines.push_back({rowAddress, line});
        if (line > 0 && (lowest == 0 || line < lowest))
            lowest = line;
    }
    if (lines.FirstLine == 0)
        lines.FirstLine = lowest;
    return lowest > 0;
}

} // namespace Profiler
