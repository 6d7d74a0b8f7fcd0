#pragma once

// Records of the symbol resolution that the host runs (jobs sent to its resolver, their
// results and progress, symbol search locations, resolve logs). The plugin registers them so
// that the host can exchange and store them through the shared registry; it neither creates
// nor reads them, so most hold no stored properties here.

#include "CaptureModel/FunctionData.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <string>

namespace Profiler {

/// The common part of the jobs that the host hands to its symbol resolver.
class RemoteJobBase : public RTTI::Object {
public:
    QX_RTTI_CLASS(RemoteJobBase);
};

/// Asks the resolver to convert a module's debug information into the host's symbol format.
class ConvertPDBJob : public RemoteJobBase {
public:
    QX_RTTI_CLASS(ConvertPDBJob);
};

/// Asks the resolver whether a module's debug information can be found and loaded.
class TryResolvePDBJob : public RemoteJobBase {
public:
    QX_RTTI_CLASS(TryResolvePDBJob);
};

/// Asks the resolver for the source file and lines of native functions.
class ResolveNativeFunctionDataJob : public RemoteJobBase {
public:
    QX_RTTI_CLASS(ResolveNativeFunctionDataJob);
};

/// Asks the resolver for the source file and lines of managed functions.
class ResolveDotNETFunctionDataJob : public RemoteJobBase {
public:
    QX_RTTI_CLASS(ResolveDotNETFunctionDataJob);
};

/// The outcome of a ConvertPDBJob.
class ConvertPDBResult : public RTTI::Object {
public:
    QX_RTTI_CLASS(ConvertPDBResult);
};

/// The outcome of a TryResolvePDBJob.
class TryResolvePDBResult : public RTTI::Object {
public:
    QX_RTTI_CLASS(TryResolvePDBResult);
};

/// Progress of a ConvertPDBJob, as the resolver reports it.
class ConvertPDBProgress : public RTTI::Object {
public:
    QX_RTTI_CLASS(ConvertPDBProgress);
};

/// Function data as the resolver of the original platform's debug format produces it.
class WindowsFunctionData : public FunctionData {
public:
    QX_RTTI_CLASS(WindowsFunctionData);
};

/// Function line data as the resolver of the original platform's debug format produces it.
class WindowsFunctionLineData : public FunctionLineData {
public:
    QX_RTTI_CLASS(WindowsFunctionLineData);
};

/// The resolver's notice that a job finished.
class RemoteJobCompleted : public RTTI::Object {
public:
    QX_RTTI_CLASS(RemoteJobCompleted);
};

/// The host's request to the resolver to drop a job.
class CancelRemoteJob : public RTTI::Object {
public:
    QX_RTTI_CLASS(CancelRemoteJob);
};

/// A module as the symbol resolver knows it.
class SymbolModule : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolModule);
};

/// A place where symbol files are searched; the kinds below derive from it.
class ISymbolLocation : public RTTI::Object {
public:
    QX_RTTI_CLASS(ISymbolLocation);
};

/// A directory searched for symbol files.
class LocalPathSymbolLocation : public ISymbolLocation {
public:
    QX_RTTI_CLASS(LocalPathSymbolLocation);
};

/// A symbol server asked for symbol files.
class RemoteServerSymbolLocation : public ISymbolLocation {
public:
    QX_RTTI_CLASS(RemoteServerSymbolLocation);
};

/// A package feed searched for symbol packages.
class NuGetSymbolServerLocation : public ISymbolLocation {
public:
    QX_RTTI_CLASS(NuGetSymbolServerLocation);
};

/// The ordered symbol search path.
class SymbolLocationList : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolLocationList);
};

/// Progress of symbol resolving, as shown while a session is processed.
class SymbolResolvingProgressMessage : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolResolvingProgressMessage);
};

/// One step of a module's symbol search, as the resolve log view shows it.
class ResolveLogEntry : public RTTI::Object {
public:
    QX_RTTI_CLASS(ResolveLogEntry);

    std::string mLabel;
    std::string mDetail; ///< may be empty
    std::string mValue;  ///< a path or a server
    std::string mAlternativeValue;
    uint32_t mFlags = 0; ///< which of the two values is shown
};

/// What a search of the local symbol directories found.
class LocalSearchResolveResult : public RTTI::Object {
public:
    QX_RTTI_CLASS(LocalSearchResolveResult);
};

/// What a symbol server answered.
class SymbolServerResolveResult : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolServerResolveResult);
};

/// What a symbol package feed answered.
class NuGetResolveResult : public RTTI::Object {
public:
    QX_RTTI_CLASS(NuGetResolveResult);
};

/// The outcome of generating symbols for precompiled managed images.
class GenerateNGenPDBResolveResult : public RTTI::Object {
public:
    QX_RTTI_CLASS(GenerateNGenPDBResolveResult);
};

} // namespace Profiler
