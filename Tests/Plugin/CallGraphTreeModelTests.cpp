#include "CallGraphPanelTestSupport.h"
#include "ProfilerLibUI/CallGraph/CallGraphFigures.h"
#include "ProfilerLibUI/CallGraph/CallGraphFind.h"
#include "ProfilerLibUI/CallGraph/TimeDistribution.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphFilterModel.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

using namespace Profiler;
using PluginTests::FixtureGraphs;
using PluginTests::FixtureNames;
using PluginTests::MakeGraphs;

namespace {

// main spends 2 ms asleep in work; leaf was sampled twice but executed 3 ms.
constexpr const char* kWorkFixture = R"(
main;work;leaf 3 samples=0x10:2
main;work 1 Sleep=2
main;idle 0.03125
main;zero 0
)";

class CallGraphTreeModelTest : public testing::Test {
protected:
    std::unique_ptr<MergedCallGraphTreeModel>
    MakeModel(const std::string& text,
              ECallGraphTimeDisplayMode mode = ECallGraphTimeDisplayMode::Milliseconds)
    {
        mGraphs = MakeGraphs(text, mNames);
        std::vector<const CallGraphNode*> roots(mGraphs.Merged->GetRoot().Children.begin(),
                                                mGraphs.Merged->GetRoot().Children.end());
        auto model = std::make_unique<MergedCallGraphTreeModel>(mGraphs.Merged, mCache, EThemeType::Light,
                                                                roots, mode, 1.0);
        mTester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::Warning);
        return model;
    }

    /// Every row, depth first, as "name | column 1..4" with two blanks of indent per level.
    static std::string Dump(const QAbstractItemModel& model, const QModelIndex& parent = {}, int depth = 0)
    {
        std::string out;
        for (int row = 0; row < model.rowCount(parent); ++row) {
            const QModelIndex index = model.index(row, 0, parent);
            out += std::string(2 * depth, ' ') + index.data().toString().toStdString();
            for (int column = 1; column < 5; ++column)
                out += " | " + index.sibling(row, column).data().toString().toStdString();
            out += "\n" + Dump(model, index, depth + 1);
        }
        return out;
    }

    FixtureNames mNames;
    FunctionNameCache mCache{&mNames};
    FixtureGraphs mGraphs;
    std::unique_ptr<QAbstractItemModelTester> mTester;
};

} // namespace

TEST_F(CallGraphTreeModelTest, ShowsEveryColumnInEachTimeDisplayMode)
{
    auto model = MakeModel(kWorkFixture);
    EXPECT_EQ(Dump(*model), "main | libfixture.so | 6.03 | 0.00 | 0\n"
                            "  work | libfixture.so | 6.00 | 0.00 | 0\n"
                            "    leaf | libfixture.so | 3.00 | 2.00 | 2\n"
                            "  idle | libfixture.so | 0.03 | 0.00 | 0\n"
                            "  zero | libfixture.so | 0.00 | 0.00 | 0\n");
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::InitialSortOrderRole).toInt(), Qt::DescendingOrder);

    model->SetTimeDisplayMode(ECallGraphTimeDisplayMode::RelativePercentage);
    EXPECT_EQ(Dump(*model), "main | libfixture.so | 100% | 0% | 0\n"
                            "  work | libfixture.so | 99% | 0% | 0\n"
                            "    leaf | libfixture.so | 50% | 67% | 2\n"
                            "  idle | libfixture.so | <1% | 0% | 0\n"
                            "  zero | libfixture.so | 0% | 0% | 0\n");

    model->SetTimeDisplayMode(ECallGraphTimeDisplayMode::AbsolutePercentage);
    EXPECT_EQ(PluginTests::FindRow(*model, "leaf").siblingAtColumn(2).data().toString(), "50%");

    auto big = MakeModel("big 1234.5", ECallGraphTimeDisplayMode::Seconds);
    EXPECT_EQ(big->index(0, 2).data().toString(), "1.23");
}

TEST_F(CallGraphTreeModelTest, RolesAndTheFoldedRecursionSentence)
{
    auto model = MakeModel(kWorkFixture);
    const QModelIndex work = PluginTests::FindRow(*model, "work");
    const QModelIndex zero = PluginTests::FindRow(*model, "zero");
    EXPECT_EQ(model->rowCount(work.sibling(work.row(), 1)), 0);
    EXPECT_EQ(model->rowCount(work), 1);
    EXPECT_EQ(work.data(CallGraphRoles::Inclusive).toDouble(), 6.0);
    EXPECT_EQ(work.data(CallGraphRoles::ModulePath).toString(), "/usr/lib/libfixture.so");
    EXPECT_EQ(work.data(CallGraphRoles::Node), work.data(CallGraphRoles::NodeAlias));
    EXPECT_EQ(zero.data(Qt::ToolTipRole).toString(),
              "All time in this function has been folded into the root of the recursion");

    // Without instrumentation below, the exclusive tooltip is the duration alone.
    EXPECT_EQ(PluginTests::FindRow(*model, "leaf").siblingAtColumn(3).data(Qt::ToolTipRole).toString(),
              "2ms");
}

TEST_F(CallGraphTreeModelTest, ZonesCountAsSelfTimeOfTheirCallerAndUnrootedStacksExplainThemselves)
{
    auto model = MakeModel("main;!zone 2 samples=0x10:1\nmain 0 samples=0x20:1");
    const QModelIndex main = model->index(0, 0);
    EXPECT_EQ(main.data(CallGraphRoles::Exclusive).toDouble(), 1.0);
    EXPECT_TRUE(
        main.sibling(0, 3)
            .data(Qt::ToolTipRole)
            .toString()
            .contains(QLatin1String("Self Instrumentation</p></strong></td><td align='right'>100% ")));

    // Unrooted stacks explain themselves.
    mGraphs = FixtureGraphs{};
    CallGraphTest::AddStack(mGraphs.Full->GetRoot(),
                            {{ResolvedAddress::UnrootedStacks()}, {mNames.Names.Get("f")}}, {0, 1});
    CallGraphTreeModel unrooted(mGraphs.Full, mCache, EThemeType::Light,
                                {mGraphs.Full->GetRoot().Children[0]},
                                ECallGraphTimeDisplayMode::Milliseconds, 1.0);
    EXPECT_EQ(unrooted.index(0, 0).data(Qt::ToolTipRole).toString().toStdString(),
              UnrootedStacksTooltip(false));
    EXPECT_NE(std::string(UnrootedStacksTooltip(true)).find("best estimate"), std::string::npos);
}

TEST_F(CallGraphTreeModelTest, TheProxySortsEachColumnByItsFigures)
{
    auto model = MakeModel("a 1 Sleep=3 samples=0x10:9\nb 2.5 samples=0x10:10\nc 3 samples=0x10:2");
    CallGraphFindState noFind;
    CallGraphFilterModel proxy(noFind);
    proxy.setSourceModel(model.get());
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::Warning);
    auto order = [&](int column) {
        proxy.sort(column, Qt::DescendingOrder);
        std::string names;
        for (int row = 0; row < proxy.rowCount(); ++row)
            names += proxy.index(row, 0).data().toString().toStdString();
        return names;
    };
    EXPECT_EQ(order(2), "acb");
    EXPECT_EQ(order(3), "bca"); // 2.5, 2 and 1 ms
    EXPECT_EQ(order(5), "bca"); // by the executing share: 1, 1, 0.25; the tie keeps the last order
    EXPECT_EQ(order(4), "acb"); // the sample count compares as text: "9" > "2" > "10"
}

TEST_F(CallGraphTreeModelTest, FindKeepsMatchesTheirAncestorsAndTheirSubtrees)
{
    auto model = MakeModel("start;loop;MainLoop 1\nstart;other;x 1\nrender;draw 1");
    CallGraphFindState find;
    CallGraphFilterModel proxy(find);
    proxy.setSourceModel(model.get());
    const std::vector<const CallGraphNode*> roots = model->GetRootNodes();

    find.Apply(roots, "main", mCache);
    proxy.Refilter();
    EXPECT_EQ(Dump(proxy), "start | libfixture.so | 2.00 | 0.00 | 0\n"
                           "  loop | libfixture.so | 1.00 | 0.00 | 0\n"
                           "    MainLoop | libfixture.so | 1.00 | 0.00 | 0\n");
    ASSERT_EQ(find.GetMatches().size(), 1u);
    EXPECT_EQ(mCache.GetName(find.GetMatches()[0]->GetFunction()), "MainLoop");
    // The first match alone comes in the visit's order: depth first, before later top rows.
    const std::atomic<bool> notCanceled{false};
    EXPECT_EQ(FindFirstMatch(roots, "main", mCache, notCanceled), find.GetMatches()[0]);
    find.Apply(roots, "o", mCache); // start;loop, start;loop;MainLoop, start;other
    ASSERT_EQ(find.GetMatches().size(), 3u);
    EXPECT_EQ(FindFirstMatch(roots, "o", mCache, notCanceled), find.GetMatches()[0]);
    EXPECT_EQ(FindFirstMatch(roots, "nowhere", mCache, notCanceled),
              std::optional<const CallGraphNode*>(nullptr));

    find.Apply(roots, "RENDER", mCache);
    proxy.Refilter();
    EXPECT_EQ(Dump(proxy), "render | libfixture.so | 1.00 | 0.00 | 0\n"
                           "  draw | libfixture.so | 1.00 | 0.00 | 0\n");

    find.Apply(roots, "", mCache);
    proxy.Refilter();
    EXPECT_TRUE(find.GetMatches().empty());
    EXPECT_EQ(find.GetEntryCount(), 7u);
    EXPECT_EQ(proxy.rowCount(), 2);
}

TEST_F(CallGraphTreeModelTest, FindKeepsItsVerdictsWhileItsTableGrows)
{
    // Enough nodes that the find's table grows several times during one visit.
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "start;wide" + std::to_string(i) + " 1\n";
    text += "start;deep;MainLoop 1\nrender 1";
    auto model = MakeModel(text);
    CallGraphFindState find;
    CallGraphFilterModel proxy(find);
    proxy.setSourceModel(model.get());
    const std::vector<const CallGraphNode*> roots = model->GetRootNodes();

    const std::string expected = "start | libfixture.so | 3001.00 | 0.00 | 0\n"
                                 "  deep | libfixture.so | 1.00 | 0.00 | 0\n"
                                 "    MainLoop | libfixture.so | 1.00 | 0.00 | 0\n";
    find.Apply(roots, "mainloop", mCache);
    proxy.Refilter();
    EXPECT_EQ(find.GetEntryCount(), 3004u);
    EXPECT_EQ(Dump(proxy), expected);

    // The same verdicts from a table sized beforehand, and after a find that left entries in it.
    find.Reserve(100000);
    find.Apply(roots, "MAINLOOP", mCache);
    proxy.Refilter();
    EXPECT_EQ(find.GetEntryCount(), 3004u);
    EXPECT_EQ(Dump(proxy), expected);
}

TEST(CallGraphFiguresTest, CallPathsLeadBackToTheirNodes)
{
    FixtureNames names;
    FixtureGraphs graphs = MakeGraphs("main;work;leaf 1", names);
    const CallGraphNode& main = *graphs.Full->GetRoot().Children[0];
    EXPECT_EQ(CallPath(main).size(), 1u);
    const std::vector<ResolvedAddress> leafPath = CallPath(*main.Children[0]->Children[0]);
    ASSERT_EQ(leafPath.size(), 3u);
    EXPECT_EQ(names.Names.GetName(leafPath[2]), "leaf");
    EXPECT_EQ(FindNodeByPath(graphs.Full->GetRoot(), leafPath), main.Children[0]->Children[0]);
}

TEST(TimeDistributionTest, SmallCalleesGoIntoOtherAndEmptyTimeDrawsNothing)
{
    FixtureNames names;
    FunctionNameCache cache(&names);
    FixtureGraphs graphs = MakeGraphs("p 10\np;a 0.25\np;b 0.25 Sleep=0.25\nq 2\nz 0", names);
    const auto& top = graphs.Full->GetRoot().Children;

    auto slices = BuildTimeDistributionSlices(BuildTimeDistributionEntries(*top[0], 1.0, cache), 0.05f);
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_TRUE(slices[0].IsSelf());
    EXPECT_EQ(SliceLabel(slices[0]), "93%");
    EXPECT_TRUE(slices[1].IsOther());
    EXPECT_EQ(slices[1].Time, 0.75);
    EXPECT_EQ(slices[1].States[static_cast<int>(EThreadState::Sleep)], 0.25);

    slices = BuildTimeDistributionSlices(BuildTimeDistributionEntries(*top[1], 1.0, cache), 0.05f);
    ASSERT_EQ(slices.size(), 1u);
    EXPECT_EQ(SliceLabel(slices[0]), "100%");
    EXPECT_NE(SliceTooltip(slices[0], 1.0).find("Unable to navigate deeper as this is self time"),
              std::string::npos);

    EXPECT_TRUE(
        BuildTimeDistributionSlices(BuildTimeDistributionEntries(*top[2], 1.0, cache), 0.05f).empty());

    // A callee's slice explains its own time and how to navigate.
    slices = BuildTimeDistributionSlices({{top[1], 2.0, "q", {}}}, 0.05f);
    const std::string callee = SliceTooltip(slices[0], 1.0);
    EXPECT_NE(callee.find("<b>q (100%)</b>2ms"), std::string::npos) << callee;
    EXPECT_NE(callee.find("to navigate into this function"), std::string::npos) << callee;
}
