// The commands of the call graph panel: find, custom root, hot path, recursion folding, copy,
// selection messages, the chart and the menus. The panel's construction and rebuild live in
// CallGraphWidget.cpp.

#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "PluginApi/MessageTypes.h"
#include "ProfilerLibUI/FindLineEdit.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "QtWidgets/TreeView.h"
#include "Theming/Icons.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphDelegates.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphFilterModel.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphRebuild.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"
#include "ZivuDeverUdovIradir/CallGraph/TimeSlicePieChart.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>
#include <array>

namespace Profiler {

namespace {

/// Matches brought into view after a find; the rest stay reachable by expanding.
constexpr std::size_t kMaxRevealedMatches = 64;
/// Callees below this share of the selected row's time go into the chart's "Other" slice.
constexpr float kPieChartThreshold = 0.05f;

QIcon Icon(const char* file)
{
    return GetThemedIcon(QStringLiteral(":/ZivuDeverUdovIradir/Resources/") + QString::fromLatin1(file));
}

/// Proxy rows from the top level down; orders indexes as the tree shows them.
std::vector<int> RowPath(QModelIndex index)
{
    std::vector<int> path;
    for (; index.isValid(); index = index.parent())
        path.push_back(index.row());
    std::reverse(path.begin(), path.end());
    return path;
}

/// Expanding rows one by one lays both halves of the tree out after every row. While a full
/// layout is pending, an expansion only records the row; the layout then runs once, when the
/// batch ends. Setting the current root index again is the public way to make one pending.
class TreeLayoutBatch {
public:
    explicit TreeLayoutBatch(QtWidgets::ScrollableTreeView& tree) : mTree(tree)
    {
        for (QTreeView* half : Halves())
            half->setRootIndex(half->rootIndex());
    }
    ~TreeLayoutBatch()
    {
        for (QTreeView* half : Halves())
            half->doItemsLayout();
    }
    TreeLayoutBatch(const TreeLayoutBatch&) = delete;
    TreeLayoutBatch& operator=(const TreeLayoutBatch&) = delete;

private:
    std::array<QTreeView*, 2> Halves() const { return {mTree.GetLeftTree(), mTree.GetRightTree()}; }
    QtWidgets::ScrollableTreeView& mTree;
};

bool IsPseudo(const CallGraphNode& node)
{
    return node.GetFunction().GetKind() == ResolvedAddress::kKindPseudo;
}

} // namespace

QModelIndex CallGraphWidget::ProxyIndexOf(const CallGraphNode* node) const
{
    if (!mModel || !mProxy)
        return {};
    return mProxy->mapFromSource(mModel->IndexOfNode(node));
}

std::vector<QModelIndex> CallGraphWidget::SelectedSourceRows() const
{
    std::vector<QModelIndex> rows;
    if (!mProxy || !mTreeView->selectionModel())
        return rows;
    std::vector<std::pair<std::vector<int>, QModelIndex>> ordered;
    for (const QModelIndex& index : mTreeView->selectionModel()->selectedRows(0))
        ordered.emplace_back(RowPath(index), mProxy->mapToSource(index));
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& entry : ordered)
        rows.push_back(entry.second);
    return rows;
}

const CallGraphNode* CallGraphWidget::SingleSelectedNode() const
{
    const std::vector<QModelIndex> rows = SelectedSourceRows();
    return rows.size() == 1 ? CallGraphTreeModel::NodeOf(rows.front()) : nullptr;
}

void CallGraphWidget::FindByName(const QString& name)
{
    mFindLineEdit->setText(name);
    ApplyFind(name);
}

void CallGraphWidget::ApplyFind(const QString& text)
{
    {
        const QSignalBlocker blocker(mFindLineEdit);
        mFindLineEdit->setText(text);
    }
    mFinder->Cancel();
    mFirstMatchFinder->Cancel();
    ++mFindGeneration; // the old find's matches are no longer revealed
    const std::string needle = text.trimmed().toStdString();
    if (!mModel || needle.empty()) {
        ShowFindResult({});
        return;
    }
    // The visit reads every node, a few hundred milliseconds on the largest graphs: it runs on a
    // job, which keeps the graph alive. Meanwhile the tree shows every row again, and a second
    // job looks for the first match alone, which is selected as soon as it is found.
    if (!mFindState.IsEmpty()) {
        mFindState = {};
        mProxy->Refilter();
    }
    const std::vector<const CallGraphNode*> roots = mModel->GetRootNodes();
    mFinder->Start(
        [graph = mMergedGraph, roots, needle, names = mFindNames, reserve = mFullNodeCount](
            const std::atomic<bool>& canceled) { return RunFind(roots, needle, *names, reserve, canceled); },
        [this](std::shared_ptr<CallGraphFindState> state) { ShowFindResult(std::move(*state)); });
    mFirstMatchFinder->Start(
        [graph = mMergedGraph, roots, needle, provider = mNameProvider](const std::atomic<bool>& canceled) {
            FunctionNameCache names(provider.get()); // its own: the whole visit holds the shared one
            return FindFirstMatch(roots, needle, names, canceled);
        },
        [this](const CallGraphNode* first) {
            if (first == nullptr || !mFinder->IsRunning())
                return;
            SelectNodeRow(first);
            emit FindFirstMatchShown();
        });
    // A find that takes long enough to be noticed says that it is working; quick ones never
    // flash the bar.
    constexpr int kFindBusyDelayMs = 150;
    QTimer::singleShot(kFindBusyDelayMs, this, [this, generation = mFindGeneration] {
        if (generation != mFindGeneration || !mFinder->IsRunning() || IsRebuilding())
            return;
        mProgressBar->show();
        mProgressBarLabel->setText(QStringLiteral("Finding"));
        mProgressBarFrame->show();
    });
}

void CallGraphWidget::ShowFindResult(CallGraphFindState state)
{
    if (!IsRebuilding())
        mProgressBarFrame->hide();
    mFindState = std::move(state);
    if (mProxy)
        mProxy->Refilter();
    const auto& matches = mFindState.GetMatches();
    // The first match is shown at once; a few more are expanded over the next turns of the
    // event loop, so that a find with many matches never holds the user interface for long.
    ++mFindGeneration;
    mPendingReveal.assign(matches.begin() + std::min<std::size_t>(1, matches.size()),
                          matches.begin() + std::min(matches.size(), kMaxRevealedMatches));
    if (!mPendingReveal.empty())
        QTimer::singleShot(0, this,
                           [this, generation = mFindGeneration] { RevealPendingMatches(generation); });
    if (!matches.empty()) {
        {
            const TreeLayoutBatch batch(*mTreeView);
            ExpandPathTo(ProxyIndexOf(matches.front()));
        }
        const QModelIndex first = ProxyIndexOf(matches.front());
        mTreeView->selectionModel()->select(first,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        mTreeView->setCurrentIndex(first);
        mTreeView->scrollTo(first);
    }
    emit FindCompleted();
}

void CallGraphWidget::RevealPendingMatches(uint64_t generation)
{
    constexpr std::size_t kMatchesPerTurn = 8;
    if (generation != mFindGeneration || !mModel)
        return;
    const std::size_t count = std::min(kMatchesPerTurn, mPendingReveal.size());
    const TreeLayoutBatch batch(*mTreeView);
    for (std::size_t i = 0; i < count; ++i)
        ExpandPathTo(ProxyIndexOf(mPendingReveal[i]));
    mPendingReveal.erase(mPendingReveal.begin(), mPendingReveal.begin() + static_cast<std::ptrdiff_t>(count));
    if (!mPendingReveal.empty())
        QTimer::singleShot(0, this, [this, generation] { RevealPendingMatches(generation); });
}

void CallGraphWidget::ExpandPathTo(const QModelIndex& proxyIndex)
{
    for (QModelIndex at = proxyIndex.parent(); at.isValid(); at = at.parent())
        if (!mTreeView->isExpanded(at))
            mTreeView->expand(at);
}

void CallGraphWidget::SelectNodeRow(const CallGraphNode* node)
{
    const QModelIndex index = ProxyIndexOf(node);
    if (!index.isValid())
        return;
    ExpandPathTo(index);
    mTreeView->selectionModel()->select(index,
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    mTreeView->setCurrentIndex(index);
    mTreeView->scrollTo(index);
}

void CallGraphWidget::SetCustomRoot(const CallGraphNode* node)
{
    if (node == nullptr)
        return;
    const ResolvedCallstack path = CallPath(*node);
    emit CustomRootChanged(path);
    OnCustomRootChanged(path);
}

void CallGraphWidget::ClearCustomRoot()
{
    emit CustomRootChanged({});
    OnCustomRootChanged({});
}

void CallGraphWidget::OnCustomRootChanged(const ResolvedCallstack& root)
{
    mCustomRootTag->property("toolBarAction").value<QAction*>()->setVisible(!root.empty());
    if (mGraph)
        Rebuild(mParameters, root, mGraph, false, true, false);
    UpdateActions();
}

void CallGraphWidget::ExpandHotPathFrom(const QModelIndex& proxyIndex)
{
    QModelIndex at = proxyIndex;
    while (at.isValid()) {
        if (!mTreeView->isExpanded(at))
            mTreeView->expand(at);
        QModelIndex hottest;
        double hottestTime = 0.0;
        const int rows = mProxy->rowCount(at);
        for (int row = 0; row < rows; ++row) {
            const QModelIndex child = mProxy->index(row, 0, at);
            const double time = child.data(CallGraphRoles::Inclusive).toDouble();
            // The first child wins ties.
            if (!hottest.isValid() || time > hottestTime) {
                hottest = child;
                hottestTime = time;
            }
        }
        at = hottest;
    }
}

void CallGraphWidget::ExpandHotPath()
{
    if (!mProxy)
        return;
    const TreeLayoutBatch batch(*mTreeView);
    for (const QModelIndex& index : mTreeView->selectionModel()->selectedRows(0))
        ExpandHotPathFrom(index);
}

void CallGraphWidget::ExpandAllChildren()
{
    if (!mProxy)
        return;
    const TreeLayoutBatch batch(*mTreeView);
    for (const QModelIndex& index : mTreeView->selectionModel()->selectedRows(0)) {
        mTreeView->expand(index);
        for (int row = 0; row < mProxy->rowCount(index); ++row)
            mTreeView->expand(mProxy->index(row, 0, index));
    }
}

void CallGraphWidget::FoldRecursion(const QModelIndex& proxyIndex)
{
    const CallGraphNode* node = CallGraphTreeModel::NodeOf(proxyIndex);
    if (node == nullptr || !mGraph)
        return;
    for (const MergedSource& source : MergedCallGraphNode::From(*node).Sources)
        if (source.State() == EFoldState::Foldable && source.Node() != nullptr)
            mRecursionRoots.insert(source.Node());
    Rebuild(mParameters, mCustomRoot, mGraph, false, true, false);
}

void CallGraphWidget::UnfoldRecursion(const QModelIndex& proxyIndex)
{
    const CallGraphNode* node = CallGraphTreeModel::NodeOf(proxyIndex);
    if (node == nullptr || !mGraph)
        return;
    for (const MergedSource& source : MergedCallGraphNode::From(*node).Sources)
        if (source.State() == EFoldState::Folded)
            mRecursionRoots.erase(source.Node());
    Rebuild(mParameters, mCustomRoot, mGraph, false, true, false);
}

QString CallGraphWidget::SelectedRowsAsText() const
{
    const std::vector<QModelIndex> rows = SelectedSourceRows();
    if (rows.empty() || !mModel)
        return {};
    std::vector<int> columns;
    for (int column = 0; column < CallGraphTreeModel::kColumnCount - 1; ++column)
        if (column == 0 || mTreeView->GetVisibleColumns().contains(column))
            columns.push_back(column);
    std::vector<std::string> headers;
    for (int column : columns)
        headers.push_back(mModel->headerData(column, Qt::Horizontal).toString().toStdString());

    std::vector<const CallGraphNode*> selectedNodes;
    for (const QModelIndex& row : rows)
        selectedNodes.push_back(CallGraphTreeModel::NodeOf(row));
    std::vector<TextTableRow> table;
    for (const QModelIndex& row : rows) {
        TextTableRow line;
        const CallGraphNode* node = CallGraphTreeModel::NodeOf(row);
        for (const CallGraphNode* at = node->Parent; at != nullptr; at = at->Parent)
            line.Level += std::count(selectedNodes.begin(), selectedNodes.end(), at) > 0 ? 1 : 0;
        const CallGraphTreeItem* item = mModel->ItemOf(row);
        for (int column : columns)
            line.Cells.push_back(mModel->DisplayText(*item, column).toStdString());
        table.push_back(std::move(line));
    }
    return QString::fromStdString(FormatTextTable(headers, table));
}

void CallGraphWidget::CopyText(const QString& text) const
{
    QGuiApplication::clipboard()->setText(text);
}

void CallGraphWidget::CopySelectedRows() const
{
    const QString text = SelectedRowsAsText();
    if (!text.isEmpty())
        CopyText(text);
}

void CallGraphWidget::UpdateActions()
{
    const std::vector<QModelIndex> rows = SelectedSourceRows();
    mActionExpandHotPath->setEnabled(!rows.empty());
    mActionExpandAllChildren->setEnabled(!rows.empty());
    mActionCopyToClipboard->setEnabled(!rows.empty());
    mActionSetAsRoot->setEnabled(rows.size() == 1);
    mActionViewInFlatList->setEnabled(rows.size() == 1);
    if (rows.size() == 1) {
        const bool isRoot = mModel && CallGraphTreeModel::NodeOf(rows.front()) == mModel->GetCustomRootNode();
        mActionSetAsRoot->setToolTip(
            isRoot ? QStringLiteral("Clear custom root")
                   : QStringLiteral("Filter to this node in Call Graph and Function List"));
        mActionSetAsRoot->setIcon(Icon(isRoot ? "callgraph_clear_root.png" : "callgraph_root.png"));
    }
    const QSignalBlocker blocker(mActionChangePieChartVisibility);
    mActionChangePieChartVisibility->setChecked(mView.GetCallGraphSettings().IsPieChartVisible());
}

void CallGraphWidget::OnSelectionChanged()
{
    UpdateActions();
    UpdatePieChart();
    if (!mModel)
        return;
    SendSelection();
    const std::vector<QModelIndex> rows = SelectedSourceRows();
    if (!rows.empty()) {
        const CallGraphNode* node = CallGraphTreeModel::NodeOf(rows.front());
        if (node != nullptr && !IsPseudo(*node))
            emit ShowSourceRequested(ESourceOrigin::CallGraph, node->GetFunction());
    }
}

void CallGraphWidget::SendSelection()
{
    MessageListenerList* listeners = mView.GetListenerList();
    if (listeners == nullptr || !mModel)
        return;
    std::vector<int32_t> threads;
    for (ThreadID thread : mParameters.ThreadIDs)
        threads.push_back(static_cast<int32_t>(thread));
    std::vector<std::vector<ResolvedAddress>> paths;
    std::vector<std::string> names;
    std::vector<std::string> modules;
    for (const QModelIndex& row : SelectedSourceRows()) {
        const CallGraphTreeItem* item = mModel->ItemOf(row);
        paths.push_back(CallPath(item->GetNode()));
        names.push_back(item->GetFunctionName());
        modules.push_back(mModel->DisplayText(*item, 1).toStdString());
    }
    Message message(MessageTypes::CallGraphSelected());
    message.WriteInt32Array("ThreadIDs", threads);
    message.WriteDouble("StartTime", mParameters.StartTime);
    message.WriteDouble("EndTime", mParameters.EndTime);
    message.WriteFrameArrays("Callstack", paths);
    message.WriteStringArray("ResolvedFunctionNames", names);
    message.WriteStringArray("ModuleNames", modules);
    SendMessage(*listeners, mView.listenerId, message);
}

void CallGraphWidget::UpdatePieChart()
{
    if (!mActionChangePieChartVisibility->isChecked())
        return;
    const CallGraphNode* node = SingleSelectedNode();
    if (node == nullptr) {
        mPieChart->SetEntries({}, kPieChartThreshold, mTimeScale);
        mPieChartWidgetStack->setCurrentWidget(mPieChartEmptyPage);
        return;
    }
    mPieChart->SetEntries(BuildTimeDistributionEntries(*node, mTimeScale, mNames), kPieChartThreshold,
                          mTimeScale);
    mPieChartWidgetStack->setCurrentWidget(mPieChart->GetSlices().empty() ? mPieChartEmptyPage
                                                                          : mPieChartPage);
}

void CallGraphWidget::OnPieSliceClicked(const TimeDistributionSlice& slice)
{
    if (slice.Node != nullptr)
        SelectNodeRow(slice.Node);
}

void CallGraphWidget::OnPieNavigateBack()
{
    const CallGraphNode* node = SingleSelectedNode();
    if (node != nullptr && node->Parent != nullptr && !node->Parent->IsRoot())
        SelectNodeRow(node->Parent);
}

std::unique_ptr<QMenu> CallGraphWidget::BuildContextMenu()
{
    const std::vector<QModelIndex> rows = SelectedSourceRows();
    if (!mModel || rows.empty())
        return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(Icon("CopyToClipboard_256x.png"), QStringLiteral("Copy"), this,
                    &CallGraphWidget::CopySelectedRows);
    if (rows.size() > 1) {
        menu->addAction(QStringLiteral("Expand hot path"), this, &CallGraphWidget::ExpandHotPath);
        menu->addAction(QStringLiteral("Expand all children"), this, &CallGraphWidget::ExpandAllChildren);
        return menu;
    }
    const CallGraphTreeItem* item = mModel->ItemOf(rows.front());
    const CallGraphNode* node = &item->GetNode();
    const QPersistentModelIndex proxyIndex(mProxy->mapFromSource(rows.front()));
    QMenu* advanced = menu->addMenu(QStringLiteral("Copy Advanced"));
    auto copyColumn = [this, item](int column) {
        return [this, item, column] { CopyText(mModel->DisplayText(*item, column)); };
    };
    if (!IsPseudo(*node)) {
        advanced->addAction(QStringLiteral("Copy Name"), this, copyColumn(0));
        advanced->addAction(QStringLiteral("Copy Module"), this, copyColumn(1));
    }
    advanced->addAction(QStringLiteral("Copy Inclusive Time"), this, copyColumn(2));
    advanced->addAction(QStringLiteral("Copy Exclusive Time"), this, copyColumn(3));
    advanced->addAction(QStringLiteral("Copy Callstack"), this, [this, node] {
        // One frame per line, outermost first.
        QStringList lines;
        for (const ResolvedAddress& function : CallPath(*node))
            lines.push_back(QString::fromStdString(mNames.GetName(function)));
        CopyText(lines.join(QLatin1Char('\n')));
    });
    menu->addSeparator();
    if (node == mModel->GetCustomRootNode())
        menu->addAction(Icon("callgraph_clear_root.png"), QStringLiteral("Clear custom root"), this,
                        &CallGraphWidget::ClearCustomRoot);
    else
        menu->addAction(Icon("callgraph_root.png"), QStringLiteral("Set as root"), this,
                        [this, node] { SetCustomRoot(node); });
    menu->addAction(QStringLiteral("Expand hot path"), this, &CallGraphWidget::ExpandHotPath);
    menu->addAction(QStringLiteral("Expand all children"), this, &CallGraphWidget::ExpandAllChildren);
    if (MergedCallGraphTreeModel::IsFolded(*node))
        menu->addAction(Icon("recursion_unfold.png"), QStringLiteral("Unfold recursion"), this,
                        [this, proxyIndex] { UnfoldRecursion(proxyIndex); });
    else if (MergedCallGraphTreeModel::IsRecursive(*node))
        menu->addAction(Icon("recursion_fold.png"), QStringLiteral("Fold recursion"), this,
                        [this, proxyIndex] { FoldRecursion(proxyIndex); });
    menu->addAction(Icon("Flat_view_256.png"), QStringLiteral("View in Function List"), this,
                    [this, node] { emit ShowInFunctionListRequested(node->GetFunction()); });
    menu->addAction(Icon("FunctionStatistics256.png"), QStringLiteral("View Statistics"), this, [this] {
        if (MessageListenerList* listeners = mView.GetListenerList())
            SendMessage(*listeners, mView.listenerId,
                        Message(MessageTypes::ShowFunctionStatsFromCallGraph()));
    });
    if (!IsPseudo(*node) && !node->GetFunction().IsInstrumentationZone()) {
        menu->addSeparator();
        menu->addAction(Icon("module_2_256x.png"), QStringLiteral("Show Symbol Info"), this,
                        [this, node] { emit ShowSymbolInfoRequested(node->GetFunction()); });
    }
    return menu;
}

void CallGraphWidget::OnContextMenu(const QPoint& pos)
{
    if (std::unique_ptr<QMenu> menu = BuildContextMenu())
        menu->exec(mTreeView->mapToGlobal(pos));
}

void CallGraphWidget::OnHeaderContextMenu(const QPoint& pos)
{
    QMenu menu(this);
    const CallGraphHeaderSet visible = mView.GetCallGraphSettings().GetVisibleHeaders();
    for (ECallGraphHeaders header : {ECallGraphHeaders::ModuleName, ECallGraphHeaders::InclusiveTime,
                                     ECallGraphHeaders::ExclusiveTime, ECallGraphHeaders::ThreadStates}) {
        QAction* action = menu.addAction(CallGraphTreeModel::ColumnName(static_cast<int>(header)));
        action->setCheckable(true);
        action->setChecked(visible.count(header) != 0);
        connect(action, &QAction::triggered, this, [this, header] {
            CallGraphHeaderSet headers = mView.GetCallGraphSettings().GetVisibleHeaders();
            if (headers.count(header) != 0)
                headers.erase(header);
            else
                headers.insert(header);
            mView.GetCallGraphSettings().SetVisibleHeaders(headers);
        });
    }
    menu.exec(mTreeView->mapToGlobal(pos));
}

bool CallGraphWidget::OnTreeMouseMove(const QPoint& pos)
{
    if (!mModel)
        return false;
    QModelIndex index;
    if (mItemDelegate->HitTest(pos, &index) == ETreeHitPart::RecursionIcon)
        mModel->SetHover(mProxy->mapToSource(index), mPressedIndex.isValid()
                                                         ? MergedCallGraphTreeModel::Pressed
                                                         : MergedCallGraphTreeModel::Hovered);
    else
        mModel->SetHover({}, MergedCallGraphTreeModel::None);
    return false;
}

bool CallGraphWidget::OnTreeMousePress(const QPoint& pos, bool& outHasCapture)
{
    if (!mModel)
        return false;
    QModelIndex index;
    if (mItemDelegate->HitTest(pos, &index) != ETreeHitPart::RecursionIcon)
        return false;
    mPressedIndex = index.sibling(index.row(), 0);
    mModel->SetHover(mProxy->mapToSource(index), MergedCallGraphTreeModel::Pressed);
    outHasCapture = true;
    return true;
}

bool CallGraphWidget::OnTreeMouseRelease(const QPoint& pos)
{
    if (!mModel || !mPressedIndex.isValid())
        return false;
    QModelIndex index;
    const bool onIcon = mItemDelegate->HitTest(pos, &index) == ETreeHitPart::RecursionIcon;
    const QPersistentModelIndex pressed = mPressedIndex;
    mPressedIndex = QPersistentModelIndex();
    mModel->SetHover(onIcon ? mProxy->mapToSource(index) : QModelIndex(), MergedCallGraphTreeModel::Hovered);
    if (!onIcon)
        return true;
    const CallGraphNode* node = CallGraphTreeModel::NodeOf(index);
    if (node != nullptr && MergedCallGraphTreeModel::IsFolded(*node))
        UnfoldRecursion(index);
    else if (node != nullptr && MergedCallGraphTreeModel::IsRecursive(*node))
        FoldRecursion(index);
    return true;
}

CallGraphWidget::ViewState CallGraphWidget::SaveViewState() const
{
    ViewState state;
    if (!mProxy)
        return state;
    // Only rows whose items exist can be expanded; walk the expanded ones.
    std::vector<QModelIndex> pending;
    for (int row = 0; row < mProxy->rowCount(); ++row)
        pending.push_back(mProxy->index(row, 0));
    while (!pending.empty()) {
        const QModelIndex index = pending.back();
        pending.pop_back();
        if (!mTreeView->isExpanded(index))
            continue;
        state.Expanded.push_back(CallPath(*CallGraphTreeModel::NodeOf(index)));
        for (int row = 0; row < mProxy->rowCount(index); ++row)
            pending.push_back(mProxy->index(row, 0, index));
    }
    for (const QModelIndex& row : SelectedSourceRows())
        state.Selected.push_back(CallPath(*CallGraphTreeModel::NodeOf(row)));
    state.LeftScroll = mTreeView->GetLeftTree()->verticalScrollBar()->value();
    state.RightScroll = mTreeView->GetRightTree()->verticalScrollBar()->value();
    state.Horizontal = mTreeView->GetRightTree()->horizontalScrollBar()->value();
    return state;
}

void CallGraphWidget::RestoreViewState(const ViewState& state)
{
    if (!mMergedGraph || !mProxy)
        return;
    {
        const TreeLayoutBatch batch(*mTreeView);
        for (const ResolvedCallstack& path : state.Expanded) {
            const QModelIndex index = ProxyIndexOf(FindNodeByPath(mMergedGraph->GetRoot(), path));
            if (index.isValid())
                mTreeView->expand(index);
        }
    }
    QItemSelection selection;
    for (const ResolvedCallstack& path : state.Selected) {
        const QModelIndex index = ProxyIndexOf(FindNodeByPath(mMergedGraph->GetRoot(), path));
        if (index.isValid())
            selection.select(index, index);
    }
    if (!selection.isEmpty())
        mTreeView->selectionModel()->select(selection,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    mTreeView->GetLeftTree()->verticalScrollBar()->setValue(state.LeftScroll);
    mTreeView->GetRightTree()->verticalScrollBar()->setValue(state.RightScroll);
    mTreeView->GetRightTree()->horizontalScrollBar()->setValue(state.Horizontal);
}

} // namespace Profiler
