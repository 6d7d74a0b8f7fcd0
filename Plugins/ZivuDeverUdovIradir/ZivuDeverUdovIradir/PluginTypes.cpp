#include "ZivuDeverUdovIradir/PluginTypes.h"

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/CallstackDatabase.h"
#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/CaptureModelRecords.h"
#include "CaptureModel/Function.h"
#include "CaptureModel/FunctionData.h"
#include "CaptureModel/Module.h"
#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/ResolvedAddress.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SessionInfo.h"
#include "CaptureModel/SessionViewState.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/TraceEventStream.h"
#include "RTTI/Registry.h"
#include "Serialization/Schema.h"
#include "ZivuDeverUdovIradir/AdditionalSourceLocations.h"
#include "ZivuDeverUdovIradir/CallGraphModelTypes.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphViewSelectionState.h"
#include "ZivuDeverUdovIradir/HostSettingsRecords.h"
#include "ZivuDeverUdovIradir/SourceSettings.h"
#include "ZivuDeverUdovIradir/SymbolResolutionRecords.h"
#include "ZivuDeverUdovIradir/ThreadSelectorSettings.h"
#include "ZivuDeverUdovIradir/TimeRange.h"

namespace Profiler {
namespace {

void RegisterHostSettingsAndViewStates(RTTI::Registry& registry)
{
    registry.Register<SymbolSettings>();
    registry.Register<SymbolLocation>();
    registry.Register<InputSettings>();
    registry.Register<AutoUpdateSettings>();
    registry.Register<AdvancedSettings>();
    registry.Register<ThreadHideSettings>();
    registry.Register<KeyMapping>();
    registry.Register<InputBinding>();
    registry.Register<TimeRange>();
    RegisterSessionViewStateTypes(registry);
}

void RegisterSymbolResolution(RTTI::Registry& registry)
{
    registry.Register<RemoteJobBase>();
    registry.Register<ConvertPDBJob>();
    registry.Register<TryResolvePDBJob>();
    registry.Register<ConvertPDBResult>();
    registry.Register<TryResolvePDBResult>();
    registry.Register<ConvertPDBProgress>();
    registry.Register<ResolveNativeFunctionDataJob>();
    registry.Register<ResolveDotNETFunctionDataJob>();
    registry.Register<FunctionData>();
    registry.Register<WindowsFunctionData>();
    registry.Register<FunctionLineData>();
    registry.Register<WindowsFunctionLineData>();
    registry.Register<RemoteJobCompleted>();
    registry.Register<CancelRemoteJob>();
    registry.Register<SymbolModule>();
    registry.Register<Function>();
    registry.Register<AdditionalSourceLocations>();
    registry.Register<ISymbolLocation>();
    registry.Register<LocalPathSymbolLocation>();
    registry.Register<RemoteServerSymbolLocation>();
    registry.Register<SymbolLocationList>();
    registry.Register<SymbolResolvingProgressMessage>();
    registry.Register<ResolveLogEntry>();
    registry.Register<LocalSearchResolveResult>();
    registry.Register<SymbolServerResolveResult>();
    registry.Register<NuGetResolveResult>();
    registry.Register<GenerateNGenPDBResolveResult>();
    registry.Register<NuGetSymbolServerLocation>();
}

void RegisterSerializationSchema(RTTI::Registry& registry)
{
    registry.Register<Serialization::Schema>();
    registry.Register<Serialization::CompoundSchema>();
    registry.Register<Serialization::EnumSchema>();
    registry.Register<Serialization::ArraySchema>();
    registry.Register<Serialization::MapSchema>();
    registry.Register<Serialization::SetSchema>();
    registry.Register<Serialization::PointerSchema>();
    registry.Register<Serialization::TypeSchema>();
}

void RegisterOwnRecords(RTTI::Registry& registry)
{
    registry.Register<CallGraphSettings>();
    registry.Register<SourceSettings>();
    registry.Register<CallGraphViewSelectionState>();
    registry.Register<ThreadSelectorSettings>();
}

} // namespace

void RegisterPluginTypes(RTTI::Registry& registry)
{
    registry.RegisterPrimitives();
    RegisterCaptureModelTypes(registry);
    RegisterHostSettingsAndViewStates(registry);
    RegisterSymbolResolution(registry);
    RegisterSerializationSchema(registry);
    RegisterCallGraphModelTypes(registry);
    RegisterOwnRecords(registry);
}

} // namespace Profiler
