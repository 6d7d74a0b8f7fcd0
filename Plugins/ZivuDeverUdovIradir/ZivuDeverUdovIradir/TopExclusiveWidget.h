#pragma once

#include "CallGraphModel/BuildButterflyJob.h"
#include "CallGraphModel/BuildListJob.h"
#include "System/Job.h"
#include "Utility/SignalRegistration.h"
#include "ZivuDeverUdovIradir/CallGraphDisplayOptions.h"
#include "ZivuDeverUdovIradir/CallGraphPanels.h"
#include "ZivuDeverUdovIradir/ResultMailbox.h"
#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"

#include <QModelIndexList>
#include <QPersistentModelIndex>
#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QMenu;
class QProgressBar;
class QShortcut;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace QtWidgets {
class MouseTooltip;
class ScrollableTreeView;
} // namespace QtWidgets

namespace System {
class JobScheduler;
}

namespace Profiler {

class ButterflySortProxyModel;
class ButterflyTreeModel;
class CallGraphManager;
class CallGraphWidget;
class FindLineEdit;
class IFunctionInfoProvider;
class ThreadStateBarDelegate;
class TopExclusiveViewModel;

/// What the function list needs of the session to build its lists and butterflies.
struct FunctionListContext {
    System::JobScheduler* Scheduler = nullptr; // not owned; null: nothing is built
    CallGraphManager* Manager = nullptr;       // not owned; the destroyer of the butterfly graphs
    std::shared_ptr<const IFunctionInfoProvider> Names;
    double SamplingIntervalMs = 1.0;
};

/// The function list panel: every function of the current graph as a flat sortable list, and
/// for the one selected function who calls it ("Called By") and what it calls ("Calls"). Lists
/// and butterflies are built by jobs; the newest request wins and the UI thread never waits.
class TopExclusiveWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    explicit TopExclusiveWidget(CallGraphView& view);
    ~TopExclusiveWidget() override;

    void SetCallGraphWidget(CallGraphWidget* widget) { mCallGraphWidget = widget; }
    void SetContext(FunctionListContext context);
    /// Restricts the list and the butterfly to what lies below the call path `root` (outermost
    /// first; empty: the whole graph), as the call graph panel's custom root does.
    void SetCustomRoot(std::vector<ResolvedAddress> root);
    /// Selects and shows the entry of `function` ("View in Function List"); nothing when the list
    /// does not hold it.
    void SelectFunction(const ResolvedAddress& function);

    void OnRebuildStarted() override;
    void OnRebuildCanceled() override;
    void OnRebuildFailed(const QString& error) override;
    void SetCallGraph(const CallGraphInputParameters& parameters,
                      std::shared_ptr<const CallGraph> graph) override;
    std::vector<QShortcut*> GetShortcuts() const override;

    // The parts that tests and the view look at.
    TopExclusiveViewModel* GetListModel() const { return mListModel; }
    QtWidgets::ScrollableTreeView* GetListView() const { return mFlatListTreeView; }
    QtWidgets::ScrollableTreeView* GetCalledByView() const { return mCalledByTreeView; }
    QtWidgets::ScrollableTreeView* GetCallsView() const { return mCallsTreeView; }
    FindLineEdit* GetFindLineEdit() const { return mFindLineEdit; }
    /// The rows of the list's current selection, as full-list rows, in list order.
    std::vector<uint32_t> GetSelectedListRows() const;
    /// The clipboard text of the list's selection over the visible columns.
    QString GetSelectionText() const;
    /// The menu that right-clicking the selection opens (the caller owns it).
    QMenu* CreateListContextMenu();
    QMenu* CreateButterflyContextMenu(QtWidgets::ScrollableTreeView* pane);

signals:
    void BuildButterflyStarted();
    void BuildButterflyCompleted(bool inCanceled);
    /// A new list is shown (or, when canceled, the previous one stays).
    void BuildListCompleted(bool inCanceled);
    /// "Find in Call Graph": the call graph panel selects the function's occurrences.
    void FindInCallGraphRequested(Profiler::ResolvedAddress function);

private:
    void BuildLayout();
    void BuildActions();
    void StartListJob();
    struct BuiltList {
        std::unique_ptr<BuildListData> Data;
        FunctionNameKeys NameKeys;
        std::shared_ptr<const CallGraph> Graph;
    };
    void OnListJobFinished(uint64_t generation, bool canceled);
    void OnListBuilt(BuiltList built);
    void StartButterflyJob(const ResolvedAddress& function);
    void OnButterflyBuilt(uint64_t generation, bool canceled);
    /// Starts the job that builds the children the butterfly job left out of `row` (of `model`).
    void StartLevelsJob(ButterflyTreeModel* model, const QModelIndex& row);
    void OnLevelsBuilt(uint64_t request, uint64_t generation);
    void CancelLevelsJobs();
    void ResetButterfly(const QString& label);
    void UpdateProgress();
    void OnListSelectionChanged();
    void OnFindTextChanged(const QString& text);
    bool OnFindKey(int key);
    void OnTimeModeChanged();
    void ApplyVisibleColumns();
    void ShowHeaderMenu(const QPoint& pos);
    void SelectListRow(uint32_t listRow);
    void SelectFromButterfly(QtWidgets::ScrollableTreeView* pane, const QModelIndex& index);
    void PostSelectionMessage(const std::vector<uint32_t>& rows);
    void CopyText(const QString& text);
    QString GetPaneSelectionText(QtWidgets::ScrollableTreeView* pane) const;
    FunctionScope MakeScope() const;
    /// The rows of `view`'s selection in column 0, in the order the view shows them.
    static QModelIndexList SelectedRows(QtWidgets::ScrollableTreeView* view);
    EFunctionListTimeDisplayMode GetComboMode() const;

    FunctionListContext mContext;
    CallGraphWidget* mCallGraphWidget = nullptr; // not owned
    std::vector<ResolvedAddress> mCustomRoot;
    // The graph and root that the shown list was built from (the base's graph may be newer).
    std::shared_ptr<const CallGraph> mListGraph;
    std::vector<ResolvedAddress> mListCustomRoot;

    System::JobHandle mListJob;
    System::JobHandle mButterflyJob;
    using ListMailbox = ResultMailbox<BuiltList>;
    using ButterflyMailbox = ResultMailbox<ButterflyGraphs>;
    // Shared with the jobs in flight, which may finish after the widget is gone.
    std::shared_ptr<ListMailbox> mListMailbox = std::make_shared<ListMailbox>();
    std::shared_ptr<ButterflyMailbox> mButterflyMailbox = std::make_shared<ButterflyMailbox>();
    bool mListBuilding = false;
    bool mButterflyBuilding = false;
    std::unique_ptr<ButterflyGraphs> mCurrentButterfly;
    // What the shown butterfly was built from, for the jobs that build its left-out rows.
    FunctionQuery mButterflyQuery;
    ResolvedAddress mButterflyFunction;
    using LevelsMailbox = ResultMailbox<ButterflyLevels>;
    struct LevelsRequest {
        System::JobHandle Job;
        std::shared_ptr<LevelsMailbox> Mailbox;
        QPointer<ButterflyTreeModel> Model;
        QPersistentModelIndex Row;
    };
    std::map<uint64_t, LevelsRequest> mLevelsRequests;
    uint64_t mNextLevelsRequest = 0;

    // Widgets; owned through Qt parenthood.
    QToolBar* mToolBar = nullptr;
    QSplitter* mSplitter = nullptr;
    QStackedWidget* mTopExclusiveWidgetStack = nullptr;
    QWidget* mTopExclusivePage = nullptr;
    QWidget* mTopExclusiveEmptyPage = nullptr;
    FindLineEdit* mFindLineEdit = nullptr;
    QtWidgets::ScrollableTreeView* mFlatListTreeView = nullptr;
    QFrame* mProgressBarFrame = nullptr;
    QLabel* mProgressBarLabel = nullptr;
    QProgressBar* mProgressBar = nullptr;
    QStackedWidget* mButterflyWidgetStack = nullptr;
    QWidget* mButterflyPage = nullptr;
    QWidget* mButterflyEmptyPage = nullptr;
    QLabel* mEmptyButterflyLabel = nullptr;
    QtWidgets::ScrollableTreeView* mCalledByTreeView = nullptr;
    QtWidgets::ScrollableTreeView* mCallsTreeView = nullptr;
    QComboBox* mTimeModeComboBox = nullptr;
    QAction* mFindAction = nullptr;
    QAction* mActionCopyToClipboard = nullptr;
    QShortcut* mFindShortcut = nullptr;
    QtWidgets::MouseTooltip* mTooltip = nullptr;
    ThreadStateBarDelegate* mListDelegate = nullptr;
    ThreadStateBarDelegate* mButterflyDelegate = nullptr;

    // Models; each replaced model is deleted once its view no longer shows it.
    TopExclusiveViewModel* mListModel = nullptr;
    ButterflyTreeModel* mCalledByModel = nullptr;
    ButterflySortProxyModel* mCalledByProxy = nullptr;
    ButterflyTreeModel* mCallsModel = nullptr;
    ButterflySortProxyModel* mCallsProxy = nullptr;

    Utility::SignalRegistration mHeadersRegistration;
};

} // namespace Profiler
