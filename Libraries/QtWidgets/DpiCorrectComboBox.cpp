#include "QtWidgets/DpiCorrectComboBox.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace QtWidgets {

DpiCorrectComboBox::DpiCorrectComboBox(QWidget* parent) : QComboBox(parent)
{
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
}

int DpiCorrectComboBox::Scaled(int pixels) const
{
    const QWindow* handle = window() ? window()->windowHandle() : nullptr;
    const QScreen* screen = handle ? handle->screen() : QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return static_cast<int>(pixels * std::max<qreal>(dpi, 96.0) / 96.0);
}

QSize DpiCorrectComboBox::sizeHint() const
{
    QSize hint = QComboBox::sizeHint();
    hint.setHeight(std::max(hint.height(), Scaled(22)));
    return hint;
}

QSize DpiCorrectComboBox::minimumSizeHint() const
{
    QSize hint = QComboBox::minimumSizeHint();
    hint.setWidth(std::max(hint.width(), Scaled(80)));
    return hint;
}

bool DpiCorrectComboBox::event(QEvent* event)
{
    if (event->type() == QEvent::ScreenChangeInternal)
        updateGeometry();
    return QComboBox::event(event);
}

} // namespace QtWidgets
