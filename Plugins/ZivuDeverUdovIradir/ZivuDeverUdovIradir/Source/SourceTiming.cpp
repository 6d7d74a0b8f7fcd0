#include "ZivuDeverUdovIradir/Source/SourceTiming.h"

#include "System/FormatDuration.h"
#include "Theming/ThreadStateColours.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Profiler {

namespace {

void Accumulate(SourceCost& target, const SourceCost& source)
{
    for (int state = 0; state < kThreadStateCount; ++state)
        target.Entry.Times[state] += source.Entry.Times[state];
    target.Entry.Total += source.Entry.Total;
    target.Entry.Samples += source.Entry.Samples;
    target.CalleeTime += source.CalleeTime;
}

QString Duration(double milliseconds)
{
    return QString::fromStdString(System::FormatDuration(milliseconds));
}

QString StateTable(const TimingEntry& entry, EThemeType theme)
{
    QString table = QStringLiteral("<table>");
    for (int state = 0; state < kThreadStateCount; ++state) {
        const double time = entry.Times[state];
        if (time <= 0.0 || entry.Total <= 0.0)
            continue;
        const auto threadState = static_cast<EThreadState>(state);
        table += QStringLiteral("<tr><td><font color=\"%1\">%2</font></td><td align='right'>%3% </td>"
                                "<td><p style='white-space:pre'>(%4)</p></td></tr>")
                     .arg(GetThreadStateColour(theme, threadState).name(),
                          QString::fromUtf8(GetThreadStateName(threadState)))
                     .arg(static_cast<int>(std::lround(time / entry.Total * 100.0)))
                     .arg(Duration(time));
    }
    return table + QStringLiteral("</table>");
}

} // namespace

SourceTimingTable::SourceTimingTable(const FunctionTimingInfo& info, const FunctionData* data,
                                     const SourceDocument& document)
    : mFunctionTotal(info.TotalTime)
{
    mBlockCost.assign(static_cast<std::size_t>(document.BlockCount), -1);
    const std::map<int32_t, SourceCost> lineCosts = GetLineCosts(info);
    auto addLine = [&](int block, int32_t line) {
        auto cost = lineCosts.find(line);
        if (cost == lineCosts.end() || cost->second.IsEmpty())
            return;
        mBlockCost[static_cast<std::size_t>(block)] = static_cast<int32_t>(mCosts.size());
        mCosts.push_back(cost->second);
        // Interleaved source lines repeat the time of their instructions; count those once.
        if (document.Mode == ESourceViewMode::Source)
            mTimeOnLines += cost->second.Entry.Total;
    };
    if (document.Mode == ESourceViewMode::Source) {
        for (const auto& [line, cost] : lineCosts)
            if (line >= 1 && line <= document.BlockCount)
                addLine(line - 1, line);
    } else {
        for (std::size_t block = 0; block < document.Map.size(); ++block) {
            const SourceLineMapEntry& entry = document.Map[block];
            if (entry.Kind == SourceLineMapEntry::SourceLine) {
                addLine(static_cast<int>(block), entry.Line);
                continue;
            }
            if (data == nullptr || entry.InstructionIndex < 0 ||
                static_cast<std::size_t>(entry.InstructionIndex) >= data->mInstructions.size())
                continue;
            SourceCost cost = GetInstructionCost(
                info, data->mInstructions[static_cast<std::size_t>(entry.InstructionIndex)]);
            if (cost.IsEmpty())
                continue;
            mBlockCost[block] = static_cast<int32_t>(mCosts.size());
            mTimeOnLines += cost.Entry.Total;
            mCosts.push_back(cost);
        }
    }
    double hottest = 0.0;
    for (std::size_t block = 0; block < mBlockCost.size(); ++block) {
        const int32_t index = mBlockCost[block];
        if (index >= 0 && mCosts[static_cast<std::size_t>(index)].Entry.Total > hottest &&
            (document.Mode == ESourceViewMode::Source || document.IsInstruction(static_cast<int>(block)))) {
            hottest = mCosts[static_cast<std::size_t>(index)].Entry.Total;
            mHottestBlock = static_cast<int>(block);
        }
    }
}

const SourceCost* SourceTimingTable::GetCost(int block) const
{
    if (block < 0 || static_cast<std::size_t>(block) >= mBlockCost.size())
        return nullptr;
    const int32_t index = mBlockCost[static_cast<std::size_t>(block)];
    return index < 0 ? nullptr : &mCosts[static_cast<std::size_t>(index)];
}

double SourceTimingTable::GetShare(const SourceCost& cost) const
{
    return mFunctionTotal > 0.0 ? std::clamp(cost.Entry.Total / mFunctionTotal, 0.0, 1.0) : 0.0;
}

SourceCost SourceTimingTable::Sum(int first, int last) const
{
    SourceCost sum;
    last = std::min(last, static_cast<int>(mBlockCost.size()) - 1);
    for (int block = std::max(0, first); block <= last; ++block)
        if (const SourceCost* cost = GetCost(block))
            Accumulate(sum, *cost);
    return sum;
}

QColor BlendHeat(const QColor& background, const QColor& hot, double share)
{
    const double t = std::clamp(share, 0.0, 1.0) * 0.8 + 0.2;
    auto channel = [t](int from, int to) { return static_cast<int>(std::lround(from + (to - from) * t)); };
    return QColor(channel(background.red(), hot.red()), channel(background.green(), hot.green()),
                  channel(background.blue(), hot.blue()));
}

QString FormatShare(double share)
{
    if (share < 0.001)
        return QStringLiteral("< 0.1%");
    return QString::asprintf("%.1f%%", share * 100.0);
}

QString BuildTimingTooltip(const TimingEntry& entry, double functionTotal, EThemeType theme)
{
    const double share = functionTotal > 0.0 ? entry.Total / functionTotal : 0.0;
    return QString::asprintf("<b>%.2f%% (", share * 100.0) + Duration(entry.Total) +
           QStringLiteral(")</b><br/>") + StateTable(entry, theme);
}

QString BuildFunctionTooltip(const SourceTimingTable& table, EThemeType theme)
{
    TimingEntry sum = table.Sum(0, std::numeric_limits<int>::max()).Entry;
    QString text = BuildTimingTooltip(sum, table.GetFunctionTotal(), theme);
    const double unattributed = table.GetFunctionTotal() - table.GetTimeOnLines();
    if (table.GetFunctionTotal() > 0.0 && unattributed > table.GetFunctionTotal() * 1e-9)
        text += QString::asprintf("<br><br><b>%.2f%% (", unattributed / table.GetFunctionTotal() * 100.0) +
                Duration(unattributed) + QStringLiteral(")</b> unattributed time<br/>");
    return text;
}

QString BuildSelectionTooltip(const TimingEntry& sum, double functionTotal, int firstLine, int lastLine,
                              EThemeType theme)
{
    const QString range = firstLine > 0 && lastLine > 0
                              ? QStringLiteral("<b> [%1-%2]</b>").arg(firstLine).arg(lastLine)
                              : QString();
    return QStringLiteral("Timing information for selected lines%1:<br/><br/>").arg(range) +
           BuildTimingTooltip(sum, functionTotal, theme);
}

QString BuildWaitSummary(const TimingEntry& entry)
{
    if (entry.Total <= 0.0)
        return {};
    QStringList parts;
    for (int state = 0; state < kThreadStateCount; ++state) {
        const auto threadState = static_cast<EThreadState>(state);
        const double share = entry.Times[state] / entry.Total;
        // Below a percent the line did not really wait; naming it would only be noise.
        if (threadState == EThreadState::Executing || share < 0.01)
            continue;
        parts.push_back(QStringLiteral("%1 %2%")
                            .arg(QString::fromUtf8(GetThreadStateName(threadState)))
                            .arg(static_cast<int>(std::lround(share * 100.0))));
    }
    return parts.isEmpty() ? QString() : QStringLiteral("waits: ") + parts.join(QStringLiteral(", "));
}

QString BuildCopyWithTiming(const std::vector<CopiedLine>& lines, double functionTotal)
{
    std::vector<QString> timings;
    int timingWidth = 0;
    int labelWidth = 0;
    for (const CopiedLine& line : lines) {
        QString timing;
        if (line.Cost != nullptr && !line.Cost->IsEmpty()) {
            const double share = functionTotal > 0.0 ? line.Cost->Entry.Total / functionTotal : 0.0;
            timing = QString::asprintf("%.5f%%", share * 100.0) + QStringLiteral(" (") +
                     Duration(line.Cost->Entry.Total) + QLatin1Char(')');
        }
        timingWidth = std::max(timingWidth, static_cast<int>(timing.size()));
        labelWidth = std::max(labelWidth, static_cast<int>(line.Label.size()));
        timings.push_back(timing);
    }
    QString text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += timings[i].leftJustified(timingWidth) + QLatin1Char(' ') +
                lines[i].Label.rightJustified(labelWidth) + QStringLiteral(" | ") + lines[i].Text +
                QLatin1Char('\n');
    return text;
}

} // namespace Profiler
