#pragma once

#include "System/Platform/FileLock.h"

#include <filesystem>
#include <string>

namespace Profiler {

/// The directory a new capture is imported into, created and write-locked for the whole import.
/// Two imports into one directory would mix their files: the directory is created here so that
/// one of two racing imports finds it made by the other, and the lock tells a second writer who
/// holds it instead of letting it fail halfway.
class NewCaptureDirectory {
public:
    enum class EResult : uint8_t { Ready, Busy, Failed };

    /// Creates `directory` (and its parents) when missing and locks it. Busy and Failed come
    /// with a message for the user in GetMessage.
    [[nodiscard]] EResult Prepare(const std::filesystem::path& directory);
    /// After a failed import: unlocks and removes the directory when this object made it and the
    /// importer left nothing in it; a directory the user had is never removed.
    void Abandon();

    const std::string& GetMessage() const { return mMessage; }

private:
    std::filesystem::path mDirectory;
    System::Platform::FileLock mLock;
    bool mCreated = false;
    std::string mMessage;
};

} // namespace Profiler
