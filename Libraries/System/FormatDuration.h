#pragma once

#include <string>

namespace System {

/// The compact text of a time span given in milliseconds, e.g. 1234.5678 reads
/// "1s 234ms 567µs". Units run from hours (0) to microseconds (4); `smallestUnit` is the finest
/// one printed, and a span with nothing above one microsecond reads in nanoseconds ("400ns").
/// With `noLeadingZeros` false, milliseconds and microseconds after the first unit are padded
/// to three digits ("1s 005ms"). Negative spans read as their magnitude with a leading '-'.
std::string FormatDuration(double milliseconds, int smallestUnit = 4, bool noLeadingZeros = true);

} // namespace System
