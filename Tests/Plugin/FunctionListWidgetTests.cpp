#include "CallGraphModel/Butterfly.h"
#include "CallGraphPanelTestSupport.h"
#include "PluginApi/MessageTypes.h"
#include "PluginApi/ThreadSelectionSource.h"
#include "ProfilerLibUI/FindLineEdit.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "System/JobScheduler.h"
#include "ZivuDeverUdovIradir/FunctionList/ButterflyTreeModel.h"
#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"
#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTest>

using namespace Profiler;
using PluginTests::MakeGraph;

namespace {

// F recurses through G; M and N both call it. Called by F, G and H run.
constexpr const char* kRecursiveGraph = "M;F;G;F 5 samples=0x10:5\n"
                                        "M;F 2 samples=0x10:2\n"
                                        "N;F;H 3 samples=0x10:3\n"
                                        "N;Fx 1 samples=0x10:1\n";

class FunctionListWidgetTest : public testing::Test, protected PluginTests::ViewHost {
protected:
    FunctionListWidgetTest()
    {
        Context.Model = reinterpret_cast<CaptureDocument*>(uintptr_t{0x1000}); // only an id here
        // The view's own requests are never answered: the tests hand graphs to the panel directly.
        mView = MakeView(nullptr, nullptr, std::make_unique<PluginTests::HeldRequester>());
        mListener = std::make_unique<PluginTests::MessageRecorder>(&Listeners, Context.GetListenerId());
        mWidget = mView->GetTopExclusiveWidget();
        mWidget->SetContext({&mScheduler, &Manager, mNames, 1.0});
        mWidget->resize(900, 700);
    }
    ~FunctionListWidgetTest() override
    {
        mListener.reset();
        mView.reset();
        // Results still queued for the gone widget are dropped here, before the manager goes.
        mScheduler.CancelAndWait(System::ECancelMode::Group, {});
        QCoreApplication::processEvents();
    }

    void ShowGraph(const char* stacks, int32_t depth = 0)
    {
        QSignalSpy built(mWidget, &TopExclusiveWidget::BuildListCompleted);
        CallGraphInputParameters parameters;
        parameters.ThreadIDs = {ThreadID{4}, ThreadID{6}};
        parameters.StartTime = 1.0;
        parameters.EndTime = 9.0;
        parameters.Depth = depth;
        mWidget->SetCallGraph(parameters, MakeGraph(stacks, *mNames));
        ASSERT_TRUE(built.wait(5000));
        ASSERT_EQ(built.back().at(0).toBool(), false);
    }
    /// Selects the rows whose function names are given (in the proxy's order).
    void SelectNames(const QStringList& names)
    {
        QAbstractItemModel* proxy = mWidget->GetListView()->model();
        QItemSelection selection;
        for (int row = 0; row < proxy->rowCount(); ++row)
            if (names.contains(proxy->index(row, 0).data().toString()))
                selection.select(proxy->index(row, 0), proxy->index(row, 5));
        mWidget->GetListView()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    QStringList Rows(QAbstractItemModel* model, int column, const QModelIndex& parent = {}) const
    {
        QStringList texts;
        for (int row = 0; row < model->rowCount(parent); ++row)
            texts << model->index(row, column, parent).data().toString();
        return texts;
    }
    ResolvedAddress Function(const char* name) const { return (*mNames)(name); }
    QString ButterflyLabel() const
    {
        return mWidget->findChild<QLabel*>(QStringLiteral("mEmptyButterflyLabel"))->text();
    }
    bool ButterflyShown() const
    {
        auto* stack = mWidget->findChild<QStackedWidget*>(QStringLiteral("mButterflyWidgetStack"));
        return stack->currentWidget()->objectName() == QStringLiteral("mButterflyPage");
    }

    std::shared_ptr<PluginTests::FixtureNames> mNames = std::make_shared<PluginTests::FixtureNames>(true);
    System::JobScheduler mScheduler{2};
    std::unique_ptr<CallGraphView> mView;
    std::unique_ptr<PluginTests::MessageRecorder> mListener;
    TopExclusiveWidget* mWidget = nullptr;
};

} // namespace

TEST_F(FunctionListWidgetTest, SelectingAFunctionBuildsItsButterflyAndTellsTheOthers)
{
    ShowGraph(kRecursiveGraph);
    QAbstractItemModelTester tester(mWidget->GetListView()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    // Sorted by inclusive time, largest first; F's recursion counts once.
    EXPECT_EQ(Rows(mWidget->GetListView()->model(), 0).mid(0, 2), (QStringList{"F", "M"}));
    EXPECT_EQ(mWidget->GetListView()->model()->index(0, 2).data().toString(), "10.00");

    std::vector<std::pair<ESourceOrigin, ResolvedAddress>> source;
    QObject::connect(
        mWidget, &CallGraphPanel::ShowSourceRequested,
        [&source](ESourceOrigin origin, ResolvedAddress function) { source.emplace_back(origin, function); });
    QSignalSpy butterfly(mWidget, &TopExclusiveWidget::BuildButterflyCompleted);
    SelectNames({"F"});
    ASSERT_TRUE(butterfly.wait(5000));
    EXPECT_FALSE(butterfly.back().at(0).toBool());
    ASSERT_TRUE(ButterflyShown());

    // Called By: F on top with its whole inclusive time, then who reached it.
    QAbstractItemModel* calledBy = mWidget->GetCalledByView()->model();
    ASSERT_NE(calledBy, nullptr);
    QAbstractItemModelTester calledByTester(calledBy, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(Rows(calledBy, 0), QStringList{"F"});
    EXPECT_EQ(calledBy->index(0, 2).data().toString(), "10.00");
    const QModelIndex top = calledBy->index(0, 0);
    EXPECT_EQ(Rows(calledBy, 0, top), (QStringList{"G", "N", "M"}));
    EXPECT_EQ(Rows(calledBy, 2, top), (QStringList{"5.00", "3.00", "2.00"}));
    // A caller's own time says nothing about F: the pane never shows Exclusive.
    EXPECT_FALSE(mWidget->GetCalledByView()->GetVisibleColumns().contains(3));
    EXPECT_TRUE(mWidget->GetListView()->GetVisibleColumns().contains(3));
    EXPECT_TRUE(mWidget->GetCallsView()->GetVisibleColumns().contains(3));

    QAbstractItemModel* calls = mWidget->GetCallsView()->model();
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(Rows(calls, 0), QStringList{"F"});
    // Calls: the recursion through G folds back onto F, which leaves G none of its time.
    EXPECT_EQ(calls->index(0, 2).data().toString(), "10.00");
    const QModelIndex callsTop = calls->index(0, 0);
    EXPECT_EQ(Rows(calls, 0, callsTop), (QStringList{"H", "G"}));
    EXPECT_EQ(Rows(calls, 2, callsTop), (QStringList{"3.00", "0.00"}));

    ASSERT_EQ(source.size(), 1u);
    EXPECT_EQ(source.front().first, ESourceOrigin::FunctionList);
    EXPECT_EQ(source.front().second, Function("F"));

    ASSERT_FALSE(mListener->Messages.empty());
    const Message& message = mListener->Messages.back();
    EXPECT_EQ(message.GetName(), "TopExclusiveSelected");
    EXPECT_EQ(message.ReadInt32Array("ThreadIDs"), (std::vector<int32_t>{4, 6}));
    EXPECT_EQ(message.ReadDouble("EndTime"), 9.0);
    EXPECT_EQ(message.ReadFrameArray("Frames"), std::vector<ResolvedAddress>{Function("F")});
    EXPECT_EQ(message.ReadStringArray("ResolvedFunctionNames"), std::vector<std::string>{"F"});
    EXPECT_EQ(message.ReadStringArray("ModuleNames"), std::vector<std::string>{"libF.so.1"});

    // Navigating from a caller selects its own entry.
    mWidget->SelectFunction(Function("N"));
    EXPECT_EQ(mWidget->GetSelectedListRows().size(), 1u);
    EXPECT_EQ(mWidget->GetListModel()->GetRows()[mWidget->GetSelectedListRows().front()].Name, "N");
}

TEST_F(FunctionListWidgetTest, SeveralOrNoSelectedRowsEmptyTheButterfly)
{
    ShowGraph(kRecursiveGraph);
    auto* copy = mWidget->findChild<QAction*>(QStringLiteral("mActionCopyToClipboard"));
    EXPECT_FALSE(copy->isEnabled());
    EXPECT_EQ(ButterflyLabel(), "Select a function to view Called By/Calls");

    SelectNames({"F", "M"});
    EXPECT_FALSE(ButterflyShown());
    EXPECT_EQ(ButterflyLabel(), "Multiple functions selected");
    EXPECT_TRUE(copy->isEnabled());
    std::unique_ptr<QMenu> menu(mWidget->CreateListContextMenu());
    ASSERT_NE(menu, nullptr);
    QStringList titles;
    for (QAction* action : menu->actions())
        titles << action->text();
    EXPECT_FALSE(titles.contains("Copy Advanced"));
    EXPECT_TRUE(titles.contains("View Statistics"));
    EXPECT_TRUE(titles.contains("Show Symbol Info"));

    // The copied table holds the visible columns as shown, in the list's order.
    EXPECT_EQ(mWidget->GetSelectionText().toStdString(),
              "  Function  Module  Inclusive (ms)  Exclusive (ms)\n"
              "--------------------------------------------------\n"
              "  F         libF    10.00           7.00          \n"
              "  M         libM    7.00            0.00          ");

    SelectNames({"M"});
    menu.reset(mWidget->CreateListContextMenu());
    auto find = [](QMenu* in, const QString& title) -> QAction* {
        for (QAction* action : in->actions())
            if (action->text() == title)
                return action;
        return nullptr;
    };
    QAction* advanced = find(menu.get(), "Copy Advanced");
    ASSERT_NE(advanced, nullptr);
    // Times are copied as shown in the current mode.
    find(advanced->menu(), "Copy Inclusive Time")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "7.00");
    // The menu's requests go to the symbol dialog and, as a message, to the statistics.
    std::vector<ResolvedAddress> symbolInfo;
    QObject::connect(mWidget, &CallGraphPanel::ShowSymbolInfoRequested,
                     [&symbolInfo](ResolvedAddress function) { symbolInfo.push_back(function); });
    find(menu.get(), "Show Symbol Info")->trigger();
    EXPECT_EQ(symbolInfo, std::vector<ResolvedAddress>{Function("M")});
    find(menu.get(), "View Statistics")->trigger();
    EXPECT_EQ(mListener->Messages.back().GetName(), "ShowFunctionStatsFromFunctionList");

    mWidget->GetListView()->selectionModel()->clearSelection();
    EXPECT_EQ(ButterflyLabel(), "Select a function to view Called By/Calls");
    EXPECT_FALSE(copy->isEnabled());
    EXPECT_EQ(mWidget->CreateListContextMenu(), nullptr);
}

TEST_F(FunctionListWidgetTest, FindFiltersSelectsAndMovesWithinTheList)
{
    ShowGraph(kRecursiveGraph);
    FindLineEdit* find = mWidget->GetFindLineEdit();
    QTest::keyClicks(find, "F");
    // F and Fx contain it; the first becomes the selected row.
    EXPECT_EQ(Rows(mWidget->GetListView()->model(), 0), (QStringList{"F", "Fx"}));
    EXPECT_EQ(mWidget->GetSelectedListRows().size(), 1u);
    QTest::keyClick(find, Qt::Key_Up);
    EXPECT_EQ(mWidget->GetListView()->selectionModel()->currentIndex().row(), 0);
    QTest::keyClick(find, Qt::Key_Down);
    QTest::keyClick(find, Qt::Key_Down);
    EXPECT_EQ(mWidget->GetListView()->selectionModel()->currentIndex().row(), 1);
    EXPECT_EQ(mWidget->GetSelectedListRows().size(), 1u);

    // Selecting a function that the filter hides drops the filter.
    mWidget->SelectFunction(Function("H"));
    EXPECT_TRUE(find->text().isEmpty());
    EXPECT_EQ(mWidget->GetListView()->model()->rowCount(), 6);
    ASSERT_EQ(mWidget->GetSelectedListRows().size(), 1u);
    EXPECT_EQ(mWidget->GetListModel()->GetRows()[mWidget->GetSelectedListRows().front()].Name, "H");
    // A function that the list does not hold changes nothing.
    mWidget->SelectFunction(ResolvedAddress::Make(0x999, ResolvedAddress::kKindNative, 1));
    EXPECT_EQ(mWidget->GetListModel()->GetRows()[mWidget->GetSelectedListRows().front()].Name, "H");
}

TEST_F(FunctionListWidgetTest, TimeModeChangesTheShownTextsAndIsRemembered)
{
    ShowGraph(kRecursiveGraph);
    auto* combo = mWidget->findChild<QComboBox*>(QStringLiteral("mTimeModeComboBox"));
    ASSERT_NE(combo, nullptr);
    QAbstractItemModel* list = mWidget->GetListView()->model();
    combo->setCurrentIndex(1);
    EXPECT_EQ(list->headerData(2, Qt::Horizontal).toString(), "Inclusive (s)");
    EXPECT_EQ(list->index(0, 2).data().toString(), "0.01");
    EXPECT_EQ(GraphSettings.GetFunctionListTimeDisplayMode(), EFunctionListTimeDisplayMode::Seconds);
    combo->setCurrentIndex(2);
    EXPECT_EQ(list->headerData(2, Qt::Horizontal).toString(), "Inclusive");
    // 10 of the graph's 11 ms.
    EXPECT_EQ(list->index(0, 2).data().toString(), "91%");
}

TEST_F(FunctionListWidgetTest, NewestListWinsAndMinimumDepthApplies)
{
    ShowGraph(kRecursiveGraph);
    QSignalSpy built(mWidget, &TopExclusiveWidget::BuildListCompleted);
    CallGraphInputParameters parameters;
    // Both made before the first job can name functions on a worker.
    auto older = MakeGraph("A;B 1 samples=0x10:1", *mNames);
    auto newer = MakeGraph("X;Y 2 samples=0x10:2", *mNames);
    mWidget->SetCallGraph(parameters, older);
    // Nodes above the selected bar's depth are left out.
    parameters.Depth = 1;
    mWidget->SetCallGraph(parameters, newer);
    ASSERT_TRUE(built.wait(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(Rows(mWidget->GetListView()->model(), 0), QStringList{"Y"});
}

TEST_F(FunctionListWidgetTest, CustomRootLimitsTheListAndTheButterfly)
{
    ShowGraph(kRecursiveGraph);
    QSignalSpy built(mWidget, &TopExclusiveWidget::BuildListCompleted);
    mWidget->SetCustomRoot({Function("N")});
    ASSERT_TRUE(built.wait(5000));
    // M and G occur only outside N.
    EXPECT_EQ(Rows(mWidget->GetListView()->model(), 0), (QStringList{"N", "F", "H", "Fx"}));

    QSignalSpy butterfly(mWidget, &TopExclusiveWidget::BuildButterflyCompleted);
    SelectNames({"F"});
    ASSERT_TRUE(butterfly.wait(5000));
    QAbstractItemModel* calledBy = mWidget->GetCalledByView()->model();
    ASSERT_EQ(Rows(calledBy, 2), QStringList{"3.00"});
    EXPECT_EQ(Rows(calledBy, 0, calledBy->index(0, 0)), QStringList{"N"});
    EXPECT_EQ(mListener->Messages.back().ReadFrameArray("CustomRoot"),
              std::vector<ResolvedAddress>{Function("N")});
}

TEST_F(FunctionListWidgetTest, RowsOfALargeButterflyArriveWhenOpened)
{
    // F calls 200 functions that call 200 each: more than the butterfly job builds at once.
    std::string stacks;
    for (int a = 0; a < 200; ++a)
        for (int b = 0; b < 200; ++b)
            stacks += "M;F;A" + std::to_string(a) + ";B" + std::to_string(b) + " 1 samples=0x10:1\n";
    ShowGraph(stacks.c_str());
    QSignalSpy butterfly(mWidget, &TopExclusiveWidget::BuildButterflyCompleted);
    SelectNames({"F"});
    ASSERT_TRUE(butterfly.wait(5000));

    QtWidgets::ScrollableTreeView* view = mWidget->GetCallsView();
    auto* calls = qobject_cast<QSortFilterProxyModel*>(view->model());
    ASSERT_NE(calls, nullptr);
    const QModelIndex top = calls->index(0, 0);
    ASSERT_EQ(calls->rowCount(top), 200);
    std::vector<QPersistentModelIndex> leftOut;
    for (int row = 0; row < 200; ++row) {
        const QModelIndex callee = calls->index(row, 0, top);
        EXPECT_EQ(calls->index(row, 2, top).data().toString(), "200.00");
        EXPECT_TRUE(calls->hasChildren(callee));
        if (calls->canFetchMore(callee))
            leftOut.emplace_back(callee);
    }
    ASSERT_GT(leftOut.size(), 1u);
    const QPersistentModelIndex dropped = leftOut.back();
    leftOut.pop_back();
    // Opening them all at once: each row's children come from a job of their own.
    for (const QPersistentModelIndex& callee : leftOut)
        view->expand(callee);
    for (const QPersistentModelIndex& callee : leftOut) {
        QTRY_COMPARE_WITH_TIMEOUT(calls->rowCount(callee), 200, 10000);
        EXPECT_FALSE(calls->canFetchMore(callee));
        EXPECT_EQ(calls->index(0, 2, callee).data().toString(), "1.00");
    }

    // Rows still on their way when another function is selected are dropped with their model.
    view->expand(dropped);
    SelectNames({"A0"});
    ASSERT_TRUE(butterfly.wait(5000));
    QTest::qWait(100);
    calls = qobject_cast<QSortFilterProxyModel*>(view->model());
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(calls->index(0, 0).data().toString(), "A0");
    EXPECT_EQ(calls->rowCount(calls->index(0, 0)), 200);
}
