#include "CaptureModel/EventChunkRowDecoder.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamWriter.h"
#include "System/Log.h"
#include "Utility/ErrorList.h"

#include <algorithm>
#include <system_error>

namespace Profiler {

using Serialization::EErrorCode;

namespace {

/// "events.dat" -> "events_old.dat"
std::filesystem::path BackupPath(const std::filesystem::path& path)
{
    return path.parent_path() / (path.stem().string() + "_old" + path.extension().string());
}

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::remove(path, error);
}

/// Puts `replacement` in the place of `original`, keeping the original as its "_old" backup
/// unless a backup exists already (an earlier upgrade's backup is the one worth keeping). On
/// failure the original is back in place. `madeBackup` tells whether this call made the backup.
bool ReplaceFile(const std::filesystem::path& original, const std::filesystem::path& replacement,
                 bool& madeBackup, Serialization::ErrorList& errors)
{
    std::error_code error;
    const std::filesystem::path backup = BackupPath(original);
    madeBackup = false;
    if (std::filesystem::exists(original, error) && !std::filesystem::exists(backup, error)) {
        std::filesystem::rename(original, backup, error);
        madeBackup = !error;
    }
    if (!error)
        std::filesystem::rename(replacement, original, error);
    if (error) {
        if (madeBackup) {
            std::error_code restoreError;
            std::filesystem::rename(backup, original, restoreError);
            madeBackup = false;
        }
        errors.AddFormatted(EErrorCode::WriteFailed,
                            "Unable to upgrade event stream: failed to replace file %s with %s",
                            original.string().c_str(), replacement.string().c_str());
        return false;
    }
    return true;
}

} // namespace

bool TraceEventStream::Upgrade(Serialization::ErrorList& errors, const std::atomic<bool>* canceled,
                               const std::function<void(float)>& progress)
{
    System::Log("Upgrading event stream from version %d to %d", static_cast<int>(mEventDataVersion),
                static_cast<int>(kCurrentEventDataVersion));
    if (mEventDataVersion != 1)
        return true;
    if (mDirectory.empty()) {
        errors.Add(EErrorCode::FileAccess, "The event stream has not been opened in a directory");
        return false;
    }

    const std::filesystem::path dataPath = mDirectory / kDataFileName;
    const std::filesystem::path indexPath = mDirectory / kIndexFileName;
    const std::filesystem::path newDataPath = mDirectory / "events_tmp.dat";
    const std::filesystem::path newIndexPath = mDirectory / "events_tmp.index";

    EventChunkFile oldFile;
    std::string errorText;
    if (!oldFile.OpenForReading(dataPath, errorText)) {
        errors.AddFormatted(EErrorCode::FileAccess, "Unable to open event stream %s for upgrade. Error: %s",
                            dataPath.string().c_str(), errorText.c_str());
        return false;
    }
    TraceEventStreamWriter writer;
    if (!writer.Open(newDataPath, newIndexPath, errors))
        return false;
    auto abandon = [&] {
        writer.TakeStream();
        RemoveQuietly(newDataPath);
        RemoveQuietly(newIndexPath);
        return false;
    };

    const uint64_t totalEvents = mNumEvents;
    uint64_t processed = 0;
    int reportedPercent = 0;
    std::vector<uint8_t> rows;
    TraceEvent event;
    for (const Chunk& chunk : mChunks) {
        if (canceled && canceled->load(std::memory_order_relaxed))
            return abandon();
        // The stored size is checked against the file before it sizes a buffer.
        bool read = false;
        if (chunk.mFileOffset > oldFile.GetSize() || oldFile.GetSize() - chunk.mFileOffset < chunk.mSize) {
            errorText = "the chunk lies beyond the end of the file";
        } else {
            rows.resize(static_cast<std::size_t>(chunk.mSize));
            read = oldFile.ReadAt(chunk.mFileOffset, rows.data(), rows.size(), errorText);
        }
        if (!read) {
            errors.AddFormatted(EErrorCode::Corrupt, "Unable to read from old event stream %s. Error: %s",
                                dataPath.string().c_str(), errorText.c_str());
            return abandon();
        }
        EventChunkRowDecoder decoder(rows.data(), rows.size());
        while (decoder.Next(event)) {
            writer.Add(event);
            if (writer.GetPendingEventCount() >= kUpgradeChunkEvents && !writer.FlushChunk(errors))
                return abandon();
            ++processed;
            if (progress && totalEvents > 0) {
                const float fraction =
                    std::min(1.0f, static_cast<float>(processed) / static_cast<float>(totalEvents));
                const int percent = static_cast<int>(fraction * 100.0f);
                if (percent > reportedPercent) {
                    reportedPercent = percent;
                    progress(fraction);
                }
            }
        }
        if (decoder.HasFailed()) {
            errors.AddFormatted(EErrorCode::Corrupt, "Unable to read from old event stream %s. Error: %s",
                                dataPath.string().c_str(), decoder.GetError().c_str());
            return abandon();
        }
    }
    if (!writer.Close(errors))
        return abandon();
    oldFile.Close();

    bool madeDataBackup = false;
    bool madeIndexBackup = false;
    if (!ReplaceFile(dataPath, newDataPath, madeDataBackup, errors))
        return abandon();
    if (!ReplaceFile(indexPath, newIndexPath, madeIndexBackup, errors)) {
        // Put the old data back so that the old index still describes it.
        std::error_code error;
        if (madeDataBackup)
            std::filesystem::rename(BackupPath(dataPath), dataPath, error);
        return abandon();
    }

    std::unique_ptr<TraceEventStream> upgraded = writer.TakeStream();
    SetIndex(upgraded->mNumEvents, std::move(upgraded->mChunks), kCurrentEventDataVersion);
    mDataFile.Close();
    return OpenDataFile(mDirectory, errors);
}

} // namespace Profiler
