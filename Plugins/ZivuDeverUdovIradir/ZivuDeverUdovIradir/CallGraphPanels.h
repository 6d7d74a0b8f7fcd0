#pragma once

#include "CaptureModel/ResolvedAddress.h"
#include "QtWidgets/ViewWidget.h"
#include "ZivuDeverUdovIradir/CallGraphRequester.h"

#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QShortcut;

namespace Profiler {

class CallGraphView;

/// Which panel asked the source panel to show a function; it sets the source panel's title.
enum class ESourceOrigin : uint8_t { CallGraph, FunctionList, FunctionListCalls, ThreadInteraction };

/// What the view hands its panels: the rebuild notifications and the finished graph. The call
/// graph, function list and source panels derive from it.
class CallGraphPanel : public QtWidgets::ViewWidget {
    Q_OBJECT
public:
    CallGraphPanel(const QString& name, QtWidgets::EDockPosition position, const QString& icon,
                   CallGraphView& view, QWidget* parent = nullptr);

    /// A rebuild started: the panel shows that it is waiting.
    virtual void OnRebuildStarted();
    virtual void OnRebuildCanceled();
    virtual void OnRebuildFailed(const QString& error);
    /// The finished graph of `parameters`; the panel keeps it as long as it shows it.
    virtual void SetCallGraph(const CallGraphInputParameters& parameters,
                              std::shared_ptr<const CallGraph> graph);

    const std::shared_ptr<const CallGraph>& GetCallGraph() const { return mGraph; }
    const CallGraphInputParameters& GetParameters() const { return mParameters; }
    virtual std::vector<QShortcut*> GetShortcuts() const { return {}; }

signals:
    // Navigation between panels; the view connects each to the panel that answers it.
    void ShowSourceRequested(Profiler::ESourceOrigin origin, Profiler::ResolvedAddress function);
    void ShowInFunctionListRequested(Profiler::ResolvedAddress function);
    void ShowSymbolInfoRequested(Profiler::ResolvedAddress function);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void UpdateSummary();
    /// What the panel shows, readable through the meta-object by a host (and its tests) that
    /// cannot see this module's classes.
    void PublishGraphProperties(const CallGraphInputParameters& parameters, double totalTime);

    CallGraphView& mView; // not owned; the view owns this panel
    QLabel* mStatusLabel;
    QLabel* mSummaryLabel;
    std::shared_ptr<const CallGraph> mGraph;
    CallGraphInputParameters mParameters;
};

} // namespace Profiler
