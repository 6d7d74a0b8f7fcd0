#include "CallGraphModel/FunctionList.h"
#include "CallGraphPanelTestSupport.h"
#include "ProfilerLibUI/FunctionList/FunctionListFormat.h"
#include "ProfilerLibUI/FunctionList/TextTable.h"
#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"
#include "ZivuDeverUdovIradir/ResultMailbox.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include <tuple>

using namespace Profiler;
using PluginTests::FixtureNames;

namespace {

std::shared_ptr<BuildListData> BuildList(const CallGraph& graph, const FixtureNames& names)
{
    auto data = std::make_shared<BuildListData>();
    std::atomic<bool> canceled{false};
    EXPECT_TRUE(BuildFunctionList(graph.GetRoot(), FunctionScope{}, data->Items, canceled));
    for (const auto& item : data->Items)
        data->DisplayRecords.push_back(
            {names.GetFunctionName(item->Function), names.GetModuleName(item->Function)});
    return data;
}

QStringList Column(const QAbstractItemModel& model, int column, int role = Qt::DisplayRole)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.index(row, column).data(role).toString();
    return texts;
}

} // namespace

TEST(FunctionListFormat, PercentagesRoundModuleNamesAndTablesPad)
{
    using U = EFunctionListTimeUnit;
    EXPECT_EQ(FormatFunctionListTime(1234.5678, 1.0, U::Seconds), "1.23");
    // Anything above nothing reads "<1%"; an empty graph has no 100 %.
    for (const auto& [time, total, text] :
         {std::tuple{0.4, 100.0, "<1%"}, {0.0, 100.0, "0%"}, {99.5, 100.0, "100%"}, {5.0, 0.0, "0%"}})
        EXPECT_EQ(FormatFunctionListTime(time, total, U::AbsolutePercentage), text) << time;

    EXPECT_EQ(GetModuleFileName("/usr/lib/libc.so.6"), "libc.so.6");
    EXPECT_EQ(GetModuleFileName("C:\\Windows\\ntdll.dll"), "ntdll.dll");
    for (const auto& [file, name] : {std::pair{"libc.so.6", "libc"},
                                     {"libstdc++.so.6.0.30", "libstdc++"},
                                     {"libfoo.so", "libfoo"},
                                     {"ext4.ko", "ext4"},
                                     {"vmlinux", "vmlinux"},
                                     {"python3.11", "python3.11"},
                                     {"libsoup-3.0.so.0", "libsoup-3.0"},
                                     {"[kernel.kallsyms]", "[kernel.kallsyms]"},
                                     {".so", ".so"}})
        EXPECT_EQ(GetModuleDisplayName(file), name) << file;
    // The tooltip breaks the time down only where some of it is unaccounted.
    EXPECT_EQ(FormatInclusiveTooltip(10.0, 0.0, 0.0), "10ms");
    const std::string both = FormatInclusiveTooltip(10.0, 1.0, 5.0);
    EXPECT_NE(both.find("<strong>Unknown Executing</strong></td><td align='right'>10% "), std::string::npos);
    EXPECT_NE(both.find("<strong>Unknown Wait</strong></td><td align='right'>50% "), std::string::npos);

    // Columns are as wide as their widest cell, counted in characters, not bytes.
    EXPECT_EQ(FormatTextTable({"Function", "Samples"}, {{"main", "12"}, {"   loop\xC2\xB5", "3"}}),
              "  Function  Samples\n"
              "-------------------\n"
              "  main      12     \n"
              "     loop\xC2\xB5  3      ");
}

class FunctionListModelTest : public testing::Test {
protected:
    // B is reached twice and recurses once; C has no samples of its own but sleeps.
    FixtureNames mNames{true};
    std::shared_ptr<CallGraph> mGraph = PluginTests::MakeGraph("A;B;B 4 samples=0x10:4\n"
                                                               "A;C Sleep=3\n"
                                                               "A;b 1 samples=0x10:1\n"
                                                               "D 2 samples=0x10:2\n",
                                                               mNames);
    std::shared_ptr<BuildListData> mData = BuildList(*mGraph, mNames);
    TopExclusiveViewModel mModel{mData, mGraph->GetTotalTime(), EFunctionListTimeDisplayMode::Milliseconds};
    QAbstractItemModelTester mTester{&mModel, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(FunctionListModelTest, ShowsEveryFunctionWithItsFiguresByMode)
{
    // Largest inclusive first, as the job produced them; B's recursion is counted once.
    EXPECT_EQ(Column(mModel, 0), (QStringList{"A", "B", "C", "D", "b"}));
    EXPECT_EQ(Column(mModel, 1), (QStringList{"libA", "libB", "libC", "libD", "libb"}));
    EXPECT_EQ(Column(mModel, 2), (QStringList{"8.00", "4.00", "3.00", "2.00", "1.00"}));
    EXPECT_EQ(Column(mModel, 3), (QStringList{"0.00", "4.00", "0.00", "2.00", "1.00"}));
    EXPECT_EQ(Column(mModel, 4), (QStringList{"0", "4", "0", "2", "1"}));
    EXPECT_TRUE(mModel.index(0, 5).data().isNull());
    EXPECT_EQ(mModel.headerData(0, Qt::Horizontal, Qt::InitialSortOrderRole).toInt(), Qt::DescendingOrder);
    EXPECT_EQ(mModel.index(2, 2).data(Qt::ToolTipRole).toString().contains("Unknown Wait"), true);
    const auto* times = static_cast<const double*>(
        mModel.index(1, 5).data(TopExclusiveViewModel::kStateTimesRole).value<void*>());
    ASSERT_NE(times, nullptr);
    EXPECT_EQ(times[static_cast<int>(EThreadState::Executing)], 4.0);

    mModel.setTimeDisplayMode(EFunctionListTimeDisplayMode::Seconds);
    EXPECT_EQ(mModel.index(0, 2).data().toString(), "0.01");
    mModel.setTimeDisplayMode(EFunctionListTimeDisplayMode::AbsolutePercentage);
    EXPECT_EQ(Column(mModel, 2), (QStringList{"80%", "40%", "30%", "20%", "10%"}));
}

TEST_F(FunctionListModelTest, FindFilterIgnoresCaseAndKeepsListOrder)
{
    mModel.setFilter("B");
    EXPECT_EQ(Column(mModel, 0), (QStringList{"B", "b"}));
    mModel.setFilter("zz");
    EXPECT_EQ(mModel.rowCount(), 0);
    mModel.setFilter("");
    EXPECT_EQ(Column(mModel, 0), (QStringList{"A", "B", "C", "D", "b"}));
    EXPECT_EQ(mModel.FindListRow(mNames("D")), 3u);
    EXPECT_EQ(mModel.FindListRow(mNames("Z")), ~0u);
}

TEST_F(FunctionListModelTest, SortsEveryColumnAndKeepsPersistentIndexes)
{
    const QPersistentModelIndex d = mModel.index(3, 0);
    mModel.sort(0, Qt::AscendingOrder);
    // Case-insensitive: B and b sort together, in list order.
    EXPECT_EQ(Column(mModel, 0), (QStringList{"A", "B", "b", "C", "D"}));
    EXPECT_EQ(d.row(), 4);
    EXPECT_EQ(d.data().toString(), "D");
    mModel.sort(2, Qt::AscendingOrder);
    EXPECT_EQ(Column(mModel, 0), (QStringList{"b", "D", "C", "B", "A"}));
    mModel.sort(3, Qt::DescendingOrder);
    EXPECT_EQ(Column(mModel, 0), (QStringList{"B", "D", "b", "A", "C"}));
    mModel.sort(4, Qt::DescendingOrder);
    EXPECT_EQ(Column(mModel, 4), (QStringList{"4", "2", "1", "0", "0"}));
    mModel.sort(1, Qt::DescendingOrder);
    EXPECT_EQ(Column(mModel, 1), (QStringList{"libD", "libC", "libB", "libb", "libA"}));
    // A filter keeps the sort order, and knows where each list row went.
    mModel.setFilter("b");
    EXPECT_EQ(Column(mModel, 0), (QStringList{"B", "b"}));
    mModel.sort(2, Qt::DescendingOrder);
    EXPECT_EQ(mModel.rowOfItem(4), 1u);
    EXPECT_EQ(mModel.rowOfItem(0), ~0u);
    mModel.sort(-1, Qt::AscendingOrder);
    mModel.setFilter("");
    EXPECT_EQ(Column(mModel, 0), (QStringList{"A", "B", "C", "D", "b"}));
}

TEST(FunctionListModel, UnnamedAndUnrootedFunctions)
{
    auto data = std::make_shared<BuildListData>();
    auto unnamed = std::make_unique<FunctionListItem>();
    unnamed->Function = ResolvedAddress::Make(0xABCDEF, ResolvedAddress::kKindNative, 2);
    auto unrooted = std::make_unique<FunctionListItem>();
    unrooted->Function = ResolvedAddress::UnrootedStacks();
    data->Items.push_back(std::move(unnamed));
    data->Items.push_back(std::move(unrooted));
    data->DisplayRecords = {{"", ""}, {"[Unrooted Stacks]", ""}};
    TopExclusiveViewModel model(data, 0.0, EFunctionListTimeDisplayMode::AbsolutePercentage);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.index(0, 0).data().toString(), "0xABCDEF");
    EXPECT_EQ(model.index(0, 0).data(Qt::ToolTipRole).toString(), "0xABCDEF");
    EXPECT_TRUE(model.index(1, 0).data(Qt::ToolTipRole).toString().contains("Unrooted stacks"));
    EXPECT_EQ(model.index(1, 2).data().toString(), "0%");
}

TEST(ResultMailbox, KeepsOnlyTheCurrentRequestsResultAndDropsTheRestAtOnce)
{
    // Counts the results alive: a dropped result must be gone when Post or Renew returns.
    struct Result {
        explicit Result(int& alive) : Alive(alive) { ++Alive; }
        ~Result() { --Alive; }
        int& Alive;
    };
    int alive = 0;
    ResultMailbox<Result> mailbox;
    const uint64_t first = mailbox.Renew();
    const uint64_t second = mailbox.Renew();
    EXPECT_FALSE(mailbox.IsCurrent(first));
    mailbox.Post(first, std::make_unique<Result>(alive));
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(mailbox.Take(first), nullptr);

    mailbox.Post(second, std::make_unique<Result>(alive));
    EXPECT_EQ(alive, 1);
    mailbox.Renew(); // a newer request drops the waiting result
    EXPECT_EQ(alive, 0);

    const uint64_t third = mailbox.Renew();
    mailbox.Post(third, std::make_unique<Result>(alive));
    std::unique_ptr<Result> taken = mailbox.Take(third);
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(mailbox.Take(third), nullptr); // taken once
}
