#include "ProfilerLibUI/FunctionList/TextTable.h"

#include <algorithm>

namespace Profiler {

namespace {

std::size_t CountCharacters(const std::string& text)
{
    // UTF-8 continuation bytes do not start a character.
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string FormatLine(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths)
{
    std::string line;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const std::string& cell = i < cells.size() ? cells[i] : std::string();
        line += "  ";
        line += cell;
        line.append(widths[i] - std::min(widths[i], CountCharacters(cell)), ' ');
    }
    return line;
}

} // namespace

std::string FormatTextTable(const std::vector<std::string>& headers,
                            const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t i = 0; i < headers.size(); ++i) {
        widths[i] = CountCharacters(headers[i]);
        for (const auto& row : rows)
            if (i < row.size())
                widths[i] = std::max(widths[i], CountCharacters(row[i]));
    }
    const std::string header = FormatLine(headers, widths);
    std::string text = header;
    text += '\n';
    text.append(CountCharacters(header), '-');
    text += '\n';
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r != 0)
            text += '\n';
        text += FormatLine(rows[r], widths);
    }
    return text;
}

} // namespace Profiler
