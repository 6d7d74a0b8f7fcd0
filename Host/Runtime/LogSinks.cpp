#include "Runtime/LogSinks.h"

#include "System/Platform/ErrorText.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace Profiler {

void ConsoleLogSink::Write(const char* line, void*)
{
    // One call per line: stdio locks the stream, so lines of different threads do not mix.
    std::fputs(line, stderr);
}

RotatingFileLogSink::RotatingFileLogSink(std::filesystem::path path, uint64_t maxFileSize, int keptFiles)
    : mPath(std::move(path)), mMaxFileSize(maxFileSize), mKeptFiles(keptFiles < 1 ? 1 : keptFiles)
{}

RotatingFileLogSink::~RotatingFileLogSink()
{
    if (mFile)
        std::fclose(mFile);
}

bool RotatingFileLogSink::Open(Serialization::ErrorList& errors)
{
    std::lock_guard lock(mMutex);
    std::error_code error;
    if (mPath.has_parent_path())
        std::filesystem::create_directories(mPath.parent_path(), error);
    if (error) {
        errors.AddFormatted(Serialization::EErrorCode::FileAccess,
                            "Unable to create the log directory %s: %s", mPath.parent_path().c_str(),
                            error.message().c_str());
        return false;
    }
    mFile = std::fopen(mPath.c_str(), "ae");
    if (!mFile) {
        errors.AddFormatted(Serialization::EErrorCode::FileAccess, "Unable to open the log file %s: %s",
                            mPath.c_str(), System::Platform::GetLastErrorText().c_str());
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(mPath, error);
    mFileSize = error ? 0 : static_cast<uint64_t>(size);
    return true;
}

void RotatingFileLogSink::Write(const char* line, void* self)
{
    static_cast<RotatingFileLogSink*>(self)->Append(line);
}

void RotatingFileLogSink::Append(const char* line)
{
    const std::size_t length = std::strlen(line);
    std::lock_guard lock(mMutex);
    if (!mFile)
        return;
    // A line never straddles two files; a line longer than the limit gets a file of its own.
    if (mFileSize > 0 && mFileSize + length > mMaxFileSize)
        Rotate();
    if (!mFile)
        return;
    if (std::fwrite(line, 1, length, mFile) == length)
        mFileSize += length;
    // Flushed per line so that the log is complete even if the process dies.
    std::fflush(mFile);
}

std::filesystem::path RotatingFileLogSink::RotatedPath(int index) const
{
    return std::filesystem::path(mPath.string() + "." + std::to_string(index));
}

void RotatingFileLogSink::Rotate()
{
    std::fclose(mFile);
    mFile = nullptr;
    std::error_code error;
    std::filesystem::remove(RotatedPath(mKeptFiles), error);
    for (int index = mKeptFiles - 1; index >= 1; --index)
        std::filesystem::rename(RotatedPath(index), RotatedPath(index + 1), error);
    std::filesystem::rename(mPath, RotatedPath(1), error);
    mFile = std::fopen(mPath.c_str(), "ae");
    mFileSize = 0;
}

std::filesystem::path GetStateDirectory()
{
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    if (stateHome && std::filesystem::path(stateHome).is_absolute())
        return std::filesystem::path(stateHome) / "quasarix";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::filesystem::path(home) / ".local" / "state" / "quasarix";
    return {};
}

HostLogSinks::HostLogSinks(const std::filesystem::path& logFile)
{
    mSinks.push_back(mConsole.GetSink());
    if (logFile.empty())
        return;
    auto file = std::make_unique<RotatingFileLogSink>(logFile, kMaxLogFileSize, kKeptLogFiles);
    if (!file->Open(mErrors))
        return;
    mFile = std::move(file);
    mSinks.push_back(mFile->GetSink());
}

namespace {

std::filesystem::path DefaultLogFilePath()
{
    const std::filesystem::path directory = GetStateDirectory();
    return directory.empty() ? directory : directory / "quasarix.log";
}

} // namespace

HostLogSinks::HostLogSinks() : HostLogSinks(DefaultLogFilePath()) {}

std::filesystem::path HostLogSinks::GetLogFilePath() const
{
    return mFile ? mFile->GetPath() : std::filesystem::path();
}

} // namespace Profiler
