#include "ZivuDeverUdovIradir/CallGraph/TimeSlicePieChart.h"

#include "QtWidgets/MouseTooltip.h"
#include "Theming/ThreadStateColours.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>
#include <numbers>

namespace Profiler {

namespace {

// Slice colours per theme: distinct hues that stay apart from the thread state colours of the
// ring around them. "Self" takes the first, "Other" the neutral last one.
constexpr std::array<QRgb, 8> kLightSliceColours{0xff5b8bd0, 0xffe0a040, 0xff6cbf84, 0xffc86f9e,
                                                 0xff8c7ad6, 0xff4fb3bf, 0xffd67a5c, 0xffa0a0a0};
constexpr std::array<QRgb, 8> kDarkSliceColours{0xff4a74b0, 0xffc08a36, 0xff58a06c, 0xffa85c84,
                                                0xff7466b4, 0xff3f96a0, 0xffb4664c, 0xff808080};

QColor SliceColour(EThemeType theme, const TimeDistributionSlice& slice, std::size_t index)
{
    const auto& table = theme == EThemeType::Dark ? kDarkSliceColours : kLightSliceColours;
    if (slice.IsOther())
        return QColor::fromRgb(table.back());
    return QColor::fromRgb(table[index % (table.size() - 1)]);
}

constexpr int kSixteenths = 16;
constexpr int kLegendMargin = 8;

} // namespace

TimeSlicePieChartControl::TimeSlicePieChartControl(QWidget* parent)
    : QWidget(parent), mTooltip(new QtWidgets::MouseTooltip(this))
{
    setObjectName(QStringLiteral("mControlHostWidget"));
    setMouseTracking(true);
    setMinimumSize(120, 120);
}

void TimeSlicePieChartControl::SetEntries(std::vector<TimeDistributionEntry> entries, float threshold,
                                          double timeScale)
{
    mSlices = BuildTimeDistributionSlices(std::move(entries), threshold);
    mTimeScale = timeScale;
    mHovered = -1;
    mTooltip->ShowAt({}, {});
    update();
}

void TimeSlicePieChartControl::SetThemeType(EThemeType theme)
{
    mTheme = theme;
    update();
}

int TimeSlicePieChartControl::LegendHeight() const
{
    // The legend takes at most half the height; the pie keeps the rest.
    const int wanted = static_cast<int>(mSlices.size()) * fontMetrics().height() + kLegendMargin;
    return mSlices.empty() ? 0 : std::min(wanted, height() / 2);
}

QRectF TimeSlicePieChartControl::PieRect() const
{
    // The pie and its legend below it are centred together.
    const int legend = LegendHeight();
    const double side = std::max(0.0, std::min(width(), height() - legend) - 24.0);
    const double top = std::max(0.0, (height() - side - 24.0 - legend) / 2.0) + 12.0;
    return QRectF((width() - side) / 2.0, top, side, side);
}

int TimeSlicePieChartControl::SliceAt(const QPoint& pos) const
{
    const QRectF rect = PieRect();
    const QPointF centre = rect.center();
    const double dx = pos.x() - centre.x();
    const double dy = pos.y() - centre.y();
    if (mSlices.empty() || std::hypot(dx, dy) > rect.width() / 2.0)
        return -1;
    // Slices run clockwise from twelve o'clock.
    double degrees = std::atan2(-dy, dx) * 180.0 / std::numbers::pi;
    const double along = std::fmod(90.0 - degrees + 720.0, 360.0) / 360.0;
    double end = 0.0;
    for (std::size_t i = 0; i < mSlices.size(); ++i) {
        end += mSlices[i].Fraction;
        if (along < end)
            return static_cast<int>(i);
    }
    return static_cast<int>(mSlices.size()) - 1;
}

QPoint TimeSlicePieChartControl::SliceCentre(int slice) const
{
    const QRectF rect = PieRect();
    double start = 0.0;
    for (int i = 0; i < slice; ++i)
        start += mSlices[i].Fraction;
    const double middle = (90.0 - 360.0 * (start + mSlices[slice].Fraction / 2.0)) * std::numbers::pi / 180.0;
    const double radius = rect.width() * 0.3;
    return QPointF(rect.center().x() + radius * std::cos(middle),
                   rect.center().y() - radius * std::sin(middle))
        .toPoint();
}

void TimeSlicePieChartControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = PieRect();
    if (mSlices.empty() || outer.width() <= 0.0)
        return;
    const double ringWidth = std::max(4.0, outer.width() * 0.06);
    const QRectF inner = outer.adjusted(ringWidth, ringWidth, -ringWidth, -ringWidth);
    const QColor outline = palette().color(QPalette::Window);

    double start = 90.0;
    for (std::size_t i = 0; i < mSlices.size(); ++i) {
        const TimeDistributionSlice& slice = mSlices[i];
        const double span = -360.0 * slice.Fraction;
        const bool hovered = static_cast<int>(i) == mHovered;
        QColor fill = SliceColour(mTheme, slice, i);
        if (hovered)
            fill = fill.lighter(125);
        painter.setPen(QPen(outline, 1.0));
        painter.setBrush(fill);
        const QRectF body =
            hovered ? inner.adjusted(-ringWidth / 2, -ringWidth / 2, ringWidth / 2, ringWidth / 2) : inner;
        painter.drawPie(body, static_cast<int>(std::lround(start * kSixteenths)),
                        static_cast<int>(std::lround(span * kSixteenths)));

        // The ring: the slice's time split by thread state, in the states' own colours.
        const double total = SumStateTimes(slice.States);
        double stateStart = start;
        for (int state = 0; total > 0.0 && state < kThreadStateCount; ++state) {
            const double stateSpan = span * slice.States[state] / total;
            if (stateSpan == 0.0)
                continue;
            QPainterPath ring;
            ring.arcMoveTo(outer, stateStart);
            ring.arcTo(outer, stateStart, stateSpan);
            ring.arcTo(inner, stateStart + stateSpan, -stateSpan);
            ring.closeSubpath();
            painter.fillPath(ring, GetThreadStateColour(mTheme, static_cast<EThreadState>(state)));
            stateStart += stateSpan;
        }
        start += span;
    }

    // Percentages in the middle of each slice wide enough to hold one.
    painter.setPen(mTheme == EThemeType::Dark ? palette().color(QPalette::BrightText) : QColor(Qt::black));
    start = 90.0;
    const double labelRadius = inner.width() * 0.32;
    for (const TimeDistributionSlice& slice : mSlices) {
        const double span = 360.0 * slice.Fraction;
        const double middle = (start - span / 2.0) * std::numbers::pi / 180.0;
        start -= span;
        if (span < 12.0)
            continue;
        const QPointF at(inner.center().x() + labelRadius * std::cos(middle),
                         inner.center().y() - labelRadius * std::sin(middle));
        const QString label = QString::fromStdString(SliceLabel(slice));
        painter.drawText(QRectF(at.x() - 30, at.y() - 10, 60, 20), Qt::AlignCenter, label);
    }
    PaintLegend(painter);
}

void TimeSlicePieChartControl::PaintLegend(QPainter& painter)
{
    // Which slice is which: a swatch, the percentage and the function's name, largest first.
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    const int swatch = std::max(6, line - 6);
    const int left = kLegendMargin;
    int top = static_cast<int>(PieRect().bottom()) + 12 + kLegendMargin / 2;
    painter.setPen(palette().color(QPalette::WindowText));
    for (std::size_t i = 0; i < mSlices.size() && top + line <= height(); ++i, top += line) {
        const TimeDistributionSlice& slice = mSlices[i];
        painter.fillRect(QRect(left, top + (line - swatch) / 2, swatch, swatch),
                         SliceColour(mTheme, slice, i));
        const QString text = QStringLiteral("%1  %2").arg(QString::fromStdString(SliceLabel(slice)),
                                                          QString::fromStdString(slice.Label));
        const int textLeft = left + swatch + 6;
        QFont font = painter.font();
        font.setBold(static_cast<int>(i) == mHovered);
        painter.setFont(font);
        painter.drawText(QRect(textLeft, top, width() - textLeft - kLegendMargin, line),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideRight, width() - textLeft - kLegendMargin));
    }
}

void TimeSlicePieChartControl::SetHovered(int slice, const QPoint& globalPos)
{
    if (slice != mHovered) {
        mHovered = slice;
        update();
    }
    mTooltip->ShowAt(globalPos, slice < 0 ? QString()
                                          : QString::fromStdString(SliceTooltip(mSlices[slice], mTimeScale)));
}

void TimeSlicePieChartControl::mouseMoveEvent(QMouseEvent* event)
{
    SetHovered(SliceAt(event->pos()), event->globalPos());
}

void TimeSlicePieChartControl::leaveEvent(QEvent*)
{
    SetHovered(-1, {});
}

void TimeSlicePieChartControl::mousePressEvent(QMouseEvent* event)
{
    const int slice = SliceAt(event->pos());
    if (event->button() == Qt::RightButton && slice >= 0) {
        if (mNavigateBack)
            mNavigateBack();
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && slice >= 0) {
        const TimeDistributionSlice& hit = mSlices[slice];
        // Self time and the sum of small callees have nowhere deeper to go.
        if (!hit.IsSelf() && !hit.IsOther() && mSliceClicked)
            mSliceClicked(hit, Qt::LeftButton);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TimeSlicePieChartControl::contextMenuEvent(QContextMenuEvent* event)
{
    // A right click on a slice navigates back; the menu belongs to the space around the pie.
    if (SliceAt(event->pos()) >= 0)
        return;
    QMenu menu(this);
    QAction* hide = menu.addAction(QStringLiteral("Hide function time distribution"));
    if (menu.exec(event->globalPos()) == hide && mHide)
        mHide();
}

} // namespace Profiler
