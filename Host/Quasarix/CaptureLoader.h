#pragma once

#include "TimelineIndex.h"

#include <QObject>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

namespace Profiler {

class CaptureDocument;

/// Opens and processes a capture on a thread of its own, the way `qx process` does, and builds
/// the timeline's index; the window only hears of progress and the outcome through queued
/// signals, so it never freezes.
class CaptureLoader : public QObject {
    Q_OBJECT
public:
    explicit CaptureLoader(QObject* parent = nullptr);
    ~CaptureLoader() override;

    /// Starts loading; a load in progress is canceled first.
    void Start(const std::filesystem::path& capture);
    void Cancel();
    bool IsRunning() const { return mThread.joinable() && !mFinished; }

signals:
    /// `stage` says what is being done; `fraction` in 0..1.
    void Progress(QString stage, double fraction);
    /// The document (processed) and its timeline; both owned by the receiver from now on.
    void Loaded(std::shared_ptr<Profiler::CaptureDocument> document,
                std::shared_ptr<const Profiler::TimelineIndex> timeline);
    void Failed(QString message);
    void Canceled();

private:
    void Run(std::filesystem::path capture);
    void Join();

    std::thread mThread;
    std::atomic<bool> mCancel{false};
    std::atomic<bool> mFinished{true};
};

} // namespace Profiler

Q_DECLARE_METATYPE(std::shared_ptr<Profiler::CaptureDocument>)
Q_DECLARE_METATYPE(std::shared_ptr<const Profiler::TimelineIndex>)
