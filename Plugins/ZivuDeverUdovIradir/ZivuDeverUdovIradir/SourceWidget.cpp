#include "ZivuDeverUdovIradir/SourceWidget.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "CallGraphModel/FunctionTimingProcessor.h"
#include "CaptureModel/Session.h"
#include "PluginApi/Message.h"
#include "PluginApi/SessionModelContext.h"
#include "ProfilerLibUI/FindWidget.h"
#include "SymbolResolution/FunctionSourceContext.h"
#include "System/Log.h"
#include "System/Platform/Shell.h"
#include "Theming/Icons.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"
#include "ZivuDeverUdovIradir/Source/SourceTextEdit.h"
#include "ZivuDeverUdovIradir/SourceSettings.h"

#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace Profiler {

namespace {

const QString kResources = QStringLiteral(":/ZivuDeverUdovIradir/Resources/");

QString TitleOf(ESourceOrigin origin)
{
    switch (origin) {
    case ESourceOrigin::CallGraph:
        return QStringLiteral("Source and Disassembly (CallGraph)");
    case ESourceOrigin::FunctionList:
        return QStringLiteral("Source and Disassembly (Function List)");
    case ESourceOrigin::FunctionListCalls:
        return QStringLiteral("Source and Disassembly (Function List - Calls)");
    case ESourceOrigin::ThreadInteraction:
        return QStringLiteral("Source and Disassembly (Thread Interaction)");
    }
    return QStringLiteral("Source and Disassembly");
}

/// The plugin is not handed the host's theme object; the palette the host installed tells.
EThemeType ThemeOf(const QWidget& widget)
{
    return widget.palette().color(QPalette::Window).lightness() < 128 ? EThemeType::Dark : EThemeType::Light;
}

QFrame* MakeErrorFrame(QWidget* parent, int index, QLabel*& label, QPushButton*& browse,
                       QPushButton*& resolve)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(QStringLiteral("mErrorFrame%1").arg(index));
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(6, 3, 6, 3);
    label = new QLabel(frame);
    label->setObjectName(QStringLiteral("mErrorLabel%1").arg(index));
    label->setWordWrap(true);
    browse = new QPushButton(QStringLiteral("Browse..."), frame);
    browse->setObjectName(QStringLiteral("mBrowseButton%1").arg(index));
    browse->setToolTip(QStringLiteral("Browse to find the source file on disk"));
    resolve = new QPushButton(QStringLiteral("More info"), frame);
    resolve->setObjectName(QStringLiteral("mResolveButton%1").arg(index));
    layout->addWidget(label, 1);
    layout->addWidget(browse);
    layout->addWidget(resolve);
    frame->hide();
    return frame;
}

/// Reads the file and finds its strings and comments; runs on the job's thread.
std::shared_ptr<RetrievedSource> RetrieveSource(std::shared_ptr<const FunctionData> data)
{
    auto source = std::make_shared<RetrievedSource>();
    source->Data = std::move(data);
    if (HasSourceFile(source->Data->mResult)) {
        source->Lines = ReadSourceLines(QString::fromStdString(source->Data->mResolvedSourcePath));
        source->Spans = ScanSourceSpans(source->Lines.join(QLatin1Char('\n')));
    }
    return source;
}

} // namespace

SourceWidget::SourceWidget(CallGraphView& view)
    : CallGraphPanel(QStringLiteral("Source"), QtWidgets::EDockPosition::BottomNarrow,
                     kResources + QStringLiteral("source.png"), view)
{
    qRegisterMetaType<std::shared_ptr<Profiler::RetrievedSource>>();
    setWindowTitle(QStringLiteral("Source and Disassembly"));
    mStatusLabel->hide();
    mSummaryLabel->hide();
    BuildLayout();
    BuildActions();
    ApplyTheme();
    UpdateStatus();
}

SourceWidget::~SourceWidget()
{
    // The job must be gone before the context it reads is.
    if (mProcessor)
        mProcessor->Cancel();
}

void SourceWidget::BuildLayout()
{
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* toolbarLayout = new QHBoxLayout();
    toolbarLayout->setObjectName(QStringLiteral("mToolbarLayout"));
    layout->addLayout(toolbarLayout);
    auto* toolbar = new QToolBar(this);
    toolbar->setObjectName(QStringLiteral("mToolbar"));
    toolbar->setIconSize(QSize(16, 16));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbarLayout->addWidget(toolbar);
    toolbarLayout->addStretch(1);

    mErrorFrame0 = MakeErrorFrame(this, 0, mErrorLabel0, mBrowseButton0, mResolveButton0);
    mErrorFrame1 = MakeErrorFrame(this, 1, mErrorLabel1, mBrowseButton1, mResolveButton1);
    layout->addWidget(mErrorFrame0);
    layout->addWidget(mErrorFrame1);
    for (QPushButton* button : {mBrowseButton0, mBrowseButton1})
        connect(button, &QPushButton::clicked, this, &SourceWidget::Browse);
    for (QPushButton* button : {mResolveButton0, mResolveButton1})
        connect(button, &QPushButton::clicked, this, [this] { emit ShowSymbolInfoRequested(mFunction); });

    mTitleLabel = new QLabel(this);
    mTitleLabel->setObjectName(QStringLiteral("mTitleLabel"));
    mTitleLabel->setTextFormat(Qt::RichText);
    mTitleLabel->setContentsMargins(4, 2, 4, 2);
    mTitleLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(mTitleLabel);

    mFindWidget = new FindWidget(this);
    mFindWidget->hide();
    layout->addWidget(mFindWidget);

    mWidgetStack = new QStackedWidget(this);
    mWidgetStack->setObjectName(QStringLiteral("mWidgetStack"));
    layout->addWidget(mWidgetStack, 1);

    mSourceViewPage = new QWidget(mWidgetStack);
    mSourceViewPage->setObjectName(QStringLiteral("mSourceViewPage"));
    auto* pageLayout = new QVBoxLayout(mSourceViewPage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    mSourceTextEdit = new SourceTextEdit(mSourceViewPage);
    pageLayout->addWidget(mSourceTextEdit, 1);
    mProgressBarFrame = new QFrame(mSourceViewPage);
    mProgressBarFrame->setObjectName(QStringLiteral("mProgressBarFrame"));
    auto* progressLayout = new QHBoxLayout(mProgressBarFrame);
    mProgressBarLabel = new QLabel(QStringLiteral("Calculating timing information"), mProgressBarFrame);
    mProgressBarLabel->setObjectName(QStringLiteral("mProgressBarLabel"));
    mProgressBar = new QProgressBar(mProgressBarFrame);
    mProgressBar->setObjectName(QStringLiteral("mProgressBar"));
    mProgressBar->setRange(0, 0); // the job reports no progress, only that it runs
    progressLayout->addWidget(mProgressBarLabel);
    progressLayout->addWidget(mProgressBar, 1);
    mProgressBarFrame->hide();
    pageLayout->addWidget(mProgressBarFrame);
    mWidgetStack->addWidget(mSourceViewPage);

    mEmptyPage = new QWidget(mWidgetStack);
    mEmptyPage->setObjectName(QStringLiteral("mEmptyPage"));
    auto* emptyLayout = new QVBoxLayout(mEmptyPage);
    mEmptySourceLabel = new QLabel(QStringLiteral("Select a function to view source"), mEmptyPage);
    mEmptySourceLabel->setObjectName(QStringLiteral("mEmptySourceLabel"));
    mEmptySourceLabel->setStyleSheet(QStringLiteral("QLabel { color: #B2B2B2 }"));
    mEmptySourceLabel->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(mEmptySourceLabel);
    mWidgetStack->addWidget(mEmptyPage);
    mWidgetStack->setCurrentWidget(mEmptyPage);

    mFindWidget->SetTextChangedCallback([this](const std::string& text) {
        mFindText = QString::fromStdString(text);
        mSourceTextEdit->SetFindText(mFindText);
    });
    mFindWidget->SetClearedCallback([this] {
        mFindText.clear();
        mSourceTextEdit->SetFindText({});
    });
    mFindWidget->SetFindNextCallback([this] { FindNext(false); });
    mFindWidget->SetFindPreviousCallback([this] { FindNext(true); });
    mFindWidget->SetClosedCallback([this] { mSourceTextEdit->SetFindText({}); });
}

void SourceWidget::BuildActions()
{
    auto* toolbar = findChild<QToolBar*>(QStringLiteral("mToolbar"));
    auto makeAction = [this](const char* name, const QString& text, const QString& icon) {
        auto* action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        if (!icon.isEmpty())
            action->setIcon(GetThemedIcon(kResources + icon));
        return action;
    };
    mActionShowDisassembly =
        makeAction("actionShowDisassembly", QStringLiteral("Show Disassembly"), QStringLiteral("disasm.png"));
    connect(mActionShowDisassembly, &QAction::triggered, this, [this] {
        if (IsDisassemblyMode(mMode))
            SetViewMode(ESourceViewMode::Source);
        else
            SetViewMode(mActionIncludeSourceLines->isChecked() ? ESourceViewMode::DisassemblyWithSource
                                                               : ESourceViewMode::Disassembly);
    });
    mActionOpenFolder = makeAction("actionOpenFolder", QStringLiteral("Show in File Browser"),
                                   QStringLiteral("FolderOpen_256x.png"));
    mActionOpenFolder->setToolTip(QStringLiteral("Show the source file in the file browser"));
    connect(mActionOpenFolder, &QAction::triggered, this, &SourceWidget::ShowInFileBrowser);
    mActionOpenFile =
        makeAction("actionOpenFile", QStringLiteral("Open File"), QStringLiteral("OpenInEditor.png"));
    mActionOpenFile->setToolTip(QStringLiteral("Open the source file with the associated editor"));
    connect(mActionOpenFile, &QAction::triggered, this, &SourceWidget::OpenFile);
    mActionGoToHottestLine =
        makeAction("actionGoToHottestLine", QStringLiteral("Go to Hottest Line"), QString());
    mActionGoToHottestLine->setToolTip(QStringLiteral("Go to the line with the most time"));
    connect(mActionGoToHottestLine, &QAction::triggered, this,
            [this] { mSourceTextEdit->GoToHottestLine(); });

    mFindAction = makeAction("mFindAction", QStringLiteral("&Find..."), QStringLiteral("find.png"));
    mFindAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+F")));
    connect(mFindAction, &QAction::triggered, this, [this] {
        mFindWidget->show();
        mFindWidget->activate();
    });
    mFindNextAction =
        makeAction("mFindNextAction", QStringLiteral("Find &Next"), QStringLiteral("find_next.png"));
    mFindNextAction->setToolTip(QStringLiteral("Find Next"));
    mFindNextAction->setShortcut(QKeySequence(QStringLiteral("F3")));
    connect(mFindNextAction, &QAction::triggered, this, [this] { FindNext(false); });
    mFindPreviousAction = makeAction("mFindPreviousAction", QStringLiteral("Find &Previous"),
                                     QStringLiteral("find_previous.png"));
    mFindPreviousAction->setShortcut(QKeySequence(QStringLiteral("Shift+F3")));
    connect(mFindPreviousAction, &QAction::triggered, this, [this] { FindNext(true); });
    for (QAction* action : {mFindAction, mFindNextAction, mFindPreviousAction}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
    }

    mActionIncludeSourceLines =
        makeAction("actionIncludeSourceLines", QStringLiteral("Include source lines"), QString());
    mActionIncludeSourceLines->setCheckable(true);
    mActionIncludeSourceLines->setChecked(true);
    connect(mActionIncludeSourceLines, &QAction::toggled, this, [this](bool checked) {
        if (IsDisassemblyMode(mMode))
            SetViewMode(checked ? ESourceViewMode::DisassemblyWithSource : ESourceViewMode::Disassembly);
    });
    mViewOptionsButton = new QToolButton(toolbar);
    mViewOptionsButton->setObjectName(QStringLiteral("actionOpenDisasmOptionMenu"));
    mViewOptionsButton->setText(QStringLiteral("View options"));
    mViewOptionsButton->setIcon(GetThemedIcon(kResources + QStringLiteral("ViewOptions_256x.png")));
    mViewOptionsButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    mViewOptionsButton->setPopupMode(QToolButton::InstantPopup);
    mViewOptionsButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto* menu = new QMenu(mViewOptionsButton);
    menu->addAction(mActionIncludeSourceLines);
    mViewOptionsButton->setMenu(menu);

    toolbar->addAction(mActionShowDisassembly);
    mViewOptionsAction = toolbar->addWidget(mViewOptionsButton);
    toolbar->addSeparator();
    toolbar->addAction(mActionGoToHottestLine);
    toolbar->addAction(mFindAction);
    toolbar->addAction(mActionOpenFile);
    toolbar->addAction(mActionOpenFolder);

    mEscapeShortcut = new QShortcut(QKeySequence(QStringLiteral("Escape")), this);
    mEscapeShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(mEscapeShortcut, &QShortcut::activated, this, [this] { mFindWidget->close(); });
}

std::vector<QShortcut*> SourceWidget::GetShortcuts() const
{
    return {mEscapeShortcut};
}

void SourceWidget::SetSymbolSearchOptions(SymbolSearchOptions options)
{
    mSearchOptions = std::move(options);
    if (mProcessor)
        mProcessor->Cancel();
    mProcessor.reset();
    mSources.reset();
}

ESourceViewMode SourceWidget::GetViewMode() const
{
    return mMode;
}

void SourceWidget::SetViewMode(ESourceViewMode mode)
{
    if (mode == mMode)
        return;
    mMode = mode;
    ShowDocument();
    UpdateStatus();
}

bool SourceWidget::EnsureSources()
{
    if (mSources)
        return true;
    CaptureDocument* document = mView.GetDocument();
    if (document == nullptr || !document->IsProcessed())
        return false;
    mSources = std::make_unique<FunctionSourceContext>(document->GetSession(), CaptureDocument::GetRegistry(),
                                                       mSearchOptions);
    mProcessor = std::make_unique<FunctionTimingProcessor>(document->GetScheduler(), mSources->GetResolver());
    return true;
}

void SourceWidget::ShowFunction(ESourceOrigin origin, const ResolvedAddress& function)
{
    setWindowTitle(TitleOf(origin));
    mFunction = function;
    mSelection = ESourceSelectionState::OneFunction;
    mData.reset();
    mSource.reset();
    mTiming.reset();
    ++mRequest;
    UpdateStatus();
    StartRequest();
}

void SourceWidget::OnStackFrameSelected(const Message& message)
{
    ShowFunction(ESourceOrigin::ThreadInteraction, message.ReadFrame("Frame"));
    CallGraphView::RaiseDock(this);
}

void SourceWidget::SetCallGraph(const CallGraphInputParameters& parameters,
                                std::shared_ptr<const CallGraph> graph)
{
    CallGraphPanel::SetCallGraph(parameters, graph);
    if (mSelection != ESourceSelectionState::OneFunction || graph == nullptr)
        return;
    ++mRequest; // the timing of the old graph no longer applies
    if (!mData) {
        StartRequest(); // still retrieving: start over with the new graph
        return;
    }
    mProgressBarFrame->show();
    StartRequest(true);
}

void SourceWidget::showEvent(QShowEvent* event)
{
    CallGraphPanel::showEvent(event);
    StartDeferredRequest();
}

void SourceWidget::OnDockVisibilityChanged(bool visible)
{
    if (visible)
        StartDeferredRequest();
}

void SourceWidget::StartDeferredRequest()
{
    if (const std::optional<bool> refresh = std::exchange(mDeferredRequest, std::nullopt))
        StartRequest(*refresh, true);
}

void SourceWidget::StartRequest(bool refresh, bool inSight)
{
    // Out of sight (hidden, or a dock behind another dock's tab, which Qt keeps "visible") the
    // panel would time a function nobody looks at: for a row that holds most of a long capture
    // that costs as much as the query did, in time and memory. It waits until it is shown or
    // its tab comes to the front. A window that is not shown at all (scripted use) gets its
    // answer now.
    if (!inSight && window()->isVisible() && visibleRegion().isEmpty()) {
        // A refresh cannot stand in for a whole request that still waits.
        mDeferredRequest = mDeferredRequest.value_or(true) && refresh;
        if (QDockWidget* dock = CallGraphView::DockOf(this))
            connect(dock, &QDockWidget::visibilityChanged, this, &SourceWidget::OnDockVisibilityChanged,
                    Qt::UniqueConnection);
        return;
    }
    mDeferredRequest.reset();
    if (!EnsureSources()) {
        ClearForSelectionStateReceivedHandler(static_cast<int>(ESourceSelectionState::NothingToShow));
        return;
    }
    mSources->GetResolver()->SetSourceLocations(
        mLocalLocations.ToMappings(), mView.GetSourceSettings().mAdditionalSourceLocations.ToMappings());
    FunctionQuery query;
    query.Graph = mView.GetCurrentCallGraph();
    if (CallGraphWidget* callGraph = mView.GetCallGraphWidget())
        query.Scope.MinimumDepth = callGraph->GetParameters().Depth;
    query.Scope.SamplingIntervalMs = mView.GetDocument()->GetSampleIntervalMs();

    const uint64_t request = mRequest;
    QPointer<SourceWidget> self(this);
    FunctionTimingProcessor::Callbacks callbacks;
    callbacks.FunctionDataReady = [self, request, refresh](std::shared_ptr<const FunctionData> data) {
        // The shown text already is this function's (its data comes from the cache).
        if (refresh)
            return;
        std::shared_ptr<RetrievedSource> source = RetrieveSource(std::move(data));
        QMetaObject::invokeMethod(
            self.data(),
            [self, request, source] {
                if (self && self->mRequest == request)
                    self->FunctionDataReceivedHandler(source);
            },
            Qt::QueuedConnection);
    };
    callbacks.TimingReady = [self, request, refresh](std::unique_ptr<FunctionTimingInfo> info) {
        // Owned by the queued call, so that it is freed also when the widget is gone before the
        // call runs (Qt then drops the call unrun).
        auto owned = std::make_shared<std::unique_ptr<FunctionTimingInfo>>(std::move(info));
        QMetaObject::invokeMethod(
            self.data(),
            [self, request, owned, refresh] {
                if (!self || self->mRequest != request) {
                    System::Log("Local source timing job canceled");
                    return;
                }
                self->FunctionTimingInfoReceivedHandler(owned->release(), !refresh);
            },
            Qt::QueuedConnection);
    };
    (void)mProcessor->Request(std::move(query), mFunction, std::move(callbacks));
}

void SourceWidget::ClearForSelectionStateReceivedHandler(int inSelectionState)
{
    mSelection = inSelectionState >= 1 && inSelectionState <= 3
                     ? static_cast<ESourceSelectionState>(inSelectionState)
                     : ESourceSelectionState::None;
    if (mSelection != ESourceSelectionState::OneFunction) {
        ++mRequest; // whatever is still running belongs to the old selection
        mData.reset();
        mSource.reset();
        mTiming.reset();
        mSourceTextEdit->SetSourceDocument({}, {}, {});
    }
    UpdateStatus();
}

void SourceWidget::FunctionDataReceivedHandler(std::shared_ptr<RetrievedSource> inSource)
{
    mSource = std::move(inSource);
    mData = mSource->Data;
    ShowDocument();
    mProgressBarFrame->show();
    UpdateStatus();
}

void SourceWidget::FunctionTimingInfoReceivedHandler(FunctionTimingInfo* inFunctionTimingInfo,
                                                     bool inCenterOnLine)
{
    mTiming = std::shared_ptr<const FunctionTimingInfo>(inFunctionTimingInfo);
    if (!mData)
        mData = mTiming->Data;
    // The interleaved mode needs the line data, which comes with the first timing; a new
    // selection's timing has the same lines.
    if (mMode == ESourceViewMode::DisassemblyWithSource && inCenterOnLine)
        ShowDocument();
    mSourceTextEdit->SetTiming(mTiming, mData.get());
    mProgressBarFrame->hide();
    if (inCenterOnLine && !mSourceTextEdit->GoToHottestLine() && mData && mMode == ESourceViewMode::Source)
        mSourceTextEdit->GoToBlock(mData->mResolvedCursorLine - 1, true);
    mTitleLabel->setToolTip(
        BuildFunctionTooltip(mSourceTextEdit->GetTimingTable(), mSourceTextEdit->GetTheme()));
    UpdateStatus();
    emit TimingShown();
}

void SourceWidget::ShowDocument()
{
    if (!mData) {
        mSourceTextEdit->SetSourceDocument({}, {}, {});
        return;
    }
    const QStringList lines = mSource ? mSource->Lines : QStringList();
    const FunctionLineData* lineData = mTiming ? mTiming->LineData.get() : nullptr;
    SourceDocument document = BuildSourceDocument(mMode, *mData, lineData, lines);
    std::vector<SourceSpan> spans;
    // Spans are positions in the source text; interleaved lines are coloured by the rules alone.
    if (mMode == ESourceViewMode::Source && mSource)
        spans = mSource->Spans;
    mSourceTextEdit->SetSourceDocument(std::move(document), std::move(spans), GetShownFilePath());
    if (mTiming) {
        mSourceTextEdit->SetTiming(mTiming, mData.get());
        mSourceTextEdit->GoToHottestLine();
    }
    if (!mFindText.isEmpty())
        mSourceTextEdit->SetFindText(mFindText);
}

QString SourceWidget::GetShownFilePath() const
{
    return mData ? QString::fromStdString(mData->mResolvedSourcePath) : QString();
}

void SourceWidget::UpdateStatus()
{
    SourceStatusInput input;
    input.Selection = mSelection;
    input.Data = mData.get();
    input.Mode = mMode;
    input.HasLineData = mTiming == nullptr ||
                        (mTiming->LineData && !mTiming->LineData->mAddressToLineMap.mResolvedLines.empty());
    if (mSelection == ESourceSelectionState::OneFunction && mView.GetDocument() != nullptr && mData) {
        const CaptureDocument& document = *mView.GetDocument();
        input.ModuleName = QString::fromStdString(document.GetFunctionNames().GetModuleName(mFunction));
        input.FunctionName = QString::fromStdString(document.GetFunctionNames().GetFunctionName(mFunction));
    }
    const SourceStatus status = ComputeSourceStatus(input);

    const bool disassembly = IsDisassemblyMode(mMode);
    mActionOpenFolder->setEnabled(status.SourceActionsEnabled);
    mActionOpenFile->setEnabled(status.SourceActionsEnabled);
    for (QAction* action : {mFindAction, mFindNextAction, mFindPreviousAction})
        action->setEnabled(status.FindEnabled);
    mActionShowDisassembly->setEnabled(status.DisassemblyToggleEnabled);
    mActionGoToHottestLine->setEnabled(mTiming != nullptr &&
                                       mSourceTextEdit->GetTimingTable().GetHottestBlock() >= 0);
    mActionShowDisassembly->setToolTip(disassembly ? QStringLiteral("Go to Source")
                                                   : QStringLiteral("Go to Disassembly"));
    mActionShowDisassembly->setIcon(
        GetThemedIcon(kResources + (disassembly ? QStringLiteral("GoToSourceCode_256x.png")
                                                : QStringLiteral("disasm.png"))));
    mActionShowDisassembly->setText(disassembly ? QStringLiteral("Show Source")
                                                : QStringLiteral("Show Disassembly"));
    mActionIncludeSourceLines->setVisible(disassembly);
    mViewOptionsAction->setVisible(disassembly);

    mTitleLabel->setText(status.Title);
    mTitleLabel->setVisible(!status.Title.isEmpty());
    mErrorLabel0->setText(status.Error0);
    mErrorFrame0->setVisible(!status.Error0.isEmpty());
    mBrowseButton0->setVisible(status.Browse0);
    mResolveButton0->setVisible(status.Resolve0);
    mErrorLabel1->setText(status.Error1);
    mErrorFrame1->setVisible(!status.Error1.isEmpty());
    mBrowseButton1->hide();
    mResolveButton1->hide();
    if (status.ShowEmptyPage) {
        mEmptySourceLabel->setText(status.EmptyText);
        mWidgetStack->setCurrentWidget(mEmptyPage);
    } else {
        mWidgetStack->setCurrentWidget(mSourceViewPage);
    }
    if (mSelection != ESourceSelectionState::OneFunction || !mData)
        mProgressBarFrame->hide();
    setProperty("timedLineCount", mTiming ? static_cast<qulonglong>(mTiming->LineEntries.size()) : 0ull);
    setProperty("sourceFilePath", GetShownFilePath());
}

void SourceWidget::ApplyTheme()
{
    const EThemeType theme = ThemeOf(*this);
    const QString frameStyle = theme == EThemeType::Dark
                                   ? QStringLiteral("QFrame { background-color: palette(highlight); }")
                                   : QStringLiteral("QFrame { background-color: rgb(196, 223, 255); }");
    const QString labelStyle = theme == EThemeType::Dark
                                   ? QStringLiteral("QLabel { color: palette(highlighted-text); }")
                                   : QStringLiteral("QLabel { color: rgb(0, 0, 0); }");
    for (QFrame* frame : {mErrorFrame0, mErrorFrame1})
        frame->setStyleSheet(frameStyle);
    for (QLabel* label : {mErrorLabel0, mErrorLabel1})
        label->setStyleSheet(labelStyle);
    mSourceTextEdit->SetTheme(theme);
}

void SourceWidget::changeEvent(QEvent* event)
{
    CallGraphPanel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && mSourceTextEdit != nullptr &&
        ThemeOf(*this) != mSourceTextEdit->GetTheme())
        ApplyTheme();
}

void SourceWidget::FindNext(bool backward)
{
    if (mFindText.isEmpty()) {
        mFindWidget->show();
        mFindWidget->activate();
        return;
    }
    const QString message = mSourceTextEdit->Find(mFindText, backward);
    if (!message.isEmpty())
        ShowMessage(message);
}

void SourceWidget::ShowMessage(const QString& text)
{
    if (mMessageSink)
        mMessageSink(text);
    else
        QMessageBox::information(this, QStringLiteral("Quasarix"), text);
}

void SourceWidget::Browse()
{
    if (!mData)
        return;
    SourceSettings& settings = mView.GetSourceSettings();
    const QString recorded = QString::fromStdString(mData->mOriginalSourcePath);
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Browse Source"), QString::fromStdString(settings.mLastUsedBrowseDirectory),
        QFileInfo(recorded).fileName());
    if (chosen.isEmpty())
        return;
    const std::string chosenPath = QDir::toNativeSeparators(chosen).toStdString();
    settings.mAdditionalSourceLocations.AddLocation(recorded.toStdString(), chosenPath);
    mLocalLocations.AddLocation(recorded.toStdString(), chosenPath);
    settings.mLastUsedBrowseDirectory = QFileInfo(chosen).absolutePath().toStdString();
    SaveSourceSettings(settings);
    if (mSelection == ESourceSelectionState::OneFunction) {
        mData.reset();
        mSource.reset();
        mTiming.reset();
        ++mRequest;
        UpdateStatus();
        StartRequest();
    }
}

void SourceWidget::OpenFile()
{
    std::string error;
    if (System::Platform::OpenWithAssociatedApplication(GetShownFilePath().toStdString(), error))
        return;
    System::Log("Failed to open source file with the associated editor: %s", error.c_str());
    // The plugin does not know where its host keeps the log; the host's own log window has it.
    ShowMessage(
        QStringLiteral("Unable to open the application associated with the source file.\n\nSee the log at %1 "
                       "for more information")
            .arg(QStringLiteral("the application's log")));
}

void SourceWidget::ShowInFileBrowser()
{
    std::string error;
    if (!System::Platform::ShowInFileBrowser(GetShownFilePath().toStdString(), error))
        System::Log("Failed to show the source file in the file browser: %s", error.c_str());
}

void SourceWidget::SaveState(const std::filesystem::path& directory)
{
    if (!mLocalLocations.mLocations.empty())
        (void)SaveLocalSourceLocations(directory / AdditionalSourceLocations::kLocalFileName,
                                       mLocalLocations);
    if (mSources) {
        Serialization::ErrorList errors;
        (void)mSources->SaveCache(errors); // logged by the cache; a read-only capture still works
    }
}

void SourceWidget::LoadState(const std::filesystem::path& directory, const RTTI::Registry* registry)
{
    mLocalLocations = AdditionalSourceLocations();
    const std::filesystem::path file = directory / AdditionalSourceLocations::kLocalFileName;
    std::error_code error;
    if (registry == nullptr || !std::filesystem::exists(file, error))
        return;
    Serialization::ErrorList errors;
    mLocalLocations = LoadLocalSourceLocations(file, *registry, errors);
    if (!errors.IsEmpty())
        System::Log("%s", errors.GetErrors().front().message.c_str());
}

} // namespace Profiler
