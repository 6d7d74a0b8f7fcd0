#pragma once

#include "CallGraphModel/SnapshotTable.h"

#include <atomic>
#include <cstddef>
#include <span>

namespace Serialization {
class ErrorList;
}

namespace System {
class JobScheduler;
}

namespace Profiler {

class CallGraph;
class OpenBarProcessor;
class SnapshotFile;

/// One snapshot record to read and where its two parts go.
struct SnapshotLoadTask {
    SnapshotTable::SnapshotDescription snapshot;
    /// Processors whose state becomes the record's (the last record read for each wins).
    OpenBarProcessor* processors[2] = {nullptr, nullptr};
    /// Graphs into whose root the record's graph is added.
    CallGraph* graphs[2] = {nullptr, nullptr};
};

/// What is decompressed first of a record of which only the processor state is wanted. The state
/// (the open bars and where the thread stood) comes first and is a few kilobytes; the graph after
/// it is as large as the thread's call tree, which a small range must not pay for. A state that
/// does not fit is read again, longer.
inline constexpr std::size_t kSnapshotStateFirstRead = 64 * 1024;

/// Reads the records in order and hands out their parts. The next record is read and
/// decompressed on a second job while the current one is added, so reading overlaps with the
/// work. False when canceled or when a record could not be read (its error in `errors`).
bool LoadSnapshots(const SnapshotFile& file, System::JobScheduler* scheduler,
                   std::span<const SnapshotLoadTask> tasks, const std::atomic<bool>& canceled,
                   Serialization::ErrorList& errors, std::size_t stateFirstRead = kSnapshotStateFirstRead);

} // namespace Profiler
