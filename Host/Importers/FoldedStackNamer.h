#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How frames and threads are named in folded stacks (`NAME;outer;...;inner COUNT`), following
// the rules of the flame graph folding tools that users compare us with, and how the same
// rules name functions in the views. Everything here is a pure function of its arguments, so
// the folded output of an imported capture and of the raw text agree by construction.

namespace Profiler {

/// The folding options, one per command-line flag of `qx folded`.
struct FoldOptions {
    bool includePid = false;       ///< --pid: `COMM-PID` as the first frame
    bool includeTid = false;       ///< --tid: `COMM-PID/TID`
    bool annotateKernel = false;   ///< --kernel (and --all): `_[k]` after kernel frames
    bool annotateJit = false;      ///< --jit (and --all): `_[j]` after frames of perf JIT maps
    bool includeAddresses = false; ///< --addrs: `[MODULE <ADDR>]` for unknown symbols

    /// "pid", "tid", "kernel", "jit", "all" or "addrs" (without dashes); none for other names.
    static std::optional<FoldOptions> FromFlag(std::string_view flag);
};

class FoldedStackNamer {
public:
    /// Appends `;NAME` for each folded frame of one stack frame (an inline chain `A->B` gives
    /// `;A;B`, outermost first); appends nothing for frames the rules leave out. `symbol` has
    /// its `+0x...` offset removed; `processName` is the command name of the sampled thread.
    static void AppendFrame(std::string& stack, std::string_view symbol, std::string_view dso,
                            uint64_t address, std::string_view processName, const FoldOptions& options);

    /// The first element of a folded stack: the command name with blanks as `_`, plus the
    /// process and thread ids when asked for ("?" for an unknown process id).
    static std::string StackPrefix(std::string_view comm, std::optional<int32_t> pid, int32_t tid,
                                   const FoldOptions& options);

    /// The name a function shows in the views: the symbol as perf printed it without offset,
    /// or `[MODULE]` (`[unknown]` when the module is unknown too) when perf had no symbol.
    static std::string DisplayName(std::string_view symbol, std::string_view dso);

    /// The name of an unknown range of a module in the views: `[MODULE+0xSTART]`, START being the
    /// range's first address as perf printed it, so that distinct ranges read apart.
    static std::string UnknownRangeName(std::string_view dso, uint64_t start);
    /// Whether a function name was made by UnknownRangeName for that DSO (or is its plain
    /// `[MODULE]` display name).
    static bool IsUnknownRangeName(std::string_view name, std::string_view dso);

    /// The file name part of a DSO path.
    static std::string_view BaseName(std::string_view dso);

    /// Whether the folding rules treat a DSO as kernel code: `[...]` or `...vmlinux`, not unknown.
    static bool IsKernelDso(std::string_view dso);
    /// Whether a DSO is a perf JIT symbol map (`/tmp/perf-PID.map`).
    static bool IsJitMapDso(std::string_view dso);
};

} // namespace Profiler
