// The function list panel's targets: a list of 100,000 functions shown and sorted by any column
// on the UI thread, and the butterfly of a function in a graph of 1,000,000 nodes.

#include "CallGraphModel/BuildButterflyJob.h"
#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/FunctionList.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "LargeCallGraph.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "QtWidgets/TreeView.h"
#include "ZivuDeverUdovIradir/FunctionList/ButterflyTreeModel.h"
#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <sys/resource.h>

#include <chrono>
#include <random>

using namespace Profiler;

namespace {

constexpr uint32_t kListSize = 100'000;

/// A finished list as the list job leaves it: figures drawn at random, names that share long
/// prefixes (as C++ names do), largest inclusive time first.
std::shared_ptr<const BuildListData> MakeListData()
{
    auto data = std::make_shared<BuildListData>();
    std::mt19937_64 random(7);
    std::exponential_distribution<double> time(0.01);
    for (uint32_t i = 0; i < kListSize; ++i) {
        auto item = std::make_unique<FunctionListItem>();
        item->Function = ResolvedAddress::Make(0x1000 + i * 16ull, ResolvedAddress::kKindNative, i % 50);
        for (double& state : item->Inclusive)
            state = time(random);
        item->Exclusive = time(random);
        item->SampleCount = random() % 10'000;
        data->Items.push_back(std::move(item));
        data->DisplayRecords.push_back(
            {"std::__detail::_Namespace" + std::to_string(random() % 1000) + "::Function" + std::to_string(i),
             "/usr/lib/x86_64-linux-gnu/libmodule" + std::to_string(i % 50) + ".so.1"});
    }
    std::stable_sort(data->Items.begin(), data->Items.end(), [](const auto& a, const auto& b) {
        return a->GetTotalInclusive() > b->GetTotalInclusive();
    });
    return data;
}

/// What the widget does when a list arrives: a model over the shared list, and the tree view
/// showing it sorted by one column.
void BM_ShowAndSortList(benchmark::State& state)
{
    static const std::shared_ptr<const BuildListData> data = MakeListData();
    QtWidgets::ScrollableTreeView view;
    view.resize(1200, 800);
    // As the panel sets up its list.
    for (QTreeView* half :
         {static_cast<QTreeView*>(view.GetLeftTree()), static_cast<QTreeView*>(view.GetRightTree())}) {
        half->setRootIsDecorated(false);
        half->setUniformRowHeights(true);
    }
    view.show();
    // The list job's completion orders the names on the job's thread.
    static const FunctionNameKeys nameKeys = TopExclusiveViewModel::MakeNameKeys(*data);
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        FunctionNameKeys keys = nameKeys;
        state.ResumeTiming();
        auto* model = new TopExclusiveViewModel(data, 1.0e6, EFunctionListTimeDisplayMode::Milliseconds,
                                                std::move(keys));
        view.setModel(model);
        view.setSortingEnabled(true);
        view.sortByColumn(column, Qt::DescendingOrder);
        benchmark::DoNotOptimize(model->index(0, 0).data());
        state.PauseTiming();
        view.setModel(nullptr);
        delete model;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["rows"] = kListSize;
}
BENCHMARK(BM_ShowAndSortList)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(5);

/// Folding and ordering the names for sorting and finding, as the list job's completion does off
/// the UI thread.
void BM_MakeNameKeys(benchmark::State& state)
{
    static const std::shared_ptr<const BuildListData> data = MakeListData();
    for (auto _ : state)
        benchmark::DoNotOptimize(TopExclusiveViewModel::MakeNameKeys(*data).Rank.size());
}
BENCHMARK(BM_MakeNameKeys)->Unit(benchmark::kMillisecond)->Iterations(5);

/// Re-sorting a shown list by another column, as a click on a header does.
void BM_ResortList(benchmark::State& state)
{
    static const std::shared_ptr<const BuildListData> data = MakeListData();
    TopExclusiveViewModel model(data, 1.0e6, EFunctionListTimeDisplayMode::Milliseconds);
    int column = 0;
    for (auto _ : state) {
        model.sort(column, Qt::AscendingOrder);
        column = (column + 1) % 5;
    }
}
BENCHMARK(BM_ResortList)->Unit(benchmark::kMillisecond)->Iterations(10);

struct LargeGraph {
    std::unique_ptr<CallGraph> Graph;
    ResolvedAddress Hottest; ///< the function with the most time: the largest butterfly
};

const LargeGraph& GetLargeGraph()
{
    static const LargeGraph graph = [] {
        CallGraphBench::LargeGraphShape shape;
        shape.nodeCount = 1'000'000;
        LargeGraph large{CallGraphBench::MakeLargeCallGraph(shape), {}};
        FunctionListItems items;
        std::atomic<bool> canceled{false};
        BuildFunctionList(large.Graph->GetRoot(), FunctionScope{}, items, canceled);
        // The first functions are the entry chain that every stack shares; pick the hottest
        // function below it, whose callers and callees spread over the whole graph.
        large.Hottest = items[std::min<std::size_t>(items.size() - 1, 25)]->Function;
        return large;
    }();
    return graph;
}

/// The butterfly job's work: the called-by tree and the calls pane in one walk over the graph, as
/// many levels as the job builds.
void BM_ButterflyInMillionNodeGraph(benchmark::State& state)
{
    const LargeGraph& large = GetLargeGraph();
    std::atomic<bool> canceled{false};
    const bool entry = state.range(0) == 0;
    const ResolvedAddress function =
        entry ? (*large.Graph->GetRoot().Children.begin())->GetFunction() : large.Hottest;
    std::size_t calledByNodes = 0;
    std::size_t callsNodes = 0;
    std::size_t paneBytes = 0;
    double firstMs = -1.0;
    long firstFaults = 0;
    for (auto _ : state) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long faultsBefore = usage.ru_minflt;
        const auto start = std::chrono::steady_clock::now();
        auto calledBy = std::make_unique<CalledByGraph>();
        auto calls = std::make_unique<CallGraph>(CallGraph::kQueryFirstBlockBytes);
        benchmark::DoNotOptimize(BuildButterfly(large.Graph->GetRoot(), function, FunctionScope{},
                                                calledBy.get(), calls.get(), canceled,
                                                BuildButterflyJob::kFirstLimits));
        // The first butterfly gets fresh pages; later ones reuse the blocks of the ones before.
        if (firstMs < 0.0) {
            firstMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            getrusage(RUSAGE_SELF, &usage);
            firstFaults = usage.ru_minflt - faultsBefore;
        }
        // The graphs are destroyed on the manager's thread, not the job's.
        state.PauseTiming();
        calledByNodes = calledBy->CountNodes();
        callsNodes = calls->CountNodes();
        paneBytes = calledBy->GetRoot().GetArena().GetBytesAllocated() +
                    calls->GetRoot().GetArena().GetBytesAllocated();
        calledBy.reset();
        calls.reset();
        state.ResumeTiming();
    }
    state.counters["nodes"] = static_cast<double>(large.Graph->CountNodes());
    state.counters["calledByNodes"] = static_cast<double>(calledByNodes);
    state.counters["callsNodes"] = static_cast<double>(callsNodes);
    state.counters["firstMs"] = firstMs;
    state.counters["firstFaults"] = static_cast<double>(firstFaults);
    state.counters["paneMB"] = static_cast<double>(paneBytes) / (1 << 20);
    state.SetLabel(entry ? "the entry function (whole graph below it)" : "a hot inner function");
}
BENCHMARK(BM_ButterflyInMillionNodeGraph)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

/// The heaviest row of `node` other than a stand-in, or null.
const CallGraphNode* HeaviestChild(const CallGraphNode& node)
{
    const CallGraphNode* heaviest = nullptr;
    for (CallGraphNode* child : node.Children)
        if (!IsUnbuiltLevels(*child) &&
            (heaviest == nullptr || child->InclusiveTime() > heaviest->InclusiveTime()))
            heaviest = child;
    return heaviest;
}

/// The proxy index of `node`'s row, opening the rows above it as a view would.
QModelIndex FindRow(QSortFilterProxyModel& proxy, const CallGraphNode& node)
{
    QModelIndex parent;
    for (const ResolvedAddress& function : GetButterflyPath(node)) {
        QModelIndex found;
        for (int row = 0; row < proxy.rowCount(parent) && !found.isValid(); ++row)
            if (ButterflyTreeModel::GetNode(proxy.mapToSource(proxy.index(row, 0, parent)))
                    ->HasFunction(function))
                found = proxy.index(row, 0, parent);
        parent = found;
    }
    return parent;
}

/// Opening a row whose children the butterfly job left out: the levels job's work, for the entry
/// function's calls pane and called-by tree, each down its heaviest path to the first row left out.
/// `arriveMs`: the UI thread's part when the result arrives, the rows inserted into the model and
/// sorted by the panel's proxy (by inclusive time).
void BM_ButterflyLevelsInMillionNodeGraph(benchmark::State& state)
{
    const LargeGraph& large = GetLargeGraph();
    std::atomic<bool> canceled{false};
    const bool calledByPane = state.range(0) == 1;
    const ResolvedAddress function = (*large.Graph->GetRoot().Children.begin())->GetFunction();
    auto calledBy = std::make_shared<CalledByGraph>();
    auto calls = std::make_shared<CallGraph>(CallGraph::kQueryFirstBlockBytes);
    if (!BuildButterfly(large.Graph->GetRoot(), function, FunctionScope{}, calledBy.get(), calls.get(),
                        canceled, BuildButterflyJob::kFirstLimits)) {
        state.SkipWithError("canceled");
        return;
    }
    const std::shared_ptr<const CallGraph> pane =
        calledByPane ? std::shared_ptr<const CallGraph>(calledBy) : std::shared_ptr<const CallGraph>(calls);
    const CallGraphNode* node = HeaviestChild(pane->GetRoot());
    while (node != nullptr && FindUnbuiltLevels(*node) == nullptr)
        node = HeaviestChild(*node);
    if (node == nullptr) {
        state.SkipWithError("no row was left out");
        return;
    }
    const std::vector<ResolvedAddress> path = GetButterflyPath(*node);
    std::size_t rows = 0;
    std::size_t built = 0;
    double arriveMs = 0.0;
    for (auto _ : state) {
        std::shared_ptr<CallGraph> levels;
        if (calledByPane)
            levels = std::make_shared<CalledByGraph>();
        else
            levels = std::make_shared<CallGraph>();
        benchmark::DoNotOptimize(BuildButterflyLevels(
            large.Graph->GetRoot(), function, FunctionScope{}, path,
            calledByPane ? static_cast<CalledByGraph*>(levels.get()) : nullptr,
            calledByPane ? nullptr : levels.get(), BuildButterflyLevelsJob::kLimits, canceled));
        // The graph is destroyed on the manager's thread, not the job's.
        state.PauseTiming();
        const CallGraphNode* opened = FindButterflyPath(levels->GetRoot(), path);
        rows = opened != nullptr ? opened->Children.size() : 0;
        built = levels->CountNodes();
        {
            ButterflyTreeModel model(pane, QStringLiteral("Calls"), pane->GetTotalTime(), 1.0, nullptr,
                                     ECallGraphTimeDisplayMode::Milliseconds);
            ButterflySortProxyModel proxy;
            proxy.setSourceModel(&model);
            proxy.sort(2, Qt::DescendingOrder);
            const QModelIndex row = FindRow(proxy, *node);
            // As a view opening the row: it asks for the rows (none yet), then fetches them.
            benchmark::DoNotOptimize(proxy.rowCount(row));
            proxy.fetchMore(row);
            const auto start = std::chrono::steady_clock::now();
            model.AddLevels(proxy.mapToSource(row), levels, opened);
            benchmark::DoNotOptimize(proxy.index(0, 0, row));
            arriveMs +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
        levels.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["builtNodes"] = static_cast<double>(built);
    state.counters["arriveMs"] = arriveMs / static_cast<double>(state.iterations());
    state.SetLabel(calledByPane ? "called-by tree" : "calls pane");
}
BENCHMARK(BM_ButterflyLevelsInMillionNodeGraph)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

/// The called-by tree alone.
void BM_CalledByInMillionNodeGraph(benchmark::State& state)
{
    const LargeGraph& large = GetLargeGraph();
    std::atomic<bool> canceled{false};
    const ResolvedAddress function =
        state.range(0) == 0 ? (*large.Graph->GetRoot().Children.begin())->GetFunction() : large.Hottest;
    for (auto _ : state) {
        auto calledBy = std::make_unique<CalledByGraph>();
        benchmark::DoNotOptimize(
            BuildCalledByGraph(large.Graph->GetRoot(), function, FunctionScope{}, *calledBy, canceled));
        state.PauseTiming();
        calledBy.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CalledByInMillionNodeGraph)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

/// The eager way the calls pane was built before: copy the subtrees, fold, merge. Kept to
/// compare; function timing still folds this way.
void BM_EagerCallsInMillionNodeGraph(benchmark::State& state)
{
    const LargeGraph& large = GetLargeGraph();
    std::atomic<bool> canceled{false};
    const ResolvedAddress function =
        state.range(0) == 0 ? (*large.Graph->GetRoot().Children.begin())->GetFunction() : large.Hottest;
    for (auto _ : state) {
        auto folded = std::make_unique<FoldedCallGraph>();
        auto merged = std::make_unique<MergedCallGraph>();
        BuildSubgraphBelowFunction(large.Graph->GetRoot(), function, FunctionScope{}, *folded, merged.get(),
                                   canceled);
        state.PauseTiming();
        folded.reset();
        merged.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EagerCallsInMillionNodeGraph)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ListOfMillionNodeGraph(benchmark::State& state)
{
    const LargeGraph& large = GetLargeGraph();
    std::atomic<bool> canceled{false};
    for (auto _ : state) {
        FunctionListItems items;
        BuildFunctionList(large.Graph->GetRoot(), FunctionScope{}, items, canceled);
        benchmark::DoNotOptimize(items.size());
    }
}
BENCHMARK(BM_ListOfMillionNodeGraph)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
