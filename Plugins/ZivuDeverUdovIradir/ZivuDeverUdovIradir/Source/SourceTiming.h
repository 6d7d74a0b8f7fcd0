#pragma once

#include "SymbolResolution/SourceCosts.h"
#include "Theming/ThemeType.h"
#include "ZivuDeverUdovIradir/Source/SourceDocument.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace Profiler {

/// The timing of every line of the editor's document, looked up once when the timing arrives so
/// that painting and tooltips cost nothing per line of the file.
class SourceTimingTable {
public:
    SourceTimingTable() = default;
    SourceTimingTable(const FunctionTimingInfo& info, const FunctionData* data,
                      const SourceDocument& document);

    bool IsEmpty() const { return mCosts.empty() && mFunctionTotal <= 0.0; }
    double GetFunctionTotal() const { return mFunctionTotal; }
    /// The time on all lines (or instructions) of the document.
    double GetTimeOnLines() const { return mTimeOnLines; }
    /// Null for blocks without time.
    const SourceCost* GetCost(int block) const;
    /// The cost's part of the function's time, 0..1.
    double GetShare(const SourceCost& cost) const;
    /// The block with the most time; -1 when no block has any.
    int GetHottestBlock() const { return mHottestBlock; }
    /// The summed costs of blocks [first, last].
    SourceCost Sum(int first, int last) const;

private:
    std::vector<int32_t> mBlockCost; ///< index into mCosts per block, -1 for none
    std::vector<SourceCost> mCosts;
    double mFunctionTotal = 0.0;
    double mTimeOnLines = 0.0;
    int mHottestBlock = -1;
};

/// The background of a line with `share` of the function's time: a fifth of the way to `hot`
/// for the least, all the way for the whole.
QColor BlendHeat(const QColor& background, const QColor& hot, double share);

/// "< 0.1%" below a thousandth, else the percentage with one decimal.
QString FormatShare(double share);

/// The tooltip of a line: its share and duration, then the split by thread state.
QString BuildTimingTooltip(const TimingEntry& entry, double functionTotal, EThemeType theme);
/// The tooltip of the whole function: the lines' sum and, when the function has more time than
/// its lines, the unattributed rest.
QString BuildFunctionTooltip(const SourceTimingTable& table, EThemeType theme);
/// The tooltip over a multi-line selection; `firstLine`/`lastLine` are shown when positive.
QString BuildSelectionTooltip(const TimingEntry& sum, double functionTotal, int firstLine, int lastLine,
                              EThemeType theme);

/// What a line waited for, as a short text ("waits: IO 30%, Sleep 5%"); empty when it only ran.
QString BuildWaitSummary(const TimingEntry& entry);

/// One selected line for "Copy with timing info".
struct CopiedLine {
    const SourceCost* Cost = nullptr; ///< null: no timing
    QString Label;                    ///< line number or address
    QString Text;
};
/// The lines in fixed-width columns: percentage and duration, label, text.
QString BuildCopyWithTiming(const std::vector<CopiedLine>& lines, double functionTotal);

} // namespace Profiler
