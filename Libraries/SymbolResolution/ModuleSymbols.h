#pragma once

#include "CaptureModel/FunctionData.h"
#include "SymbolResolution/ElfImage.h"
#include "SymbolResolution/ResolveLog.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

typedef struct Dwarf_CFI_s Dwarf_CFI;
typedef struct Dwarf Dwarf;

namespace Profiler {

/// One frame of an address: a function and where in its source the address is. The texts
/// belong to the module and live as long as it.
struct SourceFrame {
    std::string_view Function;
    std::string_view File; ///< empty without line information
    int32_t Line = 0;      ///< 0 without line information
};

/// What an address of a module resolves to.
struct AddressInfo {
    bool HasFunction = false;
    /// The function the code was compiled into (not an inlined one): its range in the module.
    uint64_t FunctionStart = 0;
    uint64_t FunctionEnd = 0;
    /// Innermost first: inlined functions, then the function the code was compiled into. The
    /// line of an outer frame is the call site of the frame before it.
    std::vector<SourceFrame> Frames;
};

/// A function's source lines, for the source view and its timing.
struct FunctionLines {
    std::string SourcePath; ///< the function's source file as the debug information names it
    int32_t FirstLine = 0;  ///< the line of its declaration, or its lowest line
    /// Address ranges in order, each running to the next; line 0 marks code of no line of this
    /// file. Code inlined from elsewhere counts for the line that called it.
    std::vector<ResolvedLine> Lines;
};

/// The symbols and debug information of one module (an ELF image): symbols indexed when loaded,
/// each compile unit's lines and inline scopes when an address in it is first looked up.
/// Addresses are the image's own virtual addresses (as its symbol table gives them). All
/// lookups are thread-safe; after loading they read immutable tables only, apart from the
/// unwind table lookups of stripped code and the reads of code bytes, which take a lock.
class ModuleSymbols {
public:
    /// Never fails: what could not be found or read is in the status and the log.
    static std::shared_ptr<ModuleSymbols> Load(const std::string& imagePath,
                                               const SymbolSearchOptions& options);
    ~ModuleSymbols();
    ModuleSymbols(const ModuleSymbols&) = delete;
    ModuleSymbols& operator=(const ModuleSymbols&) = delete;

    EModuleResolveStatus GetStatus() const { return mStatus; }
    const std::vector<ResolveLogEntry>& GetLog() const { return mLog; }
    const std::string& GetBuildId() const { return mBuildId; }
    /// Whether debug information of this very build was found (the image's own or a matching file).
    bool HasMatchingDebugInfo() const { return mStatus == EModuleResolveStatus::DebugInfo; }
    /// The image that was read (it may have been found in a local folder); empty when none.
    const std::string& GetImagePath() const { return mImagePath; }
    /// The file the debug information came from; empty when none.
    const std::string& GetDebugPath() const { return mDebugPath; }
    /// The name that the image's .gnu_debuglink gives its debug file; empty without one.
    const std::string& GetDebugLinkName() const { return mDebugLinkName; }
    /// Whether anything ties a debug file to this build: a build id or a debug link.
    bool HasSymbolSignature() const { return !mBuildId.empty() || !mDebugLinkName.empty(); }
    /// Where the debug information came from (None without it).
    EDebugInfoSource GetDebugSource() const { return mDebugSource; }
    /// The image's architecture ("x86-64", "AArch64", ...); empty when no image was read.
    std::string GetArchitectureText() const;
    /// Symbols of functions, not counting the entries of the linkage table named after them.
    std::size_t GetFunctionSymbolCount() const { return mSymbols.size() - mPltSymbolCount; }
    /// Compile units with code, and the line rows of those read so far (units are read on
    /// first use).
    std::size_t GetUnitCount() const { return mUnits.size(); }
    std::size_t GetLineRowCount() const { return mIndexedRows.load(std::memory_order_relaxed); }

    /// False when no function covers the address; `info.Frames` then still names the code by a
    /// stable name made from the module and the address.
    bool Resolve(uint64_t address, AddressInfo& info) const;
    /// The function symbol that covers `address` (a symbol without a size reaches to the next
    /// one); null when none does.
    const ElfSymbol* FindSymbol(uint64_t address) const;
    /// The image's virtual address of a byte at `offset` in the file, through the loadable
    /// segment that holds it (mappings give file offsets; symbols and lines use addresses).
    std::optional<uint64_t> FileOffsetToAddress(uint64_t offset) const;

    /// The source lines of the function that holds `address`; false without line information.
    bool GetFunctionLines(uint64_t address, FunctionLines& lines) const;
    /// The instructions of [start, end), call instructions marked.
    EDisassemblyResult Disassemble(uint64_t start, uint64_t end,
                                   std::vector<AsmInstruction>& instructions) const;

private:
    ModuleSymbols() = default;

    struct LineRow {
        uint64_t Address = 0;
        uint32_t File = 0;
        int32_t Line = 0;
        bool EndSequence = false;
    };
    struct Scope {
        uint32_t Name = 0;
        uint32_t CallFile = 0; ///< for inlined scopes: where they were called
        int32_t CallLine = 0;
        uint32_t DeclFile = 0;
        int32_t DeclLine = 0;
        std::vector<uint32_t> ChildRanges; ///< ranges of inlined scopes directly inside, by start
    };
    struct ScopeRange {
        uint64_t Low = 0;
        uint64_t High = 0;
        uint32_t Scope = 0;
    };
    /// The line table and scopes of one compile unit, read the first time an address of the
    /// unit is looked up: a program's debug information can be far larger than the part its
    /// stacks touch. Texts are interned per unit (index 0 is "nothing").
    struct Unit {
        uint64_t DieOffset = 0;
        std::once_flag Indexed;
        std::deque<std::string> Strings;
        std::unordered_map<std::string_view, uint32_t> StringIndex;
        std::vector<LineRow> Rows;
        std::vector<Scope> Scopes;
        std::vector<ScopeRange> Ranges;
        std::vector<uint32_t> TopRanges; ///< ranges of compiled functions, by start

        uint32_t Intern(std::string_view text);
        std::string_view View(uint32_t index) const;
        const LineRow* FindRow(uint64_t address) const;
        /// The scopes holding the address, outermost (the compiled function) first.
        void FindScopes(uint64_t address, std::vector<uint32_t>& chain,
                        const ScopeRange** top = nullptr) const;
    };
    struct UnitRange {
        uint64_t Low = 0;
        uint64_t High = 0;
        uint32_t Unit = 0;
    };
    friend class DwarfIndexer;

    void OpenDwarf(ElfImage& file);
    void ReadLoadSegments();
    /// The unit whose code holds the address, indexed; null outside every unit.
    const Unit* FindUnit(uint64_t address) const;
    bool FindUnwindRange(uint64_t address, uint64_t& start, uint64_t& end) const;

    EModuleResolveStatus mStatus = EModuleResolveStatus::ImageNotFound;
    std::vector<ResolveLogEntry> mLog;
    std::string mBuildId;
    std::string mImagePath;
    std::string mDebugPath;
    std::string mModuleName;
    EDebugInfoSource mDebugSource = EDebugInfoSource::None;
    std::string mDebugLinkName;
    uint16_t mMachine = 0;

    std::vector<ElfSymbol> mSymbols;
    struct LoadSegment {
        uint64_t Offset = 0;
        uint64_t FileSize = 0;
        uint64_t Address = 0;
    };
    std::vector<LoadSegment> mSegments;
    std::size_t mPltSymbolCount = 0;
    std::vector<std::unique_ptr<Unit>> mUnits;
    std::vector<UnitRange> mUnitRanges; ///< by start
    mutable std::atomic<std::size_t> mIndexedRows{0};

    /// libelf, libdw and the unwind table cache are not thread-safe: reading a unit, the unwind
    /// table and code bytes take it.
    mutable std::mutex mImageMutex;
    std::unique_ptr<ElfImage> mImage;
    std::unique_ptr<ElfImage> mDebugImage; ///< a separate debug file, kept open for its units
    Dwarf* mDwarf = nullptr;
    Dwarf_CFI* mUnwindTable = nullptr;
    mutable std::unordered_map<uint64_t, std::string> mStableNames; ///< guarded by mImageMutex
};

} // namespace Profiler
