#include "CaptureLoader.h"

#include "CallGraphModel/Document/CaptureDocument.h"

#include <QMetaObject>

namespace Profiler {

CaptureLoader::CaptureLoader(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::shared_ptr<Profiler::CaptureDocument>>(
        "std::shared_ptr<Profiler::CaptureDocument>");
    qRegisterMetaType<std::shared_ptr<const Profiler::TimelineIndex>>(
        "std::shared_ptr<const Profiler::TimelineIndex>");
}

CaptureLoader::~CaptureLoader()
{
    Cancel();
    Join();
}

void CaptureLoader::Join()
{
    if (mThread.joinable())
        mThread.join();
}

void CaptureLoader::Cancel()
{
    mCancel = true;
}

void CaptureLoader::Start(const std::filesystem::path& capture)
{
    Cancel();
    Join();
    mCancel = false;
    mFinished = false;
    mThread = std::thread([this, capture] { Run(capture); });
}

void CaptureLoader::Run(std::filesystem::path capture)
{
    // Signals emitted here are queued to the receivers' (user interface) thread.
    auto finish = [this] { mFinished = true; };
    emit Progress(QStringLiteral("Opening"), 0.0);
    auto document = std::make_shared<CaptureDocument>();
    Serialization::ErrorList errors;
    if (!document->Open(capture, errors)) {
        finish();
        emit Failed(QString::fromStdString(errors.ToString()));
        return;
    }
    const auto result = document->Process(
        [this](double fraction) {
            emit Progress(QStringLiteral("Processing"), fraction);
            return !mCancel.load();
        },
        errors);
    if (result == CaptureDocument::EProcessResult::Canceled || mCancel) {
        finish();
        emit Canceled();
        return;
    }
    if (result == CaptureDocument::EProcessResult::Failed) {
        finish();
        emit Failed(QString::fromStdString(errors.ToString()));
        return;
    }
    emit Progress(QStringLiteral("Reading the timeline"), 1.0);
    auto timeline = std::make_shared<TimelineIndex>();
    if (!timeline->Build(document->GetSession(), mCancel, errors)) {
        finish();
        if (mCancel)
            emit Canceled();
        else
            emit Failed(QString::fromStdString(errors.ToString()));
        return;
    }
    finish();
    emit Loaded(std::move(document), std::move(timeline));
}

} // namespace Profiler
