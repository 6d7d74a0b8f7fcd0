#pragma once

#include <string>
#include <vector>

namespace Profiler {

/// The plain-text table that the copy commands put on the clipboard: a header line, a line of
/// '-' as long as it, then one line per row. Every cell is preceded by two blanks and padded on
/// the right to the widest text of its column (header included; widths count characters, not
/// bytes). Callers indent the first cell of nested rows themselves.
std::string FormatTextTable(const std::vector<std::string>& headers,
                            const std::vector<std::vector<std::string>>& rows);

} // namespace Profiler
