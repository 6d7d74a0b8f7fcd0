#include "QtWidgets/ScrollableTreeView.h"
#include "QtWidgets/TreeView.h"
#include "QtWidgets/ViewWidget.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QHoverEvent>
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
    // The left shows only the name, the right only the visible numeric columns.
    EXPECT_FALSE(left->isColumnHidden(0));
    EXPECT_TRUE(left->isColumnHidden(1));
    EXPECT_TRUE(right->isColumnHidden(0));
    EXPECT_FALSE(right->isColumnHidden(2));

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

// Hovering either half highlights the whole row: each hover is forwarded to the other half at
// the same height, placed on the row's first column (or the left edge), and leaving clears both.
TEST(ScrollableTreeView, ForwardsHoverToTheOtherHalf)
{
    struct HoverRecorder : QObject {
        QVector<QPair<QEvent::Type, QPoint>> Events;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::HoverMove || event->type() == QEvent::HoverLeave)
                Events.push_back({event->type(), static_cast<QHoverEvent*>(event)->pos()});
            return false;
        }
    };
    auto model = MakeModel(3);
    ShownView shown(model.get());
    QWidget* left = shown.view.GetLeftTree()->viewport();
    QWidget* right = shown.view.GetRightTree()->viewport();
    HoverRecorder onLeft, onRight;
    left->installEventFilter(&onLeft);
    right->installEventFilter(&onRight);
    auto hover = [](QWidget* viewport, QEvent::Type type, QPoint pos) {
        QHoverEvent event(type, pos, QPoint(-1, -1));
        QApplication::sendEvent(viewport, &event);
    };

    const QRect secondRow = shown.view.GetRightTree()->visualRect(model->index(1, 1));
    const int firstColumnX = shown.view.GetLeftTree()->visualRect(model->index(1, 0)).x();
    hover(right, QEvent::HoverMove, secondRow.center());
    ASSERT_EQ(onLeft.Events.size(), 1);
    EXPECT_EQ(onLeft.Events[0].second, QPoint(firstColumnX, secondRow.center().y()));

    // Below the last row there is nothing to highlight on the left.
    hover(right, QEvent::HoverMove, QPoint(secondRow.center().x(), right->height() - 2));
    EXPECT_EQ(onLeft.Events.size(), 1);

    onRight.Events.clear();
    hover(left, QEvent::HoverMove, QPoint(40, secondRow.center().y()));
    ASSERT_EQ(onRight.Events.size(), 1);
    EXPECT_EQ(onRight.Events[0].second, QPoint(0, secondRow.center().y()));

    hover(left, QEvent::HoverLeave, QPoint(-1, -1));
    EXPECT_EQ(onRight.Events.back().first, QEvent::HoverLeave);
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
