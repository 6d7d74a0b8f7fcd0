// The call graph panel on a graph of a million nodes: how long the user interface thread is busy
// from a finished graph to the tree shown, the longest event-loop stall while the fold and merge
// job runs, the find, expanding the hot path and setting a custom root. The panel sits in a
// shown, offscreen window and every figure is the user interface thread's wall time.

#include "CallGraphModel/CallGraphManager.h"
#include "LargeCallGraph.h"
#include "PluginApi/SessionModelContext.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphFilterModel.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"
#include "ZivuDeverUdovIradir/SourceSettings.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QTemporaryDir>

#include <cstdio>

using namespace Profiler;

namespace {

class IndexNames final : public IFunctionInfoProvider {
public:
    std::string GetFunctionName(const ResolvedAddress& function) const override
    {
        char text[48];
        std::snprintf(text, sizeof text, "function_%llu",
                      static_cast<unsigned long long>(function.RelativeAddress));
        return text;
    }
    std::string GetModuleName(const ResolvedAddress&) const override { return "/usr/lib/libbench.so"; }
};

class GraphRequester final : public ICallGraphRequester {
public:
    void Submit(const CallGraphInputParameters& request,
                std::function<void(CallGraphAnswer)> completion) override
    {
        CallGraphAnswer answer{request, Graph, false, {}};
        QMetaObject::invokeMethod(
            qApp, [completion, answer] { completion(answer); }, Qt::QueuedConnection);
    }
    void CancelAll() override {}
    std::shared_ptr<const IFunctionInfoProvider> GetFunctionNames() const override { return mNames; }
    double GetSampleIntervalMs() const override { return 1.0; }

    std::shared_ptr<const CallGraph> Graph;

private:
    std::shared_ptr<IndexNames> mNames = std::make_shared<IndexNames>();
};

struct Panel {
    Panel()
    {
        context.Listeners = &listeners;
        context.Model = reinterpret_cast<CaptureDocument*>(uintptr_t{0x1000}); // only an id here
        auto owned = std::make_unique<GraphRequester>();
        requester = owned.get();
        CallGraphLargeShape();
        view = std::make_unique<CallGraphView>(nullptr, nullptr, manager, settings, sourceSettings, context,
                                               std::move(owned));
        widget = view->GetCallGraphWidget();
        widget->resize(1400, 900);
        widget->show();
        QApplication::processEvents();
    }

    void CallGraphLargeShape()
    {
        CallGraphBench::LargeGraphShape shape;
        shape.nodeCount = 1'000'000;
        requester->Graph = CallGraphBench::MakeLargeCallGraph(shape);
    }

    /// Runs the event loop until the panel's rebuild completes; returns the longest single
    /// event-loop pass (the user interface thread's worst stall) in milliseconds.
    double WaitForRebuild()
    {
        bool done = false;
        QMetaObject::Connection connection =
            QObject::connect(widget, &CallGraphWidget::RebuildCompleted, widget, [&done] { done = true; });
        double worst = 0.0;
        while (!done) {
            QElapsedTimer pass;
            pass.start();
            QApplication::processEvents(QEventLoop::AllEvents);
            worst = std::max(worst, pass.nsecsElapsed() / 1e6);
        }
        QObject::disconnect(connection);
        // The pass that handled the completion may have ended before painting: paint now.
        QElapsedTimer paint;
        paint.start();
        widget->repaint();
        QApplication::processEvents();
        return std::max(worst, paint.nsecsElapsed() / 1e6);
    }

    MessageListenerList listeners;
    SessionModelContext context;
    CallGraphManager manager;
    CallGraphSettings settings;
    SourceSettings sourceSettings;
    GraphRequester* requester = nullptr;
    std::unique_ptr<CallGraphView> view;
    CallGraphWidget* widget = nullptr;
};

Panel& GetPanel()
{
    static Panel panel;
    return panel;
}

// From the view's request to the tree shown; the fold and merge job runs meanwhile and the
// counter reports the worst stall of the user interface thread, which includes building the
// model over the finished graph, expanding the top level and painting.
void BM_GraphToShownTree(benchmark::State& state)
{
    Panel& panel = GetPanel();
    double worst = 0.0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        panel.view->RequestCallGraph({ThreadID{1}}, TimeRange{0, 0.0, 1000.0}, false,
                                     ERequestReason::RangeSelected);
        const double stall = panel.WaitForRebuild();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        worst = std::max(worst, stall);
    }
    state.counters["worst_ui_pass_ms"] = worst;
    state.counters["merged_nodes"] = static_cast<double>(panel.widget->GetMergedGraph()->CountNodes());
}
BENCHMARK(BM_GraphToShownTree)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The find over every node: the visit, the refilter and revealing the first matches.
void BM_FindOverAllNodes(benchmark::State& state)
{
    Panel& panel = GetPanel();
    std::size_t matches = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        panel.widget->ApplyFind(QStringLiteral("function_1234"));
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        matches = panel.widget->GetFindState().GetMatches().size();
        panel.widget->ApplyFind({});
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.counters["visited"] = static_cast<double>(panel.widget->GetFindState().GetEntryCount());
}
BENCHMARK(BM_FindOverAllNodes)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Expanding the hot path of the top-level row down to its leaf.
void BM_ExpandHotPath(benchmark::State& state)
{
    Panel& panel = GetPanel();
    QtWidgets::ScrollableTreeView* tree = panel.widget->GetTreeView();
    for (auto _ : state) {
        const QModelIndex top = panel.widget->GetProxy()->index(0, 0);
        tree->selectionModel()->select(top, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QElapsedTimer timer;
        timer.start();
        panel.widget->ExpandHotPath();
        QApplication::processEvents();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        tree->collapse(top);
    }
}
BENCHMARK(BM_ExpandHotPath)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Setting a deep row as the custom root: the call on the user interface thread, then the worst
// stall while the rebuild below it runs and is shown.
void BM_SetAsRoot(benchmark::State& state)
{
    Panel& panel = GetPanel();
    double worst = 0.0;
    for (auto _ : state) {
        QModelIndex at = panel.widget->GetProxy()->index(0, 0);
        for (int depth = 0; depth < 8 && panel.widget->GetProxy()->rowCount(at) > 0; ++depth)
            at = panel.widget->GetProxy()->index(0, 0, at);
        const CallGraphNode* node = CallGraphTreeModel::NodeOf(at);
        QElapsedTimer timer;
        timer.start();
        panel.widget->SetCustomRoot(node);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        worst = std::max(worst, panel.WaitForRebuild());
        panel.widget->ClearCustomRoot();
        worst = std::max(worst, panel.WaitForRebuild());
    }
    state.counters["worst_ui_pass_ms"] = worst;
}
BENCHMARK(BM_SetAsRoot)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QDir::setCurrent(settings.path());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
