#pragma once

#include "PluginApi/MessageListener.h"
#include "PluginApi/SessionModelContext.h"
#include "PluginApi/ThreadSelectionSource.h"
#include "TimelineIndex.h"

#include <filesystem>
#include <memory>

namespace RTTI {
class Registry;
}

namespace Profiler {

class CaptureDocument;
class View;
class ViewPlugin;

/// One opened capture as the host holds it: the processed document, the session's message bus
/// and thread selection, and the plugin's view of it. The view goes first when the session
/// closes; the document outlives it because the view's requests read it.
class HostSession {
public:
    HostSession(std::shared_ptr<CaptureDocument> document, std::shared_ptr<const TimelineIndex> timeline);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    /// Asks the plugin for its view of this session.
    void CreateView(ViewPlugin& plugin);
    View* GetView() const { return mView.get(); }
    void DeleteView();

    /// Where the view keeps its state: beside the capture, in "ViewState".
    std::filesystem::path GetViewStateDirectory() const;
    void LoadViewState(RTTI::Registry& registry);
    void SaveViewState();

    /// Sends "FilterStateChanged" for a range (and one thread, or none).
    void SendFilterState(double from, double to, int32_t threadId, int32_t reason);
    void SendSessionOpened();

    CaptureDocument& GetDocument() const { return *mDocument; }
    const std::shared_ptr<const TimelineIndex>& GetTimeline() const { return mTimeline; }
    ThreadSelectionSource& GetThreadSelection() { return mThreadSelection; }
    MessageListenerList& GetListeners() { return mListeners; }
    uint64_t GetListenerId() const { return mContext.GetListenerId(); }

private:
    std::shared_ptr<CaptureDocument> mDocument;
    std::shared_ptr<const TimelineIndex> mTimeline;
    MessageListenerList mListeners;
    ThreadSelectionSource mThreadSelection;
    SessionModelContext mContext;
    std::unique_ptr<View> mView;
};

} // namespace Profiler
