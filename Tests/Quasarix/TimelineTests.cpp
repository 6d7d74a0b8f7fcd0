#include "TimelineIndex.h"
#include "TimelineWidget.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace Profiler;

namespace {

std::shared_ptr<TimelineIndex> MakeIndex()
{
    TimelineIndex::Lane busy;
    busy.ThreadId = 11;
    busy.Name = "busy";
    busy.Runs = {{0.0, EThreadState::Executing}, {50.0, EThreadState::Sleep}};
    busy.End = 100.0;
    for (int i = 0; i < 50; ++i)
        busy.Samples.push_back(i + 0.5);
    TimelineIndex::Lane idle;
    idle.ThreadId = 12;
    idle.Name = "idle";
    idle.Runs = {{0.0, EThreadState::Sleep}};
    idle.End = 100.0;
    auto index = std::make_shared<TimelineIndex>();
    index->Assign({{100, "game", {busy, idle}}}, 0.0, 100.0);
    return index;
}

// A drag with the left button held, in widget coordinates.
void Drag(QWidget& widget, QPoint from, QPoint to)
{
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

} // namespace

TEST(TimelineIndex, SummarisesColumnsConsistentlyWithTheEvents)
{
    auto index = MakeIndex();
    const TimelineIndex::Lane& busy = *index->FindLane(11);
    EXPECT_EQ(TimelineIndex::Summarise(busy, 0.0, 10.0).State, static_cast<int>(EThreadState::Executing));
    EXPECT_EQ(TimelineIndex::Summarise(busy, 45.0, 60.0).State,
              static_cast<int>(EThreadState::Sleep)); // most of it
    EXPECT_EQ(TimelineIndex::Summarise(busy, 60.0, 70.0).Samples, 0u);
    // Every sample lands in exactly one column, however the range is cut.
    for (int columns : {1, 7, 100, 1000}) {
        uint32_t total = 0;
        for (int c = 0; c < columns; ++c)
            total += TimelineIndex::Summarise(busy, 100.0 * c / columns, 100.0 * (c + 1) / columns).Samples;
        EXPECT_EQ(total, 50u) << columns << " columns";
    }
}

TEST(TimelineIndex, LongLanesSummariseFromBucketsThatAgreeWithTheRuns)
{
    // Enough runs and samples for the bucket levels: alternating 1 ms runs, one sample each.
    TimelineIndex::Lane lane;
    lane.ThreadId = 1;
    lane.End = 40000.0;
    for (int i = 0; i < 40000; ++i) {
        lane.Runs.push_back(
            {static_cast<double>(i), i % 4 == 0 ? EThreadState::Sleep : EThreadState::Executing});
        lane.Samples.push_back(i + 0.5);
    }
    TimelineIndex index;
    index.Assign({{1, "p", {lane}}}, 0.0, 40000.0);
    const TimelineIndex::Lane& indexed = *index.FindLane(1);
    ASSERT_FALSE(indexed.Coverage.empty());
    uint32_t total = 0;
    for (int c = 0; c < 100; ++c) {
        const TimelineIndex::Column column = TimelineIndex::Summarise(indexed, 400.0 * c, 400.0 * (c + 1));
        EXPECT_EQ(column.State, static_cast<int>(EThreadState::Executing));
        total += column.Samples;
    }
    EXPECT_EQ(total, 40000u); // every sample in exactly one column
}

TEST(TimelineWidget, DragSelectsARangeClickSelectsAThreadAndTheWheelZooms)
{
    TimelineWidget timeline;
    timeline.resize(TimelineWidget::kLabelWidth + 1000, 200);
    timeline.SetIndex(MakeIndex());
    timeline.show();
    QSignalSpy ranges(&timeline, &TimelineWidget::RangeSelected);
    QSignalSpy threads(&timeline, &TimelineWidget::ThreadClicked);
    QSignalSpy cleared(&timeline, &TimelineWidget::SelectionCleared);

    const int laneY = timeline.LaneTop(12) + 5;
    const int x0 = static_cast<int>(timeline.XOf(20.0));
    const int x1 = static_cast<int>(timeline.XOf(40.0));
    Drag(timeline, QPoint(x0, laneY), QPoint(x1, laneY));
    ASSERT_EQ(ranges.count(), 1);
    EXPECT_NEAR(ranges[0][0].toDouble(), 20.0, 0.2);
    EXPECT_NEAR(ranges[0][1].toDouble(), 40.0, 0.2);
    EXPECT_EQ(threads.count(), 0);

    // Dragging the selection's end edits it.
    const int x2 = static_cast<int>(timeline.XOf(60.0));
    Drag(timeline, QPoint(x1, laneY), QPoint(x2, laneY));
    ASSERT_EQ(ranges.count(), 2);
    EXPECT_NEAR(ranges[1][0].toDouble(), 20.0, 0.2);
    EXPECT_NEAR(ranges[1][1].toDouble(), 60.0, 0.2);

    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(x2 + 100, timeline.LaneTop(11) + 5));
    ASSERT_EQ(threads.count(), 1);
    EXPECT_EQ(threads[0][0].toInt(), 11);
    EXPECT_EQ(ranges.count(), 2);

    // Ctrl+click adds a thread to the selection and takes it out again.
    QSignalSpy several(&timeline, &TimelineWidget::ThreadsSelected);
    QTest::mouseClick(&timeline, Qt::LeftButton, Qt::ControlModifier,
                      QPoint(x2 + 100, timeline.LaneTop(12) + 5));
    EXPECT_EQ(timeline.GetSelectedThreads(), (std::set<int32_t>{11, 12}));
    QTest::mouseClick(&timeline, Qt::LeftButton, Qt::ControlModifier,
                      QPoint(x2 + 100, timeline.LaneTop(11) + 5));
    EXPECT_EQ(timeline.GetSelectedThreads(), (std::set<int32_t>{12}));
    EXPECT_EQ(several.count(), 2);
    EXPECT_EQ(threads.count(), 1);

    QTest::keyClick(&timeline, Qt::Key_Escape);
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_FALSE(timeline.GetSelection());

    // The wheel zooms around the pointer.
    const QPointF at(timeline.XOf(25.0), 50);
    QWheelEvent wheel(at, timeline.mapToGlobal(at.toPoint()), {}, QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&timeline, &wheel);
    EXPECT_NEAR(timeline.TimeAt(at.x()), 25.0, 1e-6);
    EXPECT_LT(timeline.GetVisibleTo() - timeline.GetVisibleFrom(), 100.0);
}
