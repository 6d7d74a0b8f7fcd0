#include "ZivuDeverUdovIradir/CallGraph/CallGraphDelegates.h"

#include "CallGraphModel/CallGraphNode.h"
#include "ProfilerLibUI/CallGraph/CallGraphFigures.h"
#include "QtWidgets/TreeView.h"
#include "Theming/ThreadStateColours.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QScreen>
#include <QToolTip>

#include <cmath>

namespace Profiler {

void ThreadStateDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const QRect bar = option.rect.adjusted(2, 2, -2, -3);
    const double scale = index.data(CallGraphRoles::Inclusive).toDouble();
    const auto* node = static_cast<const CallGraphNode*>(index.data(CallGraphRoles::Node).value<void*>());
    if (!(scale > 0.0) || node == nullptr)
        return;
    painter->save();
    painter->setPen(Qt::black);
    double left = bar.left();
    for (int state = 0; state < kThreadStateCount; ++state) {
        const float share = static_cast<float>(node->StateTimes[state] / scale);
        if (share == 0.0f)
            continue;
        const double right = std::round(bar.width() * share + left);
        const QRect segment(QPoint(static_cast<int>(left), bar.top()),
                            QPoint(static_cast<int>(right) - 1, bar.bottom()));
        painter->setBrush(GetThreadStateColour(mTheme, static_cast<EThreadState>(state)));
        painter->drawRect(segment.adjusted(0, 0, 0, -1));
        left = right;
    }
    painter->restore();
}

QSize ThreadStateDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QScreen* screen = option.widget ? option.widget->screen() : QGuiApplication::primaryScreen();
    const double dpiScale = screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
    size.setWidth(static_cast<int>(std::lround(150 * dpiScale)));
    return size;
}

bool ThreadStateDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                    const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event == nullptr || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const auto* node = static_cast<const CallGraphNode*>(index.data(CallGraphRoles::Node).value<void*>());
    if (node == nullptr) {
        QToolTip::hideText();
        return true;
    }
    std::vector<std::string> colours;
    for (int state = 0; state < kThreadStateCount; ++state)
        colours.push_back(
            GetThreadStateColour(mTheme, static_cast<EThreadState>(state)).lighter(125).name().toStdString());
    QToolTip::showText(event->globalPos(),
                       QString::fromStdString(ThreadStatesTooltip(node->StateTimes, colours)), view);
    return true;
}

void CallGraphTreeViewItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const
{
    const QVariant rootIcon = index.data(CallGraphRoles::RootIcon);
    const QVariant recursionIcon = index.data(CallGraphRoles::RecursionIcon);
    if (index.column() != 0 || (!rootIcon.isValid() && !recursionIcon.isValid())) {
        ScrollableTreeViewItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem wide = option;
    initStyleOption(&wide, index);
    const QString text = wide.text;
    wide.text.clear();
    wide.rect.setWidth(mLeftTree->header()->sectionSize(0) + mLeftTree->width());
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &wide, painter, widget);

    const int side = option.rect.height();
    int x = option.rect.left();
    const bool pressed = index.data(CallGraphRoles::HoverPart).toInt() == MergedCallGraphTreeModel::Pressed;
    for (const QVariant& icon : {rootIcon, recursionIcon}) {
        if (!icon.isValid())
            continue;
        const QRect square(x, option.rect.top(), side, side);
        const QIcon::Mode mode = (&icon == &recursionIcon && pressed) ? QIcon::Selected : QIcon::Normal;
        icon.value<QIcon>().paint(painter, square.adjusted(1, 1, -1, -1), Qt::AlignCenter, mode);
        x += side;
    }
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    painter->save();
    painter->setPen(wide.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const QRect textRect(x + 3, option.rect.top(), wide.rect.right() - x - 3, option.rect.height());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
    painter->restore();
}

ETreeHitPart CallGraphTreeViewItemDelegate::HitTest(const QPoint& pos, QModelIndex* outIndex) const
{
    const QModelIndex index = mLeftTree->indexAt(pos);
    if (outIndex != nullptr)
        *outIndex = index;
    if (!index.isValid())
        return ETreeHitPart::Outside;
    const QRect cell = mLeftTree->visualRect(index.sibling(index.row(), 0));
    if (pos.x() < cell.left() - mLeftTree->indentation())
        return ETreeHitPart::Outside;
    int x = cell.left();
    const int side = cell.height();
    if (index.sibling(index.row(), 0).data(CallGraphRoles::RootIcon).isValid()) {
        if (pos.x() >= x && pos.x() < x + side)
            return ETreeHitPart::RootIcon;
        x += side;
    }
    if (index.sibling(index.row(), 0).data(CallGraphRoles::RecursionIcon).isValid()) {
        if (pos.x() >= x && pos.x() < x + side)
            return ETreeHitPart::RecursionIcon;
    }
    return ETreeHitPart::Text;
}

} // namespace Profiler
