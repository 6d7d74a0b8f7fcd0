#include "System/DirectoryRemoval.h"

#include "System/Platform/FileSystem.h"
#include "Utility/ErrorList.h"

namespace System {
namespace {

using Platform::EFileError;
using Serialization::EErrorCode;

int DeniedOrFailed(EFileError error)
{
    return error == EFileError::AccessDenied ? kRemoveAccessDenied : kRemoveFailed;
}

// Access problems are reported as access failures, everything else as failed writes.
EErrorCode CodeFor(int result)
{
    return result == kRemoveAccessDenied ? EErrorCode::FileAccess : EErrorCode::WriteFailed;
}

int RemoveRecursively(const std::filesystem::path& path, bool removeSelf, Serialization::ErrorList& errors)
{
    const std::string pathText = path.string();
    std::vector<Platform::DirectoryEntry> entries;
    const EFileError listError = Platform::ListDirectory(path, entries);
    if (listError == EFileError::NotFound)
        return kRemoveSucceeded; // nothing to delete
    if (listError != EFileError::None) {
        const int result = DeniedOrFailed(listError);
        if (result == kRemoveAccessDenied)
            errors.AddFormatted(CodeFor(result), "Access to %s was denied", pathText.c_str());
        else
            errors.AddFormatted(CodeFor(result), "An unknown error occurred while deleting directory %s",
                                pathText.c_str());
        return result;
    }

    for (const Platform::DirectoryEntry& entry : entries) {
        const std::filesystem::path entryPath = path / entry.name;
        if (entry.isDirectory) {
            if (const int result = RemoveRecursively(entryPath, true, errors); result != kRemoveSucceeded)
                return result;
            continue;
        }
        const int result = DeleteFile(entryPath);
        if (result == kRemoveAccessDenied) {
            errors.AddFormatted(CodeFor(result), "Access to %s was denied", entryPath.string().c_str());
            return result;
        }
        if (result == kRemoveFailed) {
            errors.AddFormatted(CodeFor(result), "Could not delete file %s", entryPath.string().c_str());
            return result;
        }
    }

    if (!removeSelf)
        return kRemoveSucceeded;
    const EFileError removeError = Platform::RemoveEmptyDirectory(path);
    if (removeError == EFileError::None || removeError == EFileError::NotFound)
        return kRemoveSucceeded;
    const int result = DeniedOrFailed(removeError);
    if (result == kRemoveAccessDenied)
        errors.AddFormatted(CodeFor(result), "Access to directory %s was denied", pathText.c_str());
    else
        errors.AddFormatted(CodeFor(result), "Could not delete directory %s", pathText.c_str());
    return result;
}

} // namespace

int DeleteFile(const std::filesystem::path& path)
{
    const EFileError error = Platform::DeleteFileEntry(path);
    if (error == EFileError::None || error == EFileError::NotFound)
        return kRemoveSucceeded;
    return DeniedOrFailed(error);
}

int ClearDirectory(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    return RemoveRecursively(path, false, errors);
}

int RemoveDirectory(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
        const int result = DeleteFile(path);
        if (result == kRemoveAccessDenied)
            errors.AddFormatted(CodeFor(result), "Access to directory %s was denied", path.string().c_str());
        else if (result == kRemoveFailed)
            errors.AddFormatted(CodeFor(result), "Could not delete directory %s", path.string().c_str());
        return result;
    }
    return RemoveRecursively(path, true, errors);
}

} // namespace System
