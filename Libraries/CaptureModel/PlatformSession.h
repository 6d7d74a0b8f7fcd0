#pragma once

#include "CaptureModel/ResolvedFrame.h"
#include "RTTI/Reflection.h"

namespace Profiler {

class Session;

/// What a platform keeps with a session, and the platform's rules about the session's data.
/// The base class stores nothing and counts every stack as rooted; platforms derive their own.
class PlatformSession : public RTTI::Object {
public:
    QX_RTTI_CLASS(PlatformSession);

    /// Called once the session is loaded or written, before any other call.
    virtual void Attach(const Session& session) { mSession = &session; }
    /// Whether a stack whose outermost frame is `outermost` reached its thread's base function,
    /// so that its outer frames are known; unrooted stacks are shown under "[Unrooted Stacks]".
    /// Decided by that frame alone, so sessions remember the answer per outermost frame. Called
    /// from several threads at once.
    virtual bool IsStackRooted(int32_t process, const ResolvedFrame& outermost) const;

protected:
    const Session* GetSession() const { return mSession; }

private:
    const Session* mSession = nullptr; // not owned
};

} // namespace Profiler
