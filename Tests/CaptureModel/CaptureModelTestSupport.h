#pragma once

#include "CaptureModel/CaptureWriter.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEvent.h"
#include "Support/ErrorAssertions.h"
#include "Utility/ErrorList.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace TestSupport {

/// The test registry with every capture class and the older shapes of the upgrade tests, made
/// on first use.
RTTI::Registry& CaptureModelRegistry();

/// One event of every kind 0..17 with distinct payload values (strings point to static text).
std::vector<Profiler::TraceEvent> MakeEventOfEveryKind(double time, uint32_t process = 1,
                                                       uint32_t thread = 1);

/// Compares every field that the event's kind carries; returns "" when equal, else what differs.
std::string DescribeDifference(const Profiler::TraceEvent& expected, const Profiler::TraceEvent& actual);

/// Writes `bytes` as a seed for the fuzz target.
void WriteFuzzSeed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes);

/// Every event of the session's stream, zones included, with their strings cleared (they point
/// into the reader's chunk).
std::vector<Profiler::TraceEvent> ReadAllEvents(const Profiler::Session& session);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

/// The result of Session::sLoad.
struct LoadedSession {
    int status = 1;
    std::unique_ptr<Profiler::Session> session;
    const Profiler::Platform* platform = nullptr;
    Serialization::ErrorList errors;

    /// The first error's message, or "".
    std::string FirstError() const;
};

/// Loads with the default platforms (Linux and Windows) and no plugins.
LoadedSession LoadSession(const std::filesystem::path& path);

/// A small capture written through the writer: two processes (10, 20) with threads 11, 12 and
/// 21, modules "app" (relative, in both processes at different bases) and "[kernel]" (absolute),
/// rooted and unrooted stacks, samples, a context switch, a zone, a weight, a thread end and a
/// thread name change. Returns the session file path.
std::filesystem::path WriteSmallCapture(const std::filesystem::path& directory);

/// Addresses of the small capture's functions in process 10.
struct SmallCaptureAddresses {
    static constexpr uint64_t kAppBase10 = 0x400000;
    static constexpr uint64_t kAppBase20 = 0x500000;
    static constexpr uint64_t kStart = 0x100;      ///< _start, size 0x40
    static constexpr uint64_t kMain = 0x200;       ///< main, size 0x100
    static constexpr uint64_t kWork = 0x300;       ///< work, size 0 (reaches up to helper)
    static constexpr uint64_t kHelper = 0x380;     ///< helper, size 0x20
    static constexpr uint64_t kCloneStart = 0x500; ///< start_thread, size 0x40
    static constexpr uint64_t kKernelFunction = 0xffffffff81000000ull; ///< schedule, size 0x100
};

} // namespace TestSupport
