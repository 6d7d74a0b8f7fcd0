#pragma once

#include "PluginApi/Message.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Profiler {

class MessageListener;
/// The listeners of one session, in the order in which they joined; owned by the host.
using MessageListenerList = std::vector<MessageListener*>;

/// The target and listener id that reaches everyone.
inline constexpr uint64_t kBroadcastListenerId = ~uint64_t{0};

/// One end of a session's message bus. Joins the list on construction and leaves it (every
/// occurrence, the others keeping their order) on destruction.
class MessageListener {
public:
    MessageListener(MessageListenerList* list, uint64_t listenerId) : mListeners(list), listenerId(listenerId)
    {
        if (mListeners)
            mListeners->push_back(this);
    }
    virtual ~MessageListener()
    {
        if (mListeners)
            std::erase(*mListeners, this);
    }
    MessageListener(const MessageListener&) = delete;
    MessageListener& operator=(const MessageListener&) = delete;

    virtual void OnMessage(const Message& /*message*/) {}

    MessageListenerList* GetListenerList() const { return mListeners; }

private:
    MessageListenerList* mListeners; // not owned

public:
    uint64_t listenerId;
};

/// Delivers `message` in list order: to everyone when `targetId` is all bits set, otherwise to
/// the listeners with that id and to those listening to everything. A listener may leave the
/// list while it handles the message; the delivery goes on over a snapshot of the list.
inline void SendMessage(const MessageListenerList& listeners, uint64_t targetId, const Message& message)
{
    const MessageListenerList snapshot = listeners;
    for (MessageListener* listener : snapshot) {
        if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end())
            continue; // left during an earlier delivery
        if (targetId == kBroadcastListenerId || listener->listenerId == targetId ||
            listener->listenerId == kBroadcastListenerId)
            listener->OnMessage(message);
    }
}

} // namespace Profiler
