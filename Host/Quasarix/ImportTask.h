#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

namespace Profiler {

/// Imports a perf recording (perf script text, gzipped or not, or a perf.data file through perf
/// script) into a new capture directory on a thread of its own, with the same library code and
/// the same directory lock as `qx import`. The window hears of the outcome by a queued signal;
/// destroying the task waits for a running import, so the thread never outlives its owner.
class ImportTask : public QObject {
    Q_OBJECT
public:
    explicit ImportTask(QObject* parent = nullptr);
    ~ImportTask() override;

    /// Prepares `output` and starts the import. False, with the reason in `message`, when an
    /// import already runs or the directory cannot be used (another writer holds it, or it is
    /// not empty: nothing the user had is overwritten).
    [[nodiscard]] bool Start(const QString& input, const QString& output, QString& message);
    bool IsRunning() const { return mRunning; }

signals:
    /// `message` is the import's summary, or what went wrong.
    void Finished(bool imported, QString output, QString message);

private:
    void Join();

    std::thread mThread;
    std::atomic<bool> mRunning{false};
};

} // namespace Profiler
