// The desktop application's speed: painting the timeline of a long capture while panning, the
// time from opening the demo capture to the first painted timeline, and how late the user
// interface thread's event loop runs while a capture is processed and queried.

#include "Importers/PerfCaptureImporter.h"
#include "MainWindow.h"
#include "Theming/ApplicationTheme.h"
#include "TimelineIndex.h"
#include "TimelineWidget.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <random>

using namespace Profiler;

namespace {

// A 60 minute capture of 8 threads: a state change every 2 ms on average and a sample every
// millisecond while executing (about 1.8 million runs and 1.4 million samples per thread).
std::shared_ptr<TimelineIndex> MakeLongCapture()
{
    constexpr double kMinutes = 60.0;
    constexpr double kEnd = kMinutes * 60'000.0;
    std::mt19937_64 random(7);
    std::exponential_distribution<double> gap(0.5);
    std::vector<TimelineIndex::ProcessGroup> groups(1);
    groups[0].ProcessId = 1;
    groups[0].Name = "long";
    for (int t = 0; t < 8; ++t) {
        TimelineIndex::Lane lane;
        lane.ThreadId = 100 + t;
        lane.Name = QStringLiteral("worker %1").arg(t);
        lane.End = kEnd;
        bool executing = true;
        for (double time = 0.0; time < kEnd; time += gap(random), executing = !executing) {
            lane.Runs.push_back({time, executing ? EThreadState::Executing : EThreadState::Synchronization});
            if (executing)
                for (double sample = std::ceil(time); sample < time + 2.0 && sample < kEnd; sample += 1.0)
                    lane.Samples.push_back(sample);
        }
        groups[0].Lanes.push_back(std::move(lane));
    }
    auto index = std::make_shared<TimelineIndex>();
    index->Assign(std::move(groups), 0.0, kEnd);
    return index;
}

void BM_TimelinePanFrame(benchmark::State& state)
{
    static const auto index = MakeLongCapture();
    TimelineWidget timeline;
    timeline.resize(1920, 400);
    timeline.SetIndex(index);
    // The whole capture, a tenth of it, or one second.
    const double span = state.range(0) == 0   ? index->GetEnd()
                        : state.range(0) == 1 ? index->GetEnd() / 10
                                              : 1000.0;
    QImage frame(timeline.size(), QImage::Format_ARGB32_Premultiplied);
    double from = 0.0;
    for (auto _ : state) {
        timeline.SetVisibleRange(from, from + span);
        timeline.render(&frame);
        // Panning by a hundredth of the view per frame, wrapping at the end.
        from = from + span / 100 + span > index->GetEnd() ? 0.0 : from + span / 100;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TimelinePanFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

const QString& DemoCapture()
{
    static QTemporaryDir directory;
    static const QString capture = [] {
        const QString path = directory.filePath("demo");
        PerfImportStats stats;
        std::string problems;
        Serialization::ErrorList errors;
        if (!PerfCaptureImporter::Import(QX_SOURCE_DIR "/Demo/demo-recording.txt.gz", path.toStdString(), {},
                                         stats, problems, errors))
            std::fprintf(stderr, "import failed: %s\n", errors.ToString().c_str());
        return path;
    }();
    return capture;
}

// Opening to the first painted timeline, and the worst lateness of a 5 ms timer on the user
// interface thread meanwhile (processing happens on the first iteration only; later ones load
// the stored model).
void BM_OpenDemoToFirstPaint(benchmark::State& state)
{
    const QString capture = DemoCapture();
    double worstLateness = 0.0;
    for (auto _ : state) {
        ApplicationTheme theme;
        MainWindow window(theme, QX_PLUGIN_PATH);
        window.show();
        QEventLoop loop;
        bool painted = false;
        QObject::connect(window.GetTimeline(), &TimelineWidget::Painted, &loop, [&] {
            if (window.GetTimeline()->GetIndex()) {
                painted = true;
                loop.quit();
            }
        });
        QElapsedTimer probe;
        probe.start();
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            worstLateness = std::max(worstLateness, probe.nsecsElapsed() / 1e6 - 5.0);
            probe.restart();
        });
        timer.start();
        window.OpenCapture(capture);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        if (!painted)
            state.SkipWithError("the timeline was never painted");
        // Keep probing, untimed, while the view's first graph is built.
        state.PauseTiming();
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
        state.ResumeTiming();
    }
    state.counters["ui_max_stall_ms"] = worstLateness;
}
BENCHMARK(BM_OpenDemoToFirstPaint)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("QX_NO_MESSAGE_BOXES", "1");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuasarixBenchmark"));
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QDir::setCurrent(settings.path());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
