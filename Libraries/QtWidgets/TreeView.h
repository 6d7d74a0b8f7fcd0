#pragma once

#include <QTreeView>

namespace QtWidgets {

/// A tree view that reports focus, copy and resize, and re-applies an unchanged selection when
/// a row that was already selected is clicked right after the view regained the focus (so the
/// panels can announce their selection again).
class TreeView : public QTreeView {
    Q_OBJECT
public:
    explicit TreeView(QWidget* parent = nullptr);

signals:
    void ReapplySelection();
    void OnFocusChanged(bool inHasFocus);
    void OnCopyToClipboard();
    void OnResize(QSize inNewSize, QSize inOldSize);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    bool mFocusJustChanged = false;
};

/// One half of a ScrollableTreeView; draws its rows as active while its partner has the focus,
/// so both halves of a selected row look the same.
class LinkedTreeView : public TreeView {
    Q_OBJECT
public:
    explicit LinkedTreeView(QWidget* parent = nullptr) : TreeView(parent) {}
    void SetPartner(LinkedTreeView* partner) { mPartner = partner; }
    LinkedTreeView* GetPartner() const { return mPartner; }

protected:
    QStyleOptionViewItem viewOptions() const override;

private:
    LinkedTreeView* mPartner = nullptr; // not owned; the sibling in the same splitter
};

} // namespace QtWidgets
