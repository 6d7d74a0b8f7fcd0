#pragma once

#include "Theming/ThemeType.h"
#include "Utility/Signal.h"

#include <QIcon>
#include <QPalette>
#include <QString>

namespace Profiler {

/// The application's theme, shared by every view. Views connect to ThemeChanged and re-read
/// their colour tables when it fires.
class Theme {
public:
    explicit Theme(EThemeType type = EThemeType::Light);
    virtual ~Theme();
    Theme(const Theme&) = delete;
    Theme& operator=(const Theme&) = delete;

    EThemeType GetType() const { return mType; }
    EThemeChoice GetChoice() const { return mChoice; }

    /// Stores the choice, resolves it (FollowSystem asks the desktop) and announces the change:
    /// the apply hook runs first, then every connected callback in connection order.
    void SetChoice(EThemeChoice choice);
    /// Re-resolves a FollowSystem choice, announcing only when the resolved type changed.
    void RefreshFromSystem();

    [[nodiscard]] Utility::SignalRegistration ConnectThemeChanged(std::function<void(Theme&)> callback)
    {
        return mThemeChanged.Connect(std::move(callback));
    }
    int GetNumConnections() const { return mThemeChanged.GetNumConnections(); }

    /// The icon of a resource name (":/Library/Resources/name.png"); in the dark theme the
    /// variant drawn for dark backgrounds (":/Dark/Library/Resources/name.png") when there is one.
    QIcon GetIcon(const QString& resourceName) const;
    /// The resource path GetIcon reads for `resourceName` in this theme.
    QString ResolveIconPath(const QString& resourceName) const;

protected:
    /// Runs before listeners hear of a change; the application theme installs its palette here.
    virtual void Apply() {}
    /// Whether the desktop is dark; the application theme answers from the palette it started
    /// with, since its own palette hides the desktop's once installed.
    virtual bool QuerySystemDark() const;

private:
    void Announce();

    EThemeType mType;
    EThemeChoice mChoice;
    Utility::Signal<Theme&> mThemeChanged{"ThemeChanged"};
};

/// Whether the desktop's applications use a dark theme. The desktop's colour-scheme preference
/// wins when one is published (QX_COLOR_SCHEME, then the desktop portal's "color-scheme", then
/// GTK_THEME ending in ":dark"); otherwise `platformPalette`'s window colour decides. Anything
/// unreadable means light.
bool IsSystemThemeDark(const QPalette& platformPalette);

} // namespace Profiler
