#include "CallGraphModel/FunctionTimingProcessor.h"
#include "CallGraphPanelTestSupport.h"
#include "PluginApi/MessageTypes.h"
#include "ZivuDeverUdovIradir/Source/SourceStatus.h"
#include "ZivuDeverUdovIradir/Source/SourceTextEdit.h"
#include "ZivuDeverUdovIradir/SourceWidget.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTextBlock>

#include <fstream>
#include <tuple>

using namespace Profiler;

namespace {

constexpr auto kExecuting = static_cast<uint8_t>(EThreadState::Executing);
constexpr auto kIO = static_cast<uint8_t>(EThreadState::IO);

/// A function of four instructions on lines 2 to 4: own time on the first, a call on line 3
/// whose callee waited for I/O, a trace of time on line 4, and a fifth of the total on no line.
struct TimingFixture {
    TimingFixture()
    {
        auto data = std::make_shared<FunctionData>();
        data->mResult = EResolveFunctionDataResult::SourceFoundNoChecksum;
        data->mDisassemblyResult = EDisassemblyResult::Success;
        data->mResolvedSourcePath = "/src/f.cpp";
        data->mInstructions = {{0, 0x10, 0x10, "push", "rbp", false},
                               {1, 0x20, 5, "call", "Callee", true},
                               {2, 0x25, 0xb, "mov", "eax, 1", false},
                               {3, 0x30, 0x10, "ret", "", false}};
        auto lines = std::make_shared<FunctionLineData>();
        lines->mAddressToLineMap.mResolvedLines = {{0x10, 2}, {0x20, 3}, {0x30, 4}, {0x40, 0}};
        Info.TotalTime = 100.0;
        Info.AddTime({0x10, false}, 50.0, kExecuting);
        Info.AddTime({0x25, true}, 10.0, kExecuting);
        Info.AddTime({0x25, true}, 20.0, kIO);
        Info.AddTime({0x30, false}, 0.05, kExecuting);
        Info.Data = data;
        Info.LineData = lines;
        MapAddressesToLines(Info, LineDataAddressMap(lines));
        Data = data;
    }

    std::shared_ptr<const FunctionTimingInfo> Shared() const
    {
        return std::make_shared<FunctionTimingInfo>(Info);
    }

    FunctionTimingInfo Info;
    std::shared_ptr<const FunctionData> Data;
    QStringList Source{QStringLiteral("int F()"), QStringLiteral("{"), QStringLiteral("    Callee();"),
                       QStringLiteral("    return 1;"), QStringLiteral("}")};
};

SourceStatusInput Selected(ESourceSelectionState selection, const FunctionData* data = nullptr)
{
    SourceStatusInput input;
    input.Selection = selection;
    input.Data = data;
    return input;
}

} // namespace

TEST(SourceStatus, OutcomesOfferTheirButtonsAndTheModeDecidesTitleAndPage)
{
    using R = EResolveFunctionDataResult;
    using D = EDisassemblyResult;
    // Browsing needs a source path to replace; resolving needs a symbol file or image to look for.
    const std::tuple<R, D, const char*, bool, bool> cases[] = {
        {R::PDBNotFound, D::Success, "", false, true},
        {R::SourceNotFound, D::Success, "/a.cpp", true, false},
        {R::SourceNotFound, D::ImageNotFound, "/a.cpp", true, true},
        {R::SourceFoundNoChecksum, D::Success, "/a.cpp", true, false},
        {R::SourceFound, D::Success, "/a.cpp", false, false},
        {R::CriticalError, D::NotDisassembled, "", false, false},
    };
    for (const auto& [result, disassembly, path, browse, resolve] : cases) {
        FunctionData data;
        data.mResult = result;
        data.mDisassemblyResult = disassembly;
        data.mOriginalSourcePath = path;
        const SourceStatus status = ComputeSourceStatus(Selected(ESourceSelectionState::OneFunction, &data));
        SCOPED_TRACE(static_cast<int>(result));
        EXPECT_EQ(status.Error0.isEmpty(), result == R::SourceFound);
        EXPECT_EQ(status.Browse0, browse);
        EXPECT_EQ(status.Resolve0, resolve);
        EXPECT_EQ(status.SourceActionsEnabled,
                  result >= R::SourceUnmatched && result <= R::SourceFoundNoChecksum);
    }

    FunctionData data;
    data.mResult = EResolveFunctionDataResult::SourceFoundInCache;
    data.mResolvedSourcePath = "/src/a.cpp";
    data.mDisassemblyResult = EDisassemblyResult::ImageNotFound;
    SourceStatusInput input{ESourceSelectionState::OneFunction,
                            &data,
                            ESourceViewMode::Disassembly,
                            true,
                            QStringLiteral("demo"),
                            QStringLiteral("Work")};
    SourceStatus status = ComputeSourceStatus(input);
    EXPECT_FALSE(status.Error1.isEmpty());
    EXPECT_TRUE(status.ShowEmptyPage);
    EXPECT_TRUE(status.FindEnabled);
    data.mDisassemblyResult = EDisassemblyResult::SuccessFromCache;
    status = ComputeSourceStatus(input);
    EXPECT_TRUE(status.Error1.isEmpty());
    EXPECT_FALSE(status.ShowEmptyPage);
    EXPECT_EQ(status.Title, QStringLiteral("Disassembly for demo!Work <b>[from cache]</b>"));

    // The source mode names the file and misses the line table.
    input.Mode = ESourceViewMode::Source;
    input.HasLineData = false;
    status = ComputeSourceStatus(input);
    EXPECT_EQ(status.Title, QStringLiteral("/src/a.cpp <b>[from cache]</b>"));
    EXPECT_FALSE(status.Error1.isEmpty());
}

TEST(SourceTiming, LinesAndInstructionsCarryTheirShareCalleesAndStates)
{
    const TimingFixture fixture;
    const SourceDocument source = BuildSourceDocument(ESourceViewMode::Source, *fixture.Data,
                                                      fixture.Info.LineData.get(), fixture.Source);
    const SourceTimingTable table(fixture.Info, fixture.Data.get(), source);
    ASSERT_NE(table.GetCost(1), nullptr);
    EXPECT_EQ(table.GetCost(0), nullptr);
    EXPECT_EQ(FormatShare(table.GetShare(*table.GetCost(1))), QStringLiteral("50.0%"));
    // Callee time sits on the line of the call, not on the line after it.
    EXPECT_DOUBLE_EQ(table.GetCost(2)->CalleeTime, 30.0);
    EXPECT_EQ(FormatShare(table.GetShare(*table.GetCost(3))), QStringLiteral("< 0.1%"));
    EXPECT_EQ(table.GetHottestBlock(), 1);
    EXPECT_NEAR(table.GetTimeOnLines(), 80.05, 1e-9);
    EXPECT_EQ(BuildWaitSummary(table.GetCost(2)->Entry), QStringLiteral("waits: IO 67%"));
    EXPECT_TRUE(BuildWaitSummary(table.GetCost(1)->Entry).isEmpty());

    EXPECT_TRUE(BuildFunctionTooltip(table, EThemeType::Light)
                    .contains(QStringLiteral("<br><br><b>19.95% (19ms 950µs)</b> unattributed time<br/>")));

    // Instructions: the call carries its callee, the interleaved source lines their line's time.
    const SourceDocument mixed = BuildSourceDocument(ESourceViewMode::DisassemblyWithSource, *fixture.Data,
                                                     fixture.Info.LineData.get(), fixture.Source);
    ASSERT_EQ(mixed.BlockCount, 7);
    EXPECT_EQ(mixed.Text.split(QLatin1Char('\n')).at(3), QStringLiteral("20  call         Callee"));
    EXPECT_EQ(mixed.GetSourceLine(2), 3);
    EXPECT_TRUE(mixed.IsInstruction(3));
    const SourceTimingTable instructions(fixture.Info, fixture.Data.get(), mixed);
    EXPECT_DOUBLE_EQ(instructions.GetCost(3)->CalleeTime, 30.0);
    EXPECT_DOUBLE_EQ(instructions.GetCost(2)->Entry.Total, 30.0);
    EXPECT_EQ(instructions.GetHottestBlock(), 1);
    EXPECT_NEAR(instructions.GetTimeOnLines(), 80.05, 1e-9);
    EXPECT_EQ(BuildSourceDocument(ESourceViewMode::Disassembly, *fixture.Data, nullptr, {}).BlockCount, 4);

    // A call site recorded as the byte before the return address lands on the call all the same.
    FunctionTimingInfo insideCall;
    insideCall.AddTime({0x24, true}, 7.0, kExecuting);
    EXPECT_DOUBLE_EQ(GetInstructionCost(insideCall, fixture.Data->mInstructions[1]).CalleeTime, 7.0);
    EXPECT_TRUE(GetInstructionCost(insideCall, fixture.Data->mInstructions[2]).IsEmpty());
}

TEST(SourceTextEdit, TooltipsCopyingAndFindFollowTheLines)
{
    const TimingFixture fixture;
    SourceTextEdit editor;
    editor.resize(600, 300);
    editor.show();
    editor.SetSourceDocument(
        BuildSourceDocument(ESourceViewMode::Source, *fixture.Data, nullptr, fixture.Source), {}, "f.cpp");
    editor.SetTiming(fixture.Shared(), fixture.Data.get());

    auto blockTop = [&](int block) {
        return editor.cursorRect(QTextCursor(editor.document()->findBlockByNumber(block))).center().y();
    };
    EXPECT_TRUE(editor.GetTooltipAt({10, blockTop(2)}).startsWith(QStringLiteral("<b>30.00%")));
    EXPECT_TRUE(editor.GetTooltipAt({10, blockTop(0)}).isEmpty());

    // Over a selection of several lines the tooltip sums them.
    QTextCursor cursor(editor.document()->findBlockByNumber(1));
    cursor.setPosition(editor.document()->findBlockByNumber(3).position() + 2, QTextCursor::KeepAnchor);
    editor.setTextCursor(cursor);
    EXPECT_TRUE(editor.GetTooltipAt({10, blockTop(2)})
                    .startsWith(QStringLiteral(
                        "Timing information for selected lines<b> [2-4]</b>:<br/><br/><b>80.05%")));
    EXPECT_EQ(editor.GetSelectionWithTiming(), QStringLiteral("50.00000% (50ms) 2 | {\n"
                                                              "30.00000% (30ms) 3 |     Callee();\n"
                                                              "0.05000% (50µs)  4 |     return 1;\n"));

    EXPECT_TRUE(editor.GoToHottestLine());
    EXPECT_EQ(editor.textCursor().blockNumber(), 1);

    editor.moveCursor(QTextCursor::Start);
    EXPECT_EQ(editor.Find(QStringLiteral("absent"), false),
              QStringLiteral("The following text was not found:\n\nabsent"));
    EXPECT_EQ(editor.textCursor().position(), 0);
    EXPECT_TRUE(editor.Find(QStringLiteral("Callee"), false).isEmpty());
    EXPECT_EQ(editor.textCursor().blockNumber(), 2);
    EXPECT_EQ(editor.Find(QStringLiteral("callee"), false),
              QStringLiteral("Find reached the starting point of the search"));
    EXPECT_EQ(editor.Find(QStringLiteral("return"), true), QString());
    EXPECT_EQ(editor.textCursor().blockNumber(), 3);
}

TEST(SourceWidget, ShowsEachStateAndKeepsTheCapturesMappings)
{
    PluginTests::ViewHost host;
    const std::unique_ptr<CallGraphView> made = host.MakeView();
    CallGraphView& view = *made;
    SourceWidget& source = *view.GetSourceWidget();
    auto* empty = source.findChild<QLabel*>(QStringLiteral("mEmptySourceLabel"));
    auto* error0 = source.findChild<QLabel*>(QStringLiteral("mErrorLabel0"));
    auto* resolve0 = source.findChild<QPushButton*>(QStringLiteral("mResolveButton0"));
    ASSERT_TRUE(empty && error0 && resolve0);
    EXPECT_EQ(empty->text(), QStringLiteral("Select a function to view source"));

    // Without a capture there is nothing to retrieve.
    Message frame(MessageTypes::StackFrameSelected());
    frame.WriteFrame("Frame", ResolvedAddress{0x1234, 0});
    frame.WriteInt32("State", 2);
    frame.WriteDouble("Duration", 3.0);
    view.OnMessage(frame);
    EXPECT_EQ(source.windowTitle(), QStringLiteral("Source and Disassembly (Thread Interaction)"));
    EXPECT_EQ(empty->text(), QStringLiteral("No source or disassembly available for selection"));
    source.ClearForSelectionStateReceivedHandler(2);
    EXPECT_EQ(empty->text(), QStringLiteral("Multiple functions selected"));

    // Function data and timing arriving for the selection: the page, the error line and the times.
    const TimingFixture fixture;
    source.ClearForSelectionStateReceivedHandler(1);
    auto retrieved = std::make_shared<RetrievedSource>();
    auto data = std::make_shared<FunctionData>(*fixture.Data);
    data->mResult = EResolveFunctionDataResult::PDBNotFound;
    retrieved->Data = data;
    source.FunctionDataReceivedHandler(retrieved);
    EXPECT_EQ(error0->text(),
              QStringLiteral("No matching symbol file was found - no source information available."));
    EXPECT_FALSE(resolve0->isHidden());
    source.SetViewMode(ESourceViewMode::Disassembly);
    source.FunctionTimingInfoReceivedHandler(new FunctionTimingInfo(fixture.Info), true);
    EXPECT_EQ(source.GetTextEdit()->blockCount(), 4);
    EXPECT_EQ(source.GetTextEdit()->textCursor().blockNumber(), 0); // the hottest instruction
    EXPECT_EQ(source.property("timedLineCount").toULongLong(), 3u);

    // Mappings learned for this capture are written with the view's state and read back.
    AdditionalSourceLocations mappings;
    mappings.AddLocation("/build/src/a.cpp", (host.Directory / "src" / "a.cpp").string());
    ASSERT_TRUE(
        SaveLocalSourceLocations(host.Directory / AdditionalSourceLocations::kLocalFileName, mappings));
    source.LoadState(host.Directory.GetPath(), &host.Registry);
    ASSERT_EQ(source.GetLocalSourceLocations().mLocations.size(), 1u);
    EXPECT_EQ(source.GetLocalSourceLocations().mLocations[0].mOriginalPathPrefix, "/build");

    std::ofstream(host.Directory / "other.json") << R"({"Objects": []})";
    Serialization::ErrorList errors;
    EXPECT_TRUE(
        LoadLocalSourceLocations(host.Directory / "other.json", host.Registry, errors).mLocations.empty());
    EXPECT_NE(errors.ToString().find("The file does not appear to be a SourceViewMappings file (missing "
                                     "AdditionalSourceLocations object)"),
              std::string::npos);
}
