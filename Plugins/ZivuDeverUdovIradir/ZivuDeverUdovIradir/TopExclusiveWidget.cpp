#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/CalledByGraph.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "PluginApi/MessageTypes.h"
#include "ProfilerLibUI/FindLineEdit.h"
#include "QtWidgets/MouseTooltip.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "QtWidgets/TreeView.h"
#include "System/JobScheduler.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/FunctionList/ButterflyTreeModel.h"
#include "ZivuDeverUdovIradir/FunctionList/ThreadStateBarDelegate.h"
#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"
#include "ZivuDeverUdovIradir/SourceWidget.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace Profiler {

namespace {

const QString kSelectFunctionText = QStringLiteral("Select a function to view Called By/Calls");
const QString kMultipleFunctionsText = QStringLiteral("Multiple functions selected");
const QString kGreyLabelStyle = QStringLiteral("QLabel { color: #B2B2B2 }");

QLabel* MakeGreyLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setStyleSheet(kGreyLabelStyle);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QtWidgets::ScrollableTreeView* MakeTree(const QString& name, QWidget* parent)
{
    auto* tree = new QtWidgets::ScrollableTreeView(parent);
    tree->setObjectName(name);
    for (QtWidgets::LinkedTreeView* half : {tree->GetLeftTree(), tree->GetRightTree()}) {
        half->setSelectionMode(QAbstractItemView::ExtendedSelection);
        half->setSelectionBehavior(QAbstractItemView::SelectRows);
        half->setContextMenuPolicy(Qt::CustomContextMenu);
        half->header()->setContextMenuPolicy(Qt::CustomContextMenu);
    }
    // Figures need little room; what is left goes to the function names.
    tree->SetColumnWidthProvider(
        [](int column, int headerWidth) { return column == 1 ? std::max(headerWidth, 80) : headerWidth; });
    return tree;
}

ECallGraphTimeDisplayMode ToCallGraphMode(EFunctionListTimeDisplayMode mode)
{
    // The butterfly panes have no relative mode to map to; the list's percentage is absolute.
    switch (mode) {
    case EFunctionListTimeDisplayMode::Milliseconds:
        return ECallGraphTimeDisplayMode::Milliseconds;
    case EFunctionListTimeDisplayMode::Seconds:
        return ECallGraphTimeDisplayMode::Seconds;
    case EFunctionListTimeDisplayMode::AbsolutePercentage:
        break;
    }
    return ECallGraphTimeDisplayMode::AbsolutePercentage;
}

} // namespace

/// The rows of `view`'s selection in column 0, in the order the view shows them.
QModelIndexList TopExclusiveWidget::SelectedRows(QtWidgets::ScrollableTreeView* view)
{
    if (view->selectionModel() == nullptr)
        return {};
    QModelIndexList rows = view->selectionModel()->selectedRows(0);
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) {
        // Tree order: compare the row paths from the top.
        auto path = [](QModelIndex index) {
            std::vector<int> rowsFromTop;
            for (; index.isValid(); index = index.parent())
                rowsFromTop.insert(rowsFromTop.begin(), index.row());
            return rowsFromTop;
        };
        return path(a) < path(b);
    });
    return rows;
}

TopExclusiveWidget::TopExclusiveWidget(CallGraphView& view)
    : CallGraphPanel(QStringLiteral("Function List"), QtWidgets::EDockPosition::BottomNarrow,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/Flat_view_256.png"), view)
{
    BuildLayout();
    BuildActions();
    mHeadersRegistration = mView.GetCallGraphSettings().SubscribeVisibleHeaders(
        [this](const CallGraphHeaderSet&) { ApplyVisibleColumns(); });
    ApplyVisibleColumns();
}

TopExclusiveWidget::~TopExclusiveWidget()
{
    mHeadersRegistration.Reset();
    // Results still on their way are dropped now, while whoever destroys their graphs is alive.
    mListMailbox->Renew();
    mButterflyMailbox->Renew();
    CancelLevelsJobs();
    if (mContext.Scheduler) {
        if (mListJob.IsValid())
            mContext.Scheduler->Cancel(System::ECancelMode::Chain, mListJob);
        if (mButterflyJob.IsValid())
            mContext.Scheduler->Cancel(System::ECancelMode::Chain, mButterflyJob);
    }
    // The views go before the models they show.
    mFlatListTreeView->setModel(nullptr);
    mCalledByTreeView->setModel(nullptr);
    mCallsTreeView->setModel(nullptr);
}

void TopExclusiveWidget::BuildLayout()
{
    // The placeholder labels of the base stay hidden; the panel has its own pages.
    mStatusLabel->hide();
    mSummaryLabel->hide();
    auto* rootLayout = static_cast<QVBoxLayout*>(layout());
    rootLayout->setObjectName(QStringLiteral("mRootVerticalLayout"));
    rootLayout->setContentsMargins(0, 0, 0, 0);
    rootLayout->setSpacing(0);

    mToolBar = new QToolBar(this);
    mToolBar->setObjectName(QStringLiteral("mToolBar"));
    rootLayout->insertWidget(0, mToolBar);

    mSplitter = new QSplitter(Qt::Vertical, this);
    mSplitter->setObjectName(QStringLiteral("mSplitter"));
    rootLayout->addWidget(mSplitter, 1);

    mTopExclusiveWidgetStack = new QStackedWidget(mSplitter);
    mTopExclusiveWidgetStack->setObjectName(QStringLiteral("mTopExclusiveWidgetStack"));
    mTopExclusivePage = new QWidget(mTopExclusiveWidgetStack);
    mTopExclusivePage->setObjectName(QStringLiteral("mTopExclusivePage"));
    auto* pageLayout = new QVBoxLayout(mTopExclusivePage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    mFindLineEdit = new FindLineEdit(mTopExclusivePage);
    mFindLineEdit->setObjectName(QStringLiteral("mFindLineEdit"));
    mFindLineEdit->setPlaceholderText(QStringLiteral("Find..."));
    pageLayout->addWidget(mFindLineEdit);
    mFlatListTreeView = MakeTree(QStringLiteral("mFlatListTreeView"), mTopExclusivePage);
    for (QtWidgets::LinkedTreeView* half :
         {mFlatListTreeView->GetLeftTree(), mFlatListTreeView->GetRightTree()}) {
        half->setRootIsDecorated(false);
        // Lets the view lay out 100,000 rows without asking each for its height.
        half->setUniformRowHeights(true);
    }
    pageLayout->addWidget(mFlatListTreeView, 1);
    mProgressBarFrame = new QFrame(mTopExclusivePage);
    mProgressBarFrame->setObjectName(QStringLiteral("mProgressBarFrame"));
    auto* progressLayout = new QHBoxLayout(mProgressBarFrame);
    progressLayout->setContentsMargins(4, 2, 4, 2);
    mProgressBarLabel = new QLabel(mProgressBarFrame);
    mProgressBarLabel->setObjectName(QStringLiteral("mProgressBarLabel"));
    mProgressBar = new QProgressBar(mProgressBarFrame);
    mProgressBar->setObjectName(QStringLiteral("mProgressBar"));
    mProgressBar->setRange(0, 0);
    mProgressBar->setTextVisible(false);
    const qreal scale = screen() ? screen()->logicalDotsPerInch() / 96.0 : 1.0;
    mProgressBar->setMaximumHeight(static_cast<int>(16 * std::max<qreal>(scale, 1.0)));
    progressLayout->addWidget(mProgressBarLabel);
    progressLayout->addWidget(mProgressBar, 1);
    pageLayout->addWidget(mProgressBarFrame);
    mProgressBarFrame->hide();
    mTopExclusiveEmptyPage = new QWidget(mTopExclusiveWidgetStack);
    mTopExclusiveEmptyPage->setObjectName(QStringLiteral("mTopExclusiveEmptyPage"));
    auto* emptyLayout = new QVBoxLayout(mTopExclusiveEmptyPage);
    emptyLayout->addWidget(MakeGreyLabel(QStringLiteral("mEmptySourceLabel"),
                                         QStringLiteral("Select a function to view Top Exclusive"),
                                         mTopExclusiveEmptyPage));
    mTopExclusiveWidgetStack->addWidget(mTopExclusiveEmptyPage);
    mTopExclusiveWidgetStack->addWidget(mTopExclusivePage);
    mTopExclusiveWidgetStack->setCurrentWidget(mTopExclusiveEmptyPage);

    mButterflyWidgetStack = new QStackedWidget(mSplitter);
    mButterflyWidgetStack->setObjectName(QStringLiteral("mButterflyWidgetStack"));
    mButterflyPage = new QWidget(mButterflyWidgetStack);
    mButterflyPage->setObjectName(QStringLiteral("mButterflyPage"));
    auto* butterflyLayout = new QVBoxLayout(mButterflyPage);
    butterflyLayout->setContentsMargins(0, 0, 0, 0);
    auto* butterflySplitter = new QSplitter(Qt::Vertical, mButterflyPage);
    butterflySplitter->setObjectName(QStringLiteral("splitter"));
    mCalledByTreeView = MakeTree(QStringLiteral("mCalledByTreeView"), butterflySplitter);
    mCallsTreeView = MakeTree(QStringLiteral("mCallsTreeView"), butterflySplitter);
    butterflyLayout->addWidget(butterflySplitter);
    mButterflyEmptyPage = new QWidget(mButterflyWidgetStack);
    mButterflyEmptyPage->setObjectName(QStringLiteral("mButterflyEmptyPage"));
    auto* butterflyEmptyLayout = new QVBoxLayout(mButterflyEmptyPage);
    mEmptyButterflyLabel =
        MakeGreyLabel(QStringLiteral("mEmptyButterflyLabel"), kSelectFunctionText, mButterflyEmptyPage);
    butterflyEmptyLayout->addWidget(mEmptyButterflyLabel);
    mButterflyWidgetStack->addWidget(mButterflyEmptyPage);
    mButterflyWidgetStack->addWidget(mButterflyPage);
    mButterflyWidgetStack->setCurrentWidget(mButterflyEmptyPage);
    mSplitter->setSizes({2500, 2500});

    mTooltip = new QtWidgets::MouseTooltip(this);
    mListDelegate = new ThreadStateBarDelegate(TopExclusiveViewModel::kStateTimesRole, mTooltip, this);
    mButterflyDelegate = new ThreadStateBarDelegate(ButterflyTreeModel::kStateTimesRole, mTooltip, this);
    mFlatListTreeView->setItemDelegateForColumn(5, mListDelegate);
    mCalledByTreeView->setItemDelegateForColumn(5, mButterflyDelegate);
    mCallsTreeView->setItemDelegateForColumn(5, mButterflyDelegate);

    connect(mFindLineEdit, &QLineEdit::textChanged, this, &TopExclusiveWidget::OnFindTextChanged);
    mFindLineEdit->SetKeyCallback([this](FindLineEdit::Key key) { return OnFindKey(static_cast<int>(key)); });
    mFindLineEdit->SetClearCallback([this] { mFindLineEdit->clear(); });
    mFindLineEdit->EnableEscape();
    connect(mFlatListTreeView, &QtWidgets::ScrollableTreeView::OnSelectionChanged, this,
            &TopExclusiveWidget::OnListSelectionChanged);
    connect(mFlatListTreeView, &QtWidgets::ScrollableTreeView::ReapplySelection, this,
            &TopExclusiveWidget::OnListSelectionChanged);
    connect(mFlatListTreeView, &QtWidgets::ScrollableTreeView::OnCopyToClipboard, this,
            [this] { CopyText(GetSelectionText()); });
    connect(mFlatListTreeView, &QtWidgets::ScrollableTreeView::OnContextMenuRequested, this,
            [this](QPoint pos) {
                std::unique_ptr<QMenu> menu(CreateListContextMenu());
                if (menu)
                    menu->exec(mFlatListTreeView->mapToGlobal(pos));
            });
    connect(mFlatListTreeView, &QtWidgets::ScrollableTreeView::OnHeaderContextMenuRequested, this,
            &TopExclusiveWidget::ShowHeaderMenu);
    for (QtWidgets::ScrollableTreeView* pane : {mCalledByTreeView, mCallsTreeView}) {
        connect(pane, &QtWidgets::ScrollableTreeView::OnContextMenuRequested, this, [this, pane](QPoint pos) {
            std::unique_ptr<QMenu> menu(CreateButterflyContextMenu(pane));
            if (menu)
                menu->exec(pane->mapToGlobal(pos));
        });
        connect(pane, &QtWidgets::ScrollableTreeView::OnDoubleClicked, this,
                [this, pane](const QModelIndex& index) { SelectFromButterfly(pane, index); });
        connect(pane, &QtWidgets::ScrollableTreeView::OnCopyToClipboard, this,
                [this, pane] { CopyText(GetPaneSelectionText(pane)); });
        connect(pane, &QtWidgets::ScrollableTreeView::OnHeaderContextMenuRequested, this,
                &TopExclusiveWidget::ShowHeaderMenu);
    }
    // A selection only updates the source panel; a double click on the list brings it in front.
    connect(mFlatListTreeView, &QtWidgets::ScrollableTreeView::OnDoubleClicked, this,
            [this] { CallGraphView::RaiseDock(mView.GetSourceWidget()); });
    connect(mCallsTreeView, &QtWidgets::ScrollableTreeView::OnSelectionChanged, this, [this] {
        const QModelIndexList rows = SelectedRows(mCallsTreeView);
        if (rows.size() == 1)
            if (const CallGraphNode* node =
                    ButterflyTreeModel::GetNode(mCallsProxy->mapToSource(rows.front())))
                emit ShowSourceRequested(ESourceOrigin::FunctionListCalls, node->GetFunction());
    });
}

void TopExclusiveWidget::BuildActions()
{
    mFindAction = new QAction(QStringLiteral("Find"), this);
    mFindAction->setObjectName(QStringLiteral("mFindAction"));
    connect(mFindAction, &QAction::triggered, this, [this] {
        mFindLineEdit->setFocus();
        mFindLineEdit->selectAll();
    });
    mFindShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+F")), this);
    mFindShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(mFindShortcut, &QShortcut::activated, mFindAction, &QAction::trigger);

    mActionCopyToClipboard =
        new QAction(QIcon(QStringLiteral(":/ZivuDeverUdovIradir/Resources/CopyToClipboard_256x.png")),
                    QStringLiteral("Copy to clipboard"), this);
    mActionCopyToClipboard->setObjectName(QStringLiteral("mActionCopyToClipboard"));
    mActionCopyToClipboard->setEnabled(false);
    connect(mActionCopyToClipboard, &QAction::triggered, this, [this] { CopyText(GetSelectionText()); });

    mToolBar->addSeparator();
    mToolBar->addAction(mActionCopyToClipboard);
    mToolBar->addWidget(new QLabel(QStringLiteral("  Time display:    "), mToolBar));
    mTimeModeComboBox = new QComboBox(mToolBar);
    mTimeModeComboBox->setObjectName(QStringLiteral("mTimeModeComboBox"));
    mTimeModeComboBox->addItem(QStringLiteral("Milliseconds"), 0);
    mTimeModeComboBox->addItem(QStringLiteral("Seconds"), 1);
    mTimeModeComboBox->addItem(QStringLiteral("Absolute %"), 2);
    mTimeModeComboBox->setCurrentIndex(
        std::clamp(static_cast<int>(mView.GetCallGraphSettings().GetFunctionListTimeDisplayMode()), 0, 2));
    mToolBar->addWidget(mTimeModeComboBox);
    connect(mTimeModeComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TopExclusiveWidget::OnTimeModeChanged);
}

std::vector<QShortcut*> TopExclusiveWidget::GetShortcuts() const
{
    return {mFindShortcut};
}

void TopExclusiveWidget::SetContext(FunctionListContext context)
{
    mContext = std::move(context);
}

void TopExclusiveWidget::SetCustomRoot(std::vector<ResolvedAddress> root)
{
    mCustomRoot = std::move(root);
    StartListJob();
}

EFunctionListTimeDisplayMode TopExclusiveWidget::GetComboMode() const
{
    return static_cast<EFunctionListTimeDisplayMode>(mTimeModeComboBox->currentData().toInt());
}

FunctionScope TopExclusiveWidget::MakeScope() const
{
    FunctionScope scope;
    scope.CustomRootPath = mCustomRoot;
    scope.MinimumDepth = mParameters.Depth;
    scope.SamplingIntervalMs = mContext.SamplingIntervalMs;
    return scope;
}

void TopExclusiveWidget::OnRebuildStarted()
{
    mTopExclusiveWidgetStack->setCurrentWidget(mTopExclusivePage);
    mListBuilding = true;
    UpdateProgress();
}

void TopExclusiveWidget::OnRebuildCanceled()
{
    // The list of the previous graph stays; only a list job of our own keeps the indicator.
    mListBuilding = mListJob.IsValid() && mListGraph != mGraph;
    UpdateProgress();
}

void TopExclusiveWidget::OnRebuildFailed(const QString& error)
{
    mListBuilding = false;
    UpdateProgress();
    mProgressBarLabel->setText(error);
    mProgressBarLabel->setMinimumWidth(0);
    mProgressBarLabel->setMaximumWidth(QWIDGETSIZE_MAX);
    mProgressBar->hide();
    mProgressBarFrame->show();
}

void TopExclusiveWidget::SetCallGraph(const CallGraphInputParameters& parameters,
                                      std::shared_ptr<const CallGraph> graph)
{
    CallGraphPanel::SetCallGraph(parameters, std::move(graph));
    StartListJob();
}

void TopExclusiveWidget::UpdateProgress()
{
    QString text;
    if (mListBuilding && mButterflyBuilding)
        text = QStringLiteral("Building Function List & Calls/Called by");
    else if (mListBuilding)
        text = QStringLiteral("Building Function List");
    else if (mButterflyBuilding || !mLevelsRequests.empty())
        text = QStringLiteral("Building Calls/Called by");
    if (text.isEmpty()) {
        mProgressBarFrame->hide();
        return;
    }
    mProgressBar->show();
    mProgressBarLabel->setText(text);
    mProgressBarLabel->setFixedWidth(
        static_cast<int>(mProgressBarLabel->fontMetrics().horizontalAdvance(text) * 1.1));
    mProgressBarFrame->show();
}

void TopExclusiveWidget::StartListJob()
{
    if (mContext.Scheduler == nullptr || !mGraph) {
        // Nothing can build a list here (a view without a document): stop waiting for one.
        mListBuilding = false;
        UpdateProgress();
        return;
    }
    if (mListJob.IsValid())
        mContext.Scheduler->Cancel(System::ECancelMode::Chain, mListJob);
    mTopExclusiveWidgetStack->setCurrentWidget(mTopExclusivePage);
    mListBuilding = true;
    UpdateProgress();
    const uint64_t generation = mListMailbox->Renew();
    QPointer<TopExclusiveWidget> self(this);
    std::shared_ptr<ListMailbox> mailbox = mListMailbox;
    std::shared_ptr<const CallGraph> graph = mGraph;
    // Runs on the job's thread; the widget is only looked at on the UI thread.
    auto completion = [self, mailbox, generation, graph](std::unique_ptr<BuildListData> data) {
        const bool canceled = data == nullptr;
        if (!canceled && mailbox->IsCurrent(generation)) {
            // Ordering 100,000 names costs more than showing the list: done here, sorting and
            // finding by name cost the UI thread no more than the other columns.
            FunctionNameKeys keys = TopExclusiveViewModel::MakeNameKeys(*data);
            mailbox->Post(generation,
                          std::make_unique<BuiltList>(BuiltList{std::move(data), std::move(keys), graph}));
        }
        auto deliver = [self, mailbox, generation, canceled] {
            if (self && mailbox->IsCurrent(generation))
                self->OnListJobFinished(generation, canceled);
        };
        QMetaObject::invokeMethod(qApp, std::move(deliver), Qt::QueuedConnection);
    };
    mListJob = BuildListJob::Start(*mContext.Scheduler, FunctionQuery{graph, MakeScope()}, mContext.Names,
                                   std::move(completion));
}

void TopExclusiveWidget::OnListJobFinished(uint64_t generation, bool canceled)
{
    std::unique_ptr<BuiltList> built = mListMailbox->Take(generation);
    if (canceled || !built) {
        // The previous list stays; nothing is being built any more.
        mListBuilding = false;
        mListJob = {};
        UpdateProgress();
        emit BuildListCompleted(true);
        return;
    }
    OnListBuilt(std::move(*built));
}

void TopExclusiveWidget::OnListBuilt(BuiltList built)
{
    std::shared_ptr<const CallGraph> graph = std::move(built.Graph);
    mListBuilding = false;
    mListJob = {};
    ResetButterfly(kSelectFunctionText);
    mListGraph = graph;
    mListCustomRoot = mCustomRoot;
    const double totalTime = graph->GetTotalTime();
    auto* model = new TopExclusiveViewModel(std::move(built.Data), totalTime, GetComboMode(),
                                            std::move(built.NameKeys), this);
    // Keep the user's sort column across lists; a first list sorts by inclusive time.
    const int sortColumn = mListModel && mListModel->GetSortColumn() >= 0 ? mListModel->GetSortColumn() : 2;
    const Qt::SortOrder order = mListModel ? mListModel->GetSortOrder() : Qt::DescendingOrder;
    mFlatListTreeView->setModel(model);
    mFlatListTreeView->setSortingEnabled(true);
    mFlatListTreeView->sortByColumn(sortColumn, order);
    delete mListModel;
    mListModel = model;
    if (!mFindLineEdit->text().isEmpty())
        OnFindTextChanged(mFindLineEdit->text());
    ApplyVisibleColumns();
    mFlatListTreeView->GetLeftTree()->resizeColumnToContents(0);
    UpdateProgress();
    mActionCopyToClipboard->setEnabled(false);
    emit BuildListCompleted(false);
}

void TopExclusiveWidget::ResetButterfly(const QString& label)
{
    if (mContext.Scheduler && mButterflyJob.IsValid())
        mContext.Scheduler->Cancel(System::ECancelMode::Chain, mButterflyJob);
    mButterflyJob = {};
    mButterflyMailbox->Renew();
    mButterflyBuilding = false;
    CancelLevelsJobs();
    mButterflyQuery = {};
    mCalledByTreeView->setModel(nullptr);
    mCallsTreeView->setModel(nullptr);
    delete mCalledByProxy;
    delete mCalledByModel;
    delete mCallsProxy;
    delete mCallsModel;
    mCalledByProxy = mCallsProxy = nullptr;
    mCalledByModel = mCallsModel = nullptr;
    mCurrentButterfly.reset();
    mEmptyButterflyLabel->setText(label);
    mButterflyWidgetStack->setCurrentWidget(mButterflyEmptyPage);
    UpdateProgress();
}

std::vector<uint32_t> TopExclusiveWidget::GetSelectedListRows() const
{
    std::vector<uint32_t> rows;
    if (mListModel == nullptr)
        return rows;
    const std::vector<FunctionListViewItem>& all = mListModel->GetRows();
    for (const QModelIndex& index : SelectedRows(mFlatListTreeView))
        if (const FunctionListViewItem* item = TopExclusiveViewModel::GetViewItem(index))
            rows.push_back(static_cast<uint32_t>(item - all.data()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TopExclusiveWidget::OnListSelectionChanged()
{
    const std::vector<uint32_t> rows = GetSelectedListRows();
    mActionCopyToClipboard->setEnabled(!rows.empty());
    if (mContext.Scheduler && mButterflyJob.IsValid())
        mContext.Scheduler->Cancel(System::ECancelMode::Chain, mButterflyJob);
    PostSelectionMessage(rows);
    if (rows.size() != 1) {
        ResetButterfly(rows.empty() ? kSelectFunctionText : kMultipleFunctionsText);
        return;
    }
    const ResolvedAddress function = mListModel->GetRows()[rows.front()].Item->Function;
    StartButterflyJob(function);
    emit ShowSourceRequested(ESourceOrigin::FunctionList, function);
}

void TopExclusiveWidget::PostSelectionMessage(const std::vector<uint32_t>& rows)
{
    MessageListenerList* listeners = mView.GetListenerList();
    if (listeners == nullptr || mListModel == nullptr)
        return;
    std::vector<int32_t> threads;
    for (ThreadID thread : mParameters.ThreadIDs)
        threads.push_back(static_cast<int32_t>(thread));
    std::vector<ResolvedAddress> frames;
    std::vector<std::string> names;
    std::vector<std::string> modules;
    for (uint32_t row : rows) {
        const FunctionListViewItem& item = mListModel->GetRows()[row];
        frames.push_back(item.Item->Function);
        names.push_back(item.GetName().toStdString());
        modules.emplace_back(item.ModuleFile);
    }
    Message message(MessageTypes::TopExclusiveSelected());
    message.WriteInt32Array("ThreadIDs", threads);
    message.WriteDouble("StartTime", mParameters.StartTime);
    message.WriteDouble("EndTime", mParameters.EndTime);
    message.WriteInt32("Depth", mParameters.Depth);
    message.WriteFrameArray("CustomRoot", mListCustomRoot);
    message.WriteFrameArray("Frames", frames);
    message.WriteStringArray("ResolvedFunctionNames", names);
    message.WriteStringArray("ModuleNames", modules);
    SendMessage(*listeners, mView.listenerId, message);
}

void TopExclusiveWidget::StartButterflyJob(const ResolvedAddress& function)
{
    ResetButterfly(kSelectFunctionText);
    if (mContext.Scheduler == nullptr || mContext.Manager == nullptr || !mListGraph)
        return;
    mButterflyWidgetStack->setCurrentWidget(mButterflyPage);
    mButterflyBuilding = true;
    UpdateProgress();
    emit BuildButterflyStarted();
    FunctionScope scope = MakeScope();
    scope.CustomRootPath = mListCustomRoot;
    const uint64_t generation = mButterflyMailbox->Renew();
    QPointer<TopExclusiveWidget> self(this);
    std::shared_ptr<ButterflyMailbox> mailbox = mButterflyMailbox;
    mButterflyQuery = FunctionQuery{mListGraph, scope};
    mButterflyFunction = function;
    mButterflyJob = BuildButterflyJob::Start(
        *mContext.Scheduler, mButterflyQuery, function, *mContext.Manager,
        [self, mailbox, generation](std::unique_ptr<ButterflyGraphs> graphs) {
            // Runs on the job's thread: the graphs wait in the mailbox, under its lock, until the
            // UI thread takes them; a superseded result goes back to the manager from here.
            const bool canceled = graphs == nullptr;
            if (!canceled)
                mailbox->Post(generation, std::move(graphs));
            QMetaObject::invokeMethod(
                qApp,
                [self, mailbox, generation, canceled] {
                    if (self && mailbox->IsCurrent(generation))
                        self->OnButterflyBuilt(generation, canceled);
                },
                Qt::QueuedConnection);
        });
}

void TopExclusiveWidget::OnButterflyBuilt(uint64_t generation, bool canceled)
{
    mButterflyBuilding = false;
    mButterflyJob = {};
    UpdateProgress();
    mCurrentButterfly = mButterflyMailbox->Take(generation);
    if (!canceled && mCurrentButterfly) {
        const double totalTime = mListModel ? mListModel->GetTotalTime() : 0.0;
        const ECallGraphTimeDisplayMode mode = ToCallGraphMode(GetComboMode());
        mCalledByModel =
            new ButterflyTreeModel(mCurrentButterfly->CalledBy, QStringLiteral("Called By"), totalTime,
                                   mContext.SamplingIntervalMs, mContext.Names, mode, this);
        mCallsModel = new ButterflyTreeModel(mCurrentButterfly->Calls, QStringLiteral("Calls"), totalTime,
                                             mContext.SamplingIntervalMs, mContext.Names, mode, this);
        for (ButterflyTreeModel* model : {mCalledByModel, mCallsModel})
            connect(model, &ButterflyTreeModel::LevelsWanted, this,
                    [this, model](const QModelIndex& row) { StartLevelsJob(model, row); });
        mCalledByProxy = new ButterflySortProxyModel(this);
        mCalledByProxy->setSourceModel(mCalledByModel);
        mCallsProxy = new ButterflySortProxyModel(this);
        mCallsProxy->setSourceModel(mCallsModel);
        for (auto [pane, proxy] :
             {std::pair{mCalledByTreeView, mCalledByProxy}, std::pair{mCallsTreeView, mCallsProxy}}) {
            pane->setModel(proxy);
            pane->setSortingEnabled(true);
            pane->sortByColumn(2, Qt::DescendingOrder);
            // The selected function's own row opens on its first level.
            if (proxy->rowCount() == 1)
                pane->expand(proxy->index(0, 0));
        }
        ApplyVisibleColumns();
        mButterflyWidgetStack->setCurrentWidget(mButterflyPage);
    }
    emit BuildButterflyCompleted(canceled);
}

void TopExclusiveWidget::StartLevelsJob(ButterflyTreeModel* model, const QModelIndex& row)
{
    const CallGraphNode* node = ButterflyTreeModel::GetNode(row);
    if (node == nullptr || mContext.Scheduler == nullptr || mContext.Manager == nullptr ||
        !mButterflyQuery.Graph) {
        model->AddLevels(row, nullptr, nullptr);
        return;
    }
    const uint64_t request = ++mNextLevelsRequest;
    auto mailbox = std::make_shared<LevelsMailbox>();
    const uint64_t generation = mailbox->Renew();
    QPointer<TopExclusiveWidget> self(this);
    LevelsRequest& pending = mLevelsRequests[request];
    pending.Mailbox = mailbox;
    pending.Model = model;
    pending.Row = row;
    pending.Job = BuildButterflyLevelsJob::Start(
        *mContext.Scheduler, mButterflyQuery, mButterflyFunction, model == mCalledByModel,
        GetButterflyPath(*node), *mContext.Manager,
        [self, mailbox, generation, request](std::unique_ptr<ButterflyLevels> levels) {
            // On the job's thread, as for the butterfly: a dropped result goes back to the manager.
            if (levels != nullptr)
                mailbox->Post(generation, std::move(levels));
            QMetaObject::invokeMethod(
                qApp,
                [self, mailbox, generation, request] {
                    if (self && mailbox->IsCurrent(generation))
                        self->OnLevelsBuilt(request, generation);
                },
                Qt::QueuedConnection);
        });
    UpdateProgress();
}

void TopExclusiveWidget::OnLevelsBuilt(uint64_t request, uint64_t generation)
{
    const auto at = mLevelsRequests.find(request);
    if (at == mLevelsRequests.end())
        return;
    LevelsRequest pending = std::move(at->second);
    mLevelsRequests.erase(at);
    std::unique_ptr<ButterflyLevels> levels = pending.Mailbox->Take(generation);
    // A row that is gone (its model was replaced) drops the result.
    if (pending.Model && pending.Row.isValid()) {
        if (levels != nullptr)
            pending.Model->AddLevels(pending.Row, std::move(levels->Graph), levels->Node);
        else
            pending.Model->AddLevels(pending.Row, nullptr, nullptr);
    }
    UpdateProgress();
}

void TopExclusiveWidget::CancelLevelsJobs()
{
    for (auto& [request, pending] : mLevelsRequests) {
        pending.Mailbox->Renew();
        if (mContext.Scheduler && pending.Job.IsValid())
            mContext.Scheduler->Cancel(System::ECancelMode::Chain, pending.Job);
    }
    mLevelsRequests.clear();
}

void TopExclusiveWidget::OnFindTextChanged(const QString& text)
{
    if (mListModel == nullptr)
        return;
    mListModel->setFilter(text);
    if (mListModel->rowCount() == 0)
        return;
    const QModelIndex first = mListModel->index(0, 0);
    mFlatListTreeView->selectionModel()->select(first, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    mFlatListTreeView->setCurrentIndex(first);
    mFlatListTreeView->scrollTo(first);
}

bool TopExclusiveWidget::OnFindKey(int key)
{
    if (mListModel == nullptr || mListModel->rowCount() == 0)
        return false;
    const auto findKey = static_cast<FindLineEdit::Key>(key);
    if (findKey != FindLineEdit::Key::Down && findKey != FindLineEdit::Key::Up)
        return false;
    const QModelIndex current = mFlatListTreeView->selectionModel()->currentIndex();
    int row = current.isValid() ? current.row() : -1;
    row += findKey == FindLineEdit::Key::Down ? 1 : -1;
    row = std::clamp(row, 0, mListModel->rowCount() - 1);
    const QModelIndex target = mListModel->index(row, 0);
    mFlatListTreeView->selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect |
                                                                     QItemSelectionModel::Rows);
    mFlatListTreeView->scrollTo(target);
    return true;
}

void TopExclusiveWidget::OnTimeModeChanged()
{
    const EFunctionListTimeDisplayMode mode = GetComboMode();
    if (mListModel) {
        mListModel->setTimeDisplayMode(mode);
        emit mListModel->layoutChanged();
        emit mListModel->headerDataChanged(Qt::Horizontal, 0, TopExclusiveViewModel::kColumnCount - 1);
    }
    for (ButterflyTreeModel* model : {mCalledByModel, mCallsModel})
        if (model) {
            model->SetTimeDisplayMode(ToCallGraphMode(mode));
            emit model->layoutChanged();
            emit model->headerDataChanged(Qt::Horizontal, 0, TopExclusiveViewModel::kColumnCount - 1);
        }
    mView.GetCallGraphSettings().SetFunctionListTimeDisplayMode(mode);
}

void TopExclusiveWidget::ApplyVisibleColumns()
{
    QSet<int> columns;
    for (ECallGraphHeaders header : mView.GetCallGraphSettings().GetVisibleHeaders())
        columns.insert(static_cast<int>(header));
    // The settings never hide the name.
    columns.insert(static_cast<int>(ECallGraphHeaders::FunctionName));
    mFlatListTreeView->SetVisibleColumns(columns);
    mCallsTreeView->SetVisibleColumns(columns);
    // A caller's own time says nothing about the selected function.
    columns.remove(static_cast<int>(ECallGraphHeaders::ExclusiveTime));
    mCalledByTreeView->SetVisibleColumns(columns);
}

void TopExclusiveWidget::ShowHeaderMenu(const QPoint& pos)
{
    QMenu menu(this);
    CallGraphSettings& settings = mView.GetCallGraphSettings();
    const CallGraphHeaderSet visible = settings.GetVisibleHeaders();
    for (ECallGraphHeaders header : {ECallGraphHeaders::ModuleName, ECallGraphHeaders::InclusiveTime,
                                     ECallGraphHeaders::ExclusiveTime, ECallGraphHeaders::ThreadStates}) {
        const int section = static_cast<int>(header);
        const QString title =
            mListModel ? mListModel->headerData(section, Qt::Horizontal, Qt::DisplayRole).toString()
                       : QString();
        QAction* action = menu.addAction(title.isEmpty() ? QString::number(section) : title);
        action->setCheckable(true);
        action->setChecked(visible.count(header) != 0);
        connect(action, &QAction::toggled, this, [&settings, header](bool checked) {
            CallGraphHeaderSet headers = settings.GetVisibleHeaders();
            if (checked)
                headers.insert(header);
            else
                headers.erase(header);
            settings.SetVisibleHeaders(headers);
        });
    }
    menu.exec(mapToGlobal(pos));
}

void TopExclusiveWidget::SelectFunction(const ResolvedAddress& function)
{
    if (mListModel == nullptr)
        return;
    const uint32_t listRow = mListModel->FindListRow(function);
    if (listRow != ~0u)
        SelectListRow(listRow);
}

void TopExclusiveWidget::SelectListRow(uint32_t listRow)
{
    uint32_t visibleRow = mListModel->rowOfItem(listRow);
    if (visibleRow == ~0u) {
        // The find filter hides the row: drop the filter rather than the request.
        {
            const QSignalBlocker blocker(mFindLineEdit);
            mFindLineEdit->clear();
        }
        mListModel->resetFilter();
        visibleRow = mListModel->rowOfItem(listRow);
        if (visibleRow == ~0u)
            return;
    }
    const QModelIndex first = mListModel->index(static_cast<int>(visibleRow), 0);
    const QModelIndex last =
        mListModel->index(static_cast<int>(visibleRow), TopExclusiveViewModel::kColumnCount - 1);
    mFlatListTreeView->selectionModel()->select(
        QItemSelection(first, last), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    mFlatListTreeView->scrollTo(first);
    mFlatListTreeView->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
}

void TopExclusiveWidget::SelectFromButterfly(QtWidgets::ScrollableTreeView* pane, const QModelIndex& index)
{
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(pane->model());
    if (proxy == nullptr || !index.isValid())
        return;
    const CallGraphNode* node =
        ButterflyTreeModel::GetNode(proxy->mapToSource(index.sibling(index.row(), 0)));
    if (node == nullptr)
        return;
    if (pane == mCalledByTreeView && !CalledByGraphNode::From(*node).WithinCustomRoot) {
        QMessageBox::information(
            this, QStringLiteral("Quasarix"),
            QStringLiteral("The function could not be selected in the Function List because "
                           "it is a parent of the function that is set as filter."));
        return;
    }
    SelectFunction(node->GetFunction());
}

} // namespace Profiler
