#pragma once

#include "System/Log.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace PluginTests {

/// Runs a test in a directory of its own: the plugin's settings files go to the current one.
class CurrentDirectoryScope {
public:
    explicit CurrentDirectoryScope(const std::filesystem::path& directory);
    ~CurrentDirectoryScope();
    CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
    CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

private:
    std::filesystem::path mPrevious;
};

/// A log sink that keeps the lines it receives. With `install` it is the process's only sink
/// while it lives.
class LogCollector {
public:
    explicit LogCollector(bool install = true);
    ~LogCollector();
    LogCollector(const LogCollector&) = delete;
    LogCollector& operator=(const LogCollector&) = delete;

    std::vector<std::string> GetLines() const;
    System::LogSink GetSink() { return {&LogCollector::Receive, this}; }

private:
    static void Receive(const char* line, void* self);

    bool mInstalled;
    std::vector<System::LogSink> mSaved;
    mutable std::mutex mMutex;
    std::vector<std::string> mLines;
};

} // namespace PluginTests
