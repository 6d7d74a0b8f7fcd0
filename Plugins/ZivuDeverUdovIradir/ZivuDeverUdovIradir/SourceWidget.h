#pragma once

#include "ZivuDeverUdovIradir/CallGraphPanels.h"

#include <filesystem>

namespace Profiler {

/// The source panel; it keeps its own state beside the view's.
class SourceWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    explicit SourceWidget(CallGraphView& view);
    void SaveState(const std::filesystem::path&) {}
    void LoadState(const std::filesystem::path&) {}
    /// Shows the source of `function` as seen in the view's current selection.
    void ShowFunction(ESourceOrigin origin, const ResolvedAddress& function);
};

} // namespace Profiler
