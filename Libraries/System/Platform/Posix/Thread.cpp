#include "System/Platform/Thread.h"

#include <pthread.h>

namespace System::Platform {
namespace {

// Linux keeps 16 bytes including the terminating NUL and rejects longer names outright.
constexpr std::size_t kMaxThreadNameLength = 15;

} // namespace

void SetCurrentThreadName(const std::string& name)
{
    std::string fitting = name.substr(0, kMaxThreadNameLength);
    // Do not leave half of a UTF-8 sequence at the end.
    if (fitting.size() < name.size()) {
        std::size_t end = fitting.size();
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
            --end;
        fitting.resize(end);
    }
    pthread_setname_np(pthread_self(), fitting.c_str());
}

std::string GetCurrentThreadName()
{
    char name[kMaxThreadNameLength + 1] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof(name)) != 0)
        return {};
    return name;
}

std::size_t GetMaxThreadNameLength()
{
    return kMaxThreadNameLength;
}

// Worker threads need no per-thread system state on Linux (other platforms initialise their
// component runtime here); the hooks stay so that the scheduler calls them in the right place.
void OnWorkerThreadStart() {}

void OnWorkerThreadStop() {}

} // namespace System::Platform
