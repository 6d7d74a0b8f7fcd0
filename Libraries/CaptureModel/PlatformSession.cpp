#include "CaptureModel/PlatformSession.h"

namespace Profiler {

bool PlatformSession::IsStackRooted(int32_t, const ResolvedFrame&) const
{
    return true;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::PlatformSession, 1) {}
