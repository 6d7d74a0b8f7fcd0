#include "ZivuDeverUdovIradir/CallGraphWidget.h"

#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "PluginApi/MessageTypes.h"
#include "ProfilerLibUI/FindLineEdit.h"
#include "ProfilerLibUI/ThreadSelectorWidget.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "QtWidgets/TreeView.h"
#include "System/Log.h"
#include "Theming/Icons.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphDelegates.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphFilterModel.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphRebuild.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"
#include "ZivuDeverUdovIradir/CallGraph/TimeSlicePieChart.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/SourceWidget.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace Profiler {

namespace {

const QString kResources = QStringLiteral(":/ZivuDeverUdovIradir/Resources/");

QIcon Icon(const QString& file)
{
    return GetThemedIcon(kResources + file);
}

/// The plugin has no theme object of its own; the application's palette says which one is on.
EThemeType CurrentThemeType()
{
    return QApplication::palette().color(QPalette::Window).lightness() < 128 ? EThemeType::Dark
                                                                             : EThemeType::Light;
}

QLabel* MakeLabel(const QString& text, QWidget* parent, const QString& name = {})
{
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

} // namespace

CallGraphWidget::CallGraphWidget(CallGraphView& view, std::vector<ThreadTreeProcess> processes,
                                 bool mergeProcesses)
    : CallGraphPanel(QStringLiteral("Call Graph"), QtWidgets::EDockPosition::BottomWide,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/callgraph.png"), view)
{
    qRegisterMetaType<ResolvedCallstack>("ResolvedCallstack");
    qRegisterMetaType<std::shared_ptr<FoldedCallGraph>>("std::shared_ptr<FoldedCallGraph>");
    qRegisterMetaType<std::shared_ptr<MergedCallGraph>>("std::shared_ptr<MergedCallGraph>");
    // The object name stays the panel name that ViewWidget gives it: hosts find and dock panels by it.
    setWindowTitle(QStringLiteral("Call Graph"));
    mThemeType = CurrentThemeType();

    if (ICallGraphRequester* requester = mView.GetRequester()) {
        mNameProvider = requester->GetFunctionNames();
        mTimeScale = requester->GetSampleIntervalMs();
    }
    mNames = FunctionNameCache(mNameProvider.get());
    System::JobScheduler* scheduler = mView.GetRequester() ? mView.GetRequester()->GetScheduler() : nullptr;
    mRebuilder = std::make_unique<CallGraphRebuilder>(scheduler);
    mFinder = std::make_unique<CallGraphFinder>(scheduler);
    mFirstMatchFinder = std::make_unique<CallGraphFirstMatchFinder>(scheduler);
    mFindNames = std::make_shared<FindNameCache>(mNameProvider);

    // The base's summary gives way to the tree.
    mStatusLabel->hide();
    mSummaryLabel->hide();
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    mThreadSelector = new ThreadSelectorWidget(std::move(processes), false, mergeProcesses, this);
    mThreadSelector->SetMergeChangedCallback([this](bool merge) {
        mView.GetCallGraphSettings().SetThreadSelectorProcessMode(
            merge ? ThreadOrganizationModel::EProcessMode::CombineProcesses
                  : ThreadOrganizationModel::EProcessMode::GroupByProcess);
    });
    mThreadSelector->SetSelectionChangedCallback([this] {
        std::vector<ThreadID> threads;
        for (int32_t id : mThreadSelector->selectedThreadIds())
            threads.push_back(static_cast<ThreadID>(static_cast<uint32_t>(id)));
        const CallGraphViewSelectionState* state = mView.GetSelectionState();
        mView.RequestCallGraph(threads, state ? state->mSelectionTimeRange : TimeRange{}, false,
                               ERequestReason::ThreadSelectionChanged);
    });

    BuildActions();
    BuildToolbar();
    layout->insertWidget(0, mToolBar);

    mSplitter = new QSplitter(Qt::Horizontal, this);
    mSplitter->setObjectName(QStringLiteral("mSplitter"));
    auto* treeFrame = new QFrame(mSplitter);
    treeFrame->setObjectName(QStringLiteral("mTreeFrame"));
    auto* treeLayout = new QVBoxLayout(treeFrame);
    treeLayout->setContentsMargins(0, 0, 0, 0);

    mCallGraphWidgetStack = new QStackedWidget(treeFrame);
    mCallGraphWidgetStack->setObjectName(QStringLiteral("mCallGraphWidgetStack"));
    mCallGraphPage = new QWidget(mCallGraphWidgetStack);
    mCallGraphPage->setObjectName(QStringLiteral("mCallGraphPage"));
    auto* pageLayout = new QVBoxLayout(mCallGraphPage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    mFindLineEdit = new FindLineEdit(mCallGraphPage);
    mFindLineEdit->setObjectName(QStringLiteral("mFindLineEdit"));
    mFindLineEdit->setPlaceholderText(QStringLiteral("Find..."));
    mTreeView = new QtWidgets::ScrollableTreeView(mCallGraphPage);
    mTreeView->setObjectName(QStringLiteral("mTreeView"));
    pageLayout->addWidget(mFindLineEdit);
    pageLayout->addWidget(mTreeView, 1);
    mCallGraphEmptyPage = new QWidget(mCallGraphWidgetStack);
    mCallGraphEmptyPage->setObjectName(QStringLiteral("mCallGraphEmptyPage"));
    auto* emptyLayout = new QVBoxLayout(mCallGraphEmptyPage);
    QLabel* emptyLabel = MakeLabel(QStringLiteral("Select a function to view callgraph"), mCallGraphEmptyPage,
                                   "mEmptySourceLabel");
    emptyLabel->setStyleSheet(QStringLiteral("QLabel { color: #B2B2B2 }"));
    emptyLabel->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyLabel);
    mCallGraphWidgetStack->addWidget(mCallGraphPage);
    mCallGraphWidgetStack->addWidget(mCallGraphEmptyPage);
    mCallGraphWidgetStack->setCurrentWidget(mCallGraphEmptyPage);

    mProgressBarFrame = new QFrame(treeFrame);
    mProgressBarFrame->setObjectName(QStringLiteral("mProgressBarFrame"));
    auto* progressLayout = new QHBoxLayout(mProgressBarFrame);
    progressLayout->setContentsMargins(4, 2, 4, 2);
    mProgressBarLabel =
        MakeLabel(QStringLiteral("Building callgraph"), mProgressBarFrame, "mProgressBarLabel");
    mProgressBar = new QProgressBar(mProgressBarFrame);
    mProgressBar->setObjectName(QStringLiteral("mProgressBar"));
    mProgressBar->setRange(0, 0); // the work has no measurable progress
    progressLayout->addWidget(mProgressBarLabel);
    progressLayout->addWidget(mProgressBar, 1);
    mProgressBarFrame->hide();
    treeLayout->addWidget(mCallGraphWidgetStack, 1);
    treeLayout->addWidget(mProgressBarFrame);

    mPieChartWidgetStack = new QStackedWidget(mSplitter);
    mPieChartWidgetStack->setObjectName(QStringLiteral("mPieChartWidgetStack"));
    mPieChartPage = new QWidget(mPieChartWidgetStack);
    mPieChartPage->setObjectName(QStringLiteral("mPieChartPage"));
    auto* pieLayout = new QVBoxLayout(mPieChartPage);
    pieLayout->setContentsMargins(0, 0, 0, 0);
    mPieChart = new TimeSlicePieChartControl(mPieChartPage);
    mPieChart->SetThemeType(mThemeType);
    pieLayout->addWidget(mPieChart);
    mPieChartEmptyPage = new QWidget(mPieChartWidgetStack);
    mPieChartEmptyPage->setObjectName(QStringLiteral("mPieChartEmptyPage"));
    auto* pieEmptyLayout = new QVBoxLayout(mPieChartEmptyPage);
    QLabel* pieEmpty = MakeLabel(QStringLiteral("Select a function to view chart"), mPieChartEmptyPage,
                                 "mEmptyPieChartLabel");
    pieEmpty->setAlignment(Qt::AlignCenter);
    pieEmpty->setWordWrap(true);
    pieEmptyLayout->addWidget(pieEmpty);
    mPieChartWidgetStack->addWidget(mPieChartPage);
    mPieChartWidgetStack->addWidget(mPieChartEmptyPage);
    mPieChartWidgetStack->setCurrentWidget(mPieChartEmptyPage);
    mSplitter->addWidget(treeFrame);
    mSplitter->addWidget(mPieChartWidgetStack);
    mSplitter->setStretchFactor(0, 3);
    mSplitter->setStretchFactor(1, 1);
    // The tree's size hint is far wider than the chart's; start from a quarter for the chart.
    mSplitter->setSizes({3000, 1000});
    layout->addWidget(mSplitter, 1);

    mPieChart->SetSliceClickedCallback(
        [this](const TimeDistributionSlice& slice, Qt::MouseButton) { OnPieSliceClicked(slice); });
    mPieChart->SetNavigateBackCallback([this] { OnPieNavigateBack(); });
    mPieChart->SetHideCallback([this] { mActionChangePieChartVisibility->setChecked(false); });

    mThreadStateDelegate = new ThreadStateDelegate(mThemeType, this);
    mItemDelegate = new CallGraphTreeViewItemDelegate(mTreeView->GetLeftTree(), this);
    mTreeView->setItemDelegateForColumn(5, mThreadStateDelegate);
    mTreeView->setItemDelegate(mItemDelegate);
    mTreeView->setSortingEnabled(true);
    mTreeView->sortByColumn(2, Qt::DescendingOrder);

    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnSelectionChanged, this,
            &CallGraphWidget::OnSelectionChanged);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::ReapplySelection, this,
            &CallGraphWidget::SendSelection);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnContextMenuRequested, this,
            &CallGraphWidget::OnContextMenu);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnHeaderContextMenuRequested, this,
            &CallGraphWidget::OnHeaderContextMenu);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnCopyToClipboard, this, [this] {
        if (!SelectedSourceRows().empty())
            CopySelectedRows();
    });
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnFocusChanged, this, [this](bool hasFocus) {
        if (hasFocus)
            mView.SetActiveWidget(this);
    });
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnViewportMouseMove, this,
            &CallGraphWidget::OnTreeMouseMove);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnViewportMousePressed, this,
            &CallGraphWidget::OnTreeMousePress);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnViewportMouseReleased, this,
            &CallGraphWidget::OnTreeMouseRelease);
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnViewportMouseLeave, this, [this] {
        if (mModel)
            mModel->SetHover({}, MergedCallGraphTreeModel::None);
    });
    connect(mTreeView, &QtWidgets::ScrollableTreeView::OnDoubleClicked, this,
            [this](const QModelIndex& index) {
                if (const CallGraphNode* node = CallGraphTreeModel::NodeOf(index)) {
                    emit ShowSourceRequested(ESourceOrigin::CallGraph, node->GetFunction());
                    // A selection only updates the source panel; a double click brings it in front.
                    CallGraphView::RaiseDock(mView.GetSourceWidget());
                }
            });

    connect(mFindLineEdit, &QLineEdit::returnPressed, this, [this] {
        const QString text = mFindLineEdit->text().trimmed();
        if (!text.isEmpty())
            ApplyFind(text);
    });
    connect(mFindLineEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            ApplyFind({});
    });
    mFindLineEdit->SetClearCallback([this] { ApplyFind({}); });

    connect(this, &CallGraphWidget::RebuildCompleted, this, &CallGraphWidget::OnRebuildCompleted);
    mHeadersRegistration =
        mView.GetCallGraphSettings().SubscribeVisibleHeaders([this](const CallGraphHeaderSet&) {
            QMetaObject::invokeMethod(
                this, [this] { ApplyVisibleHeaders(); }, Qt::QueuedConnection);
        });
    ApplyVisibleHeaders();
    SetPieChartVisible(mView.GetCallGraphSettings().IsPieChartVisible());
    UpdateActions();
}

CallGraphWidget::~CallGraphWidget()
{
    mHeadersRegistration.Reset();
    mFirstMatchFinder.reset();
    mFinder.reset();
    mRebuilder.reset();
    // The tree view drops its model before the graphs that the model's items point into.
    mTreeView->setModel(nullptr);
    delete mProxy;
    delete mModel;
}

void CallGraphWidget::BuildActions()
{
    auto makeAction = [this](const QString& name, const QString& text, const QString& icon) {
        auto* action = new QAction(text, this);
        action->setObjectName(name);
        if (!icon.isEmpty())
            action->setIcon(Icon(icon));
        return action;
    };
    mActionSetAsRoot = makeAction("mActionSetAsRoot", "Set as root", "callgraph_root.png");
    mActionSetAsRoot->setToolTip(QStringLiteral("Set as root"));
    mActionExpandHotPath = makeAction("mActionExpandHotPath", "Expand hot path", "Important_256.png");
    mActionViewInFlatList = makeAction("mActionViewInFlatList", "View in Function List", "Flat_view_256.png");
    mFindAction = makeAction("mFindAction", "Find", {});
    mFindAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+F")));
    mFindAction->setShortcutContext(Qt::WidgetShortcut);
    mActionExpandAllChildren =
        makeAction("mActionExpandAllChildren", "Expand all children", "expand_children.png");
    mActionCopyToClipboard =
        makeAction("mActionCopyToClipboard", "Copy to clipboard", "CopyToClipboard_256x.png");
    mActionChangePieChartVisibility =
        makeAction("mActionChangePieChartVisibility", "Show Pie Chart", "PieChart_256x.png");
    mActionChangePieChartVisibility->setToolTip(QStringLiteral("Toggle function time distribution"));
    mActionChangePieChartVisibility->setCheckable(true);

    connect(mActionSetAsRoot, &QAction::triggered, this, [this] {
        const CallGraphNode* node = SingleSelectedNode();
        if (node == nullptr)
            return;
        if (mModel && node == mModel->GetCustomRootNode())
            ClearCustomRoot();
        else
            SetCustomRoot(node);
    });
    connect(mActionExpandHotPath, &QAction::triggered, this, &CallGraphWidget::ExpandHotPath);
    connect(mActionViewInFlatList, &QAction::triggered, this, [this] {
        if (const CallGraphNode* node = SingleSelectedNode())
            emit ShowInFunctionListRequested(node->GetFunction());
    });
    connect(mFindAction, &QAction::triggered, this, [this] {
        mFindLineEdit->setFocus(Qt::ShortcutFocusReason);
        mFindLineEdit->selectAll();
    });
    connect(mActionExpandAllChildren, &QAction::triggered, this, &CallGraphWidget::ExpandAllChildren);
    connect(mActionCopyToClipboard, &QAction::triggered, this, &CallGraphWidget::CopySelectedRows);
    connect(mActionChangePieChartVisibility, &QAction::toggled, this, &CallGraphWidget::SetPieChartVisible);

    // Ctrl+F works wherever the focus is inside the panel.
    auto* findShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+F")), this);
    findShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(findShortcut, &QShortcut::activated, mFindAction, &QAction::trigger);
    mShortcuts.push_back(findShortcut);
}

QWidget* CallGraphWidget::BuildFilterTag(const QString& text, const QString& tooltip, const QString& name)
{
    auto* tag = new QFrame(mToolBar);
    tag->setObjectName(name);
    tag->setFrameShape(QFrame::StyledPanel);
    tag->setToolTip(tooltip);
    auto* tagLayout = new QHBoxLayout(tag);
    tagLayout->setContentsMargins(4, 0, 0, 0);
    tagLayout->setSpacing(2);
    tagLayout->addWidget(new QLabel(text, tag));
    auto* clear = new QToolButton(tag);
    clear->setObjectName(name + QStringLiteral("ClearButton"));
    clear->setText(QStringLiteral("x"));
    clear->setAutoRaise(true);
    clear->setToolTip(QStringLiteral("Clear"));
    tagLayout->addWidget(clear);
    tag->hide();
    return tag;
}

void CallGraphWidget::BuildToolbar()
{
    mToolBar = new QToolBar(this);
    mToolBar->setObjectName(QStringLiteral("mToolBar"));
    mToolBar->setIconSize(QSize(16, 16));
    mToolBar->addWidget(MakeLabel(QStringLiteral("  Filter:    "), mToolBar));
    mUnderSelectedFunctionTag = BuildFilterTag(
        QStringLiteral("Under selected function"),
        QStringLiteral("The view is filtered to the selected function in the Threads view.\n\nTo "
                       "clear the filter, press the clear button."),
        QStringLiteral("mUnderSelectedFunctionTag"));
    mCustomRootTag =
        BuildFilterTag(QStringLiteral("Custom Call Graph Root"),
                       QStringLiteral("The view is filtered to the custom root set in the Call Graph"),
                       QStringLiteral("mCustomRootTag"));
    // The bar filter is the view's; the custom root is this panel's own.
    connect(mUnderSelectedFunctionTag->findChild<QToolButton*>(), &QToolButton::clicked, this,
            [this] { mView.ClearFilter(); });
    connect(mCustomRootTag->findChild<QToolButton*>(), &QToolButton::clicked, this,
            [this] { ClearCustomRoot(); });
    // QToolBar hides widgets through their actions; keep the actions to toggle the tags.
    mUnderSelectedFunctionTag->setProperty(
        "toolBarAction", QVariant::fromValue(mToolBar->addWidget(mUnderSelectedFunctionTag)));
    mCustomRootTag->setProperty("toolBarAction", QVariant::fromValue(mToolBar->addWidget(mCustomRootTag)));
    for (QWidget* tag : {mUnderSelectedFunctionTag, mCustomRootTag}) {
        tag->show();
        tag->property("toolBarAction").value<QAction*>()->setVisible(false);
    }
    mThreadSelector->setFixedWidth(static_cast<int>(250 * logicalDpiX() / 96.0));
    mToolBar->addWidget(mThreadSelector);
    mToolBar->addWidget(MakeLabel(QStringLiteral("  Time display:    "), mToolBar));
    mTimeModeComboBox = new QComboBox(mToolBar);
    mTimeModeComboBox->setObjectName(QStringLiteral("mTimeModeComboBox"));
    const char* const modes[] = {"Milliseconds", "Seconds", "Relative %", "Absolute %"};
    for (int mode = 0; mode < 4; ++mode)
        mTimeModeComboBox->addItem(QString::fromLatin1(modes[mode]), mode);
    mTimeModeComboBox->setCurrentIndex(
        static_cast<int>(mView.GetCallGraphSettings().GetCallGraphTimeDisplayMode()));
    connect(mTimeModeComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CallGraphWidget::OnTimeModeChanged);
    mToolBar->addWidget(mTimeModeComboBox);
    mToolBar->addSeparator();
    for (QAction* action : {mActionSetAsRoot, mActionExpandHotPath, mActionViewInFlatList,
                            mActionExpandAllChildren, mActionCopyToClipboard})
        mToolBar->addAction(action);
    mToolBar->addSeparator();
    mToolBar->addAction(mActionChangePieChartVisibility);
    addAction(mFindAction);
}

std::vector<ThreadID> CallGraphWidget::GetAllThreadIds() const
{
    std::vector<ThreadID> threads;
    for (int32_t id :
         mThreadSelector->GetCurrentTree().GetThreadIds(mThreadSelector->GetCurrentTree().GetRoot()))
        threads.push_back(static_cast<ThreadID>(static_cast<uint32_t>(id)));
    return threads;
}

bool CallGraphWidget::IsRebuilding() const
{
    return mRebuilder->IsRunning();
}

void CallGraphWidget::OnRebuildStarted()
{
    mCallGraphWidgetStack->setCurrentWidget(mCallGraphPage);
    mProgressBarFrame->show();
    emit RebuildStarted();
}

void CallGraphWidget::OnRebuildCanceled()
{
    if (!mRebuilder->IsRunning())
        mProgressBarFrame->hide();
    emit RebuildCanceled();
}

void CallGraphWidget::OnRebuildFailed(const QString& error)
{
    mProgressBarFrame->show();
    mProgressBar->hide();
    mProgressBarLabel->setText(error);
}

void CallGraphWidget::SetCallGraph(const CallGraphInputParameters& parameters,
                                   std::shared_ptr<const CallGraph> graph)
{
    // The base's summary would walk the whole graph here; the rebuild job counts it instead.
    mParameters = parameters;
    mGraph = graph;
    if (!graph)
        return;
    // Selections the user made on the timeline select the new rows; a reopened session or a
    // cleared filter leaves the selection to the user.
    const auto reason = static_cast<ERequestReason>(parameters.Reason);
    const bool selectOnFinish =
        reason != ERequestReason::SessionOpened && reason != ERequestReason::FilterCleared;
    mUnderSelectedFunctionTag->property("toolBarAction").value<QAction*>()->setVisible(parameters.HasBar);
    Rebuild(parameters, {}, std::move(graph), selectOnFinish, false, true);
}

void CallGraphWidget::Rebuild(const CallGraphInputParameters& parameters, const ResolvedCallstack& customRoot,
                              std::shared_ptr<const CallGraph> fullGraph, bool selectOnFinish,
                              bool tryMaintainState, bool isFullRebuild)
{
    CallGraphRebuildRequest request;
    request.Parameters = parameters;
    request.CustomRoot = customRoot;
    request.FullGraph = std::move(fullGraph);
    request.SelectOnFinish = selectOnFinish;
    request.TryMaintainState = tryMaintainState;
    request.IsFullRebuild = isFullRebuild;
    // A new graph starts without folded recursions and without a find; the roots refer to the
    // old graph's nodes. A rebuild of the same graph keeps the find, which the job runs again.
    if (!isFullRebuild) {
        request.RecursionRoots = mRecursionRoots;
        request.FindText = mFindLineEdit->text().trimmed().toStdString();
        request.FindNames = mFindNames;
    }
    // A find still running would filter the tree being replaced.
    mFinder->Cancel();
    mFirstMatchFinder->Cancel();
    mCallGraphWidgetStack->setCurrentWidget(mCallGraphPage);
    mProgressBar->show();
    mProgressBarLabel->setText(QStringLiteral("Building callgraph"));
    mProgressBarFrame->show();
    mRebuilder->Start([request = std::move(request)](
                          const std::atomic<bool>& canceled) { return RunRebuild(request, canceled); },
                      [this](CallGraphRebuildResult result) {
                          CallGraphRebuildRequest& done = result.Request;
                          mFullNodeCount = result.FullNodeCount;
                          mRebuiltFind = std::move(result.FindState);
                          emit RebuildCompleted(done.Parameters, done.CustomRoot, done.FullGraph,
                                                result.FoldedGraph, result.MergedGraph, done.SelectOnFinish,
                                                done.TryMaintainState, done.IsFullRebuild);
                      });
}

void CallGraphWidget::OnRebuildCompleted(const CallGraphInputParameters& parameters,
                                         const ResolvedCallstack& customRoot,
                                         std::shared_ptr<const CallGraph> fullGraph,
                                         std::shared_ptr<FoldedCallGraph> folded,
                                         std::shared_ptr<MergedCallGraph> merged, bool selectOnFinish,
                                         bool tryMaintainState, bool isFullRebuild)
{
    mProgressBarFrame->hide();
    PublishGraphProperties(parameters, fullGraph ? fullGraph->GetTotalTime() : 0.0);
    setProperty("graphNodeCount", static_cast<qulonglong>(mFullNodeCount));
    const bool hadModel = mModel != nullptr;
    ViewState state;
    if (tryMaintainState && hadModel)
        state = SaveViewState();
    mFindState.Clear();
    if (const std::shared_ptr<CallGraphFindState> find = std::exchange(mRebuiltFind, nullptr))
        mFindState = std::move(*find);
    ++mFindGeneration; // the pending matches are nodes of the graphs being replaced
    if (isFullRebuild) {
        mRecursionRoots.clear();
        const QSignalBlocker blocker(mFindLineEdit);
        mFindLineEdit->clear();
    }
    mParameters = parameters;
    mGraph = std::move(fullGraph);
    mCustomRoot = customRoot;
    mFoldedGraph = std::move(folded);
    mMergedGraph = std::move(merged);

    const CallGraphNode* customRootNode = nullptr;
    const std::vector<const CallGraphNode*> roots = ShownRoots(*mMergedGraph, mCustomRoot, &customRootNode);
    SetModel(roots, customRootNode, selectOnFinish);
    if (tryMaintainState && hadModel)
        RestoreViewState(state);
    mCustomRootTag->property("toolBarAction").value<QAction*>()->setVisible(!mCustomRoot.empty());
    UpdateActions();
    UpdatePieChart();
}

void CallGraphWidget::SetModel(const std::vector<const CallGraphNode*>& roots,
                               const CallGraphNode* customRoot, bool selectAll)
{
    const auto mode = static_cast<ECallGraphTimeDisplayMode>(mTimeModeComboBox->currentData().toInt());
    auto* model =
        new MergedCallGraphTreeModel(mMergedGraph, mNames, mThemeType, roots, mode, mTimeScale, this);
    model->SetCustomRootNode(customRoot);
    auto* proxy = new CallGraphFilterModel(mFindState, this);
    proxy->setSourceModel(model);
    mTreeView->setModel(proxy);
    delete mProxy;
    delete mModel;
    mProxy = proxy;
    mModel = model;

    if (mProxy->rowCount() == 1) {
        const QModelIndex rootIndex = mProxy->index(0, 0);
        if (!rootIndex.isValid())
            System::Log("\"%s\" assertion failed at %s (%d): Unexpected empty root index",
                        "rootIndex.isValid()", __FILE__, __LINE__);
        else
            mTreeView->expand(rootIndex);
    }
    if (selectAll && mProxy->rowCount() > 0) {
        const QItemSelection all(mProxy->index(0, 0),
                                 mProxy->index(mProxy->rowCount() - 1, CallGraphTreeModel::kColumnCount - 1));
        mTreeView->selectionModel()->select(all,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    OnSelectionChanged();
}

void CallGraphWidget::Activate()
{
    if (mModel)
        SendSelection();
}

void CallGraphWidget::changeEvent(QEvent* event)
{
    CallGraphPanel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        ApplyThemeType();
}

void CallGraphWidget::ApplyThemeType()
{
    const EThemeType theme = CurrentThemeType();
    if (theme == mThemeType)
        return;
    mThemeType = theme;
    mThreadStateDelegate->SetThemeType(theme);
    mPieChart->SetThemeType(theme);
    if (mModel)
        mModel->SetThemeType(theme);
    for (auto [action, icon] : std::initializer_list<std::pair<QAction*, const char*>>{
             {mActionExpandHotPath, "Important_256.png"},
             {mActionViewInFlatList, "Flat_view_256.png"},
             {mActionExpandAllChildren, "expand_children.png"},
             {mActionCopyToClipboard, "CopyToClipboard_256x.png"},
             {mActionChangePieChartVisibility, "PieChart_256x.png"}})
        action->setIcon(Icon(QString::fromLatin1(icon)));
    UpdateActions();
    mTreeView->update();
}

void CallGraphWidget::OnTimeModeChanged(int comboIndex)
{
    if (comboIndex < 0)
        return;
    const auto mode = static_cast<ECallGraphTimeDisplayMode>(mTimeModeComboBox->itemData(comboIndex).toInt());
    if (mModel)
        mModel->SetTimeDisplayMode(mode);
    // The setter saves the settings file at once.
    mView.GetCallGraphSettings().SetCallGraphTimeDisplayMode(mode);
}

void CallGraphWidget::ApplyVisibleHeaders()
{
    const CallGraphHeaderSet& headers = mView.GetCallGraphSettings().GetVisibleHeaders();
    QSet<int> columns{0};
    for (ECallGraphHeaders header : headers)
        columns.insert(static_cast<int>(header));
    mTreeView->SetVisibleColumns(columns);
    mTreeView->SizeColumns();
}

void CallGraphWidget::SetPieChartVisible(bool visible)
{
    {
        const QSignalBlocker blocker(mActionChangePieChartVisibility);
        mActionChangePieChartVisibility->setChecked(visible);
    }
    QSplitterHandle* handle = mSplitter->handle(1);
    if (visible) {
        mPieChartWidgetStack->show();
        handle->setEnabled(true);
        handle->setCursor(Qt::SplitHCursor);
        mSplitter->setHandleWidth(style()->pixelMetric(QStyle::PM_SplitterWidth));
        if (!mSplitterState.isEmpty())
            mSplitter->restoreState(mSplitterState);
    } else {
        if (mPieChartWidgetStack->isVisible())
            mSplitterState = mSplitter->saveState();
        mSplitter->setSizes({1, 0});
        mSplitter->setHandleWidth(0);
        handle->setEnabled(false);
        handle->setCursor(Qt::ArrowCursor);
        mPieChartWidgetStack->hide();
    }
    if (mView.GetCallGraphSettings().IsPieChartVisible() != visible)
        mView.GetCallGraphSettings().SetPieChartVisible(visible);
    if (visible)
        UpdatePieChart();
}

} // namespace Profiler
