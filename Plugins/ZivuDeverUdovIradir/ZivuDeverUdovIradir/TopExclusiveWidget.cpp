#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"

namespace Profiler {

TopExclusiveWidget::TopExclusiveWidget(CallGraphView& view)
    : CallGraphPanel(QStringLiteral("Function List"), QtWidgets::EDockPosition::BottomNarrow,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/Flat_view_256.png"), view)
{}

void TopExclusiveWidget::SelectFunction(const ResolvedAddress&) {}

} // namespace Profiler
