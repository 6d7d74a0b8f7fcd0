#include "ZivuDeverUdovIradir/FunctionList/ThreadStateBarDelegate.h"

#include "CallGraphModel/ThreadState.h"
#include "QtWidgets/MouseTooltip.h"
#include "System/FormatDuration.h"
#include "Theming/ThreadStateColours.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>

namespace Profiler {

namespace {

EThemeType ThemeOf(const QPalette& palette)
{
    // The plugin follows whatever palette the host installed for its theme.
    return palette.color(QPalette::Base).lightness() < 128 ? EThemeType::Dark : EThemeType::Light;
}

/// The x extent of each state's run inside `rect`.
template <class Visit> void ForEachRun(const double* times, const QRect& rect, Visit&& visit)
{
    double total = 0.0;
    for (int i = 0; i < kThreadStateCount; ++i)
        total += std::max(times[i], 0.0);
    if (total <= 0.0)
        return;
    double start = 0.0;
    for (int i = 0; i < kThreadStateCount; ++i) {
        const double share = std::max(times[i], 0.0) / total;
        const int left = rect.left() + static_cast<int>(start * rect.width());
        start += share;
        const int right = rect.left() + static_cast<int>(start * rect.width());
        if (right > left)
            visit(i, left, right);
    }
}

} // namespace

ThreadStateBarDelegate::ThreadStateBarDelegate(int timesRole, QtWidgets::MouseTooltip* tooltip,
                                               QObject* parent)
    : QStyledItemDelegate(parent), mTimesRole(timesRole), mTooltip(tooltip)
{}

const double* ThreadStateBarDelegate::Times(const QModelIndex& index, int role)
{
    return static_cast<const double*>(index.data(role).value<void*>());
}

void ThreadStateBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const double* times = Times(index, mTimesRole);
    if (times == nullptr)
        return;
    const QRect bar = option.rect.adjusted(2, 3, -2, -3);
    const EThemeType theme = ThemeOf(option.palette);
    painter->save();
    ForEachRun(times, bar, [&](int state, int left, int right) {
        painter->fillRect(QRect(left, bar.top(), right - left, bar.height()),
                          GetThreadStateColour(theme, static_cast<EThreadState>(state)));
    });
    painter->restore();
}

bool ThreadStateBarDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                       const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const double* times = Times(index, mTimesRole);
    if (event == nullptr || times == nullptr || mTooltip == nullptr)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QString text;
    ForEachRun(times, option.rect.adjusted(2, 3, -2, -3), [&](int state, int left, int right) {
        if (event->pos().x() >= left && event->pos().x() < right)
            text = QStringLiteral("%1: %2").arg(
                QString::fromUtf8(GetThreadStateName(static_cast<EThreadState>(state))),
                QString::fromStdString(System::FormatDuration(times[state])));
    });
    mTooltip->ShowAt(event->globalPos(), text);
    return true;
}

} // namespace Profiler
