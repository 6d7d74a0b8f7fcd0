#include "QtWidgets/MouseTooltip.h"

#include <QGuiApplication>
#include <QScreen>

namespace QtWidgets {

MouseTooltip::MouseTooltip(QWidget* parent) : QLabel(parent, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);
    setMargin(4);
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MouseTooltip::ShowAt(const QPoint& globalPos, const QString& text)
{
    if (text.isEmpty()) {
        hide();
        return;
    }
    if (text != this->text()) {
        setText(text);
        adjustSize();
    }
    // Below and right of the pointer, flipped to the other side near the screen's edges.
    QPoint pos = globalPos + QPoint(16, 20);
    if (const QScreen* screen = QGuiApplication::screenAt(globalPos)) {
        const QRect area = screen->availableGeometry();
        if (pos.x() + width() > area.right())
            pos.setX(globalPos.x() - width() - 8);
        if (pos.y() + height() > area.bottom())
            pos.setY(globalPos.y() - height() - 8);
    }
    move(pos);
    if (!isVisible())
        show();
}

} // namespace QtWidgets
