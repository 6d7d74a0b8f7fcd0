#include "HostSession.h"

#include "CallGraphModel/Document/CaptureDocument.h"
#include "CaptureModel/Session.h"
#include "PluginApi/MessageTypes.h"
#include "PluginApi/Plugin.h"
#include "PluginApi/View.h"

#include <system_error>

namespace Profiler {

HostSession::HostSession(std::shared_ptr<CaptureDocument> document,
                         std::shared_ptr<const TimelineIndex> timeline)
    : mDocument(std::move(document)), mTimeline(std::move(timeline))
{
    mContext.Listeners = &mListeners;
    mContext.Model = mDocument.get();
}

HostSession::~HostSession()
{
    DeleteView();
}

void HostSession::CreateView(ViewPlugin& plugin)
{
    View* view = nullptr;
    // The plugin reads the session but never changes it.
    plugin.CreateView(&view, &mThreadSelection, const_cast<Session*>(&mDocument->GetSession()), &mContext);
    mView.reset(view);
}

void HostSession::DeleteView()
{
    mView.reset();
}

std::filesystem::path HostSession::GetViewStateDirectory() const
{
    return mDocument->GetSession().GetDirectory() / "ViewState";
}

void HostSession::LoadViewState(RTTI::Registry& registry)
{
    if (mView)
        mView->LoadState(GetViewStateDirectory(), 0, &registry);
}

void HostSession::SaveViewState()
{
    if (!mView)
        return;
    std::error_code error;
    std::filesystem::create_directories(GetViewStateDirectory(), error);
    mView->SaveState(GetViewStateDirectory());
}

void HostSession::SendFilterState(double from, double to, int32_t threadId, int32_t reason)
{
    Message message(MessageTypes::FilterStateChanged());
    message.WriteInt32("ThreadID", threadId);
    message.WriteDouble("SelectedRangeStartTime", from);
    message.WriteDouble("SelectedRangeEndTime", to);
    message.WriteInt32("HasSelectedBar", 0);
    message.WriteInt32("SelectedBarDepth", 0);
    message.WriteDouble("SelectedBarStartTime", -1.0);
    message.WriteDouble("SelectedBarEndTime", -1.0);
    message.WriteFrame("SelectedBarFrame", {~uint64_t{0}, ~uint32_t{0}});
    message.WriteInt32("Reason", reason);
    SendMessage(mListeners, kBroadcastListenerId, message);
}

void HostSession::SendSessionOpened()
{
    SendMessage(mListeners, kBroadcastListenerId, Message(MessageTypes::SessionOpened()));
}

} // namespace Profiler
