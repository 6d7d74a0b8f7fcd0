#include "ZivuDeverUdovIradir/CallGraphModelTypes.h"

#include "CallGraphModel/CallGraphModel.h"
#include "CallGraphModel/CallGraphThread.h"
#include "CallGraphModel/SnapshotTable.h"
#include "CaptureModel/FunctionDataCache.h"
#include "RTTI/Registry.h"

namespace Profiler {

void RegisterCallGraphModelTypes(RTTI::Registry& registry)
{
    registry.Register<SnapshotTable>();
    registry.Register<SnapshotTable::SnapshotDescription>();
    registry.Register<CallGraphThread>();
    registry.Register<CallGraphModel>();
    registry.Register<FunctionDataCache>();
}

} // namespace Profiler
