#pragma once

#include <QStyledItemDelegate>

namespace QtWidgets {
class MouseTooltip;
}

namespace Profiler {

/// Paints a row's time split by thread state as a bar of coloured runs, one per state, each as
/// wide as its share of the row's time. Reads the eight times through `timesRole`, a pointer to
/// eight doubles. The tooltip (not owned) names the state under the mouse.
class ThreadStateBarDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    ThreadStateBarDelegate(int timesRole, QtWidgets::MouseTooltip* tooltip, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    static const double* Times(const QModelIndex& index, int role);

    int mTimesRole;
    QtWidgets::MouseTooltip* mTooltip; // not owned
};

} // namespace Profiler
