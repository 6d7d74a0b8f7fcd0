#include "Importers/NewCaptureDirectory.h"

#include <system_error>

namespace Profiler {

NewCaptureDirectory::EResult NewCaptureDirectory::Prepare(const std::filesystem::path& directory)
{
    mDirectory = directory;
    std::error_code error;
    if (!directory.parent_path().empty())
        std::filesystem::create_directories(directory.parent_path(), error);
    mCreated = std::filesystem::create_directory(directory, error);
    if (error) {
        mMessage = "cannot create the directory: " + error.message();
        return EResult::Failed;
    }
    switch (mLock.TryLock(directory)) {
    case System::Platform::FileLock::EResult::Locked:
        return EResult::Ready;
    case System::Platform::FileLock::EResult::Busy:
        mMessage = mLock.GetMessage() + " is writing a capture there; wait for it to finish";
        return EResult::Busy;
    case System::Platform::FileLock::EResult::Failed:
        break;
    }
    mMessage = "cannot lock the directory: " + mLock.GetMessage();
    return EResult::Failed;
}

void NewCaptureDirectory::Abandon()
{
    mLock.Unlock();
    std::error_code error;
    // remove() only takes an empty directory: whatever the importer chose to keep stays.
    if (mCreated)
        std::filesystem::remove(mDirectory, error);
}

} // namespace Profiler
