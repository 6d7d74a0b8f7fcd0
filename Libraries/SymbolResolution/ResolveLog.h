#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Profiler {

/// How one step of the search for a module's image and debug information ended.
enum class EResolveStepOutcome : uint8_t {
    Found,    ///< the step found what it looked for and it was used
    NotFound, ///< nothing at the path
    Mismatch, ///< a file was there but belongs to another build
    Failed,   ///< a file was there but could not be read
    Info,     ///< a fact about the module, not a search
};

const char* GetResolveStepOutcomeText(EResolveStepOutcome outcome);

/// One step of a module's symbol search, as the resolve view lists it.
struct ResolveLogEntry {
    std::string Label;  ///< what was tried ("Debug file by build id")
    std::string Detail; ///< the outcome as text, may be empty
    std::string Path;   ///< the path involved, may be empty
    std::string Value;  ///< a value instead of a path (a build id), may be empty
    EResolveStepOutcome Outcome = EResolveStepOutcome::Info;
};

/// Where a module's symbol search ended.
enum class EModuleResolveStatus : uint8_t {
    DebugInfo,       ///< matching debug information with lines was found
    SymbolsOnly,     ///< the image was read but has no (matching) debug information
    DebugInfoBroken, ///< debug information was found but could not be read
    ImageBroken,     ///< the image exists but is no readable ELF file
    ImageNotFound,   ///< neither image nor debug information was found
};

const char* GetModuleResolveStatusText(EModuleResolveStatus status);

/// Where a module's debug information came from.
enum class EDebugInfoSource : uint8_t {
    None,      ///< no debug information was found
    Image,     ///< the image carries its own
    BuildId,   ///< a separate file found by the image's build id
    DebugLink, ///< a separate file named by the image's .gnu_debuglink
    Located,   ///< a file the user picked for this module
};

/// "in the file itself", "by build id", ... for the views' status descriptions.
const char* GetDebugInfoSourceText(EDebugInfoSource source);

/// Where to look for debug information besides the module itself.
struct SymbolSearchOptions {
    /// The system's debug root ("/usr/lib/debug"): build-id tree and mirrored paths.
    std::string DebugRoot = "/usr/lib/debug";
    /// Folders the user added, searched after the system's places, in order, for images, build-id
    /// trees and debug link names.
    std::vector<std::string> LocalFolders;
    /// Debug files the user picked by hand, by the image's build id (or, for images without one,
    /// by the image's path). Tried before every other place; still checked against the build.
    std::map<std::string, std::string> LocatedDebugFiles;
};

} // namespace Profiler
