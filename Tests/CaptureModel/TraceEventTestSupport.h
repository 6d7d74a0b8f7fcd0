#pragma once

#include "CaptureModel/TraceEvent.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace RTTI {
class Registry;
}

namespace TestSupport {

/// A registry holding the primitives, the schema classes and the capture model's index classes,
/// made on first use; index files are written and read through it.
RTTI::Registry& CaptureModelRegistry();

/// One event of every kind 0..17 with distinct payload values (strings point to static text).
std::vector<Profiler::TraceEvent> MakeEventOfEveryKind(double time, uint32_t process = 1,
                                                       uint32_t thread = 1);

/// Compares every field that the event's kind carries; returns "" when equal, else what differs.
std::string DescribeDifference(const Profiler::TraceEvent& expected, const Profiler::TraceEvent& actual);

/// Writes `bytes` as a seed for the fuzz target.
void WriteFuzzSeed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

} // namespace TestSupport
