#include "CallGraphModel/SnapshotLoader.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/ChildIndex.h"
#include "CallGraphModel/OpenBarProcessor.h"
#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/SnapshotFile.h"
#include "System/JobScheduler.h"
#include "Utility/ErrorList.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Profiler {

namespace {

/// One record being read; shared with its read job so that it outlives the job in any case.
struct ReadSlot {
    SnapshotFile::ReadBuffer buffer;
    bool succeeded = false;
    std::string error;
};

bool WantsGraph(const SnapshotLoadTask& task)
{
    return task.graphs[0] != nullptr || task.graphs[1] != nullptr;
}

void Read(const SnapshotFile& file, const SnapshotLoadTask& task, std::size_t stateFirstRead, ReadSlot& slot)
{
    slot.error.clear();
    const SnapshotTable::SnapshotDescription& snapshot = task.snapshot;
    slot.succeeded = WantsGraph(task)
                         ? file.ReadRecord(snapshot.mOffset, snapshot.mSize, slot.buffer, slot.error)
                         : file.ReadRecordPrefix(snapshot.mOffset, snapshot.mSize, stateFirstRead,
                                                 slot.buffer, slot.error);
}

/// Hands the record's processor state to the task's processors and leaves `reader` after it.
bool ApplyState(const SnapshotLoadTask& task, std::span<const uint8_t> record, RecordReader& reader,
                Serialization::ErrorList& errors)
{
    bool readState = false;
    for (OpenBarProcessor* processor : task.processors)
        if (processor != nullptr) {
            RecordReader copy(record);
            if (!processor->Deserialize(copy, errors))
                return false;
            reader = copy;
            readState = true;
        }
    return readState || OpenBarProcessor::SkipSerialized(reader, errors);
}

/// One child index per target graph for the whole load: a graph that receives the records of
/// many threads (a whole-capture query over 100,000 threads) would otherwise index its root's
/// children again for every record, which is quadratic in the number of threads.
class TargetIndexes {
public:
    ChildIndex& For(const CallGraph* graph)
    {
        for (auto& [target, index] : mIndexes)
            if (target == graph)
                return *index;
        mIndexes.emplace_back(graph, std::make_unique<ChildIndex>());
        return *mIndexes.back().second;
    }

private:
    // Few targets (at most four per query), so a list beats a map.
    std::vector<std::pair<const CallGraph*, std::unique_ptr<ChildIndex>>> mIndexes;
};

bool Apply(const SnapshotFile& file, const SnapshotLoadTask& task, std::size_t stateFirstRead, ReadSlot& slot,
           TargetIndexes& indexes, Serialization::ErrorList& errors)
{
    // A prefix that ends inside the state is read again, longer, until the state fits: a state
    // that does not parse from the whole record is damaged.
    for (std::size_t wanted = std::max<std::size_t>(stateFirstRead, 1);; wanted *= 8) {
        const std::span<const uint8_t> record(slot.buffer.GetData(), slot.buffer.GetSize());
        RecordReader reader(record);
        const bool whole = slot.buffer.decompressor.IsWhole();
        Serialization::ErrorList attempt;
        if (!ApplyState(task, record, reader, whole ? errors : attempt)) {
            if (whole)
                return false;
            if (!file.ReadRecordPrefix(task.snapshot.mOffset, task.snapshot.mSize, wanted * 8, slot.buffer,
                                       slot.error)) {
                errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                                    "Unable to read snapshot at offset %llu: %s",
                                    static_cast<unsigned long long>(task.snapshot.mOffset), slot.error.c_str());
                return false;
            }
            continue;
        }
        const std::span<const uint8_t> graphRecord = record.subspan(reader.GetOffset());
        for (CallGraph* graph : task.graphs)
            if (graph != nullptr) {
                RecordReader graphReader(graphRecord);
                if (!graph->GetRoot().DeserializeAdd(graphReader, errors, &indexes.For(graph)))
                    return false;
            }
        return true;
    }
}

} // namespace

bool LoadSnapshots(const SnapshotFile& file, System::JobScheduler* scheduler,
                   std::span<const SnapshotLoadTask> tasks, const std::atomic<bool>& canceled,
                   Serialization::ErrorList& errors, std::size_t stateFirstRead)
{
    if (tasks.empty())
        return true;
    std::shared_ptr<ReadSlot> slots[2] = {std::make_shared<ReadSlot>(), std::make_shared<ReadSlot>()};
    TargetIndexes indexes;
    Read(file, tasks[0], stateFirstRead, *slots[0]);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        if (canceled.load(std::memory_order_relaxed))
            return false;
        ReadSlot& current = *slots[i % 2];
        System::JobHandle next;
        if (i + 1 < tasks.size()) {
            std::shared_ptr<ReadSlot> slot = slots[(i + 1) % 2];
            slot->succeeded = false;
            slot->error = "The snapshot was not read";
            System::JobDescription description;
            description.work = [&file, task = tasks[i + 1], stateFirstRead, slot](System::Job&,
                                                                                  const std::atomic<bool>&) {
                Read(file, task, stateFirstRead, *slot);
            };
            if (scheduler != nullptr)
                next = scheduler->Schedule(std::move(description));
            if (!next.IsValid() && !canceled.load(std::memory_order_relaxed))
                Read(file, tasks[i + 1], stateFirstRead, *slot);
        }
        bool applied = current.succeeded;
        if (!applied)
            errors.AddFormatted(
                Serialization::EErrorCode::Corrupt, "Unable to read snapshot at offset %llu: %s",
                static_cast<unsigned long long>(tasks[i].snapshot.mOffset), current.error.c_str());
        else
            applied = Apply(file, tasks[i], stateFirstRead, current, indexes, errors);
        if (next.IsValid())
            scheduler->Wait(next);
        if (!applied)
            return false;
    }
    return true;
}

} // namespace Profiler
