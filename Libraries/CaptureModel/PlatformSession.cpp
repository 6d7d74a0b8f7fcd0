#include "CaptureModel/PlatformSession.h"

namespace Profiler {

bool PlatformSession::IsStackRooted(int32_t, int32_t, std::span<const ResolvedFrame>) const
{
    return true;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::PlatformSession, 1) {}
