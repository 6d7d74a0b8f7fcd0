#include "QtWidgets/ScrollableTreeView.h"
#include "QtWidgets/TreeView.h"
#include "QtWidgets/ViewWidget.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTest>

using namespace QtWidgets;

namespace {

// A tree of `rows` top-level rows with two children each, and three columns.
std::unique_ptr<QStandardItemModel> MakeModel(int rows, QStringList headers = {"Name", "Time", "Samples"})
{
    auto model = std::make_unique<QStandardItemModel>(0, 3);
    model->setHorizontalHeaderLabels(headers);
    for (int row = 0; row < rows; ++row) {
        QList<QStandardItem*> items{new QStandardItem(QString("function %1").arg(row)),
                                    new QStandardItem(QString::number(rows - row)), new QStandardItem("1")};
        items[0]->appendRow({new QStandardItem("child a"), new QStandardItem("1"), new QStandardItem("1")});
        items[0]->appendRow({new QStandardItem("child b"), new QStandardItem("2"), new QStandardItem("1")});
        model->appendRow(items);
    }
    return model;
}

struct ShownView {
    explicit ShownView(QAbstractItemModel* model)
    {
        view.resize(500, 300);
        view.SetVisibleColumns({1, 2});
        view.setModel(model);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    ScrollableTreeView view;
};

} // namespace

TEST(ScrollableTreeView, LinksExpansionScrollingAndSelection)
{
    auto model = MakeModel(200);
    ShownView shown(model.get());
    ScrollableTreeView& view = shown.view;
    LinkedTreeView* left = view.GetLeftTree();
    LinkedTreeView* right = view.GetRightTree();

    // Both halves share one selection model, which the widget owns.
    EXPECT_EQ(left->selectionModel(), view.selectionModel());
    EXPECT_EQ(right->selectionModel(), view.selectionModel());

    const QModelIndex first = model->index(0, 0);
    right->expand(first);
    EXPECT_TRUE(left->isExpanded(first));
    left->collapse(first);
    EXPECT_FALSE(right->isExpanded(first));

    right->verticalScrollBar()->setValue(40);
    EXPECT_EQ(left->verticalScrollBar()->value(), 40);
    left->verticalScrollBar()->setValue(7);
    EXPECT_EQ(right->verticalScrollBar()->value(), 7);
    left->verticalScrollBar()->setValue(0);

    // Clicking the right half of a row selects the whole row in both halves.
    QSignalSpy selectionChanged(&view, &ScrollableTreeView::OnSelectionChanged);
    const QModelIndex third = model->index(2, 1);
    QTest::mouseClick(right->viewport(), Qt::LeftButton, {}, right->visualRect(third).center());
    EXPECT_EQ(selectionChanged.count(), 1);
    EXPECT_TRUE(left->selectionModel()->isSelected(model->index(2, 0)));
}

TEST(ScrollableTreeView, KeysOnTheRightHalfExpandOnTheLeftAndFocusReappliesTheSelection)
{
    auto model = MakeModel(3);
    ShownView shown(model.get());
    LinkedTreeView* right = shown.view.GetRightTree();
    const QModelIndex first = model->index(0, 1);
    right->setFocus();
    shown.view.setCurrentIndex(model->index(0, 0));
    QTest::keyClick(right, Qt::Key_Right);
    EXPECT_TRUE(shown.view.isExpanded(model->index(0, 0)));
    EXPECT_TRUE(right->isExpanded(first.siblingAtColumn(0)));
    QTest::keyClick(right, Qt::Key_Left);
    EXPECT_FALSE(shown.view.isExpanded(model->index(0, 0)));

    // A click that selects nothing new still reapplies the selection once focus came back.
    QSignalSpy reapply(&shown.view, &ScrollableTreeView::ReapplySelection);
    LinkedTreeView* left = shown.view.GetLeftTree();
    const QPoint row = left->visualRect(model->index(1, 0)).center();
    QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, row);
    EXPECT_EQ(reapply.count(), 0); // the selection changed
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(left, &out);
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(left, &in);
    QTest::mouseClick(left->viewport(), Qt::LeftButton, {}, row);
    EXPECT_EQ(reapply.count(), 1);
}

TEST(ScrollableTreeView, SortsThroughEitherHeaderAndKeepsTheIndicatorsTogether)
{
    auto model = MakeModel(5);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(model.get());
    proxy.setSortRole(Qt::DisplayRole);
    ShownView shown(&proxy);
    shown.view.setSortingEnabled(true);
    shown.view.sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(proxy.index(0, 0).data().toString(), "function 4"); // time 1 comes first
    EXPECT_EQ(shown.view.GetLeftTree()->header()->sortIndicatorSection(), 1);
    shown.view.GetLeftTree()->header()->setSortIndicator(0, Qt::DescendingOrder);
    EXPECT_EQ(shown.view.GetRightTree()->header()->sortIndicatorSection(), 0);
    EXPECT_EQ(proxy.index(0, 0).data().toString(), "function 4"); // names descend: 4 first
}

TEST(UpdatableWidget, DefersUpdatesWhileHidden)
{
    struct Counting : UpdatableWidget {
        int updates = 0;
        void OnUpdate() override { ++updates; }
    } widget;
    widget.RequestUpdate();
    EXPECT_EQ(widget.updates, 0);
    EXPECT_TRUE(widget.IsUpdatePending());
    widget.show();
    EXPECT_EQ(widget.updates, 1);
    widget.RequestUpdate();
    EXPECT_EQ(widget.updates, 2);
}
