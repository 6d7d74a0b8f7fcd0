// The source panel's speed on a large file: the time from a function's timing result to the
// painted editor (with and without setting the file's text first), and the cost of one frame
// of scrolling, which must not grow with the file.

#include "CallGraphModel/FunctionTimingProcessor.h"
#include "ZivuDeverUdovIradir/Source/SourceTextEdit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>

#include <memory>

using namespace Profiler;

namespace {

constexpr int kFunctionLines = 400;

QStringList MakeSource(int lines)
{
    QStringList text;
    text.reserve(lines);
    for (int line = 0; line < lines; ++line) {
        switch (line % 4) {
        case 0:
            text.push_back(QStringLiteral("    // step %1 of the work, with \"quoted\" text").arg(line));
            break;
        case 1:
            text.push_back(
                QStringLiteral("    for (int i = 0; i < count; ++i) total += values[i] * %1;").arg(line));
            break;
        case 2:
            text.push_back(
                QStringLiteral("    std::vector<uint64_t> copy = Transform(values, %1);").arg(line));
            break;
        default:
            text.push_back(QStringLiteral("    if (total > limit) return Finish(total, \"done\");"));
        }
    }
    return text;
}

/// A function over kFunctionLines lines from the middle of a file of `fileLines`, each with own
/// time and every fourth with a callee that waited.
std::shared_ptr<FunctionTimingInfo> MakeTiming(std::shared_ptr<FunctionData>& data, int fileLines)
{
    const int firstLine = fileLines / 2;
    data = std::make_shared<FunctionData>();
    data->mResult = EResolveFunctionDataResult::SourceFoundNoChecksum;
    auto lines = std::make_shared<FunctionLineData>();
    auto info = std::make_shared<FunctionTimingInfo>();
    for (int i = 0; i < kFunctionLines; ++i) {
        const uint64_t address = 0x1000 + static_cast<uint64_t>(i) * 0x10;
        lines->mAddressToLineMap.mResolvedLines.push_back({address, firstLine + i});
        info->AddTime({address, false}, 1.0 + (i % 7), static_cast<uint8_t>(EThreadState::Executing));
        if (i % 4 == 0) {
            info->AddTime({address + 8, true}, 2.0, static_cast<uint8_t>(EThreadState::Executing));
            info->AddTime({address + 8, true}, 1.0, static_cast<uint8_t>(EThreadState::IO));
        }
    }
    lines->mAddressToLineMap.mResolvedLines.push_back({0x1000 + kFunctionLines * 0x10, 0});
    info->LineData = lines;
    MapAddressesToLines(*info, LineDataAddressMap(lines));
    info->TotalTime = GetTimeOnLines(*info) * 1.1;
    info->Data = data;
    return info;
}

struct Panel {
    explicit Panel(int lines) : Source(MakeSource(lines))
    {
        Timing = MakeTiming(Data, lines);
        Editor.resize(1200, 800);
        Editor.show();
        QCoreApplication::processEvents();
    }
    void SetText()
    {
        const QString text = Source.join(QLatin1Char('\n'));
        Editor.SetSourceDocument(BuildSourceDocument(ESourceViewMode::Source, *Data, nullptr, Source),
                                 ScanSourceSpans(text), QStringLiteral("work.cpp"));
    }
    /// False when the hottest line is not on screen afterwards: the figure would be meaningless.
    [[nodiscard]] bool ShowTiming()
    {
        Editor.SetTiming(Timing, Data.get());
        const bool moved = Editor.GoToHottestLine();
        Paint();
        return moved && Editor.textCursor().blockNumber() == Editor.GetTimingTable().GetHottestBlock() &&
               Editor.viewport()->rect().contains(Editor.cursorRect().center());
    }
    void Paint()
    {
        QCoreApplication::processEvents();
        Editor.repaint();
    }

    QStringList Source;
    std::shared_ptr<FunctionData> Data;
    std::shared_ptr<FunctionTimingInfo> Timing;
    SourceTextEdit Editor;
};

// Text and spans already set while the timing was computed; the timing arrives.
void BM_TimingToPaintedEditor(benchmark::State& state)
{
    Panel panel(static_cast<int>(state.range(0)));
    panel.SetText();
    panel.Paint();
    for (auto _ : state) {
        panel.Editor.SetTiming(nullptr, nullptr);
        if (!panel.ShowTiming())
            state.SkipWithError("the hottest line is not shown");
    }
}
BENCHMARK(BM_TimingToPaintedEditor)->Arg(20'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Everything on the user interface thread at once: the file's text, its spans, the timing.
void BM_FileAndTimingToPaintedEditor(benchmark::State& state)
{
    Panel panel(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        panel.SetText();
        if (!panel.ShowTiming())
            state.SkipWithError("the hottest line is not shown");
    }
}
BENCHMARK(BM_FileAndTimingToPaintedEditor)
    ->Arg(20'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// One frame of scrolling by a page through coloured, timed text: the same for both sizes.
void BM_ScrollFrame(benchmark::State& state)
{
    Panel panel(static_cast<int>(state.range(0)));
    panel.SetText();
    if (!panel.ShowTiming())
        state.SkipWithError("the hottest line is not shown");
    QScrollBar* bar = panel.Editor.verticalScrollBar();
    int step = bar->pageStep();
    for (auto _ : state) {
        if (bar->value() + step > bar->maximum() || bar->value() + step < 0)
            step = -step;
        bar->setValue(bar->value() + step);
        panel.Paint();
    }
}
BENCHMARK(BM_ScrollFrame)->Arg(2'000)->Arg(20'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the parts cost: the scan of strings and comments (a job's work in the panel) and a
// plain editor taking the same text (the floor for setting it at all).
void BM_ScanSpans(benchmark::State& state)
{
    const QString text = MakeSource(static_cast<int>(state.range(0))).join(QLatin1Char('\n'));
    for (auto _ : state)
        benchmark::DoNotOptimize(ScanSourceSpans(text));
}
BENCHMARK(BM_ScanSpans)->Arg(20'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainEditorSetText(benchmark::State& state)
{
    const QString text = MakeSource(static_cast<int>(state.range(0))).join(QLatin1Char('\n'));
    QPlainTextEdit editor;
    editor.setLineWrapMode(QPlainTextEdit::NoWrap);
    editor.setReadOnly(true);
    editor.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    editor.resize(1200, 800);
    editor.show();
    for (auto _ : state) {
        editor.setPlainText(text);
        editor.setTextCursor(
            QTextCursor(editor.document()->findBlockByNumber(static_cast<int>(state.range(0)) / 2)));
        editor.centerCursor();
        QCoreApplication::processEvents();
        editor.repaint();
    }
}
BENCHMARK(BM_PlainEditorSetText)->Arg(20'000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
