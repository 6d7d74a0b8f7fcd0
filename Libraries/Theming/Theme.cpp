#include "Theming/Theme.h"
#include "Theming/Icons.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>

namespace Profiler {

const char* GetThemeChoiceName(EThemeChoice choice)
{
    switch (choice) {
    case EThemeChoice::Light:
        return "Light";
    case EThemeChoice::Dark:
        return "Dark";
    case EThemeChoice::FollowSystem:
        return "Follow system settings";
    }
    return "";
}

Theme::Theme(EThemeType type) : mType(type), mChoice(static_cast<EThemeChoice>(type))
{
    InitialiseIcons();
}

// Connections left now are a bug in their owner; the signal reports them and detaches their
// registrations so that their later destruction does nothing.
Theme::~Theme() = default;

void Theme::SetChoice(EThemeChoice choice)
{
    mChoice = choice;
    if (choice == EThemeChoice::FollowSystem)
        mType = QuerySystemDark() ? EThemeType::Dark : EThemeType::Light;
    else
        mType = static_cast<EThemeType>(choice);
    Announce();
}

void Theme::RefreshFromSystem()
{
    if (mChoice != EThemeChoice::FollowSystem)
        return;
    const EThemeType resolved = QuerySystemDark() ? EThemeType::Dark : EThemeType::Light;
    if (resolved == mType)
        return;
    mType = resolved;
    Announce();
}

void Theme::Announce()
{
    Apply();
    mThemeChanged.Emit(*this);
}

QString Theme::ResolveIconPath(const QString& resourceName) const
{
    if (mType == EThemeType::Dark && resourceName.startsWith(QLatin1String(":/"))) {
        QString dark = QStringLiteral(":/Dark/") + resourceName.mid(2);
        if (QFile::exists(dark))
            return dark;
    }
    return resourceName;
}

QIcon Theme::GetIcon(const QString& resourceName) const
{
    return QIcon(ResolveIconPath(resourceName));
}

bool Theme::QuerySystemDark() const
{
    return IsSystemThemeDark(qGuiApp ? QGuiApplication::palette() : QPalette());
}

namespace {

// The desktop portal's preference: 1 prefers dark, 2 prefers light, 0 or no answer has none.
int ReadPortalColourScheme()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 0;
    QDBusInterface portal(QStringLiteral("org.freedesktop.portal.Desktop"),
                          QStringLiteral("/org/freedesktop/portal/desktop"),
                          QStringLiteral("org.freedesktop.portal.Settings"), bus);
    if (!portal.isValid())
        return 0;
    portal.setTimeout(300); // a stuck portal must not hold up the start
    const QDBusMessage reply = portal.call(
        QStringLiteral("Read"), QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    // The value comes wrapped twice: a variant holding a variant holding the uint.
    QVariant value = reply.arguments().first();
    while (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.toInt();
}

} // namespace

bool IsSystemThemeDark(const QPalette& platformPalette)
{
    const QByteArray scheme = qgetenv("QX_COLOR_SCHEME").toLower();
    if (scheme == "prefer-dark" || scheme == "dark")
        return true;
    if (scheme == "prefer-light" || scheme == "light" || scheme == "default")
        return false;
    if (const int portal = ReadPortalColourScheme(); portal == 1 || portal == 2)
        return portal == 1;
    if (qgetenv("GTK_THEME").toLower().endsWith(":dark"))
        return true;
    // The platform theme's palette is what the desktop hands Qt; a dark window means a dark
    // desktop.
    const QColor window = platformPalette.color(QPalette::Window);
    return window.isValid() && window.lightness() < 128;
}

} // namespace Profiler
