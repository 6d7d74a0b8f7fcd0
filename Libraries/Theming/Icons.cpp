#include "Theming/Icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QtGlobal>

// Resource initialisers must be called from the global namespace.
static void InitialiseQxIconsResource()
{
    Q_INIT_RESOURCE(QxIcons);
}

namespace Profiler {

void InitialiseIcons()
{
    // The resource lives in a static library: referencing its initialiser keeps it linked.
    static const bool initialised = [] {
        InitialiseQxIconsResource();
        return true;
    }();
    (void)initialised;
}

QIcon GetThemedIcon(const QString& resourceName)
{
    InitialiseIcons();
    const bool dark = qGuiApp && QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    if (dark && resourceName.startsWith(QLatin1String(":/"))) {
        const QString variant = QStringLiteral(":/Dark/") + resourceName.mid(2);
        if (QFile::exists(variant))
            return QIcon(variant);
    }
    return QIcon(resourceName);
}

} // namespace Profiler
