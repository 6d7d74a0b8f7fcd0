#pragma once

#include <QComboBox>

namespace QtWidgets {

/// A combo box whose size follows the screen it is on: its hint is computed in device-
/// independent pixels and scaled by the screen's logical DPI, and it re-lays itself out when
/// the window moves to a screen of another resolution.
class DpiCorrectComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DpiCorrectComboBox(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    /// Pixels scaled from 96 DPI to the screen the widget is on.
    int Scaled(int pixels) const;

protected:
    bool event(QEvent* event) override;
};

} // namespace QtWidgets
