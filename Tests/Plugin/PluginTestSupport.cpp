#include "PluginTestSupport.h"

namespace PluginTests {

CurrentDirectoryScope::CurrentDirectoryScope(const std::filesystem::path& directory)
    : mPrevious(std::filesystem::current_path())
{
    std::filesystem::current_path(directory);
}

CurrentDirectoryScope::~CurrentDirectoryScope()
{
    std::filesystem::current_path(mPrevious);
}

LogCollector::LogCollector(bool install) : mInstalled(install)
{
    if (mInstalled) {
        mSaved = System::GetLogSinks();
        System::InitializeTracing({GetSink()});
    }
}

LogCollector::~LogCollector()
{
    if (mInstalled)
        System::InitializeTracing(mSaved);
}

std::vector<std::string> LogCollector::GetLines() const
{
    std::lock_guard lock(mMutex);
    return mLines;
}

void LogCollector::Receive(const char* line, void* self)
{
    auto* collector = static_cast<LogCollector*>(self);
    std::lock_guard lock(collector->mMutex);
    collector->mLines.emplace_back(line);
}

} // namespace PluginTests
