#include "ImportTask.h"

#include "Importers/NewCaptureDirectory.h"
#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfRecordCommand.h"
#include "Importers/PerfRecorder.h"

#include <QDir>
#include <QFileInfo>

namespace Profiler {

ImportTask::ImportTask(QObject* parent) : QObject(parent) {}

ImportTask::~ImportTask()
{
    Join();
}

void ImportTask::Join()
{
    if (mThread.joinable())
        mThread.join();
}

bool ImportTask::Start(const QString& input, const QString& output, QString& message)
{
    if (mRunning) {
        message = QStringLiteral("An import is already running; wait for it to finish.");
        return false;
    }
    if (QFileInfo::exists(output) && !QDir(output).isEmpty()) {
        message = QStringLiteral("%1 is not empty; choose an empty directory for the capture.").arg(output);
        return false;
    }
    NewCaptureDirectory directory;
    if (directory.Prepare(output.toStdString()) != NewCaptureDirectory::EResult::Ready) {
        message = QStringLiteral("%1: %2").arg(output, QString::fromStdString(directory.GetMessage()));
        return false;
    }
    Join();
    mRunning = true;
    mThread = std::thread([this, input, output, directory = std::move(directory)]() mutable {
        Serialization::ErrorList errors;
        PerfImportStats stats;
        std::string problems;
        const std::string path = input.toStdString();
        // A perf data file goes through perf script, as a recording does.
        const bool imported =
            PerfRecordCommand::IsPerfDataFile(path)
                ? PerfRecorder::Import(PerfRecorder::PlanForDataFile(path), output.toStdString(), {}, stats,
                                       problems, errors)
                : PerfCaptureImporter::Import(path, output.toStdString(), {}, stats, problems, errors);
        if (!imported)
            directory.Abandon();
        QString message =
            QString::fromStdString(imported ? PerfCaptureImporter::DescribeStats(stats) : errors.ToString());
        if (!problems.empty())
            message += QStringLiteral("\n") + QString::fromStdString(problems);
        mRunning = false;
        emit Finished(imported, output, message);
    });
    return true;
}

} // namespace Profiler
