#pragma once

#include "CallGraphModel/SnapshotTable.h"

#include <atomic>
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

/// Reads the records in order and hands out their parts. The next record is read and
/// decompressed on a second job while the current one is added, so reading overlaps with the
/// work. False when canceled or when a record could not be read (its error in `errors`).
bool LoadSnapshots(const SnapshotFile& file, System::JobScheduler* scheduler,
                   std::span<const SnapshotLoadTask> tasks, const std::atomic<bool>& canceled,
                   Serialization::ErrorList& errors);

} // namespace Profiler
