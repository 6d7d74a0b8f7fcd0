#pragma once

#include "SymbolResolution/ElfImage.h"
#include "SymbolResolution/ResolveLog.h"

#include <memory>
#include <string>
#include <vector>

namespace Profiler {

/// What the search for a module's files found.
struct LocatedModuleFiles {
    /// The image (the code); null when it was not found or could not be read.
    std::unique_ptr<ElfImage> Image;
    /// The file with the module's DWARF: a separate debug file, or null when the image carries
    /// its own (`ImageHasDebugInfo`) or none was found.
    std::unique_ptr<ElfImage> DebugFile;
    bool ImageHasDebugInfo = false;
    EDebugInfoSource DebugSource = EDebugInfoSource::None;
    bool ImageBroken = false;
    std::vector<ResolveLogEntry> Log;
};

/// Whether `candidate` holds debug information of the build of `image`: its build id equals the
/// image's, or (for images without one) its checksum is what the image's debug link records.
/// False with the reason otherwise.
[[nodiscard]] bool DebugFileMatchesImage(const ElfImage& image, const ElfImage& candidate,
                                         std::string& reason);

/// Finds a module's image and its debug information the way the system's tools do, without any
/// network: the image itself, then by build id under the debug root and the local folders, then
/// by .gnu_debuglink next to the image, in its ".debug" folder, mirrored under the debug root and
/// in the local folders. A candidate is taken only when its build id (or, without one, the debug
/// link checksum) matches the image; every step is logged.
LocatedModuleFiles LocateModuleFiles(const std::string& imagePath, const SymbolSearchOptions& options);

} // namespace Profiler
