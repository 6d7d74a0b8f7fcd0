#pragma once

#include <filesystem>
#include <string>

// An advisory, whole-file lock shared between processes, held for as long as the object lives.
// Cooperating writers of one capture take it; readers never need to. The lock goes away with
// its holder, also when the holder is killed, so a crash never leaves a capture locked.

namespace System::Platform {

class FileLock {
public:
    enum class EResult : uint8_t {
        Locked, ///< this object holds the lock
        Busy,   ///< another holder has it (TryLock only); see the holder text
        Failed, ///< the lock file cannot be opened or locked; see the error text
    };

    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    /// Takes the lock on `path` (created when missing) without waiting. `holder` describes this
    /// process to whoever finds the lock taken (e.g. "qx process"); its process id is added.
    EResult TryLock(const std::filesystem::path& path, const std::string& holder);
    /// Takes the lock, waiting for the current holder to let go.
    EResult Lock(const std::filesystem::path& path, const std::string& holder);
    /// Lets go of the lock (the file stays, empty of meaning without a holder).
    void Unlock();

    bool IsLocked() const { return mDescriptor >= 0; }
    /// After Busy: who holds the lock, as it described itself ("process 123 (qx import)"), or
    /// "another process" when it left no description. After Failed: the system's reason.
    const std::string& GetMessage() const { return mMessage; }

private:
    EResult Acquire(const std::filesystem::path& path, const std::string& holder, bool wait);

    int mDescriptor = -1;
    std::string mMessage;
};

} // namespace System::Platform
