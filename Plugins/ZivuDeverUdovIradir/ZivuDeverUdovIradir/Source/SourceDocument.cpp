#include "ZivuDeverUdovIradir/Source/SourceDocument.h"

#include "CallGraphModel/FunctionTimingProcessor.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <memory>

namespace Profiler {

int32_t SourceDocument::GetSourceLine(int block) const
{
    if (block < 0 || block >= BlockCount)
        return 0;
    if (Map.empty())
        return block + 1;
    const SourceLineMapEntry& entry = Map[static_cast<std::size_t>(block)];
    return entry.Kind == SourceLineMapEntry::SourceLine ? entry.Line : 0;
}

int SourceDocument::FindBlockOfLine(int32_t line) const
{
    if (Map.empty())
        return line >= 1 && line <= BlockCount ? line - 1 : -1;
    for (std::size_t block = 0; block < Map.size(); ++block)
        if (Map[block].Line == line)
            return static_cast<int>(block);
    return -1;
}

QStringList ReadSourceLines(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    // A final line end does not start another line.
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

QString FormatInstruction(const AsmInstruction& instruction, int addressWidth)
{
    return QStringLiteral("%1  %2 %3")
        .arg(QString::number(instruction.mAddress, 16)
                 .toUpper()
                 .rightJustified(addressWidth, QLatin1Char('0')))
        .arg(QString::fromStdString(instruction.mMnemonic), -12)
        .arg(QString::fromStdString(instruction.mOpStr));
}

SourceDocument BuildSourceDocument(ESourceViewMode mode, const FunctionData& data,
                                   const FunctionLineData* lines, const QStringList& sourceLines)
{
    SourceDocument document;
    document.Mode = mode;
    if (mode == ESourceViewMode::Source) {
        document.Text = sourceLines.join(QLatin1Char('\n'));
        document.BlockCount = std::max<int>(1, static_cast<int>(sourceLines.size()));
        return document;
    }

    uint64_t highest = 0;
    for (const AsmInstruction& instruction : data.mInstructions)
        highest = std::max(highest, instruction.mAddress);
    int addressWidth = 1;
    while (addressWidth < 16 && (highest >> (4 * addressWidth)) != 0)
        ++addressWidth;

    std::shared_ptr<const FunctionLineData> lineData;
    if (lines != nullptr)
        lineData = std::shared_ptr<const FunctionLineData>(lines, [](const FunctionLineData*) {});
    const LineDataAddressMap lineMap(lineData);
    QStringList text;
    int32_t previousLine = 0;
    for (std::size_t i = 0; i < data.mInstructions.size(); ++i) {
        const AsmInstruction& instruction = data.mInstructions[i];
        const int32_t line = lineMap.FindLine(instruction.mAddress).value_or(0);
        if (mode == ESourceViewMode::DisassemblyWithSource && line > 0 && line != previousLine) {
            const QString source = line <= sourceLines.size() ? sourceLines[line - 1] : QString();
            text.push_back(source);
            document.Map.push_back({SourceLineMapEntry::SourceLine, 0, line, -1});
        }
        previousLine = line;
        text.push_back(FormatInstruction(instruction, addressWidth));
        document.Map.push_back(
            {SourceLineMapEntry::Instruction, instruction.mAddress, line, static_cast<int32_t>(i)});
    }
    document.Text = text.join(QLatin1Char('\n'));
    document.BlockCount = std::max<int>(1, static_cast<int>(text.size()));
    return document;
}

} // namespace Profiler
