#include "QtWidgets/ViewWidget.h"

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

} // namespace QtWidgets
