#include "CaptureModel/CaptureModelTypes.h"

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/CallstackDatabase.h"
#include "CaptureModel/CaptureModelRecords.h"
#include "CaptureModel/FunctionData.h"
#include "CaptureModel/FunctionDataCache.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/Model.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SessionViewState.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/TraceEventStream.h"
#include "Serialization/Schema.h"

#include <map>

namespace Profiler {

void RegisterCaptureModelTypes(RTTI::Registry& registry)
{
    registry.Register<GeneralSettings>();
    registry.Register<SharedSymbolSettings>();
    registry.Register<Module>();
    registry.Register<NativeModule>();
    registry.Register<NativeModuleInstance>();
    registry.Register<JITModule>();
    registry.Register<JITModuleInstance>();
    registry.Register<JITFunctionInstance>();
    registry.Register<Function>();
    registry.Register<JITExtraDataStorage>();
    registry.Register<ModuleDatabase>();
    registry.Register<CallstackDatabase>();
    registry.Register<Session>();
    registry.Register<SessionInfo>();
    registry.Register<TraceEventStream>();
    registry.Register<BrokenStackIndex>();
    registry.Register<ResolvedAddress>();
    registry.Register<SerializedAnimatableFloat>();
    registry.Register<SerializedAnimatableDouble>();
    registry.Register<CaptureMethodConfiguration>();
    registry.Register<ThreadOrganizationModel::EProcessMode>();
    registry.Register<CaptureImportData>();
    registry.Register<CaptureInitProgress>();
    registry.Register<ECrashReportingMode>();
    registry.Register<ISymbolModuleKey>();
    registry.Register<SharedModel>();
    registry.Register<ChildProcessRules>();
    registry.Register<LLMToolRequest>();
    registry.Register<LLMSessionInfo>();
}

void RegisterSessionViewStateTypes(RTTI::Registry& registry)
{
    registry.Register<SessionViewState>();
    registry.Register<TimelineState>();
    registry.Register<VerticalScrollState>();
    registry.Register<ThreadViewState>();
}

void RegisterFunctionDataTypes(RTTI::Registry& registry)
{
    registry.Register<FunctionData>();
    registry.Register<FunctionLineData>();
    registry.Register<Function>();
    registry.Register<FunctionDataCache>();
}

void RegisterAllCaptureTypes(RTTI::Registry& registry)
{
    RTTI::Registry::BatchScope batch(registry);
    registry.RegisterPrimitives();
    Serialization::RegisterSchemaTypes(registry);
    RegisterCaptureModelTypes(registry);
    RegisterSessionViewStateTypes(registry);
    RegisterFunctionDataTypes(registry);
    registry.Register<Model>();
    registry.Register<PlatformSession>();
    registry.Register<LinuxPlatformSession>();
    // What sessions and module databases stored before their current shapes.
    registry.Register<std::map<ProcessID, Process>>();
    registry.Register<std::map<ThreadID, Thread>>();
    registry.Register<std::vector<std::unique_ptr<Module>>>();
}

} // namespace Profiler
