#include "CaptureModel/Platform.h"

#include "CaptureModel/PlatformSession.h"
#include "RTTI/Registry.h"

namespace Profiler {

void Platform::RegisterTypes(RTTI::Registry& registry, Serialization::CompatibilityHandlerMap&) const
{
    registry.Register<PlatformSession>();
}

std::unique_ptr<PlatformSession> Platform::CreatePlatformSession() const
{
    return std::make_unique<PlatformSession>();
}

} // namespace Profiler
