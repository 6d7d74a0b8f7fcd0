#pragma once

#include "Importers/PerfScriptParser.h"

#include "Utility/ErrorList.h"

#include <functional>
#include <string>

namespace Profiler {

class SymbolResolver;

/// Reads a perf.data file itself and hands its records to a perf script parser's handler, as
/// the parser would have from `perf script` text: the same records, in the same time order,
/// with frames named the same way (addresses relative to their file, symbols demangled without
/// parameters, kernel symbols from /proc/kallsyms). DWARF call graphs are unwound here, from
/// the copied registers and stack of each sample, on several threads; perf's own unwinding of
/// them is the slowest part of reading such a recording.
///
/// The reader takes the files that the recording mapped from where they are now, so it is meant
/// for recordings made on this machine; a file rebuilt since then gives wrong names, as it
/// would to perf without its build-id cache. Kernel symbols are only used when the running
/// kernel's layout is the recording's.
class PerfDataReader {
public:
    enum class EResult : uint8_t {
        Read,        ///< the whole file was read
        Failed,      ///< an error (in `errors`); what came before it was handed on
        Unsupported, ///< a file this reader does not handle (pipe mode, compressed records, ...);
                     ///< nothing was handed on, `reason` says why
    };

    struct Options {
        SymbolResolver* Symbols = nullptr; ///< where frames are named; null: the reader's own
        unsigned Workers = 0; ///< unwinding threads; 0: one per core, up to four
        /// Names kernel frames from /proc/kallsyms when the running kernel is the recording's.
        bool KernelSymbols = true;
        /// Asked between records; true ends the read as failed (a stop signal).
        std::function<bool()> StopRequested;
    };

    /// Reads `path` into `parser`'s handler and adds what it read to the parser's statistics.
    [[nodiscard]] static EResult Read(const std::string& path, PerfScriptParser& parser, const Options& options,
                                      std::string& reason, Serialization::ErrorList& errors);
};

} // namespace Profiler
