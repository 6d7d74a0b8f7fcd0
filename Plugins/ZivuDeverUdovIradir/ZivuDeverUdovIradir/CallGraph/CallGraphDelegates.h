#pragma once

#include "QtWidgets/ScrollableTreeView.h"
#include "Theming/ThemeType.h"

#include <QStyledItemDelegate>

namespace Profiler {

/// Paints the "Thread States" column as a bar split by the time of each thread state, and
/// explains the split in its tooltip.
class ThreadStateDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ThreadStateDelegate(EThemeType theme, QObject* parent = nullptr)
        : QStyledItemDelegate(parent), mTheme(theme)
    {}

    void SetThemeType(EThemeType theme) { mTheme = theme; }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

public slots:
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    EThemeType mTheme;
};

/// Where a position in the call graph tree lies, for the icon clicks.
enum class ETreeHitPart : uint8_t { RootIcon = 1, RecursionIcon = 2, Text = 3, Outside = 4 };

/// The function column: the custom root icon and the recursion icon, each a square as high as
/// the row, before the name.
class CallGraphTreeViewItemDelegate : public QtWidgets::ScrollableTreeViewItemDelegate {
    Q_OBJECT
public:
    CallGraphTreeViewItemDelegate(QtWidgets::LinkedTreeView* leftTree, QObject* parent)
        : ScrollableTreeViewItemDelegate(leftTree, parent), mLeftTree(leftTree)
    {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    /// The part under `pos` (viewport coordinates of the left tree).
    ETreeHitPart HitTest(const QPoint& pos, QModelIndex* outIndex = nullptr) const;

private:
    QtWidgets::LinkedTreeView* mLeftTree; // not owned
};

} // namespace Profiler
