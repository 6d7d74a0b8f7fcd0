#include "CallGraphPanelTestSupport.h"
#include "PluginApi/MessageTypes.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphFilterModel.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"
#include "ZivuDeverUdovIradir/CallGraph/TimeSlicePieChart.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "QtWidgets/ScrollableTreeView.h"

using namespace Profiler;
using PluginTests::FixtureNames;

namespace {

std::vector<std::string> MenuTexts(const QMenu& menu)
{
    std::vector<std::string> texts;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator())
            continue;
        texts.push_back(action->text().toStdString());
        if (action->menu())
            for (const std::string& text : MenuTexts(*action->menu()))
                texts.push_back("  " + text);
    }
    return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class CallGraphWidgetTest : public testing::Test, protected PluginTests::ViewHost {
protected:
    CallGraphWidgetTest()
    {
        Context.Model = reinterpret_cast<CaptureDocument*>(uintptr_t{0x1000}); // only an id here
        auto requester = std::make_unique<PluginTests::QueuedRequester>(nullptr, mNames);
        mRequester = requester.get();
        mView = MakeView(nullptr, nullptr, std::move(requester));
        mWidget = mView->GetCallGraphWidget();
        mWidget->resize(1200, 600);
    }

    /// Hands the view the graph of `text` as the answer to a range selection and waits until the
    /// panel shows it.
    void ShowGraph(const std::string& text, const CallGraphNode** root = nullptr)
    {
        auto graph = std::make_shared<CallGraph>();
        CallGraphTest::AddStacks(graph->GetRoot(), text, mNames->Names);
        ShowGraph(std::move(graph));
        if (root != nullptr)
            *root = &mView->GetCurrentCallGraph()->GetRoot();
    }
    void ShowGraph(std::shared_ptr<CallGraph> graph)
    {
        mRequester->NextGraph = std::move(graph);
        mView->RequestCallGraph({ThreadID{7}}, TimeRange{0, 10.0, 20.0}, false,
                                ERequestReason::RangeSelected);
        WaitForRebuild();
    }
    void WaitForRebuild()
    {
        QSignalSpy completed(mWidget, &CallGraphWidget::RebuildCompleted);
        ASSERT_TRUE(completed.wait(10000));
    }
    QModelIndex Row(const QString& name, const QModelIndex& parent = {}) const
    {
        return PluginTests::FindRow(*mWidget->GetProxy(), name, parent);
    }
    void Select(std::initializer_list<QModelIndex> rows)
    {
        QItemSelection selection;
        for (const QModelIndex& row : rows)
            selection.select(row, row);
        mWidget->GetTreeView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                                        QItemSelectionModel::Rows);
    }
    QAction* Action(const char* name) const
    {
        return mWidget->findChild<QAction*>(QString::fromLatin1(name));
    }

    std::shared_ptr<FixtureNames> mNames = std::make_shared<FixtureNames>();
    PluginTests::QueuedRequester* mRequester;
    std::unique_ptr<CallGraphView> mView;
    CallGraphWidget* mWidget;
};

constexpr const char* kFixture = R"(
main;work;leaf 3 samples=0x10:2
main;work 1 Sleep=2
main;idle 1
)";

} // namespace

TEST_F(CallGraphWidgetTest, ShowsANewGraphExpandedAndSelectedAndAnnouncesTheSelection)
{
    PluginTests::MessageRecorder capture(&Listeners);
    std::vector<std::pair<ESourceOrigin, ResolvedAddress>> shown;
    QObject::connect(
        mWidget, &CallGraphPanel::ShowSourceRequested, mWidget,
        [&shown](ESourceOrigin origin, ResolvedAddress function) { shown.emplace_back(origin, function); });
    ShowGraph(kFixture);

    const QModelIndex main = Row("main");
    ASSERT_TRUE(main.isValid());
    EXPECT_TRUE(mWidget->GetTreeView()->isExpanded(main));
    EXPECT_EQ(mWidget->GetTreeView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_TRUE(Action("mActionSetAsRoot")->isEnabled());

    ASSERT_FALSE(capture.Messages.empty());
    const Message& message = capture.Messages.back();
    EXPECT_EQ(message.GetName(), "CallGraphSelected");
    EXPECT_EQ(message.ReadStringArray("ResolvedFunctionNames"), std::vector<std::string>{"main"});
    EXPECT_EQ(message.ReadStringArray("ModuleNames"), std::vector<std::string>{"libfixture.so"});
    EXPECT_EQ(message.ReadDouble("StartTime"), 10.0);
    ASSERT_EQ(message.ReadFrameArrays("Callstack").size(), 1u);
    EXPECT_EQ(message.ReadFrameArrays("Callstack")[0],
              std::vector<ResolvedAddress>{mNames->Names.Get("main")});
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().first, ESourceOrigin::CallGraph);
    EXPECT_EQ(shown.back().second, mNames->Names.Get("main"));

    // Two rows, the second below the first: one call path each, and an indented copy.
    Select({main, Row("leaf")});
    EXPECT_EQ(capture.Messages.back().ReadFrameArrays("Callstack").size(), 2u);
    EXPECT_EQ(mWidget->SelectedRowsAsText().toStdString(),
              "  Function  Module         Inclusive (ms)  Exclusive (ms)\n"
              "---------------------------------------------------------\n"
              "  main      libfixture.so  7.00            0.00          \n"
              "     leaf   libfixture.so  3.00            2.00          ");
}

TEST_F(CallGraphWidgetTest, SetAsRootShowsTheRowAloneAndTheSameCommandClearsIt)
{
    ShowGraph(kFixture);
    Select({Row("work")});
    QSignalSpy rootChanged(mWidget, &CallGraphWidget::CustomRootChanged);
    Action("mActionSetAsRoot")->trigger();
    WaitForRebuild();
    ASSERT_EQ(rootChanged.size(), 1);
    EXPECT_EQ(rootChanged[0][0].value<ResolvedCallstack>().size(), 2u);

    ASSERT_EQ(mWidget->GetProxy()->rowCount(), 1);
    const QModelIndex work = mWidget->GetProxy()->index(0, 0);
    EXPECT_EQ(work.data().toString(), "work");
    EXPECT_TRUE(mWidget->GetTreeView()->isExpanded(work));

    Select({work});
    EXPECT_EQ(Action("mActionSetAsRoot")->toolTip(), "Clear custom root");
    const std::vector<std::string> menu = MenuTexts(*mWidget->BuildContextMenu());
    EXPECT_TRUE(Contains(menu, "Clear custom root"));
    EXPECT_FALSE(Contains(menu, "Set as root"));

    Action("mActionSetAsRoot")->trigger();
    WaitForRebuild();
    EXPECT_TRUE(rootChanged.last()[0].value<ResolvedCallstack>().empty());
    EXPECT_EQ(mWidget->GetProxy()->index(0, 0).data().toString(), "main");
    // The rebuild kept the state: work is still the selected row.
    EXPECT_EQ(mWidget->SelectedSourceRows().size(), 1u);
    EXPECT_EQ(mWidget->SelectedSourceRows()[0].data().toString(), "work");

    // A root set elsewhere (the function list) is shown without being announced back.
    mWidget->OnCustomRootChanged(rootChanged[0][0].value<ResolvedCallstack>());
    WaitForRebuild();
    EXPECT_EQ(rootChanged.size(), 2);
    EXPECT_EQ(mWidget->GetProxy()->index(0, 0).data().toString(), "work");
}

TEST_F(CallGraphWidgetTest, HotPathFollowsTheFirstOfEqualChildrenToALeaf)
{
    ShowGraph("main;a;x 2\nmain;b;y 2\nmain;c 1");
    Select({Row("main")});
    mWidget->ExpandHotPath();
    EXPECT_TRUE(mWidget->GetTreeView()->isExpanded(Row("a")));
    EXPECT_FALSE(mWidget->GetTreeView()->isExpanded(Row("b")));

    Select({Row("main")});
    mWidget->ExpandAllChildren();
    EXPECT_TRUE(mWidget->GetTreeView()->isExpanded(Row("b")));
}

TEST_F(CallGraphWidgetTest, FoldsAndUnfoldsRecursionFromTheMenu)
{
    ShowGraph("main;rec;rec;rec;leaf 1\nmain;rec;other 1");
    const QModelIndex rec = Row("rec");
    Select({rec});
    std::unique_ptr<QMenu> menu = mWidget->BuildContextMenu();
    ASSERT_TRUE(Contains(MenuTexts(*menu), "Fold recursion"));
    EXPECT_TRUE(rec.data(CallGraphRoles::RecursionIcon).isValid());

    mWidget->FoldRecursion(rec);
    WaitForRebuild();
    EXPECT_EQ(mWidget->GetRecursionRoots().size(), 1u);
    // The nested calls now sit beside the outermost one, merged with it.
    const QModelIndex folded = Row("rec");
    EXPECT_TRUE(MergedCallGraphTreeModel::IsFolded(*CallGraphTreeModel::NodeOf(folded)));
    EXPECT_FALSE(Row("rec", folded).isValid());
    Select({folded});
    EXPECT_TRUE(Contains(MenuTexts(*mWidget->BuildContextMenu()), "Unfold recursion"));

    mWidget->UnfoldRecursion(folded);
    WaitForRebuild();
    EXPECT_TRUE(mWidget->GetRecursionRoots().empty());
    EXPECT_TRUE(Row("rec", Row("rec")).isValid());
}

TEST_F(CallGraphWidgetTest, TheUnrootedStacksRowOffersNoNameModuleOrSymbolEntries)
{
    auto graph = std::make_shared<CallGraph>();
    CallGraphTest::AddStack(graph->GetRoot(), {{ResolvedAddress::UnrootedStacks()}, {mNames->Names.Get("f")}},
                            {0, 1});
    CallGraphTest::AddStacks(graph->GetRoot(), "main 2", mNames->Names);
    ShowGraph(graph);

    Select({Row("main")});
    std::vector<std::string> menu = MenuTexts(*mWidget->BuildContextMenu());
    EXPECT_TRUE(Contains(menu, "  Copy Name"));
    EXPECT_TRUE(Contains(menu, "Show Symbol Info"));
    std::vector<ResolvedAddress> symbolInfo;
    QObject::connect(mWidget, &CallGraphPanel::ShowSymbolInfoRequested, mWidget,
                     [&](const ResolvedAddress& function) { symbolInfo.push_back(function); });
    const std::unique_ptr<QMenu> mainMenu = mWidget->BuildContextMenu();
    for (QAction* action : mainMenu->actions())
        if (action->text() == "Show Symbol Info")
            action->trigger();
    EXPECT_EQ(symbolInfo, std::vector<ResolvedAddress>{mNames->Names.Get("main")});

    Select({Row("[Unrooted Stacks]")});
    menu = MenuTexts(*mWidget->BuildContextMenu());
    EXPECT_FALSE(Contains(menu, "  Copy Name"));
    EXPECT_FALSE(Contains(menu, "  Copy Module"));
    EXPECT_TRUE(Contains(menu, "  Copy Callstack"));
    EXPECT_FALSE(Contains(menu, "Show Symbol Info"));

    Select({Row("main"), Row("[Unrooted Stacks]")});
    EXPECT_EQ(MenuTexts(*mWidget->BuildContextMenu()),
              (std::vector<std::string>{"Copy", "Expand hot path", "Expand all children"}));
}

TEST_F(CallGraphWidgetTest, SecondsModeIsSavedAtOnceAndRelabelsTheTimeColumns)
{
    ShowGraph(kFixture);
    mWidget->findChild<QComboBox*>("mTimeModeComboBox")->setCurrentIndex(1);
    EXPECT_EQ(GraphSettings.GetCallGraphTimeDisplayMode(), ECallGraphTimeDisplayMode::Seconds);
    EXPECT_TRUE(std::filesystem::exists(Directory.GetPath() / kCallGraphSettingsFileName));
    EXPECT_EQ(mWidget->GetProxy()->headerData(2, Qt::Horizontal).toString(), "Inclusive (s)");
    EXPECT_EQ(Row("main").siblingAtColumn(2).data().toString(), "0.01");
}

TEST_F(CallGraphWidgetTest, FindRevealsTheLatestMatchesAndSurvivesARebuild)
{
    ShowGraph(kFixture);
    QSignalSpy found(mWidget, &CallGraphWidget::FindCompleted);
    // The visit runs on a job: a newer find drops the older one's result.
    mWidget->ApplyFind("idle");
    mWidget->ApplyFind("LEAF");
    ASSERT_TRUE(found.wait(10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(found.size(), 1);
    const QModelIndex leaf = Row("leaf");
    ASSERT_TRUE(leaf.isValid());
    EXPECT_FALSE(Row("idle").isValid());
    EXPECT_TRUE(mWidget->GetTreeView()->isExpanded(leaf.parent()));
    EXPECT_EQ(mWidget->SelectedSourceRows()[0].data().toString(), "leaf");

    // A rebuild of the same graph runs the find again with the fold and merge, so the tree
    // arrives filtered.
    Select({Row("main")});
    Action("mActionSetAsRoot")->trigger();
    WaitForRebuild();
    EXPECT_TRUE(Row("leaf").isValid());
    EXPECT_FALSE(Row("idle").isValid());
    EXPECT_EQ(mWidget->GetFindState().GetMatches().size(), 1u);

    mWidget->ApplyFind({});
    EXPECT_TRUE(Row("idle").isValid());
}

TEST_F(CallGraphWidgetTest, PieChartNavigatesIntoACalleeAndBack)
{
    ShowGraph(kFixture);
    mWidget->show();
    QCoreApplication::processEvents();
    Select({Row("main")});
    TimeSlicePieChartControl* chart = mWidget->GetPieChart();
    ASSERT_TRUE(chart->isVisible());
    // main: work 6 ms (86 %), idle 1 ms (14 %), no self time.
    ASSERT_EQ(chart->GetSlices().size(), 2u);
    EXPECT_EQ(chart->GetSlices()[0].Label, "work");

    QTest::mouseClick(chart, Qt::LeftButton, {}, chart->SliceCentre(0));
    ASSERT_EQ(mWidget->SelectedSourceRows().size(), 1u);
    EXPECT_EQ(mWidget->SelectedSourceRows()[0].data().toString(), "work");
    EXPECT_TRUE(chart->GetSlices()[0].IsSelf() || chart->GetSlices()[0].Label == "leaf");

    QTest::mouseClick(chart, Qt::RightButton, {}, chart->SliceCentre(0));
    EXPECT_EQ(mWidget->SelectedSourceRows()[0].data().toString(), "main");

    // Hiding the chart is remembered.
    Action("mActionChangePieChartVisibility")->trigger();
    EXPECT_FALSE(GraphSettings.IsPieChartVisible());
    EXPECT_FALSE(chart->isVisible());
}
