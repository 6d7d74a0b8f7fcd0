#pragma once

#include "PluginApi/MessageListener.h"

#include <cstdint>

namespace Profiler {

class CaptureDocument;

/// What the host gives a view of one session besides the session itself: the session's message
/// listeners and the document whose call graph model answers the view's requests. The
/// document's address doubles as the view's listener id, which keeps messages in one session.
struct SessionModelContext {
    uint64_t SessionIndex = 0;                ///< the host's number for the session; views do not read it
    MessageListenerList* Listeners = nullptr; // not owned
    CaptureDocument* Model = nullptr;         // not owned

    uint64_t GetListenerId() const { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(Model)); }
};

} // namespace Profiler
