#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>

namespace Serialization {

enum class EFileWriteResult {
    Written,
    OpenFailed,  ///< no temporary file could be created beside the target
    WriteFailed, ///< writing, flushing or replacing failed; the target is untouched
};

/// Writes `parts` one after the other into a temporary file in the target's directory, flushes
/// it to disk and only then renames it over `path`. An interrupted or failed save therefore
/// leaves the previous file intact, and never leaves the temporary file behind. A file that is
/// replaced keeps its permissions; a symbolic link is followed and its target replaced.
EFileWriteResult WriteFileAtomically(const std::filesystem::path& path,
                                     std::initializer_list<std::span<const uint8_t>> parts);

} // namespace Serialization
