#include "ProfilerLibUI/FindLineEdit.h"
#include "ProfilerLibUI/ThreadSelectorPopupWidget.h"
#include "ProfilerLibUI/ThreadSelectorWidget.h"
#include "ProfilerLibUI/ThreadTree.h"
#include "ProfilerLibUI/ThreadTreeModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <functional>
#include <tuple>

using namespace Profiler;

namespace {

const std::vector<ThreadTreeProcess> kOneProcess = {
    {"game", 100, {{"Worker 1", 11}, {"Worker 2", 12}, {"Worker 3", 13}, {"main", 10}, {"", 14}}}};

const std::vector<ThreadTreeProcess> kTwoProcesses = {
    {"server", 200, {{"io-1", 21}, {"io-2", 22}, {"server", 20}}},
    {"client", 300, {{"render", 31}, {"render", 32}}}};

// The tree as indented labels, one node a line.
std::string Dump(const ThreadTree& tree)
{
    std::string out;
    std::function<void(const ThreadTreeNode&, int)> visit = [&](const ThreadTreeNode& node, int depth) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + tree.GetLabel(node).toStdString() + "\n";
        for (const auto& child : node.children)
            visit(*child, depth + 1);
    };
    visit(tree.GetRoot(), 0);
    return out;
}

} // namespace

TEST(ThreadTree, GroupsByProcessAndCommonPrefixAndKeepsIdenticalNamesApart)
{
    // One process: no process level even when not merged. Short groups dissolve, and separators
    // are trimmed from group labels.
    const std::vector<ThreadTreeProcess> prefixes = {
        {"p", 1, {{"ab1x", 1}, {"ab2y", 2}, {"net_io", 3}, {"net_rx", 4}, {"net_rx", 5}}}};
    const std::tuple<const std::vector<ThreadTreeProcess>*, bool, std::string> cases[] = {
        {&kOneProcess, false,
         "All Threads\n  Worker\n    Worker 1 (11)\n    Worker 2 (12)\n    Worker 3 (13)\n  main (10)\n  "
         "14\n"},
        {&prefixes, true,
         "All Threads\n  ab1x (1)\n  ab2y (2)\n  net\n    net_io (3)\n    net_rx\n      net_rx (4)\n"
         "      net_rx (5)\n"},
        {&kTwoProcesses, false,
         "All processes\n  server (200)\n    io\n      io-1 (21)\n      io-2 (22)\n    server (20)\n"
         "  client (300)\n    render\n      render (31)\n      render (32)\n"},
    };
    for (const auto& [processes, merge, expected] : cases)
        EXPECT_EQ(Dump(ThreadTree(*processes, merge)), expected);

    ThreadTree one(kOneProcess, false);
    EXPECT_EQ(one.GetThreadIds(one.GetRoot()), (std::vector<int32_t>{11, 12, 13, 10, 14}));
    // A process node covers all its threads; merged, all processes are one tree.
    ThreadTree grouped(kTwoProcesses, false);
    EXPECT_EQ(grouped.GetThreadIds(*grouped.GetRoot().children[1]), (std::vector<int32_t>{31, 32}));
    ThreadTree merged(kTwoProcesses, true);
    EXPECT_EQ(merged.GetRoot().name, "All Threads");
    EXPECT_EQ(merged.GetThreadIds(merged.GetRoot()).size(), 5u);
}

TEST(ThreadTreeModel, PassesTheModelTesterAndFiltersWithAncestorsAndDescendants)
{
    ThreadTree tree(kTwoProcesses, false);
    ThreadTreeModel model(tree);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(model.rowCount(), 1);

    ThreadGroupFilterModel filter;
    filter.setSourceModel(&model);
    QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::Warning);
    filter.setFilterRegularExpression(QRegularExpression("io-2", QRegularExpression::CaseInsensitiveOption));
    const QModelIndex root = filter.index(0, 0);
    ASSERT_EQ(filter.rowCount(root), 1); // only the server process leads to a match
    const QModelIndex server = filter.index(0, 0, root);
    EXPECT_EQ(server.data().toString(), "server (200)");
    ASSERT_EQ(filter.rowCount(server), 1);
    EXPECT_EQ(filter.rowCount(filter.index(0, 0, server)), 1);

    // A matching ancestor keeps its whole subtree.
    filter.setFilterRegularExpression(
        QRegularExpression("client", QRegularExpression::CaseInsensitiveOption));
    const QModelIndex client = filter.index(0, 0, filter.index(0, 0));
    EXPECT_EQ(filter.rowCount(filter.index(0, 0, client)), 2);
    // A broken pattern matches nothing.
    filter.setFilterRegularExpression(
        QRegularExpression("render(", QRegularExpression::CaseInsensitiveOption));
    EXPECT_EQ(filter.rowCount(), 0);
}

TEST(ThreadSelector, AppliesTopMostSelectionAndSummarisesIt)
{
    ThreadSelectorWidget selector(kTwoProcesses, false, false);
    EXPECT_EQ(selector.currentText(), "All processes");
    int applied = 0;
    selector.SetSelectionChangedCallback([&] { ++applied; });
    selector.show();
    selector.showPopup();
    ThreadSelectorPopupWidget* popup = selector.GetPopup();
    ASSERT_TRUE(popup->isVisible());
    EXPECT_TRUE(popup->GetGroupByProcessCheckBox()->isChecked());

    // Selecting a process and one of its threads keeps only the process.
    QTreeView* view = popup->GetTreeView();
    const QModelIndex root = view->model()->index(0, 0);
    const QModelIndex client = view->model()->index(1, 0, root);
    const QModelIndex renderGroup = view->model()->index(0, 0, client);
    const QModelIndex serverGroup = view->model()->index(0, 0, view->model()->index(0, 0, root));
    view->selectionModel()->select(client, QItemSelectionModel::ClearAndSelect);
    view->selectionModel()->select(view->model()->index(0, 0, renderGroup), QItemSelectionModel::Select);
    view->selectionModel()->select(serverGroup, QItemSelectionModel::Select);
    EXPECT_TRUE(popup->GetApplyButton()->isEnabled());
    QTest::mouseClick(popup->GetApplyButton(), Qt::LeftButton);
    EXPECT_EQ(applied, 1);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(selector.currentText(), "All 'io' threads in 'server (200)', All threads in 'client (300)'");
    EXPECT_EQ(selector.selectedThreadIds(), (std::vector<int32_t>{21, 22, 31, 32}));
}

TEST(ThreadSelector, SingleProcessSummaryAndFindTyping)
{
    ThreadSelectorWidget selector(kOneProcess, false, true);
    selector.show();
    selector.showPopup();
    ThreadSelectorPopupWidget* popup = selector.GetPopup();
    // The popup opens on the current selection, the whole tree.
    EXPECT_TRUE(popup->GetApplyButton()->isEnabled());
    popup->GetTreeView()->selectionModel()->clear();
    EXPECT_FALSE(popup->GetApplyButton()->isEnabled());
    QTest::keyClicks(popup->GetFindLineEdit(), "work 2");
    QTreeView* view = popup->GetTreeView();
    const QModelIndex worker = view->model()->index(0, 0, view->model()->index(0, 0));
    EXPECT_EQ(worker.data().toString(), "Worker");
    ASSERT_EQ(view->model()->rowCount(worker), 1);
    EXPECT_EQ(view->model()->index(0, 0, worker).data().toString(), "Worker 2 (12)");
    EXPECT_TRUE(view->isExpanded(worker));

    view->selectionModel()->select(worker, QItemSelectionModel::Select);
    QTest::keyClick(popup->GetFindLineEdit(), Qt::Key_Return); // Return applies
    EXPECT_EQ(selector.currentText(), "All 'Worker' threads");
    EXPECT_EQ(selector.selectedThreadIds(), (std::vector<int32_t>{11, 12, 13}));

    selector.SetSelectedThreadIds({10});
    EXPECT_EQ(selector.currentText(), "main (10)");
    selector.SetSelectedThreadIds({14, 13, 12, 11, 10});
    EXPECT_EQ(selector.currentText(), "All Threads");
}

TEST(ThreadSelector, CancelKeepsTheSelectionAndRegroupingRebuildsTheTree)
{
    ThreadSelectorWidget selector(kTwoProcesses, false, false);
    std::vector<bool> merges;
    selector.SetMergeChangedCallback([&](bool merge) { merges.push_back(merge); });
    int applied = 0;
    selector.SetSelectionChangedCallback([&] { ++applied; });
    selector.show();
    selector.showPopup();
    ThreadSelectorPopupWidget* popup = selector.GetPopup();
    QTreeView* view = popup->GetTreeView();
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), "All processes");

    // Unchecking "Group by process" shows one tree of all threads.
    popup->GetGroupByProcessCheckBox()->setChecked(false);
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), "All Threads");
    EXPECT_TRUE(popup->GetMergeProcesses());
    view->selectionModel()->select(view->model()->index(0, 0, view->model()->index(0, 0)),
                                   QItemSelectionModel::ClearAndSelect);
    popup->findChild<QPushButton*>("mCancelButton")->click();
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(selector.currentText(), "All processes");
    EXPECT_FALSE(selector.GetMergeProcesses());

    // Applying the regrouped selection stores the new mode.
    selector.showPopup();
    popup->GetGroupByProcessCheckBox()->setChecked(false);
    view->selectionModel()->select(view->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
    popup->Apply();
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(merges, std::vector<bool>{true});
    EXPECT_EQ(selector.currentText(), "All Threads");
    EXPECT_EQ(selector.selectedThreadIds().size(), 5u);
}

TEST(ThreadSelector, ClearingTheFindTextRestoresTheExpandedRows)
{
    ThreadSelectorWidget selector(kTwoProcesses, false, false);
    selector.show();
    selector.showPopup();
    ThreadSelectorPopupWidget* popup = selector.GetPopup();
    QTreeView* view = popup->GetTreeView();
    const QModelIndex server = view->model()->index(0, 0, view->model()->index(0, 0));
    EXPECT_FALSE(view->isExpanded(server));
    QTest::keyClicks(popup->GetFindLineEdit(), "render");
    popup->GetFindLineEdit()->clear();
    const QModelIndex root = view->model()->index(0, 0);
    EXPECT_TRUE(view->isExpanded(root));
    EXPECT_FALSE(view->isExpanded(view->model()->index(0, 0, root)));
    EXPECT_EQ(view->model()->rowCount(root), 2);
}
