#pragma once

#include <QFrame>
#include <QHeaderView>
#include <QModelIndex>
#include <QSet>
#include <QStyledItemDelegate>

#include <functional>

class QItemSelectionModel;
class QSplitter;
class QAbstractItemModel;

namespace QtWidgets {

class LinkedTreeView;

/// The left tree's header: one section drawn and clicked across its whole width.
class FullRowHeaderView : public QHeaderView {
    Q_OBJECT
public:
    explicit FullRowHeaderView(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool mHover = false;
};

/// The left tree's delegate: a column-0 item paints over the width of the first section plus
/// the left tree, so a long name is never cut at the splitter.
class ScrollableTreeViewItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    ScrollableTreeViewItemDelegate(LinkedTreeView* leftTree, QObject* parent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    /// Whether `pos` (viewport coordinates) lies on the expansion decoration of its row.
    bool IsOnDecoration(const QPoint& pos) const;

private:
    LinkedTreeView* mLeftTree; // not owned
};

/// A tree whose first column stays in place while the other columns scroll: two trees side by
/// side in a splitter, over one model and one selection, with expansion, vertical scrolling,
/// sorting, hover and focus linked between them. Callers talk only to this widget.
class ScrollableTreeView : public QFrame {
    Q_OBJECT
public:
    using ColumnWidthProvider = std::function<int(int column, int headerTextWidth)>;

    explicit ScrollableTreeView(QWidget* parent = nullptr);
    ~ScrollableTreeView() override;

    void setModel(QAbstractItemModel* model);
    QAbstractItemModel* model() const;
    QItemSelectionModel* selectionModel() const { return mSelectionModel; }
    void setItemDelegate(QStyledItemDelegate* delegate);
    void setItemDelegateForColumn(int column, QAbstractItemDelegate* delegate);
    void SetVisibleColumns(const QSet<int>& columns);
    const QSet<int>& GetVisibleColumns() const { return mVisibleColumns; }
    void SetColumnWidthProvider(ColumnWidthProvider provider);
    void SetMinimumNumericShare(double share) { mMinimumShare = share; }

    void setSortingEnabled(bool enabled);
    void sortByColumn(int column, Qt::SortOrder order);
    void expand(const QModelIndex& index);
    void collapse(const QModelIndex& index);
    void expandAll();
    bool isExpanded(const QModelIndex& index) const;
    void scrollTo(const QModelIndex& index);
    void setCurrentIndex(const QModelIndex& index);

    LinkedTreeView* GetLeftTree() const { return mLeftTree; }
    LinkedTreeView* GetRightTree() const { return mRightTree; }
    QSplitter* GetSplitter() const { return mSplitter; }
    /// Sizes the numeric columns (done on setModel and after a screen change).
    void SizeColumns();

signals:
    void OnFocusChanged(bool inHasFocus);
    void ReapplySelection();
    bool OnViewportMousePressed(QPoint inPos, bool& outHasCapture);
    bool OnViewportMouseReleased(QPoint inPos);
    bool OnViewportMouseMove(QPoint inPos);
    void OnViewportMouseLeave();
    void OnCopyToClipboard();
    void OnContextMenuRequested(QPoint pos);
    void OnHeaderContextMenuRequested(QPoint pos);
    void OnSelectionChanged();
    void OnDoubleClicked(QModelIndex inModelIndex);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void LinkTrees(LinkedTreeView* from, LinkedTreeView* to);
    void ApplyVisibleColumns();
    void UpdateRightMinimumWidth();
    void OnRightSectionResized(int section, int oldSize, int newSize);
    void AlignScrollBars();
    bool ForwardHover(QObject* watched, QEvent* event);
    int RightSectionsWidth() const;
    int ScaledPixels(int pixels) const;

    QSplitter* mSplitter = nullptr;
    LinkedTreeView* mLeftTree = nullptr;
    LinkedTreeView* mRightTree = nullptr;
    QItemSelectionModel* mSelectionModel = nullptr; // owned
    ScrollableTreeViewItemDelegate* mDelegate = nullptr;
    QSet<int> mVisibleColumns;
    ColumnWidthProvider mWidthProvider;
    double mMinimumShare = 0.3;
    int mMaximumAutomaticWidth = 100;
    bool mMouseCapture = false;
    bool mColumnsNeedSizing = false;
};

} // namespace QtWidgets
