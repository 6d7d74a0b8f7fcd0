#pragma once

#include "ProfilerLibUI/CallGraph/TimeDistribution.h"
#include "Theming/ThemeType.h"

#include <QWidget>

#include <functional>

class QPainter;
#include <vector>

namespace QtWidgets {
class MouseTooltip;
}

namespace Profiler {

/// Where the selected node's time goes, as a pie: "Self", the large callees, and "Other". Each
/// slice carries a ring split by thread state, so waiting shows beside running. A left click on
/// a callee's slice navigates into it, a right click navigates back.
class TimeSlicePieChartControl final : public QWidget {
    Q_OBJECT
public:
    using SliceClickedCallback =
        std::function<void(const TimeDistributionSlice& slice, Qt::MouseButton button)>;
    using Callback = std::function<void()>;

    explicit TimeSlicePieChartControl(QWidget* parent = nullptr);

    /// Rebuilds the slices; callees below `threshold` of the total go into "Other".
    void SetEntries(std::vector<TimeDistributionEntry> entries, float threshold, double timeScale);
    const std::vector<TimeDistributionSlice>& GetSlices() const { return mSlices; }
    void SetThemeType(EThemeType theme);

    void SetSliceClickedCallback(SliceClickedCallback callback) { mSliceClicked = std::move(callback); }
    void SetNavigateBackCallback(Callback callback) { mNavigateBack = std::move(callback); }
    void SetHideCallback(Callback callback) { mHide = std::move(callback); }

    /// The slice under `pos` (widget coordinates), or -1.
    int SliceAt(const QPoint& pos) const;
    int GetHoveredSlice() const { return mHovered; }
    /// Room for a readable pie and a few legend lines when the panel is first laid out.
    QSize sizeHint() const override { return {240, 240}; }
    /// A point well inside slice `slice`, where its label goes.
    QPoint SliceCentre(int slice) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QRectF PieRect() const;
    int LegendHeight() const;
    void PaintLegend(QPainter& painter);
    void SetHovered(int slice, const QPoint& globalPos);

    std::vector<TimeDistributionSlice> mSlices;
    double mTimeScale = 0.0;
    EThemeType mTheme = EThemeType::Light;
    int mHovered = -1;
    QtWidgets::MouseTooltip* mTooltip;
    SliceClickedCallback mSliceClicked;
    Callback mNavigateBack;
    Callback mHide;
};

} // namespace Profiler
