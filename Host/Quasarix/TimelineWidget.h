#pragma once

#include "Theming/ThemeType.h"
#include "TimelineIndex.h"

#include <QVector>
#include <QWidget>

#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace Profiler {

/// The capture's threads over time: one lane per thread, grouped under its process, coloured by
/// the thread's state with its sample density on top. The wheel zooms around the pointer,
/// dragging with the middle or right button pans, dragging with the left button selects a time
/// range (its edges can be dragged afterwards), a click on a lane selects its thread and a
/// Ctrl+click adds the lane's thread to the selected threads or takes it out.
class TimelineWidget : public QWidget {
    Q_OBJECT
public:
    explicit TimelineWidget(QWidget* parent = nullptr);

    void SetIndex(std::shared_ptr<const TimelineIndex> index);
    const TimelineIndex* GetIndex() const { return mIndex.get(); }
    void SetThemeType(EThemeType type);

    /// The visible span of capture time.
    void SetVisibleRange(double from, double to);
    double GetVisibleFrom() const { return mViewFrom; }
    double GetVisibleTo() const { return mViewTo; }
    /// Selects [from, to] and announces it.
    void SelectRange(double from, double to);
    void ClearSelection();
    std::optional<std::pair<double, double>> GetSelection() const { return mSelection; }
    const std::set<int32_t>& GetSelectedThreads() const { return mSelectedThreads; }

    /// The capture time at x and the x of a capture time, in widget coordinates.
    double TimeAt(double x) const;
    double XOf(double time) const;
    /// The thread of the lane at y; none over a process header or below the lanes.
    std::optional<int32_t> ThreadAt(int y) const;
    /// The y of a thread's lane (its top), -1 when unknown.
    int LaneTop(int32_t threadId) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int kRulerHeight = 30;
    static constexpr int kLabelWidth = 190;
    static constexpr int kLaneHeight = 20;
    static constexpr int kGroupHeight = 22;
    static constexpr int kLegendHeight = 28;

signals:
    void RangeSelected(double from, double to);
    void ThreadClicked(int threadId);
    /// After a Ctrl+click: every selected thread; empty when the last one was taken out.
    void ThreadsSelected(QVector<int> threadIds);
    void SelectionCleared();
    /// Emitted after each paint with its duration (for the benchmarks).
    void Painted(double milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class EDrag : uint8_t { None, Select, Pan, MoveStart, MoveEnd };
    void PaintRuler(QPainter& painter) const;
    void PaintLanes(QPainter& painter, const QRect& exposed) const;
    void PaintSelection(QPainter& painter) const;
    void PaintLegend(QPainter& painter, int top) const;
    int TracksWidth() const { return std::max(1, width() - kLabelWidth); }
    void ClampView();

    std::shared_ptr<const TimelineIndex> mIndex;
    EThemeType mTheme = EThemeType::Light;
    double mViewFrom = 0.0;
    double mViewTo = 1.0;
    std::optional<std::pair<double, double>> mSelection;
    std::set<int32_t> mSelectedThreads;
    EDrag mDrag = EDrag::None;
    QPoint mPressPos;
    double mPressTime = 0.0;
    double mPressViewFrom = 0.0;
    bool mMoved = false;
    mutable std::vector<TimelineIndex::Column> mColumns; ///< one lane's columns, reused by paints
};

} // namespace Profiler
