#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// An advisory, exclusive lock on a file or directory, shared between processes and held for as
// long as the object lives. Cooperating writers of one capture take it on the capture directory;
// readers never need to. The lock goes away with its holder, also when the holder is killed, so a
// crash never leaves a capture locked, and nothing is written into the locked directory.

namespace System::Platform {

class FileLock {
public:
    enum class EResult : uint8_t {
        Locked, ///< this object holds the lock
        Busy,   ///< another holder has it (TryLock only); see GetMessage
        Failed, ///< the path cannot be opened or locked; see GetMessage
    };

    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    /// Takes the lock on an existing file or directory without waiting.
    EResult TryLock(const std::filesystem::path& path);
    /// Takes the lock, waiting for the current holder to let go.
    EResult Lock(const std::filesystem::path& path);
    void Unlock();

    bool IsLocked() const { return mDescriptor >= 0; }
    /// After Busy: who holds the lock ("process 123 (qx import t.txt -o cap)"), or "another
    /// process" when the system does not say. After Failed: the system's reason.
    const std::string& GetMessage() const { return mMessage; }

private:
    EResult Acquire(const std::filesystem::path& path, bool wait);

    int mDescriptor = -1;
    std::string mMessage;
};

} // namespace System::Platform
