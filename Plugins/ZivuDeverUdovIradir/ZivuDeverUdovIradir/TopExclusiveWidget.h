#pragma once

#include "ZivuDeverUdovIradir/CallGraphPanels.h"

namespace Profiler {

class CallGraphWidget;

/// The function list panel.
class TopExclusiveWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    explicit TopExclusiveWidget(CallGraphView& view);
    void SetCallGraphWidget(CallGraphWidget* widget) { mCallGraphWidget = widget; }
    /// Selects and shows the entry of `function` ("View in Function List").
    void SelectFunction(const ResolvedAddress& function);

private:
    CallGraphWidget* mCallGraphWidget = nullptr; // not owned
};

} // namespace Profiler
