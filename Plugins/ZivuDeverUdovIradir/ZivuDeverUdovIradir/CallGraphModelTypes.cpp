#include "ZivuDeverUdovIradir/CallGraphModelTypes.h"

#include "CaptureModel/FunctionDataCache.h"
#include "RTTI/Registry.h"

namespace Profiler {

void RegisterCallGraphModelTypes(RTTI::Registry& registry)
{
    registry.Register<FunctionDataCache>();
}

} // namespace Profiler
