#pragma once

#include "PluginApi/MessageListener.h"
#include "PluginApi/View.h"
#include "Utility/SignalRegistration.h"
#include "ZivuDeverUdovIradir/CallGraphRequester.h"
#include "ZivuDeverUdovIradir/CallGraphViewSelectionState.h"

#include <QObject>

#include <memory>
#include <set>
#include <vector>

class QDockWidget;

namespace Profiler {

class CallGraphManager;
class CallGraphSettings;
class CallGraphWidget;
class Session;
class SourceSettings;
class SourceWidget;
class ThreadSelectionSource;
class TopExclusiveWidget;
struct SessionModelContext;

/// The view of one opened session: it owns the panels, keeps the selection (threads, range,
/// selected bar), turns every change of it into a call graph request and hands the finished
/// graph to the panels. It is the plugin's end of the session's message bus.
class CallGraphView : public QObject, public View, public MessageListener {
    Q_OBJECT
public:
    /// `requester` answers the view's requests (made from the context's document when null).
    CallGraphView(ThreadSelectionSource* threadSource, const Session* session, CallGraphManager& manager,
                  CallGraphSettings& callGraphSettings, SourceSettings& sourceSettings,
                  SessionModelContext& modelContext,
                  std::unique_ptr<ICallGraphRequester> requester = nullptr);
    ~CallGraphView() override;

    std::vector<QWidget*> GetWidgets() override;
    std::vector<std::pair<QShortcut*, QWidget*>> GetShortcuts() override;
    void SaveState(const std::filesystem::path& directory) override;
    void LoadState(const std::filesystem::path& directory, uint32_t flags, RTTI::Registry* registry) override;
    void OnMessage(const Message& message) override;

    void RequestCallGraph(const std::vector<ThreadID>& threads, const TimeRange& range, bool hasBar,
                          ERequestReason reason);
    void ClearFilter();
    /// Raises the dock that holds `widget`; nothing when it is not docked.
    static void RaiseDock(QWidget* widget);
    /// The dock that holds `widget`, or null when it is not docked.
    static QDockWidget* DockOf(QWidget* widget);
    void SetActiveWidget(QWidget* widget);

    /// Null until LoadState.
    const CallGraphViewSelectionState* GetSelectionState() const { return mSelection.get(); }
    const std::shared_ptr<const CallGraph>& GetCurrentCallGraph() const { return mCurrentCallGraph; }
    CallGraphWidget* GetCallGraphWidget() const { return mCallGraphWidget; }
    TopExclusiveWidget* GetTopExclusiveWidget() const { return mTopExclusiveWidget; }
    SourceWidget* GetSourceWidget() const { return mSourceWidget; }
    CallGraphSettings& GetCallGraphSettings() const { return mCallGraphSettings; }
    SourceSettings& GetSourceSettings() const { return mSourceSettings; }
    /// The capture behind the view; null for a view made with its own requester (tests), whose
    /// context carries only an id.
    CaptureDocument* GetDocument() const;
    /// Null when the view has no requester.
    ICallGraphRequester* GetRequester() const { return mRequester.get(); }

signals:
    void GetCallGraphStart();
    void GetCallGraphFinished(Profiler::CallGraphInputParameters inCallGraphInputParameters,
                              std::shared_ptr<const Profiler::CallGraph> inFullCallGraph, bool inCanceled);
    void CurrentStateChanged(std::vector<Profiler::ThreadID> inNewThreadIDs,
                             const Profiler::TimeRange* inNewRangeSelection, bool inHasSelectedBar);

private:
    void OnThreadSelectionChanged(const std::set<ThreadID>& threads);
    void OnGetCallGraphStart();
    void OnGetCallGraphFinished(const CallGraphInputParameters& parameters,
                                std::shared_ptr<const CallGraph> graph, bool canceled);
    CallGraphViewSelectionState& EnsureSelection();
    std::vector<ThreadID> CurrentThreads() const;

    SessionModelContext& mModelContext; // not owned
    bool mHasDocument = false;
    CallGraphManager& mManager; // not owned; the plugin's
    CallGraphSettings& mCallGraphSettings;
    SourceSettings& mSourceSettings;
    std::unique_ptr<ICallGraphRequester> mRequester;
    uint64_t mRequestSerial = 0; ///< of the newest request; older answers are superseded
    Utility::SignalRegistration mThreadSelectionRegistration;
    // Owned; deleted explicitly in the documented order even when a host re-parented them.
    SourceWidget* mSourceWidget = nullptr;
    TopExclusiveWidget* mTopExclusiveWidget = nullptr;
    CallGraphWidget* mCallGraphWidget = nullptr;
    std::shared_ptr<const CallGraph> mCurrentCallGraph;
    QWidget* mActiveWidget = nullptr; // not owned
    std::unique_ptr<CallGraphViewSelectionState> mSelection;
};

} // namespace Profiler
