#pragma once

// The process's peak resident size, as the kernel keeps it, for benchmarks that report memory.
namespace PeakMemory {

/// Starts a new peak at the current resident size (Linux 4.0 and later; no effect elsewhere).
void Reset();
/// The peak resident size since the last Reset, in MiB (0 when it cannot be read).
double Megabytes();

} // namespace PeakMemory
