#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

namespace QtWidgets {

/// A widget whose content is rebuilt from data that changes while it is hidden: an update asked
/// for while the widget is not visible is deferred until it is shown, so hidden panels cost
/// nothing (the behaviour chosen for panels that sit in tabbed docks).
class UpdatableWidget : public QWidget {
    Q_OBJECT
public:
    explicit UpdatableWidget(QWidget* parent = nullptr) : QWidget(parent) {}

    /// Runs the update now when visible, otherwise on the next show.
    void RequestUpdate();
    bool IsUpdatePending() const { return mUpdatePending; }

protected:
    /// Rebuilds the content; called on the user interface thread.
    virtual void OnUpdate() = 0;
    void showEvent(QShowEvent* event) override;

private:
    bool mUpdatePending = false;
};

/// Where the host docks a panel. The two bottom halves share the bottom edge, the left one wide
/// (the main panel: 65 % of the window) and the right one narrow (35 %).
enum class EDockPosition : uint8_t { Left, Right, Top, Bottom, BottomWide, BottomNarrow };

/// A panel that a host can dock: it carries its title, its dock position and its icon, and
/// tells the host when it wants to be brought to the front.
class ViewWidget : public UpdatableWidget {
    Q_OBJECT
    // Read by hosts through the meta-object, which also works across a plugin module's boundary.
    Q_PROPERTY(QString panelName READ GetName CONSTANT)
    Q_PROPERTY(int dockPosition READ GetDockPositionValue CONSTANT)
    Q_PROPERTY(QString iconResource READ GetIconResource CONSTANT)
public:
    ViewWidget(const QString& name, EDockPosition position, const QString& iconResource,
               QWidget* parent = nullptr);

    const QString& GetName() const { return mName; }
    EDockPosition GetDockPosition() const { return mDockPosition; }
    int GetDockPositionValue() const { return static_cast<int>(mDockPosition); }
    /// The icon's resource name; load it through the theme so it follows light and dark.
    const QString& GetIconResource() const { return mIconResource; }

    /// Called when the panel becomes the active one (it gained the focus or was raised).
    virtual void Activate() {}

    /// The bottom halves ask for their share of the window's width by a quarter of its height;
    /// the other positions keep QWidget's hints.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void OnUpdate() override {}

private:
    QString mName;
    EDockPosition mDockPosition;
    QString mIconResource;
};

} // namespace QtWidgets
