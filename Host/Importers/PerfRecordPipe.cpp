#include "Importers/PerfRecordPipe.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace Profiler {

namespace {

/// Batches in existence at most: one filling, the others waiting or being imported.
constexpr std::size_t kMaxBatches = 4;

} // namespace

struct PerfRecordPipe::Batch {
    enum class EKind : uint8_t { Sample, SchedSwitch, Task, Mmap };
    struct Entry {
        EKind kind;
        uint32_t index; ///< into the vector of its kind
    };

    static constexpr std::size_t kTextBytes = 256u << 10;
    static constexpr std::size_t kFrames = 8192;

    // The text and frames never move while the batch fills, so the records' views point
    // straight at them.
    std::unique_ptr<char[]> text = std::make_unique_for_overwrite<char[]>(kTextBytes);
    std::size_t textCapacity = kTextBytes;
    std::size_t textUsed = 0;
    std::vector<PerfFrame> frames; ///< never beyond its capacity while filling
    std::vector<Entry> entries;
    std::vector<PerfSchedSwitch> switches; ///< samples use their `sample`
    std::vector<PerfTaskEvent> tasks;
    std::vector<PerfMmapEvent> mmaps;

    Batch() { frames.reserve(kFrames); }

    bool Fits(std::size_t textBytes, std::size_t frameCount) const
    {
        return textCapacity - textUsed >= textBytes && frames.capacity() - frames.size() >= frameCount;
    }

    void Clear()
    {
        textUsed = 0;
        frames.clear();
        entries.clear();
        switches.clear();
        tasks.clear();
        mmaps.clear();
    }

    void Copy(std::string_view& view)
    {
        if (view.empty()) {
            view = {};
            return;
        }
        char* at = text.get() + textUsed;
        std::memcpy(at, view.data(), view.size());
        textUsed += view.size();
        view = std::string_view(at, view.size());
    }

    std::span<const PerfFrame> CopyFrames(std::span<const PerfFrame> source)
    {
        const std::size_t first = frames.size();
        for (const PerfFrame& frame : source) {
            PerfFrame& copy = frames.emplace_back(frame);
            Copy(copy.symbol);
            Copy(copy.dso);
        }
        return {frames.data() + first, source.size()};
    }

    static std::size_t FrameTextBytes(std::span<const PerfFrame> source)
    {
        std::size_t bytes = 0;
        for (const PerfFrame& frame : source)
            bytes += frame.symbol.size() + frame.dso.size();
        return bytes;
    }
};

PerfRecordPipe::PerfRecordPipe(IPerfScriptHandler& downstream)
    : mDownstream(downstream), mFilling(std::make_unique<Batch>()), mBatches(1)
{
    mThread = std::thread([this] { Run(); });
}

PerfRecordPipe::~PerfRecordPipe()
{
    Close();
}

PerfRecordPipe::Batch& PerfRecordPipe::Reserve(std::size_t textBytes, std::size_t frames)
{
    if (mFilling->Fits(textBytes, frames))
        return *mFilling;
    if (!mFilling->entries.empty())
        Send();
    // An empty batch may grow for a record larger than a batch: nothing points into it yet.
    Batch& batch = *mFilling;
    if (batch.textCapacity < textBytes) {
        batch.text = std::make_unique_for_overwrite<char[]>(textBytes);
        batch.textCapacity = textBytes;
    }
    if (batch.frames.capacity() < frames)
        batch.frames.reserve(frames);
    return batch;
}

void PerfRecordPipe::Send()
{
    std::unique_lock lock(mMutex);
    mFull.push_back(std::move(mFilling));
    mChanged.notify_all();
    mChanged.wait(lock, [this] { return !mEmpty.empty() || mBatches < kMaxBatches; });
    if (!mEmpty.empty()) {
        mFilling = std::move(mEmpty.back());
        mEmpty.pop_back();
    } else {
        ++mBatches;
        lock.unlock();
        mFilling = std::make_unique<Batch>();
    }
}

void PerfRecordPipe::Run()
{
    for (;;) {
        std::unique_ptr<Batch> batch;
        {
            std::unique_lock lock(mMutex);
            mChanged.wait(lock, [this] { return !mFull.empty() || mClosed; });
            if (mFull.empty())
                return;
            batch = std::move(mFull.front());
            mFull.pop_front();
        }
        for (const Batch::Entry& entry : batch->entries) {
            switch (entry.kind) {
            case Batch::EKind::Sample:
                mDownstream.OnSample(batch->switches[entry.index].sample);
                break;
            case Batch::EKind::SchedSwitch:
                mDownstream.OnSchedSwitch(batch->switches[entry.index]);
                break;
            case Batch::EKind::Task:
                mDownstream.OnTaskEvent(batch->tasks[entry.index]);
                break;
            case Batch::EKind::Mmap:
                mDownstream.OnMmapEvent(batch->mmaps[entry.index]);
                break;
            }
        }
        batch->Clear();
        std::lock_guard lock(mMutex);
        mEmpty.push_back(std::move(batch));
        mChanged.notify_all();
    }
}

void PerfRecordPipe::Close()
{
    if (!mThread.joinable())
        return;
    {
        std::lock_guard lock(mMutex);
        if (mFilling && !mFilling->entries.empty())
            mFull.push_back(std::move(mFilling));
        mClosed = true;
        mChanged.notify_all();
    }
    mThread.join();
}

void PerfRecordPipe::OnSample(const PerfSample& sample)
{
    const std::size_t textBytes = sample.header.comm.size() + sample.eventName.size() +
                                  sample.arguments.size() + Batch::FrameTextBytes(sample.frames);
    Batch& batch = Reserve(textBytes, sample.frames.size());
    batch.entries.push_back({Batch::EKind::Sample, static_cast<uint32_t>(batch.switches.size())});
    PerfSample& copy = batch.switches.emplace_back().sample;
    copy = sample;
    batch.Copy(copy.header.comm);
    batch.Copy(copy.eventName);
    batch.Copy(copy.arguments);
    copy.frames = batch.CopyFrames(sample.frames);
}

void PerfRecordPipe::OnSchedSwitch(const PerfSchedSwitch& record)
{
    const PerfSample& sample = record.sample;
    const std::size_t textBytes = sample.header.comm.size() + sample.eventName.size() +
                                  sample.arguments.size() + Batch::FrameTextBytes(sample.frames) +
                                  record.prevComm.size() + record.prevState.size() + record.nextComm.size();
    Batch& batch = Reserve(textBytes, sample.frames.size());
    batch.entries.push_back({Batch::EKind::SchedSwitch, static_cast<uint32_t>(batch.switches.size())});
    PerfSchedSwitch& copy = batch.switches.emplace_back(record);
    batch.Copy(copy.sample.header.comm);
    batch.Copy(copy.sample.eventName);
    batch.Copy(copy.sample.arguments);
    copy.sample.frames = batch.CopyFrames(sample.frames);
    batch.Copy(copy.prevComm);
    batch.Copy(copy.prevState);
    batch.Copy(copy.nextComm);
}

void PerfRecordPipe::OnTaskEvent(const PerfTaskEvent& event)
{
    Batch& batch = Reserve(event.header.comm.size() + event.newComm.size(), 0);
    batch.entries.push_back({Batch::EKind::Task, static_cast<uint32_t>(batch.tasks.size())});
    PerfTaskEvent& copy = batch.tasks.emplace_back(event);
    batch.Copy(copy.header.comm);
    batch.Copy(copy.newComm);
}

void PerfRecordPipe::OnMmapEvent(const PerfMmapEvent& event)
{
    Batch& batch = Reserve(event.header.comm.size() + event.protection.size() + event.fileName.size(), 0);
    batch.entries.push_back({Batch::EKind::Mmap, static_cast<uint32_t>(batch.mmaps.size())});
    PerfMmapEvent& copy = batch.mmaps.emplace_back(event);
    batch.Copy(copy.header.comm);
    batch.Copy(copy.protection);
    batch.Copy(copy.fileName);
}

} // namespace Profiler
