// The call graph panel on a graph of a million nodes: how long the user interface thread is busy
// from a finished graph to the tree shown, the longest event-loop stall while the fold and merge
// job runs, the find, expanding the hot path and setting a custom root. The panel sits in a
// shown, offscreen window and every figure is the user interface thread's wall time.

#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "CallGraphModel/MergedCallGraph.h"
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
#include <ctime>

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
        // Every benchmark starts from the graph shown, whichever of them run.
        view->RequestCallGraph({ThreadID{1}}, TimeRange{0, 0.0, 1000.0}, false,
                               ERequestReason::RangeSelected);
        WaitForRebuild();
    }

    void CallGraphLargeShape()
    {
        CallGraphBench::LargeGraphShape shape;
        shape.nodeCount = 1'000'000;
        requester->Graph = CallGraphBench::MakeLargeCallGraph(shape);
    }

    struct Passes {
        double WorstWall = 0.0; ///< the longest event-loop pass while waiting, ms
        double WorstCpu = 0.0;  ///< the user interface thread's CPU time in that pass, ms
        double ShownWall = 0.0; ///< the pass that took the finished graph, plus a paint, ms
        double ShownCpu = 0.0;
    };

    /// Rebuilds always complete on a later pass, so the command may come before the wait.
    Passes WaitForRebuild()
    {
        return Run([] {}, &CallGraphWidget::RebuildCompleted);
    }

    /// Calls `start`, then runs the event loop until the panel emits `signal`, timing every
    /// pass: under load the wall time of a pass includes time the thread waited for a core, its
    /// CPU time does not. The signal may come during `start` (a cleared find answers at once).
    template <class Start, class Signal> Passes Run(Start start, Signal signal)
    {
        bool done = false;
        QMetaObject::Connection connection =
            QObject::connect(widget, signal, widget, [&done] { done = true; });
        start();
        Passes passes;
        while (!done) {
            QElapsedTimer wall;
            wall.start();
            const double cpu = ThreadCpuMs();
            QApplication::processEvents(QEventLoop::AllEvents);
            if (done) {
                widget->repaint();
                passes.ShownWall = wall.nsecsElapsed() / 1e6;
                passes.ShownCpu = ThreadCpuMs() - cpu;
            }
            if (wall.nsecsElapsed() / 1e6 > passes.WorstWall) {
                passes.WorstWall = wall.nsecsElapsed() / 1e6;
                passes.WorstCpu = ThreadCpuMs() - cpu;
            }
        }
        QObject::disconnect(connection);
        return passes;
    }

    static double ThreadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
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

// Built on first use and destroyed before the application object, which its widgets need.
std::unique_ptr<Panel> gPanel;

Panel& GetPanel()
{
    if (!gPanel)
        gPanel = std::make_unique<Panel>();
    return *gPanel;
}

// From the view's request to the tree shown. The fold and merge job runs meanwhile; the counters
// give the pass that took the finished graph (model, top level expanded, selection, painting) and
// the worst pass of the whole wait, which also holds the other panels' handling of the graph.
void BM_GraphToShownTree(benchmark::State& state)
{
    Panel& panel = GetPanel();
    Panel::Passes worst;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        panel.view->RequestCallGraph({ThreadID{1}}, TimeRange{0, 0.0, 1000.0}, false,
                                     ERequestReason::RangeSelected);
        const Panel::Passes passes = panel.WaitForRebuild();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        worst.WorstWall = std::max(worst.WorstWall, passes.WorstWall);
        worst.WorstCpu = std::max(worst.WorstCpu, passes.WorstCpu);
        worst.ShownWall = std::max(worst.ShownWall, passes.ShownWall);
        worst.ShownCpu = std::max(worst.ShownCpu, passes.ShownCpu);
    }
    state.counters["worst_ui_pass_ms"] = worst.WorstWall;
    state.counters["worst_ui_pass_cpu_ms"] = worst.WorstCpu;
    state.counters["graph_to_tree_ms"] = worst.ShownWall;
    state.counters["graph_to_tree_cpu_ms"] = worst.ShownCpu;
    state.counters["merged_nodes"] = static_cast<double>(panel.widget->GetMergedGraph()->CountNodes());
}
BENCHMARK(BM_GraphToShownTree)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The find over every node, from the command to the filtered tree: the visit on its job, then
// the refilter and the reveal on the user interface thread, whose worst pass is counted. The
// first match is shown before that, by a job of its own (first_match_shown_ms).
void BM_FindOverAllNodes(benchmark::State& state)
{
    Panel& panel = GetPanel();
    std::size_t matches = 0;
    Panel::Passes worst;
    double firstMatch = 0.0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        double shownAt = -1.0;
        const QMetaObject::Connection connection =
            QObject::connect(panel.widget, &CallGraphWidget::FindFirstMatchShown, panel.widget,
                             [&] { shownAt = timer.nsecsElapsed() / 1e6; });
        const Panel::Passes passes =
            panel.Run([&] { panel.widget->ApplyFind(QStringLiteral("function_1234")); },
                      &CallGraphWidget::FindCompleted);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        QObject::disconnect(connection);
        // When the whole visit wins the race, its result is the first match shown.
        firstMatch = std::max(firstMatch, shownAt >= 0.0 ? shownAt : timer.nsecsElapsed() / 1e6);
        worst.WorstWall = std::max(worst.WorstWall, passes.WorstWall);
        worst.WorstCpu = std::max(worst.WorstCpu, passes.WorstCpu);
        matches = panel.widget->GetFindState().GetMatches().size();
        panel.widget->ApplyFind({});
    }
    state.counters["first_match_shown_ms"] = firstMatch;
    state.counters["matches"] = static_cast<double>(matches);
    state.counters["worst_ui_pass_ms"] = worst.WorstWall;
    state.counters["worst_ui_pass_cpu_ms"] = worst.WorstCpu;
}
BENCHMARK(BM_FindOverAllNodes)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The find's visit alone (no view): how much of the find is the walk over every node.
void BM_FindVisitOnly(benchmark::State& state)
{
    Panel& panel = GetPanel();
    FunctionNameCache names(panel.requester->GetFunctionNames().get());
    CallGraphFindState find;
    const std::vector<const CallGraphNode*> roots = panel.widget->GetModel()->GetRootNodes();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        find.Apply(roots, "function_1234", names);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["visited"] = static_cast<double>(find.GetEntryCount());
}
BENCHMARK(BM_FindVisitOnly)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

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
// stall while the rebuild below it runs and is shown. With the argument 1 a find text is set,
// which the rebuild runs again.
void BM_SetAsRoot(benchmark::State& state)
{
    Panel& panel = GetPanel();
    Panel::Passes worst;
    if (state.range(0) != 0) {
        panel.Run([&] { panel.widget->ApplyFind(QStringLiteral("function_1")); },
                  &CallGraphWidget::FindCompleted);
    }
    for (auto _ : state) {
        QModelIndex at = panel.widget->GetProxy()->index(0, 0);
        for (int depth = 0; depth < 8 && panel.widget->GetProxy()->rowCount(at) > 0; ++depth)
            at = panel.widget->GetProxy()->index(0, 0, at);
        const CallGraphNode* node = CallGraphTreeModel::NodeOf(at);
        QElapsedTimer timer;
        timer.start();
        panel.widget->SetCustomRoot(node);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        for (int step = 0; step < 2; ++step) {
            const Panel::Passes passes = panel.WaitForRebuild();
            worst.WorstWall = std::max(worst.WorstWall, passes.WorstWall);
            worst.WorstCpu = std::max(worst.WorstCpu, passes.WorstCpu);
            worst.ShownCpu = std::max(worst.ShownCpu, passes.ShownCpu);
            if (step == 0)
                panel.widget->ClearCustomRoot();
        }
    }
    state.counters["worst_ui_pass_ms"] = worst.WorstWall;
    state.counters["worst_ui_pass_cpu_ms"] = worst.WorstCpu;
    state.counters["shown_cpu_ms"] = worst.ShownCpu;
    state.counters["find_matches"] = static_cast<double>(panel.widget->GetFindState().GetMatches().size());
    panel.widget->ApplyFind({});
}
BENCHMARK(BM_SetAsRoot)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

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
    gPanel.reset();
    return 0;
}
