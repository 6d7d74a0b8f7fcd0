#pragma once

#include "Importers/PerfScriptParser.h"

#include "Utility/ErrorList.h"

#include <cstdint>
#include <string>

namespace Profiler {

/// Streams `perf script` text from a file into a parser in fixed-size chunks, so memory does not
/// grow with the input. Plain and gzip-compressed files are told apart by their content; "-"
/// reads standard input.
class PerfScriptReader {
public:
    /// One buffer of this size is filled again and again: its pages are faulted in once, and
    /// a small input touches only the few that it fills.
    static constexpr std::size_t kChunkSize = 256 << 10;

    /// Feeds the whole input and finishes the parser, also after a read error (whatever was read
    /// until then still counts). False with one error record when the input cannot be opened or
    /// read to its end (including a gzip stream that is cut short).
    static bool Read(const std::string& path, PerfScriptParser& parser, Serialization::ErrorList& errors);

    /// A one-line summary of the parser's complaints for the user, or "" when there were none:
    /// the first bad line with its number, and how many more there were.
    static std::string DescribeProblems(const PerfScriptParser& parser);
};

} // namespace Profiler
