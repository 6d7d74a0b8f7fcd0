#include "TimelineWidget.h"

#include "CaptureModel/ProcessDisplay.h"
#include "System/FormatDuration.h"
#include "Theming/ThreadStateColours.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace Profiler {

namespace {

constexpr int kEdgeGrab = 4;          // pixels around a selection edge that grab it
constexpr double kMinimumSpan = 1e-3; // one microsecond: the deepest zoom

QString DurationText(double milliseconds)
{
    return QString::fromStdString(System::FormatDuration(milliseconds));
}

} // namespace

TimelineWidget::TimelineWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("mTimeline"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TimelineWidget::SetIndex(std::shared_ptr<const TimelineIndex> index)
{
    mIndex = std::move(index);
    mSelection.reset();
    mSelectedThreads.clear();
    if (mIndex)
        SetVisibleRange(mIndex->GetStart(), mIndex->GetEnd());
    updateGeometry();
    update();
}

void TimelineWidget::SetThemeType(EThemeType type)
{
    mTheme = type;
    update();
}

void TimelineWidget::SetVisibleRange(double from, double to)
{
    mViewFrom = from;
    mViewTo = std::max(to, from + kMinimumSpan);
    ClampView();
    update();
}

void TimelineWidget::ClampView()
{
    if (!mIndex)
        return;
    const double span = std::min(mViewTo - mViewFrom, mIndex->GetEnd() - mIndex->GetStart());
    mViewFrom = std::clamp(mViewFrom, mIndex->GetStart(), mIndex->GetEnd() - span);
    mViewTo = mViewFrom + span;
}

double TimelineWidget::TimeAt(double x) const
{
    return mViewFrom + (x - kLabelWidth) * (mViewTo - mViewFrom) / TracksWidth();
}

double TimelineWidget::XOf(double time) const
{
    return kLabelWidth + (time - mViewFrom) * TracksWidth() / (mViewTo - mViewFrom);
}

QSize TimelineWidget::sizeHint() const
{
    int height = kRulerHeight;
    if (mIndex)
        height += static_cast<int>(mIndex->GetGroups().size()) * kGroupHeight +
                  static_cast<int>(mIndex->GetLaneCount()) * kLaneHeight + kLegendHeight;
    return {900, std::max(height, 200)};
}

QSize TimelineWidget::minimumSizeHint() const
{
    return {kLabelWidth + 200, sizeHint().height()};
}

std::optional<int32_t> TimelineWidget::ThreadAt(int y) const
{
    if (!mIndex)
        return std::nullopt;
    int top = kRulerHeight;
    for (const auto& group : mIndex->GetGroups()) {
        top += kGroupHeight;
        for (const auto& lane : group.Lanes) {
            if (y >= top && y < top + kLaneHeight)
                return lane.ThreadId;
            top += kLaneHeight;
        }
    }
    return std::nullopt;
}

int TimelineWidget::LaneTop(int32_t threadId) const
{
    if (!mIndex)
        return -1;
    int top = kRulerHeight;
    for (const auto& group : mIndex->GetGroups()) {
        top += kGroupHeight;
        for (const auto& lane : group.Lanes) {
            if (lane.ThreadId == threadId)
                return top;
            top += kLaneHeight;
        }
    }
    return -1;
}

void TimelineWidget::SelectRange(double from, double to)
{
    if (to < from)
        std::swap(from, to);
    mSelection = std::make_pair(from, to);
    update();
    emit RangeSelected(from, to);
}

void TimelineWidget::ClearSelection()
{
    mSelection.reset();
    mSelectedThreads.clear();
    update();
    emit SelectionCleared();
}

void TimelineWidget::paintEvent(QPaintEvent* event)
{
    QElapsedTimer timer;
    timer.start();
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().base());
    if (!mIndex) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter,
                         QStringLiteral("Open a capture (File > Open Capture) to see its threads."));
        return;
    }
    PaintLanes(painter, event->rect());
    PaintSelection(painter);
    PaintRuler(painter);
    painter.end();
    emit Painted(timer.nsecsElapsed() / 1e6);
}

void TimelineWidget::PaintRuler(QPainter& painter) const
{
    const QPalette& colours = palette();
    painter.fillRect(QRect(0, 0, width(), kRulerHeight), colours.window());
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawLine(0, kRulerHeight - 1, width(), kRulerHeight - 1);
    // Ticks at a round step of about 100 pixels.
    const double span = mViewTo - mViewFrom;
    const double raw = span * 100.0 / TracksWidth();
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double factor : {2.0, 5.0, 10.0})
        if (step < raw)
            step = magnitude * factor;
    const double origin = mIndex->GetStart();
    painter.setPen(colours.color(QPalette::WindowText));
    for (double t = origin + std::ceil((mViewFrom - origin) / step) * step; t <= mViewTo; t += step) {
        const int x = static_cast<int>(XOf(t));
        painter.drawLine(x, kRulerHeight - 7, x, kRulerHeight - 1);
        painter.drawText(x + 3, kRulerHeight - 9, DurationText(t - origin));
    }
    painter.fillRect(QRect(0, 0, kLabelWidth, kRulerHeight), colours.window());
    painter.drawText(
        QRect(6, 0, kLabelWidth - 6, kRulerHeight), Qt::AlignVCenter | Qt::AlignLeft,
        mSelection ? QStringLiteral("Selected: %1").arg(DurationText(mSelection->second - mSelection->first))
                   : QStringLiteral("Visible: %1").arg(DurationText(span)));
}

void TimelineWidget::PaintLanes(QPainter& painter, const QRect& exposed) const
{
    const QPalette& colours = palette();
    const int tracks = TracksWidth();
    const double perPixel = (mViewTo - mViewFrom) / tracks;
    const QColor executing = GetThreadStateColour(mTheme, EThreadState::Executing);
    const QColor density = mTheme == EThemeType::Dark ? QColor(240, 240, 240, 200) : QColor(30, 60, 30, 170);
    // Sample density is scaled to the densest a thread can be: one sample per interval.
    int top = kRulerHeight;
    for (const auto& group : mIndex->GetGroups()) {
        if (top + kGroupHeight >= exposed.top() && top <= exposed.bottom()) {
            painter.fillRect(QRect(0, top, width(), kGroupHeight), colours.window());
            painter.setPen(colours.color(QPalette::WindowText));
            QFont bold = painter.font();
            bold.setBold(true);
            painter.setFont(bold);
            painter.drawText(QRect(6, top, width() - 6, kGroupHeight), Qt::AlignVCenter,
                             QStringLiteral("%1 (%2)").arg(
                                 group.Name, QString::fromStdString(ProcessIdText(group.ProcessId))));
            painter.setFont(font());
        }
        top += kGroupHeight;
        for (const auto& lane : group.Lanes) {
            const QRect laneRect(0, top, width(), kLaneHeight);
            top += kLaneHeight;
            if (!laneRect.intersects(exposed))
                continue;
            const bool selected = mSelectedThreads.count(lane.ThreadId) != 0;
            painter.fillRect(laneRect, selected ? colours.alternateBase() : colours.base());
            // First pass: the maximum density in view, so that bars use the lane's full height.
            std::vector<TimelineIndex::Column>& columns = mColumns;
            columns.resize(static_cast<size_t>(tracks));
            uint32_t peak = 1;
            for (int x = 0; x < tracks; ++x) {
                const double from = mViewFrom + x * perPixel;
                columns[static_cast<size_t>(x)] = TimelineIndex::Summarise(lane, from, from + perPixel);
                peak = std::max(peak, columns[static_cast<size_t>(x)].Samples);
            }
            const int barTop = laneRect.top() + 2;
            const int barHeight = kLaneHeight - 4;
            // Neighbouring columns of one colour are filled as one rectangle.
            int spanStart = 0;
            QColor spanColour;
            auto flush = [&](int x) {
                if (spanColour.isValid() && x > spanStart)
                    painter.fillRect(QRect(kLabelWidth + spanStart, barTop, x - spanStart, barHeight),
                                     spanColour);
            };
            for (int x = 0; x < tracks; ++x) {
                const TimelineIndex::Column& column = columns[static_cast<size_t>(x)];
                const QColor colour =
                    column.State >= 0 ? GetThreadStateColour(mTheme, static_cast<EThreadState>(column.State))
                                      : (column.Samples > 0 ? executing : QColor());
                if (colour != spanColour) {
                    flush(x);
                    spanStart = x;
                    spanColour = colour;
                }
            }
            flush(tracks);
            // The density bars go to the painter in one call.
            QVector<QLine> bars;
            bars.reserve(tracks);
            for (int x = 0; x < tracks; ++x)
                if (const uint32_t samples = columns[static_cast<size_t>(x)].Samples) {
                    const int h = std::max(1, static_cast<int>(barHeight * samples / peak));
                    bars.push_back(QLine(kLabelWidth + x, barTop + barHeight - h, kLabelWidth + x,
                                         barTop + barHeight - 1));
                }
            painter.setPen(density);
            painter.drawLines(bars);
            painter.fillRect(QRect(0, laneRect.top(), kLabelWidth, kLaneHeight),
                             selected ? colours.highlight() : colours.base());
            painter.setPen(selected ? colours.color(QPalette::HighlightedText)
                                    : colours.color(QPalette::Text));
            const QString id = QString::fromStdString(ThreadIdText(lane.ThreadId));
            const QString name = lane.Name.isEmpty() ? id : QStringLiteral("%1 (%2)").arg(lane.Name, id);
            painter.drawText(QRect(16, laneRect.top(), kLabelWidth - 20, kLaneHeight), Qt::AlignVCenter,
                             painter.fontMetrics().elidedText(name, Qt::ElideRight, kLabelWidth - 20));
            painter.setPen(colours.color(QPalette::Midlight));
            painter.drawLine(kLabelWidth, laneRect.bottom(), width(), laneRect.bottom());
        }
    }
    if (top < exposed.bottom())
        painter.fillRect(QRect(0, top, width(), exposed.bottom() - top + 1), colours.base());
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawLine(kLabelWidth - 1, kRulerHeight, kLabelWidth - 1, height());
    PaintLegend(painter, top);
}

void TimelineWidget::PaintLegend(QPainter& painter, int top) const
{
    // What the lane colours mean, under the last lane: without it the states are guesswork.
    const QPalette& colours = palette();
    const QFontMetrics metrics = painter.fontMetrics();
    const int swatch = 10;
    const int y = top + (kLegendHeight - swatch) / 2;
    int x = kLabelWidth + 8;
    painter.setPen(colours.color(QPalette::Text));
    for (int state = 0; state < kThreadStateCount; ++state) {
        const auto threadState = static_cast<EThreadState>(state);
        const QString name = QString::fromUtf8(GetThreadStateName(threadState));
        const int itemWidth = swatch + 4 + metrics.horizontalAdvance(name) + 14;
        if (x + itemWidth > width())
            break;
        painter.fillRect(QRect(x, y, swatch, swatch), GetThreadStateColour(mTheme, threadState));
        painter.drawText(QRect(x + swatch + 4, top, itemWidth, kLegendHeight), Qt::AlignVCenter, name);
        x += itemWidth;
    }
}

void TimelineWidget::PaintSelection(QPainter& painter) const
{
    if (!mSelection)
        return;
    const int left = std::max(kLabelWidth, static_cast<int>(XOf(mSelection->first)));
    const int right = std::min(width(), static_cast<int>(XOf(mSelection->second)));
    QColor shade = palette().color(QPalette::Highlight);
    shade.setAlpha(60);
    if (right >= left)
        painter.fillRect(QRect(left, kRulerHeight, std::max(1, right - left), height() - kRulerHeight),
                         shade);
    QColor edge = palette().color(QPalette::Highlight);
    painter.setPen(QPen(edge, 2));
    for (double time : {mSelection->first, mSelection->second}) {
        const int x = static_cast<int>(XOf(time));
        if (x >= kLabelWidth && x <= width())
            painter.drawLine(x, 0, x, height());
    }
    // The duration of the selection, centred over it in the ruler.
    const QString text = DurationText(mSelection->second - mSelection->first);
    const int textWidth = painter.fontMetrics().horizontalAdvance(text) + 10;
    const int centre = std::clamp((left + right) / 2, kLabelWidth + textWidth / 2, width() - textWidth / 2);
    const QRect box(centre - textWidth / 2, kRulerHeight + 2, textWidth, painter.fontMetrics().height() + 4);
    painter.fillRect(box, palette().color(QPalette::Highlight));
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(box, Qt::AlignCenter, text);
}

void TimelineWidget::wheelEvent(QWheelEvent* event)
{
    if (!mIndex)
        return;
    const double steps = event->angleDelta().y() / 120.0;
    if (event->modifiers() & Qt::ShiftModifier) {
        const double shift = -steps * 0.1 * (mViewTo - mViewFrom);
        SetVisibleRange(mViewFrom + shift, mViewTo + shift);
    } else {
        const double anchor = TimeAt(event->position().x());
        const double factor = std::pow(0.8, steps);
        SetVisibleRange(anchor - (anchor - mViewFrom) * factor, anchor + (mViewTo - anchor) * factor);
    }
    event->accept();
}

void TimelineWidget::mousePressEvent(QMouseEvent* event)
{
    if (!mIndex)
        return;
    mPressPos = event->pos();
    mPressTime = TimeAt(event->pos().x());
    mPressViewFrom = mViewFrom;
    mMoved = false;
    if (event->button() == Qt::MiddleButton || event->button() == Qt::RightButton) {
        mDrag = EDrag::Pan;
        setCursor(Qt::ClosedHandCursor);
    } else if (event->button() == Qt::LeftButton && event->pos().x() >= kLabelWidth) {
        mDrag = EDrag::Select;
        if (mSelection && std::abs(event->pos().x() - XOf(mSelection->first)) <= kEdgeGrab)
            mDrag = EDrag::MoveStart;
        else if (mSelection && std::abs(event->pos().x() - XOf(mSelection->second)) <= kEdgeGrab)
            mDrag = EDrag::MoveEnd;
    } else if (event->button() == Qt::LeftButton) {
        mDrag = EDrag::Select; // a click on a lane's label selects its thread
    }
}

void TimelineWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (mDrag == EDrag::None) {
        const bool onEdge = mSelection && (std::abs(event->pos().x() - XOf(mSelection->first)) <= kEdgeGrab ||
                                           std::abs(event->pos().x() - XOf(mSelection->second)) <= kEdgeGrab);
        setCursor(onEdge ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    if ((event->pos() - mPressPos).manhattanLength() >= 3)
        mMoved = true;
    if (!mMoved)
        return;
    const double time = std::clamp(TimeAt(event->pos().x()), mIndex->GetStart(), mIndex->GetEnd());
    switch (mDrag) {
    case EDrag::Pan: {
        const double shift = (mPressPos.x() - event->pos().x()) * (mViewTo - mViewFrom) / TracksWidth();
        const double span = mViewTo - mViewFrom;
        SetVisibleRange(mPressViewFrom + shift, mPressViewFrom + shift + span);
        break;
    }
    case EDrag::Select:
        mSelection = std::make_pair(std::min(mPressTime, time), std::max(mPressTime, time));
        break;
    case EDrag::MoveStart:
        mSelection->first = time;
        break;
    case EDrag::MoveEnd:
        mSelection->second = time;
        break;
    case EDrag::None:
        break;
    }
    if (mSelection && mSelection->first > mSelection->second) {
        std::swap(mSelection->first, mSelection->second);
        mDrag = mDrag == EDrag::MoveStart ? EDrag::MoveEnd : EDrag::MoveStart;
    }
    update();
}

void TimelineWidget::mouseReleaseEvent(QMouseEvent* event)
{
    const EDrag drag = std::exchange(mDrag, EDrag::None);
    unsetCursor();
    if (drag == EDrag::None || drag == EDrag::Pan || !mIndex)
        return;
    if (mMoved && mSelection) {
        SelectRange(mSelection->first, mSelection->second);
        return;
    }
    if (drag == EDrag::Select && !mMoved) {
        if (const std::optional<int32_t> thread = ThreadAt(event->pos().y())) {
            if (event->modifiers() & Qt::ControlModifier) {
                if (!mSelectedThreads.erase(*thread))
                    mSelectedThreads.insert(*thread);
                update();
                emit ThreadsSelected(QVector<int>(mSelectedThreads.begin(), mSelectedThreads.end()));
                return;
            }
            mSelectedThreads = {*thread};
            update();
            emit ThreadClicked(*thread);
        }
    }
}

void TimelineWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && (mSelection || !mSelectedThreads.empty())) {
        ClearSelection();
        return;
    }
    if (mIndex && (event->key() == Qt::Key_Home || event->key() == Qt::Key_0)) {
        SetVisibleRange(mIndex->GetStart(), mIndex->GetEnd());
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace Profiler
