#pragma once

#include "System/Log.h"
#include "Utility/ErrorList.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

// The host's end of logging: where the finished lines of the host and of every plugin go. The
// host installs its sinks for itself (System::InitializeTracing) and hands the same list to each
// plugin module through the module's initializeTracing entry.

namespace Profiler {

/// Writes each line to standard error.
class ConsoleLogSink {
public:
    System::LogSink GetSink() { return {&ConsoleLogSink::Write, this}; }

private:
    static void Write(const char* line, void* self);
};

/// Appends lines to a file and starts a new one when it would grow past its limit. The full
/// file is renamed to "<name>.1", the former "<name>.1" to "<name>.2", and so on; the oldest
/// beyond the kept count is removed. Safe to call from any thread.
class RotatingFileLogSink {
public:
    RotatingFileLogSink(std::filesystem::path path, uint64_t maxFileSize, int keptFiles);
    ~RotatingFileLogSink();
    RotatingFileLogSink(const RotatingFileLogSink&) = delete;
    RotatingFileLogSink& operator=(const RotatingFileLogSink&) = delete;

    /// Creates the file's directory when missing and opens the file for appending. False with
    /// one error record when that fails; lines written afterwards are dropped.
    bool Open(Serialization::ErrorList& errors);

    System::LogSink GetSink() { return {&RotatingFileLogSink::Write, this}; }
    const std::filesystem::path& GetPath() const { return mPath; }

private:
    static void Write(const char* line, void* self);
    void Append(const char* line);
    void Rotate();
    std::filesystem::path RotatedPath(int index) const;

    std::filesystem::path mPath;
    uint64_t mMaxFileSize;
    int mKeptFiles;
    std::mutex mMutex;
    std::FILE* mFile = nullptr; ///< owned
    uint64_t mFileSize = 0;
};

/// The host's state directory: $XDG_STATE_HOME/quasarix, or ~/.local/state/quasarix when that
/// variable is unset or not an absolute path. Empty when neither it nor HOME is known.
std::filesystem::path GetStateDirectory();

/// The host's log sinks: the console, and a rotating "quasarix.log" in the state directory
/// when that can be opened.
class HostLogSinks {
public:
    static constexpr uint64_t kMaxLogFileSize = 4ull << 20;
    static constexpr int kKeptLogFiles = 3;

    /// `logFile` empty: the console only.
    explicit HostLogSinks(const std::filesystem::path& logFile);
    /// The default: "quasarix.log" in GetStateDirectory().
    HostLogSinks();
    HostLogSinks(const HostLogSinks&) = delete;
    HostLogSinks& operator=(const HostLogSinks&) = delete;

    /// The sinks, in order: console, then the file when it could be opened.
    const std::vector<System::LogSink>& GetSinks() const { return mSinks; }
    /// Why the file could not be opened (empty when it was, or when none was asked for).
    const Serialization::ErrorList& GetErrors() const { return mErrors; }
    /// The file the lines go to; empty when there is none.
    std::filesystem::path GetLogFilePath() const;

private:
    ConsoleLogSink mConsole;
    std::unique_ptr<RotatingFileLogSink> mFile;
    std::vector<System::LogSink> mSinks;
    Serialization::ErrorList mErrors;
};

} // namespace Profiler
