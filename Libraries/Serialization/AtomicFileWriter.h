#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace Serialization {

enum class EFileWriteResult {
    Written,
    OpenFailed,  ///< no temporary file could be created beside the target
    WriteFailed, ///< writing, flushing or replacing failed; the target is untouched
};

/// Flushes a set of files to disk together, before the file that points into them commits them.
/// Waiting for the disk once per file costs a journal commit each; started together, the writes
/// of all files share one. While a batch is current on a thread (Scope), WriteFileAtomically
/// leaves a new file (or one that this batch wrote already) to the batch instead of flushing it
/// and its directory at once; a file that existed before is still flushed before it is replaced,
/// so that what was there is never lost. Files appended to by other means are added by hand.
/// Flush waits for all of them and then for each directory once; only after it succeeded may the
/// committing file be written (outside the batch).
class SyncBatch {
public:
    /// Makes `batch` (or none) the current batch of this thread until the scope ends.
    class Scope {
    public:
        explicit Scope(SyncBatch* batch);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SyncBatch* mPrevious;
    };

    static SyncBatch* Current();

    /// A file written since the batch began (its directory is flushed too).
    void AddFile(const std::filesystem::path& path);
    bool Contains(const std::filesystem::path& path) const;
    /// Flushes every file and every directory that holds one, all at once; empties the batch.
    /// False with the file and the system's error text when a file could not be flushed.
    [[nodiscard]] bool Flush(std::string& errorText);
    /// The next file that WriteFileAtomically writes on this batch commits it: it is flushed
    /// with everything in the batch and only then takes its name (and its directory is flushed).
    void CommitNext();
    /// Why the last commit failed to flush, "" if it did not.
    const std::string& GetError() const;

private:
    friend EFileWriteResult WriteFileAtomically(const std::filesystem::path& path,
                                                std::initializer_list<std::span<const uint8_t>> parts);

    std::vector<std::filesystem::path> mFiles;
    std::string mError;
    bool mCommitNext = false;
};

/// Writes `parts` one after the other into a temporary file in the target's directory, flushes
/// it to disk and only then renames it over `path`. An interrupted or failed save therefore
/// leaves the previous file intact, and never leaves the temporary file behind. A file that is
/// replaced keeps its permissions; a symbolic link is followed and its target replaced.
EFileWriteResult WriteFileAtomically(const std::filesystem::path& path,
                                     std::initializer_list<std::span<const uint8_t>> parts);

} // namespace Serialization
