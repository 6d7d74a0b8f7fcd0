#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CallGraphPanelTestSupport.h"
#include "Importers/PerfCaptureImporter.h"
#include "PluginApi/MessageTypes.h"
#include "Support/Paths.h"
#include "Theming/ApplicationTheme.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"
#include "ZivuDeverUdovIradir/Source/SourceTextEdit.h"
#include "ZivuDeverUdovIradir/SourceWidget.h"
#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <future>

using namespace Profiler;

namespace {

/// The demo function named `name`, or with no name the one with the most own time, as the
/// function list ranks it.
ResolvedAddress DemoFunction(CaptureDocument& document, std::shared_ptr<const CallGraph> graph,
                             std::string_view name = {})
{
    CaptureQueries queries(document, MakeInlineExecutor());
    std::promise<FunctionListResult> promise;
    FunctionListRequest request;
    request.Graph = std::move(graph);
    queries.SubmitFunctionList(request,
                               [&](FunctionListResult result) { promise.set_value(std::move(result)); });
    const FunctionListResult result = promise.get_future().get();
    EXPECT_EQ(result.Outcome, EQueryOutcome::Graph) << result.Errors.ToString();
    const FunctionListItem* hottest = nullptr;
    for (std::size_t i = 0; result.Data && i < result.Data->Items.size(); ++i)
        if (result.Data->DisplayRecords[i].ModuleName == "demo" &&
            (name.empty() ? hottest == nullptr || result.Data->Items[i]->Exclusive > hottest->Exclusive
                          : result.Data->DisplayRecords[i].FunctionName == name))
            hottest = result.Data->Items[i].get();
    EXPECT_NE(hottest, nullptr);
    return hottest ? hottest->Function : ResolvedAddress{};
}

} // namespace

TEST(SourceViewApp, TheDemosHottestFunctionShowsItsSourceWithPerLineTime)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The recording's addresses are those of the demo of a plain build; a sanitizer build's
    // demo has other code at them, so its lines cannot stand in.
    GTEST_SKIP() << "the demo recording matches only a build without sanitizers";
#endif
    PluginTests::ViewHost host;
    const std::filesystem::path capture = host.Directory / "demo";
    PerfImportStats stats;
    std::string problems;
    Serialization::ErrorList errors;
    ASSERT_TRUE(PerfCaptureImporter::Import(
        (TestSupport::SourceDirectory() / "Demo" / "demo-recording.txt.gz").string(), capture, {}, stats,
        problems, errors))
        << errors.ToString();
    CaptureDocument document;
    ASSERT_TRUE(document.Open(capture, errors)) << errors.ToString();
    ASSERT_NE(document.Process([](double) { return true; }, errors), CaptureDocument::EProcessResult::Failed);

    host.Context.Model = &document;
    const std::unique_ptr<CallGraphView> made = host.MakeView(nullptr, &document.GetSession());
    CallGraphView& view = *made;
    view.OnMessage(Message(MessageTypes::SessionOpened()));
    QTRY_VERIFY_WITH_TIMEOUT(view.GetCurrentCallGraph() != nullptr, 60000);
    const ResolvedAddress hottest = DemoFunction(document, view.GetCurrentCallGraph());

    SourceWidget& source = *view.GetSourceWidget();
    // The recording names the demo where it was built; this build's demo stands in for it.
    SymbolSearchOptions options;
    options.LocalFolders.push_back((TestSupport::BinaryDirectory() / "Demo").string());
    source.SetSymbolSearchOptions(options);
    std::vector<QString> messages;
    source.SetMessageSink([&](const QString& text) { messages.push_back(text); });
    QSignalSpy shown(&source, &SourceWidget::TimingShown);
    emit view.GetCallGraphWidget()->ShowSourceRequested(ESourceOrigin::CallGraph, hottest);
    ASSERT_TRUE(shown.wait(60000));

    EXPECT_EQ(source.windowTitle(), QStringLiteral("Source and Disassembly (CallGraph)"));
    const std::shared_ptr<const FunctionData>& data = source.GetFunctionData();
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(HasSourceFile(data->mResult)) << data->mErrorMessage;
    EXPECT_EQ(std::filesystem::path(data->mResolvedSourcePath).filename(), "Demo.cpp");

    // The whole file is shown, the hottest line is current, and the lines never hold more time
    // than the function.
    const SourceTextEdit& editor = *source.GetTextEdit();
    EXPECT_EQ(editor.blockCount(), ReadSourceLines(QString::fromStdString(data->mResolvedSourcePath)).size());
    const SourceTimingTable& table = editor.GetTimingTable();
    ASSERT_GT(table.GetFunctionTotal(), 0.0);
    ASSERT_GE(table.GetHottestBlock(), 0);
    EXPECT_EQ(editor.textCursor().blockNumber(), table.GetHottestBlock());
    EXPECT_LE(table.GetTimeOnLines(), table.GetFunctionTotal() * (1 + 1e-9));
    EXPECT_GT(table.GetTimeOnLines(), 0.0);
    EXPECT_GT(source.property("timedLineCount").toULongLong(), 0u);
    EXPECT_TRUE(messages.empty());

    // A new selection's graph times the function again and leaves the reader where they were.
    source.GetTextEdit()->GoToBlock(0, false);
    source.SetCallGraph(view.GetCallGraphWidget()->GetParameters(), view.GetCurrentCallGraph());
    ASSERT_TRUE(shown.wait(60000));
    EXPECT_EQ(editor.textCursor().blockNumber(), 0);
    EXPECT_GT(editor.GetTimingTable().GetTimeOnLines(), 0.0);

    // Behind another panel of a shown window, the panel times nothing until it is shown.
    QWidget* const parent = source.parentWidget();
    QWidget window;
    source.setParent(&window);
    window.show();
    source.hide();
    source.SetCallGraph(view.GetCallGraphWidget()->GetParameters(), view.GetCurrentCallGraph());
    EXPECT_FALSE(shown.wait(300));
    source.show();
    ASSERT_TRUE(shown.wait(60000));
    source.setParent(parent);

    // In the disassembly the calls carry their callees' time.
    source.SetViewMode(ESourceViewMode::DisassemblyWithSource);
    double calleeTimeOnCalls = 0.0;
    for (int block = 0; block < editor.blockCount(); ++block)
        if (const SourceCost* cost = editor.GetTimingTable().GetCost(block);
            cost != nullptr && editor.GetSourceDocument().IsInstruction(block))
            calleeTimeOnCalls += cost->CalleeTime;
    EXPECT_GT(calleeTimeOnCalls, 0.0);
    source.SetViewMode(ESourceViewMode::Source);

    // scripts/screenshots.sh takes the panel's pictures for the documentation from this state.
    if (qEnvironmentVariableIsSet("QX_SOURCE_SCREENSHOTS")) {
        const QString directory = qEnvironmentVariable("QX_SOURCE_SCREENSHOTS");
        const QPalette original = QApplication::palette();
        source.resize(1100, 700);
        source.show();
        for (const EThemeType theme : {EThemeType::Light, EThemeType::Dark}) {
            QApplication::setPalette(ApplicationTheme::MakePalette(theme));
            QTest::qWait(200);
            source.grab().save(directory +
                               (theme == EThemeType::Light ? "/source-light.png" : "/source-dark.png"));
        }
        source.SetViewMode(ESourceViewMode::DisassemblyWithSource);
        QTest::qWait(200);
        source.grab().save(directory + "/source-disassembly-dark.png");
        // The function list with a locking thread's function, its callers and callees.
        TopExclusiveWidget& list = *view.GetTopExclusiveWidget();
        QSignalSpy butterfly(&list, &TopExclusiveWidget::BuildButterflyCompleted);
        list.SelectFunction(
            DemoFunction(document, view.GetCurrentCallGraph(), "(anonymous namespace)::LockWorker"));
        if (butterfly.wait(60000)) {
            list.resize(900, 700);
            list.show();
            QTest::qWait(200);
            list.grab().save(directory + "/function-list-dark.png");
        }
        QApplication::setPalette(original);
    }
}
