#pragma once

#include <QLabel>

namespace QtWidgets {

/// A tooltip that follows the mouse: unlike QToolTip it moves with the pointer while its text
/// is updated, so a chart or timeline can describe whatever is under the cursor.
class MouseTooltip : public QLabel {
    Q_OBJECT
public:
    explicit MouseTooltip(QWidget* parent = nullptr);

    /// Shows `text` near `globalPos`, kept inside the screen; an empty text hides the tooltip.
    void ShowAt(const QPoint& globalPos, const QString& text);
};

} // namespace QtWidgets
