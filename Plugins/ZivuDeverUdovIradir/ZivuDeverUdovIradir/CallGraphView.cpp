#include "ZivuDeverUdovIradir/CallGraphView.h"

#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "CaptureModel/Session.h"
#include "PluginApi/MessageTypes.h"
#include "PluginApi/SessionModelContext.h"
#include "PluginApi/ThreadSelectionSource.h"
#include "ProfilerLibUI/FunctionDebugInformationDialog.h"
#include "ProfilerLibUI/ThreadSelectorWidget.h"
#include "Serialization/Binary.h"
#include "SymbolResolution/SymbolLocationSettings.h"
#include "System/Log.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"
#include "ZivuDeverUdovIradir/SourceWidget.h"
#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"

#include <QDockWidget>
#include <QPointer>

namespace Profiler {

namespace {

constexpr const char* kStateFileName = "CallGraph.dat";

ERequestReason ReasonOf(int32_t filterReason)
{
    switch (filterReason & 0xff) {
    case 0:
        return ERequestReason::RangeSelected;
    case 1:
        return ERequestReason::BarSelected;
    case 2:
        return ERequestReason::ThreadLaneSelected;
    case 3:
        return ERequestReason::FilterCleared;
    case 4:
    case 5:
        return ERequestReason::ShowPanel;
    // An unknown reason is treated as a plain range selection: the graph still follows it.
    default:
        return ERequestReason::RangeSelected;
    }
}

const char* FirstError(const Serialization::ErrorList& errors)
{
    return errors.IsEmpty() ? "" : errors.GetErrors().front().message.c_str();
}

} // namespace

CallGraphView::CallGraphView(ThreadSelectionSource* threadSource, const Session* session,
                             CallGraphManager& manager, CallGraphSettings& callGraphSettings,
                             SourceSettings& sourceSettings, SessionModelContext& modelContext,
                             std::unique_ptr<ICallGraphRequester> requester)
    : MessageListener(modelContext.Listeners, modelContext.GetListenerId()), mModelContext(modelContext),
      mManager(manager), mCallGraphSettings(callGraphSettings), mSourceSettings(sourceSettings),
      mRequester(std::move(requester))
{
    qRegisterMetaType<CallGraphInputParameters>("CallGraphInputParameters");
    qRegisterMetaType<std::shared_ptr<const CallGraph>>("std::shared_ptr<CallGraph>");
    // A view given its requester (tests) has no real document behind its context.
    mHasDocument = !mRequester && modelContext.Model;
    const bool hasDocument = mHasDocument;
    if (hasDocument)
        mRequester = MakeDocumentRequester(*modelContext.Model, this, mManager);
    if (threadSource)
        mThreadSelectionRegistration = threadSource->Connect(
            [this](const std::set<ThreadID>& threads) { OnThreadSelectionChanged(threads); });

    const bool merge = callGraphSettings.GetThreadSelectorSettings().mProcessMode ==
                       ThreadOrganizationModel::EProcessMode::CombineProcesses;
    mSourceWidget = new SourceWidget(*this);
    mTopExclusiveWidget = new TopExclusiveWidget(*this);
    mCallGraphWidget = new CallGraphWidget(
        *this, session ? GetThreadTreeInput(*session) : std::vector<ThreadTreeProcess>{}, merge);
    mTopExclusiveWidget->SetCallGraphWidget(mCallGraphWidget);
    if (hasDocument)
        mTopExclusiveWidget->SetContext({&modelContext.Model->GetScheduler(), &mManager,
                                         modelContext.Model->GetSharedFunctionNames(),
                                         modelContext.Model->GetSampleIntervalMs()});
    for (CallGraphPanel* panel :
         std::initializer_list<CallGraphPanel*>{mCallGraphWidget, mTopExclusiveWidget}) {
        connect(panel, &CallGraphPanel::ShowSourceRequested, this,
                [this](ESourceOrigin origin, const ResolvedAddress& function) {
                    mSourceWidget->ShowFunction(origin, function);
                });
    }
    // One resolver for the view's dialogs, so a module's symbols are read once per session.
    std::shared_ptr<SymbolResolver> symbols = MakeUserSymbolResolver();
    for (CallGraphPanel* panel :
         std::initializer_list<CallGraphPanel*>{mCallGraphWidget, mTopExclusiveWidget, mSourceWidget}) {
        connect(panel, &CallGraphPanel::ShowSymbolInfoRequested, this,
                [this, panel, symbols](const ResolvedAddress& function) {
                    if (CaptureDocument* document = GetDocument())
                        FunctionDebugInformationDialog::Show(document->GetSession().GetModuleDatabase(),
                                                             symbols, document->GetScheduler(), function,
                                                             panel);
                });
    }
    // The function list shows the functions below the call graph's custom root.
    connect(mCallGraphWidget, &CallGraphWidget::CustomRootChanged, mTopExclusiveWidget,
            &TopExclusiveWidget::SetCustomRoot);
    connect(mTopExclusiveWidget, &TopExclusiveWidget::FindInCallGraphRequested, this,
            [this](const ResolvedAddress& function) {
                if (CaptureDocument* document = GetDocument()) {
                    mCallGraphWidget->FindByName(
                        QString::fromStdString(document->GetFunctionNames().GetFunctionName(function)));
                    RaiseDock(mCallGraphWidget);
                }
            });
    connect(mCallGraphWidget, &CallGraphPanel::ShowInFunctionListRequested, this,
            [this](const ResolvedAddress& function) {
                mTopExclusiveWidget->SelectFunction(function);
                RaiseDock(mTopExclusiveWidget);
            });

    connect(this, &CallGraphView::GetCallGraphStart, this, &CallGraphView::OnGetCallGraphStart);
    connect(this, &CallGraphView::GetCallGraphFinished, this, &CallGraphView::OnGetCallGraphFinished);
}

CaptureDocument* CallGraphView::GetDocument() const
{
    return mHasDocument ? mModelContext.Model : nullptr;
}

CallGraphView::~CallGraphView()
{
    if (mRequester)
        mRequester->CancelAll();
    mRequester.reset();
    mSelection.reset();
    mCurrentCallGraph.reset();
    mThreadSelectionRegistration.Reset();
    delete mSourceWidget;
    delete mTopExclusiveWidget;
    delete mCallGraphWidget;
}

std::vector<QWidget*> CallGraphView::GetWidgets()
{
    return {mCallGraphWidget, mTopExclusiveWidget, mSourceWidget};
}

std::vector<std::pair<QShortcut*, QWidget*>> CallGraphView::GetShortcuts()
{
    std::vector<std::pair<QShortcut*, QWidget*>> shortcuts;
    for (CallGraphPanel* panel :
         std::initializer_list<CallGraphPanel*>{mSourceWidget, mTopExclusiveWidget, mCallGraphWidget})
        for (QShortcut* shortcut : panel->GetShortcuts())
            shortcuts.emplace_back(shortcut, panel);
    return shortcuts;
}

CallGraphViewSelectionState& CallGraphView::EnsureSelection()
{
    // Messages can arrive before a host called LoadState; they start from the defaults.
    if (!mSelection)
        mSelection = std::make_unique<CallGraphViewSelectionState>();
    return *mSelection;
}

std::vector<ThreadID> CallGraphView::CurrentThreads() const
{
    std::vector<ThreadID> threads;
    for (int32_t id : mSelection->mCurrentThreadSelection)
        threads.push_back(static_cast<ThreadID>(static_cast<uint32_t>(id)));
    return threads;
}

void CallGraphView::RequestCallGraph(const std::vector<ThreadID>& threads, const TimeRange& range,
                                     bool hasBar, ERequestReason reason)
{
    CallGraphViewSelectionState& selection = EnsureSelection();
    selection.mCurrentTimeRange = range;
    CallGraphInputParameters parameters{
        range.mStartTime, range.mEndTime, range.mDepth, threads, static_cast<uint8_t>(reason), hasBar};
    if (mRequester) {
        emit GetCallGraphStart();
        QPointer<CallGraphView> self(this);
        const uint64_t serial = ++mRequestSerial;
        mRequester->Submit(parameters, [self, serial](CallGraphAnswer answer) {
            // A superseded request completes as canceled while the newer one still runs: the
            // panels must keep showing that they wait for it.
            if (!self || serial != self->mRequestSerial)
                return;
            if (!answer.Error.empty()) {
                for (CallGraphPanel* panel : std::initializer_list<CallGraphPanel*>{
                         self->mCallGraphWidget, self->mTopExclusiveWidget})
                    panel->OnRebuildFailed(QString::fromStdString(answer.Error));
                return;
            }
            emit self->GetCallGraphFinished(answer.Parameters, std::move(answer.Graph), answer.Canceled);
        });
    }
    emit CurrentStateChanged(threads, &selection.mCurrentTimeRange, hasBar);
}

void CallGraphView::OnGetCallGraphStart()
{
    mCallGraphWidget->OnRebuildStarted();
    mTopExclusiveWidget->OnRebuildStarted();
}

void CallGraphView::OnGetCallGraphFinished(const CallGraphInputParameters& parameters,
                                           std::shared_ptr<const CallGraph> graph, bool canceled)
{
    if (canceled) {
        // The previous graph stays current; the panels only stop waiting.
        mCallGraphWidget->OnRebuildCanceled();
        mTopExclusiveWidget->OnRebuildCanceled();
        return;
    }
    mCallGraphWidget->SetCallGraph(parameters, graph);
    mTopExclusiveWidget->SetCallGraph(parameters, graph);
    mCurrentCallGraph = std::move(graph);
    mSourceWidget->SetCallGraph(parameters, mCurrentCallGraph);
}

void CallGraphView::OnThreadSelectionChanged(const std::set<ThreadID>& threads)
{
    CallGraphViewSelectionState& selection = EnsureSelection();
    selection.mCurrentThreadSelection.clear();
    for (ThreadID thread : threads)
        selection.mCurrentThreadSelection.push_back(static_cast<int32_t>(thread));
    RequestCallGraph(CurrentThreads(), selection.mSelectionTimeRange, false,
                     ERequestReason::ThreadSelectionChanged);
}

void CallGraphView::OnMessage(const Message& message)
{
    if (message.GetName() == "FilterStateChanged") {
        CallGraphViewSelectionState& selection = EnsureSelection();
        const int32_t thread = message.ReadInt32("ThreadID");
        if (thread != -1)
            selection.mCurrentThreadSelection = {thread};
        selection.mSelectionTimeRange = {0, message.ReadDouble("SelectedRangeStartTime"),
                                         message.ReadDouble("SelectedRangeEndTime")};
        const bool hasBar = message.ReadInt32("HasSelectedBar") != 0;
        selection.mSelectedBarTimeRange = {message.ReadInt32("SelectedBarDepth"),
                                           message.ReadDouble("SelectedBarStartTime"),
                                           message.ReadDouble("SelectedBarEndTime")};
        selection.mCurrentSelectedBarFrame = message.ReadFrame("SelectedBarFrame");
        const int32_t filterReason = message.ReadInt32("Reason") & 0xff;
        const ERequestReason reason = ReasonOf(filterReason);
        if (filterReason == 1 && mActiveWidget)
            RaiseDock(mActiveWidget);
        else if (filterReason == 4)
            RaiseDock(mCallGraphWidget);
        else if (filterReason == 5)
            RaiseDock(mTopExclusiveWidget);
        if (!hasBar)
            RequestCallGraph(CurrentThreads(), selection.mSelectionTimeRange, false, reason);
        else
            RequestCallGraph(CurrentThreads(), selection.mSelectedBarTimeRange, true, reason);
    } else if (message.GetName() == "StackFrameSelected") {
        mSourceWidget->OnStackFrameSelected(message);
    } else if (message.GetName() == "SessionOpened") {
        RaiseDock(mCallGraphWidget);
        CallGraphViewSelectionState& selection = EnsureSelection();
        if (!selection.mCurrentThreadSelection.empty())
            return;
        for (ThreadID thread : mCallGraphWidget->GetAllThreadIds())
            selection.mCurrentThreadSelection.push_back(static_cast<int32_t>(thread));
        RequestCallGraph(CurrentThreads(), selection.mCurrentTimeRange, false, ERequestReason::SessionOpened);
    }
}

void CallGraphView::ClearFilter()
{
    CallGraphViewSelectionState& selection = EnsureSelection();
    selection.mCurrentSelectedBarFrame = CallGraphViewSelectionState::kNoBar;
    RequestCallGraph(CurrentThreads(), selection.mSelectionTimeRange, false, ERequestReason::FilterCleared);
    if (MessageListenerList* listeners = GetListenerList())
        Profiler::SendMessage(*listeners, listenerId, Message(MessageTypes::CallGraphFilterCleared()));
}

QDockWidget* CallGraphView::DockOf(QWidget* widget)
{
    for (QWidget* at = widget; at; at = at->parentWidget())
        if (auto* dock = qobject_cast<QDockWidget*>(at))
            return dock;
    return nullptr;
}

void CallGraphView::RaiseDock(QWidget* widget)
{
    if (QDockWidget* dock = DockOf(widget)) {
        dock->show();
        dock->raise();
    }
}

void CallGraphView::SetActiveWidget(QWidget* widget)
{
    if (widget == mActiveWidget)
        return;
    mActiveWidget = widget;
    if (auto* panel = qobject_cast<QtWidgets::ViewWidget*>(widget))
        panel->Activate();
}

void CallGraphView::SaveState(const std::filesystem::path& directory)
{
    Serialization::ErrorList errors;
    const CallGraphViewSelectionState& selection = EnsureSelection();
    if (!Serialization::WriteBinaryFile(directory / kStateFileName, {&selection}, errors))
        System::Log("Failed to save callgraph view state: %s", FirstError(errors));
    mSourceWidget->SaveState(directory);
}

void CallGraphView::LoadState(const std::filesystem::path& directory, uint32_t flags,
                              RTTI::Registry* registry)
{
    Serialization::ErrorList errors;
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!registry ||
        !Serialization::ReadBinaryFile(directory / kStateFileName, *registry, RTTI::GetDefaultObjectFactory(),
                                       {}, Serialization::EReadMode::SkipUnknownTypes, roots, errors)) {
        System::Log("Failed to load callgraph view state: %s", FirstError(errors));
    } else {
        for (auto& root : roots)
            if (root && RTTI::IsA<CallGraphViewSelectionState>(root->GetType())) {
                mSelection.reset(static_cast<CallGraphViewSelectionState*>(root.release()));
                break;
            }
        if (mSelection) {
            if (flags & kLoadStateClearSelectedBar) {
                mSelection->mCurrentSelectedBarFrame = CallGraphViewSelectionState::kNoBar;
                mSelection->mSelectedBarTimeRange = TimeRange{};
            }
            if (!mSelection->mCurrentThreadSelection.empty()) {
                std::vector<int32_t> ids(mSelection->mCurrentThreadSelection.begin(),
                                         mSelection->mCurrentThreadSelection.end());
                mCallGraphWidget->GetThreadSelector()->SetSelectedThreadIds(ids);
            }
            if (mSelection->mCurrentSelectedBarFrame.RelativeAddress ==
                CallGraphViewSelectionState::kNoBar.RelativeAddress)
                RequestCallGraph(CurrentThreads(), mSelection->mSelectionTimeRange, false,
                                 ERequestReason::RangeSelected);
            else
                RequestCallGraph(CurrentThreads(), mSelection->mSelectedBarTimeRange, true,
                                 ERequestReason::BarSelected);
        }
    }
    if (!mSelection)
        mSelection = std::make_unique<CallGraphViewSelectionState>();
    mSourceWidget->LoadState(directory, registry);
}

} // namespace Profiler
