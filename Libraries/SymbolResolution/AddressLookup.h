#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Profiler {

class ModuleDatabase;
class SymbolResolver;

/// A module whose address range holds a looked-up address.
struct AddressLookupCandidate {
    uint32_t ModuleIndex = 0;
    bool IsJIT = false;
    std::string ModuleName;
    /// The range the module covers, relative to the module and in memory; [start, end).
    uint64_t RelativeStart = 0;
    uint64_t RelativeEnd = 0;
    uint64_t AbsoluteStart = 0;
    uint64_t AbsoluteEnd = 0;
};

/// What an address of a capture is.
struct AddressLookupResult {
    enum class EOutcome : uint8_t {
        NotFound,   ///< no module covers the address
        Resolved,   ///< a function of the module covers it
        NoFunction, ///< the module covers it, but no function does
        JIT,        ///< code compiled at run time
        Ambiguous,  ///< several modules cover it (loaded in different processes)
    };
    EOutcome Outcome = EOutcome::NotFound;
    uint64_t Address = 0;
    bool IsRelative = false;
    std::string ModuleName;
    uint64_t RelativeAddress = 0; ///< the address within the module (Resolved, NoFunction)
    std::string FunctionName;     ///< Resolved: the function the code was compiled into; JIT: its name
    std::string InlinedFunction;  ///< the innermost function inlined at the address, when any
    std::string SourceFile;       ///< empty without line information
    int32_t Line = 0;
    /// Stripped code: a stable name from the module and the start of the code's unwind range.
    std::string StableName;
    std::vector<AddressLookupCandidate> Candidates; ///< Ambiguous: every module that covers it
};

/// Looks an address in memory up in every module instance of the capture. Loads the symbols of
/// the module found when needed: call it off the user interface thread.
AddressLookupResult LookupAbsoluteAddress(const ModuleDatabase& modules, SymbolResolver& symbols,
                                          uint64_t address);

/// Looks an address relative to a native module (as the module's own tables count) up in that module.
AddressLookupResult LookupRelativeAddress(const ModuleDatabase& modules, SymbolResolver& symbols,
                                          uint32_t moduleIndex, uint64_t relativeAddress);

} // namespace Profiler
