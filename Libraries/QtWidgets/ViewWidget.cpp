#include "QtWidgets/ViewWidget.h"

#include <QScreen>

namespace QtWidgets {

void UpdatableWidget::RequestUpdate()
{
    if (isVisible()) {
        mUpdatePending = false;
        OnUpdate();
    } else {
        mUpdatePending = true;
    }
}

void UpdatableWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (mUpdatePending) {
        mUpdatePending = false;
        OnUpdate();
    }
}

ViewWidget::ViewWidget(const QString& name, EDockPosition position, const QString& iconResource,
                       QWidget* parent)
    : UpdatableWidget(parent), mName(name), mDockPosition(position), mIconResource(iconResource)
{
    setObjectName(name);
    setWindowTitle(name);
}

QSize ViewWidget::sizeHint() const
{
    const QWidget* topLevel = window();
    // A panel shown on its own (tests, a floating window before docking) has no window to take
    // a share of; it sizes itself like any widget.
    if ((mDockPosition != EDockPosition::BottomWide && mDockPosition != EDockPosition::BottomNarrow) ||
        topLevel == this)
        return UpdatableWidget::sizeHint();
    const double share = mDockPosition == EDockPosition::BottomWide ? 0.65 : 0.35;
    return QSize(static_cast<int>(topLevel->width() * share), topLevel->height() / 4);
}

QSize ViewWidget::minimumSizeHint() const
{
    if (mDockPosition != EDockPosition::BottomWide && mDockPosition != EDockPosition::BottomNarrow)
        return UpdatableWidget::minimumSizeHint();
    const QScreen* screen = this->screen();
    const double scale = screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
    const int side = static_cast<int>(125 * scale);
    return QSize(side, side);
}

} // namespace QtWidgets
