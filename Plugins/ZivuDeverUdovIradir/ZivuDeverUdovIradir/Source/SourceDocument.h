#pragma once

#include "CaptureModel/FunctionData.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace Profiler {

/// What the source view shows: the source file, the instructions, or the instructions with the
/// source lines they came from before them.
enum class ESourceViewMode : int { Source = 0, Disassembly = 1, DisassemblyWithSource = 2 };

inline bool IsDisassemblyMode(ESourceViewMode mode)
{
    return mode != ESourceViewMode::Source;
}

/// What one text line (block) of the editor stands for.
struct SourceLineMapEntry {
    enum EKind : uint8_t { SourceLine = 0, Instruction = 1 };
    EKind Kind = SourceLine;
    uint64_t Address = 0; ///< instructions
    int32_t Line = 0;     ///< source lines; for an instruction, its source line (0: none)
    int32_t InstructionIndex = -1;
};

/// The editor's text and, in the disassembly modes, what each of its lines stands for.
struct SourceDocument {
    ESourceViewMode Mode = ESourceViewMode::Source;
    QString Text;
    /// Empty for source text, where block n is source line n + 1.
    std::vector<SourceLineMapEntry> Map;
    int BlockCount = 0;

    bool IsInstruction(int block) const
    {
        return block >= 0 && static_cast<std::size_t>(block) < Map.size() &&
               Map[static_cast<std::size_t>(block)].Kind == SourceLineMapEntry::Instruction;
    }
    /// The source line a block shows, 0 for instructions and blocks past the end.
    int32_t GetSourceLine(int block) const;
    /// The first block that shows `line` (or, in the disassembly modes, an instruction of it); -1 if none.
    int FindBlockOfLine(int32_t line) const;
};

/// The lines of a text file, without line ends; empty when it cannot be read.
QStringList ReadSourceLines(const QString& path);

/// "00401A2F  mov          eax, 1": the address zero-padded to `addressWidth` hex digits.
QString FormatInstruction(const AsmInstruction& instruction, int addressWidth);

/// The document of a mode. `sourceLines` are the file's lines (may be empty); `lines` maps the
/// instructions to their source lines for the interleaved mode (may be null).
SourceDocument BuildSourceDocument(ESourceViewMode mode, const FunctionData& data,
                                   const FunctionLineData* lines, const QStringList& sourceLines);

} // namespace Profiler
