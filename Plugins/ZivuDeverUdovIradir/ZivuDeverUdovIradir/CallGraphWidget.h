#pragma once

#include "CallGraphModel/CallGraphFolding.h"
#include "ProfilerLibUI/CallGraph/CallGraphFind.h"
#include "ProfilerLibUI/ThreadTree.h"
#include "Theming/ThemeType.h"
#include "Utility/SignalRegistration.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTypes.h"
#include "ZivuDeverUdovIradir/CallGraphPanels.h"

#include <QModelIndex>

#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace QtWidgets {
class ScrollableTreeView;
}

namespace Profiler {

class CallGraphFilterModel;
class CallGraphFinder;
class CallGraphFirstMatchFinder;
class CallGraphRebuilder;
class CallGraphTreeViewItemDelegate;
class FindLineEdit;
class FoldedCallGraph;
class MergedCallGraph;
class MergedCallGraphTreeModel;
class ThreadSelectorWidget;
class ThreadStateDelegate;
class TimeSlicePieChartControl;
struct CallGraphRebuildResult;
struct FindNameCache;
struct TimeDistributionSlice;

/// The "Call Graph" panel: the merged call graph of the current selection as a tree, with its
/// find, copy, custom root, hot path and recursion folding commands and the time distribution
/// chart of the selected row. Folding and merging run on a job; the tree shows the result.
class CallGraphWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    CallGraphWidget(CallGraphView& view, std::vector<ThreadTreeProcess> processes, bool mergeProcesses);
    ~CallGraphWidget() override;

    /// The ids of every thread the panel lists, in its order.
    std::vector<ThreadID> GetAllThreadIds() const;
    ThreadSelectorWidget* GetThreadSelector() const { return mThreadSelector; }

    void OnRebuildStarted() override;
    void OnRebuildCanceled() override;
    void OnRebuildFailed(const QString& error) override;
    /// A new graph of the view's selection: fold and merge it afresh.
    void SetCallGraph(const CallGraphInputParameters& parameters,
                      std::shared_ptr<const CallGraph> graph) override;
    /// Announces the selection again.
    void Activate() override;
    std::vector<QShortcut*> GetShortcuts() const override { return mShortcuts; }

    /// Filters the tree to the rows whose name contains `text`, their ancestors and subtrees.
    /// The visit runs on a job; FindCompleted tells when the tree shows its result.
    void ApplyFind(const QString& text);
    /// Finds `name` as if the user had typed it into the find field.
    void FindByName(const QString& name);
    /// Shows `node` (of the shown merged graph) as the only top-level row.
    void SetCustomRoot(const CallGraphNode* node);
    void ClearCustomRoot();
    /// The custom root changed (also when another panel changed it): rebuild below it.
    void OnCustomRootChanged(const ResolvedCallstack& root);
    void ExpandHotPath();
    void ExpandAllChildren();
    void FoldRecursion(const QModelIndex& proxyIndex);
    void UnfoldRecursion(const QModelIndex& proxyIndex);
    /// The selected rows as the aligned text table of the copy commands.
    QString SelectedRowsAsText() const;
    void CopySelectedRows() const;
    /// Selects the rows of `function`'s first occurrence.
    void SelectNodeRow(const CallGraphNode* node);

    // For tests and the benchmark.
    QtWidgets::ScrollableTreeView* GetTreeView() const { return mTreeView; }
    MergedCallGraphTreeModel* GetModel() const { return mModel; }
    CallGraphFilterModel* GetProxy() const { return mProxy; }
    TimeSlicePieChartControl* GetPieChart() const { return mPieChart; }
    const CallGraphFindState& GetFindState() const { return mFindState; }
    const std::shared_ptr<MergedCallGraph>& GetMergedGraph() const { return mMergedGraph; }
    const ResolvedCallstack& GetCustomRoot() const { return mCustomRoot; }
    const RecursionRootSet& GetRecursionRoots() const { return mRecursionRoots; }
    bool IsRebuilding() const;
    /// The selected rows as source indexes (column 0) in tree order.
    std::vector<QModelIndex> SelectedSourceRows() const;
    /// The context menu for the current selection; null when it would not open.
    std::unique_ptr<QMenu> BuildContextMenu();

signals:
    void RebuildStarted();
    void RebuildCanceled();
    void RebuildCompleted(Profiler::CallGraphInputParameters inCallGraphInputParameters,
                          Profiler::ResolvedCallstack inCustomRoot,
                          std::shared_ptr<const Profiler::CallGraph> inFullCallGraph,
                          std::shared_ptr<Profiler::FoldedCallGraph> inFoldedCallGraph,
                          std::shared_ptr<Profiler::MergedCallGraph> inMergedCallGraph, bool inSelectOnFinish,
                          bool inTryMaintainState, bool inIsFullRebuild);
    /// The user set or cleared the custom root; empty when cleared.
    void CustomRootChanged(Profiler::ResolvedCallstack inRoot);
    /// The tree shows the result of the latest find (also of a cleared one).
    void FindCompleted();
    /// The latest find's first match is selected, before the tree is filtered.
    void FindFirstMatchShown();

protected:
    void changeEvent(QEvent* event) override;

private:
    void BuildToolbar();
    void BuildActions();
    QWidget* BuildFilterTag(const QString& text, const QString& tooltip, const QString& name);
    void Rebuild(const CallGraphInputParameters& parameters, const ResolvedCallstack& customRoot,
                 std::shared_ptr<const CallGraph> fullGraph, bool selectOnFinish, bool tryMaintainState,
                 bool isFullRebuild);
    void OnRebuildCompleted(const CallGraphInputParameters& parameters, const ResolvedCallstack& customRoot,
                            std::shared_ptr<const CallGraph> fullGraph,
                            std::shared_ptr<FoldedCallGraph> folded, std::shared_ptr<MergedCallGraph> merged,
                            bool selectOnFinish, bool tryMaintainState, bool isFullRebuild);
    /// Filters the tree by `state` and reveals its first matches.
    void ShowFindResult(CallGraphFindState state);
    void SetModel(const std::vector<const CallGraphNode*>& roots, const CallGraphNode* customRoot,
                  bool selectAll);
    void UpdateActions();
    void OnSelectionChanged();
    void SendSelection();
    void UpdatePieChart();
    void OnPieSliceClicked(const TimeDistributionSlice& slice);
    void OnPieNavigateBack();
    void SetPieChartVisible(bool visible);
    void OnTimeModeChanged(int comboIndex);
    void OnContextMenu(const QPoint& pos);
    void OnHeaderContextMenu(const QPoint& pos);
    void ApplyVisibleHeaders();
    void ApplyThemeType();
    bool OnTreeMouseMove(const QPoint& pos);
    bool OnTreeMousePress(const QPoint& pos, bool& outHasCapture);
    bool OnTreeMouseRelease(const QPoint& pos);
    void ExpandHotPathFrom(const QModelIndex& proxyIndex);
    void ExpandPathTo(const QModelIndex& proxyIndex);
    void RevealPendingMatches(uint64_t generation);
    QModelIndex ProxyIndexOf(const CallGraphNode* node) const;
    const CallGraphNode* SingleSelectedNode() const;
    void CopyText(const QString& text) const;

    struct ViewState {
        std::vector<ResolvedCallstack> Expanded;
        std::vector<ResolvedCallstack> Selected;
        int LeftScroll = 0;
        int RightScroll = 0;
        int Horizontal = 0;
    };
    ViewState SaveViewState() const;
    void RestoreViewState(const ViewState& state);

    ThreadSelectorWidget* mThreadSelector;
    QToolBar* mToolBar;
    QComboBox* mTimeModeComboBox;
    QWidget* mUnderSelectedFunctionTag;
    QWidget* mCustomRootTag;
    QAction* mActionSetAsRoot;
    QAction* mActionExpandHotPath;
    QAction* mActionViewInFlatList;
    QAction* mFindAction;
    QAction* mActionExpandAllChildren;
    QAction* mActionCopyToClipboard;
    QAction* mActionChangePieChartVisibility;
    QSplitter* mSplitter;
    QStackedWidget* mCallGraphWidgetStack;
    QWidget* mCallGraphPage;
    QWidget* mCallGraphEmptyPage;
    FindLineEdit* mFindLineEdit;
    QtWidgets::ScrollableTreeView* mTreeView;
    QFrame* mProgressBarFrame;
    QLabel* mProgressBarLabel;
    QProgressBar* mProgressBar;
    QStackedWidget* mPieChartWidgetStack;
    QWidget* mPieChartPage;
    QWidget* mPieChartEmptyPage;
    TimeSlicePieChartControl* mPieChart;
    ThreadStateDelegate* mThreadStateDelegate;
    CallGraphTreeViewItemDelegate* mItemDelegate;
    std::vector<QShortcut*> mShortcuts;
    QByteArray mSplitterState;

    FunctionNameCache mNames;
    std::shared_ptr<const IFunctionInfoProvider> mNameProvider; // keeps mNames' source alive
    double mTimeScale = 0.0;
    std::size_t mFullNodeCount = 0;
    EThemeType mThemeType = EThemeType::Light;
    MergedCallGraphTreeModel* mModel = nullptr; // owned through Qt parenthood, replaced with mProxy
    CallGraphFilterModel* mProxy = nullptr;
    CallGraphFindState mFindState;
    ResolvedCallstack mCustomRoot;
    RecursionRootSet mRecursionRoots;
    std::shared_ptr<FoldedCallGraph> mFoldedGraph;
    std::shared_ptr<MergedCallGraph> mMergedGraph;
    std::unique_ptr<CallGraphRebuilder> mRebuilder;
    std::unique_ptr<CallGraphFinder> mFinder;
    std::unique_ptr<CallGraphFirstMatchFinder> mFirstMatchFinder;
    std::shared_ptr<FindNameCache> mFindNames; // the find jobs' own: mNames is the UI thread's
    /// The find that the finished rebuild ran, taken by OnRebuildCompleted.
    std::shared_ptr<CallGraphFindState> mRebuiltFind;
    Utility::SignalRegistration mHeadersRegistration;
    QPersistentModelIndex mPressedIndex;
    /// Matches still to be expanded into view, and the find they belong to.
    std::vector<const CallGraphNode*> mPendingReveal;
    uint64_t mFindGeneration = 0;
};

} // namespace Profiler
