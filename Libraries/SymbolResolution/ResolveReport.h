#pragma once

#include "CaptureModel/Module.h"
#include "SymbolResolution/ResolveLog.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace Profiler {

class ModuleDatabase;
class ModuleSymbols;
class NativeModule;
class SymbolResolver;
struct NativeModuleInstance;
struct ResolvedAddress;

/// A labelled value of the resolve view's tables and texts.
using ResolveProperty = std::pair<std::string, std::string>;

/// Why a module has no resolve log to show.
enum class EMissingResolveLog : uint8_t {
    None,       ///< the log is there (it may still be empty)
    OldCapture, ///< the capture was made without resolve information
    Unused,     ///< no call stack used the module, so it was never resolved
    JIT,        ///< code compiled at run time has no image to resolve
};

/// The sentence that stands in for a missing log; empty for None.
const char* GetMissingResolveLogText(EMissingResolveLog missing);

/// The value a log entry shows: its path, or its value when it names no path.
const std::string& GetShownValue(const ResolveLogEntry& entry);

/// The whole resolve information of a module as aligned plain text: the log (or the sentence
/// that stands in for it) and the module's properties.
std::string FormatResolveLogText(const std::vector<ResolveLogEntry>& log, EMissingResolveLog missing,
                                 const std::vector<ResolveProperty>& module);

/// A function's debug information as aligned plain text: its properties, then its module's.
std::string FormatFunctionInformationText(const std::vector<ResolveProperty>& function,
                                          const std::vector<ResolveProperty>& module);

/// Where a module's code lives on disk. Inline modules (frames that the recorder reported as
/// inlined get a module of their own, named after their owner) resolve through their owner.
std::string GetModuleImagePath(const NativeModule& module);

/// A module's debug properties for the advanced table: path, build id, debug file and where it
/// came from, architecture, load address (of `instance`, when one is meant) and size.
std::vector<ResolveProperty> DescribeModule(const NativeModule& module, const NativeModuleInstance* instance,
                                            const ModuleSymbols* symbols);

/// What a function's information dialog shows.
struct FunctionInformation {
    std::vector<ResolveProperty> Function;
    std::vector<ResolveProperty> Module;
};

/// The function's name, address, size, source file and line (and the functions inlined at its
/// start) from the capture and its module's symbols. Loads the module's symbols when needed:
/// call it off the user interface thread.
FunctionInformation BuildFunctionInformation(const ModuleDatabase& modules, SymbolResolver& symbols,
                                             const ResolvedAddress& function);

/// The mark a module's resolve status starts from: what the capture recorded, except that a module
/// without any function (no stack used it) is Unused whatever was recorded, because importers
/// mark every module Resolved before anything was searched.
NativeModule::EResolveStatus GetRecordedResolveStatus(const NativeModule& module);

/// Records in the module where its symbol search ended: Resolved with matching debug
/// information, Unresolved otherwise. Modules marked Unused or from older captures keep their mark.
void ApplyResolveStatus(NativeModule& module, const ModuleSymbols& symbols);

/// Resolves every native module that the capture's stacks use and writes its status (modules
/// without any function are marked Unused and not searched). Returns how many were resolved;
/// stops early, leaving the rest as they were, when `canceled` is set.
std::size_t UpdateModuleResolveStatuses(ModuleDatabase& modules, SymbolResolver& symbols,
                                        const std::atomic<bool>& canceled);

} // namespace Profiler
