#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "HostSession.h"
#include "ImportTask.h"
#include "Importers/PerfCaptureImporter.h"
#include "MainWindow.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"
#include "System/Platform/FileLock.h"
#include "Theming/ApplicationTheme.h"
#include "TimelineWidget.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDockWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <fstream>
#include <future>

using namespace Profiler;

namespace {

// The demo recording imported once for every test of the run.
const std::filesystem::path& DemoCapture()
{
    static TestSupport::TempDirectory directory;
    static const std::filesystem::path capture = [] {
        const std::filesystem::path path = directory / "demo";
        PerfImportStats stats;
        std::string problems;
        Serialization::ErrorList errors;
        const bool imported = PerfCaptureImporter::Import(
            (TestSupport::SourceDirectory() / "Demo" / "demo-recording.txt.gz").string(), path, {}, stats,
            problems, errors);
        EXPECT_TRUE(imported) << errors.ToString();
        return path;
    }();
    return capture;
}

// The call graph of a selection asked directly of a fresh document, to compare the view's with.
std::shared_ptr<const CallGraph> QueryDirectly(const std::vector<ThreadID>& threads, double from, double to)
{
    CaptureDocument document;
    Serialization::ErrorList errors;
    EXPECT_TRUE(document.Open(DemoCapture(), errors)) << errors.ToString();
    EXPECT_NE(document.Process([](double) { return true; }, errors), CaptureDocument::EProcessResult::Failed);
    CaptureQueries queries(document, MakeInlineExecutor());
    std::promise<CallGraphResult> promise;
    CallGraphRequest request;
    request.Threads = threads;
    request.From = from;
    request.To = to;
    queries.SubmitCallGraph(request, [&](CallGraphResult result) { promise.set_value(std::move(result)); });
    CallGraphResult result = promise.get_future().get();
    EXPECT_EQ(result.Outcome, EQueryOutcome::Graph) << result.Errors.ToString();
    return result.Graph;
}

std::filesystem::path PluginPath()
{
    return TestSupport::BinaryDirectory() / "plugins" / "libZivuDeverUdovIradir.so";
}

class QuasarixApp : public testing::Test {
protected:
    QuasarixApp() : mCwd(QDir::currentPath())
    {
        // Settings and the plugin's files go to a scratch place, never the user's.
        QCoreApplication::setOrganizationName(QStringLiteral("QuasarixTests"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(mDirectory.GetPath().string()));
        QSettings().clear();
        QDir::setCurrent(QString::fromStdString(mDirectory.GetPath().string()));
        qputenv("QX_NO_MESSAGE_BOXES", "1");
    }
    ~QuasarixApp() override { QDir::setCurrent(mCwd); }

    TestSupport::TempDirectory mDirectory;
    QString mCwd;
};

} // namespace

TEST_F(QuasarixApp, SelectingARangeHandsThePluginTheGraphOfExactlyThatRangeAndBadCapturesAreReported)
{
    ApplicationTheme theme;
    MainWindow window(theme, PluginPath());
    ASSERT_TRUE(window.GetPluginError().isEmpty()) << window.GetPluginError().toStdString();
    window.show();
    QSignalSpy ready(&window, &MainWindow::SessionReady);
    window.OpenCapture(QString::fromStdString(DemoCapture().string()));
    ASSERT_TRUE(ready.wait(120000));

    // The plugin's panels are docked, with the call graph first.
    QWidget* callGraph = window.findChild<QWidget*>(QStringLiteral("Call Graph"));
    ASSERT_NE(callGraph, nullptr);
    EXPECT_NE(qobject_cast<QDockWidget*>(callGraph->parentWidget()), nullptr);
    EXPECT_NE(window.findChild<QWidget*>(QStringLiteral("Function List")), nullptr);

    // "SessionOpened" asks for the whole capture over every thread.
    const TimelineIndex* index = window.GetTimeline()->GetIndex();
    ASSERT_NE(index, nullptr);
    ASSERT_GT(index->GetLaneCount(), 1u);
    QTRY_VERIFY_WITH_TIMEOUT(callGraph->property("graphTotalTime").isValid(), 60000);
    const QVariantList allThreads = callGraph->property("graphThreadIds").toList();
    EXPECT_EQ(static_cast<size_t>(allThreads.size()), index->GetLaneCount());

    const double from = index->GetStart() + 0.25 * (index->GetEnd() - index->GetStart());
    const double to = index->GetStart() + 0.5 * (index->GetEnd() - index->GetStart());
    window.GetTimeline()->SelectRange(from, to);
    QTRY_VERIFY_WITH_TIMEOUT(callGraph->property("graphStartTime").toDouble() == from, 60000);
    EXPECT_EQ(callGraph->property("graphEndTime").toDouble(), to);

    std::vector<ThreadID> threads;
    for (const QVariant& id : allThreads)
        threads.push_back(static_cast<ThreadID>(id.toUInt()));
    const auto expected = QueryDirectly(threads, from, to);
    ASSERT_NE(expected, nullptr);
    EXPECT_DOUBLE_EQ(callGraph->property("graphTotalTime").toDouble(), expected->GetTotalTime());
    EXPECT_EQ(callGraph->property("graphNodeCount").toULongLong(), expected->CountNodes());

    // A click on a lane narrows the graph to that thread over the selected range.
    const int32_t thread = index->GetGroups().front().Lanes.front().ThreadId;
    const int laneY = window.GetTimeline()->LaneTop(thread) + 5;
    QTest::mouseClick(window.GetTimeline(), Qt::LeftButton, {}, QPoint(20, laneY));
    QTRY_VERIFY_WITH_TIMEOUT(callGraph->property("graphThreadIds").toList().size() == 1, 60000);
    EXPECT_EQ(callGraph->property("graphThreadIds").toList().front().toInt(), thread);
    EXPECT_EQ(callGraph->property("graphStartTime").toDouble(), from);

    // Ctrl+click on another lane adds its thread, through the session's thread selection.
    const int32_t other = static_cast<int32_t>(allThreads.back().toUInt());
    ASSERT_NE(other, thread);
    QTest::mouseClick(window.GetTimeline(), Qt::LeftButton, Qt::ControlModifier,
                      QPoint(20, window.GetTimeline()->LaneTop(other) + 5));
    QTRY_VERIFY_WITH_TIMEOUT(callGraph->property("graphThreadIds").toList().size() == 2, 60000);
    EXPECT_EQ(callGraph->property("graphStartTime").toDouble(), from);

    // Closing saves the view's selection beside the capture and deletes the view first.
    window.CloseCapture();
    EXPECT_TRUE(std::filesystem::exists(DemoCapture() / "ViewState" / "CallGraph.dat"));
    EXPECT_EQ(window.findChild<QWidget*>(QStringLiteral("Call Graph")), nullptr);

    // A capture that cannot be opened is reported and leaves no session.
    QSignalSpy failed(&window, &MainWindow::LoadFailed);
    window.OpenCapture(QString::fromStdString((mDirectory / "no-such-capture").string()));
    ASSERT_TRUE(failed.wait(30000));
    EXPECT_EQ(window.GetSession(), nullptr);
}

// The window's import: the same importer and directory lock as `qx import`, the outcome by a
// queued signal, and nothing the user had overwritten.
TEST(ImportTask, ImportsIntoANewDirectoryAndRefusesOccupiedOnes)
{
    TestSupport::TempDirectory scratch;
    const QString input =
        QString::fromStdString((TestSupport::SourceDirectory() / "Demo" / "demo-recording.txt.gz").string());
    const QString output = QString::fromStdString((scratch / "nested" / "capture").string());
    QString message;
    {
        // Another writer holds the directory: the task says who and starts nothing.
        std::filesystem::create_directories(scratch / "held");
        System::Platform::FileLock other;
        ASSERT_EQ(other.TryLock(scratch / "held"), System::Platform::FileLock::EResult::Locked);
        ImportTask task;
        EXPECT_FALSE(task.Start(input, QString::fromStdString((scratch / "held").string()), message));
        EXPECT_TRUE(message.contains(QStringLiteral("is writing a capture there"))) << message.toStdString();
    }
    ImportTask task;
    // The task emits on its own thread; a queued connection hears it on this one, as the window
    // does (a signal spy would record it on the emitting thread).
    std::vector<std::pair<bool, QString>> finished;
    QObject::connect(
        &task, &ImportTask::Finished, &task,
        [&finished](bool imported, const QString&, const QString& text) {
            finished.emplace_back(imported, text);
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(task.Start(input, output, message)) << message.toStdString();
    EXPECT_FALSE(task.Start(input, output, message)); // one import at a time
    ASSERT_TRUE(QTest::qWaitFor([&finished] { return finished.size() == 1; }, 120000));
    EXPECT_TRUE(finished[0].first) << finished[0].second.toStdString();
    EXPECT_FALSE(std::filesystem::is_empty(scratch / "nested" / "capture"));
    // The capture is there now: a second import into it is refused before anything is written.
    EXPECT_FALSE(task.Start(input, output, message));
    EXPECT_TRUE(message.contains(QStringLiteral("not empty")));

    // A failed import removes the directory it made, and only that.
    const QString bad = QString::fromStdString((scratch / "garbage.txt").string());
    {
        std::ofstream(scratch / "garbage.txt") << "not perf script text\n";
    }
    ASSERT_TRUE(task.Start(bad, QString::fromStdString((scratch / "failed").string()), message));
    ASSERT_TRUE(QTest::qWaitFor([&finished] { return finished.size() == 2; }, 30000));
    EXPECT_FALSE(finished[1].first);
    EXPECT_FALSE(std::filesystem::exists(scratch / "failed"));
}
