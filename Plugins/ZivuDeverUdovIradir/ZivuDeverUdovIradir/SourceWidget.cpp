#include "ZivuDeverUdovIradir/SourceWidget.h"

#include <QLabel>

namespace Profiler {

SourceWidget::SourceWidget(CallGraphView& view)
    : CallGraphPanel(QStringLiteral("Source"), QtWidgets::EDockPosition::Right,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/source.png"), view)
{
    // The source follows the function selected in the other panels, not the timeline's range.
    mSummaryLabel->setText(QStringLiteral("Select a function in the call graph or the function list to see "
                                          "its source with the time spent on each line."));
}

void SourceWidget::ShowFunction(ESourceOrigin, const ResolvedAddress&) {}

} // namespace Profiler
