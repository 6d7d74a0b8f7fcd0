#include "QtWidgets/TreeView.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QScrollBar>

namespace QtWidgets {

TreeView::TreeView(QWidget* parent) : QTreeView(parent)
{
    installEventFilter(this);
}

bool TreeView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        mFocusJustChanged = true;
        emit OnFocusChanged(event->type() == QEvent::FocusIn);
    }
    return QTreeView::eventFilter(watched, event);
}

void TreeView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        event->accept();
        emit OnCopyToClipboard();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TreeView::mousePressEvent(QMouseEvent* event)
{
    const QModelIndexList before = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    QTreeView::mousePressEvent(event);
    const QModelIndexList after = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (!after.isEmpty() && after == before && mFocusJustChanged)
        emit ReapplySelection();
    mFocusJustChanged = false;
}

void TreeView::resizeEvent(QResizeEvent* event)
{
    emit OnResize(event->size(), event->oldSize());
    QTreeView::resizeEvent(event);
}

QModelIndex TreeView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    if (cursorAction != MoveLeft)
        return QTreeView::moveCursor(cursorAction, modifiers);
    // Moving left collapses or goes to the parent; the base class would also scroll the view to
    // the left edge, which loses the user's horizontal position in a deep tree.
    QScrollBar* bar = horizontalScrollBar();
    const int value = bar->value();
    const QSignalBlocker blocker(bar);
    bar->setValue(bar->minimum());
    const QModelIndex result = QTreeView::moveCursor(cursorAction, modifiers);
    if (!isExpanded(currentIndex()))
        bar->setMaximum(std::max(bar->minimum(), bar->maximum() - indentation()));
    bar->setValue(value);
    return result;
}

QStyleOptionViewItem LinkedTreeView::viewOptions() const
{
    QStyleOptionViewItem option = TreeView::viewOptions();
    if (mPartner && mPartner->hasFocus())
        option.state |= QStyle::State_Active;
    return option;
}

} // namespace QtWidgets
