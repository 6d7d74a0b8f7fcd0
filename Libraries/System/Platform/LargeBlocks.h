#pragma once

#include <cstddef>

// Large, zero-filled blocks of memory for bump allocators that fill them front to back. They
// come straight from the system in whole pages and, where the system offers it, in huge pages:
// a graph of millions of nodes then takes a few hundred page faults instead of a few hundred
// thousand, and the memory is zero without being written twice.

namespace System::Platform {

/// Blocks at least this large come from AllocateLargeBlock; smaller ones are not worth it.
inline constexpr std::size_t kLargeBlockMinimum = std::size_t(2) << 20;

/// `bytes` of zeroed memory, or nullptr when the system has none to give.
[[nodiscard]] void* AllocateLargeBlock(std::size_t bytes);
/// Returns a block from AllocateLargeBlock with the size it was asked for.
void FreeLargeBlock(void* block, std::size_t bytes);

} // namespace System::Platform
