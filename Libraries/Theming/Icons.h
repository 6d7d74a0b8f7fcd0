#pragma once

#include <QIcon>
#include <QString>

namespace Profiler {

/// Makes the bundled icons (":/ProfilerLibUI/...", ":/ZivuDeverUdovIradir/Resources/...") and
/// their dark variants available. Idempotent; the Theme calls it on construction.
void InitialiseIcons();

/// The icon of a resource name drawn for the application's current palette: the dark variant
/// when the window colour is dark. Widgets call it again on QEvent::ApplicationPaletteChange;
/// it works wherever the QApplication is, also inside a plugin module.
QIcon GetThemedIcon(const QString& resourceName);

} // namespace Profiler
