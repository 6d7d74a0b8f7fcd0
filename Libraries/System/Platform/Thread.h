#pragma once

#include <cstddef>
#include <string>

// Thread services that differ between operating systems. Worker pools call the start and stop
// hooks around their thread's life so that per-thread system state (where the platform needs
// any) is set up and released on the thread that uses it.

namespace System::Platform {

/// Names the calling thread for debuggers and profilers. Names longer than the system accepts
/// are cut to what fits (15 bytes on Linux), never rejected.
void SetCurrentThreadName(const std::string& name);

/// The calling thread's name as the system reports it; empty when it cannot be read.
std::string GetCurrentThreadName();

/// The longest thread name, in bytes, that the system keeps.
std::size_t GetMaxThreadNameLength();

/// Called first on every worker thread, before it runs any job.
void OnWorkerThreadStart();
/// Called last on every worker thread that called OnWorkerThreadStart.
void OnWorkerThreadStop();

} // namespace System::Platform
