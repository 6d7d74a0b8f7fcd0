#include "ZivuDeverUdovIradir/SymbolResolutionRecords.h"

QX_RTTI_DEFINE_CLASS(Profiler::RemoteJobBase, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::ConvertPDBJob, 1)
{
    type.Base<RemoteJobBase>();
}
QX_RTTI_DEFINE_CLASS(Profiler::TryResolvePDBJob, 1)
{
    type.Base<RemoteJobBase>();
}
QX_RTTI_DEFINE_CLASS(Profiler::ResolveNativeFunctionDataJob, 1)
{
    type.Base<RemoteJobBase>();
}
QX_RTTI_DEFINE_CLASS(Profiler::ResolveDotNETFunctionDataJob, 1)
{
    type.Base<RemoteJobBase>();
}
QX_RTTI_DEFINE_CLASS(Profiler::ConvertPDBResult, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::TryResolvePDBResult, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::ConvertPDBProgress, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::WindowsFunctionData, 1)
{
    type.Base<FunctionData>();
}
QX_RTTI_DEFINE_CLASS(Profiler::WindowsFunctionLineData, 1)
{
    type.Base<FunctionLineData>();
}
QX_RTTI_DEFINE_CLASS(Profiler::RemoteJobCompleted, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::CancelRemoteJob, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::SymbolModule, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::ISymbolLocation, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::LocalPathSymbolLocation, 1)
{
    type.Base<ISymbolLocation>();
}
QX_RTTI_DEFINE_CLASS(Profiler::RemoteServerSymbolLocation, 1)
{
    type.Base<ISymbolLocation>();
}
QX_RTTI_DEFINE_CLASS(Profiler::NuGetSymbolServerLocation, 1)
{
    type.Base<ISymbolLocation>();
}
QX_RTTI_DEFINE_CLASS(Profiler::SymbolLocationList, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::SymbolResolvingProgressMessage, 1) {}

QX_RTTI_DEFINE_CLASS(Profiler::ResolveLogEntry, 1)
{
    type.Property("Label", &ResolveLogEntry::mLabel)
        .Property("Detail", &ResolveLogEntry::mDetail)
        .Property("Value", &ResolveLogEntry::mValue)
        .Property("AlternativeValue", &ResolveLogEntry::mAlternativeValue)
        .Property("Flags", &ResolveLogEntry::mFlags);
}

QX_RTTI_DEFINE_CLASS(Profiler::LocalSearchResolveResult, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::SymbolServerResolveResult, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::NuGetResolveResult, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::GenerateNGenPDBResolveResult, 1) {}
