#pragma once

namespace Serialization {

/// Objects nested deeper than this (through owning pointers or embedded values) are refused by
/// the readers, so hostile input cannot exhaust the stack, and by the writers, so nothing is
/// written that could not be read back.
inline constexpr int kMaxNestingDepth = 512;

} // namespace Serialization
