#pragma once

#include "ProfilerLibUI/ThreadTree.h"
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
class ThreadSelectorWidget;

/// What the view hands its panels. The panels of the call graph, the function list and the
/// source build on these; today each shows a summary of the graph it was given.
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

protected:
    void focusInEvent(QFocusEvent* event) override;
    void UpdateSummary();

    CallGraphView& mView; // not owned; the view owns this panel
    QLabel* mStatusLabel;
    QLabel* mSummaryLabel;
    std::shared_ptr<const CallGraph> mGraph;
    CallGraphInputParameters mParameters;
};

/// The call graph panel: the thread selector of the view and the graph's summary.
class CallGraphWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    CallGraphWidget(CallGraphView& view, std::vector<ThreadTreeProcess> processes, bool mergeProcesses);

    /// The ids of every thread the panel lists, in its order.
    std::vector<ThreadID> GetAllThreadIds() const;
    ThreadSelectorWidget* GetThreadSelector() const { return mThreadSelector; }
    void SetCallGraph(const CallGraphInputParameters& parameters,
                      std::shared_ptr<const CallGraph> graph) override;
    void Activate() override;

private:
    ThreadSelectorWidget* mThreadSelector;
};

/// The function list panel.
class TopExclusiveWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    explicit TopExclusiveWidget(CallGraphView& view);
    void SetCallGraphWidget(CallGraphWidget* widget) { mCallGraphWidget = widget; }

private:
    CallGraphWidget* mCallGraphWidget = nullptr; // not owned
};

/// The source panel; it keeps its own state beside the view's.
class SourceWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    explicit SourceWidget(CallGraphView& view);
    void SaveState(const std::filesystem::path&) {}
    void LoadState(const std::filesystem::path&) {}
};

} // namespace Profiler
