#include "CallGraphPanelTestSupport.h"
#include "PluginApi/MessageTypes.h"
#include "PluginApi/ThreadSelectionSource.h"
#include "ZivuDeverUdovIradir/CallGraphWidget.h"
#include "ZivuDeverUdovIradir/SourceWidget.h"
#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"
#include "ZivuDeverUdovIradir/ZivuDeverUdovIradir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDockWidget>
#include <QMainWindow>

using namespace Profiler;

namespace {

std::vector<uint32_t> Ids(const std::vector<ThreadID>& threads)
{
    std::vector<uint32_t> ids;
    for (ThreadID thread : threads)
        ids.push_back(static_cast<uint32_t>(thread));
    return ids;
}

Message FilterState(int32_t thread, double from, double to, int32_t reason, bool hasBar = false)
{
    Message message(MessageTypes::FilterStateChanged());
    message.WriteInt32("ThreadID", thread);
    message.WriteDouble("SelectedRangeStartTime", from);
    message.WriteDouble("SelectedRangeEndTime", to);
    message.WriteInt32("HasSelectedBar", hasBar ? 1 : 0);
    message.WriteInt32("SelectedBarDepth", 2);
    message.WriteDouble("SelectedBarStartTime", from + 1);
    message.WriteDouble("SelectedBarEndTime", to - 1);
    message.WriteFrame("SelectedBarFrame",
                       hasBar ? ResolvedAddress{0x1000, 1} : CallGraphViewSelectionState::kNoBar);
    message.WriteInt32("Reason", reason);
    return message;
}

class CallGraphViewTest : public testing::Test, protected PluginTests::ViewHost {
protected:
    CallGraphViewTest()
    {
        Context.Model = reinterpret_cast<CaptureDocument*>(uintptr_t{0x1000}); // only an id here
        mView = MakeThreadView();
    }
    std::unique_ptr<CallGraphView> MakeThreadView()
    {
        return MakeView(&mThreads, nullptr, std::make_unique<PluginTests::QueuedRequester>(&mRequests));
    }

    ThreadSelectionSource mThreads;
    std::vector<CallGraphInputParameters> mRequests;
    std::unique_ptr<CallGraphView> mView;
};

bool ShowsProgress(QWidget* panel)
{
    return !panel->findChild<QWidget*>(QStringLiteral("mProgressBarFrame"))->isHidden();
}

} // namespace

TEST_F(CallGraphViewTest, ASupersededRequestEndingLeavesThePanelsWaitingForTheNewerOne)
{
    auto requester = std::make_unique<PluginTests::HeldRequester>();
    PluginTests::HeldRequester& held = *requester;
    mView = MakeView(&mThreads, nullptr, std::move(requester));
    SendMessage(Listeners, Context.GetListenerId(), FilterState(-1, 0.0, 10.0, 0));
    SendMessage(Listeners, Context.GetListenerId(), FilterState(-1, 0.0, 20.0, 0));
    ASSERT_EQ(held.Pending.size(), 2u);
    QWidget* callGraph = mView->GetCallGraphWidget();
    QWidget* functionList = mView->GetTopExclusiveWidget();
    ASSERT_TRUE(ShowsProgress(callGraph));
    ASSERT_TRUE(ShowsProgress(functionList));

    // The older one ends as canceled, or with a graph it had finished before it was superseded:
    // either way it is dropped, and the panels still wait.
    held.Pending[0].second({held.Pending[0].first, nullptr, true, {}});
    held.Pending[0].second({held.Pending[0].first, std::make_shared<CallGraph>(), false, {}});
    QCoreApplication::processEvents();
    EXPECT_EQ(mView->GetCurrentCallGraph(), nullptr);
    EXPECT_TRUE(ShowsProgress(callGraph));
    EXPECT_TRUE(ShowsProgress(functionList));

    auto graph = std::make_shared<CallGraph>();
    held.Pending[1].second({held.Pending[1].first, graph, false, {}});
    EXPECT_EQ(mView->GetCurrentCallGraph(), graph);

    // The newest request canceled on its own (the capture closing): the panels stop waiting.
    SendMessage(Listeners, Context.GetListenerId(), FilterState(-1, 0.0, 30.0, 0));
    held.Pending[2].second({held.Pending[2].first, nullptr, true, {}});
    QCoreApplication::processEvents();
    EXPECT_EQ(mView->GetCurrentCallGraph(), graph);
    EXPECT_FALSE(ShowsProgress(functionList));
}

TEST_F(CallGraphViewTest, TurnsFilterChangesIntoRequestsAndHandsGraphsToThePanels)
{
    mThreads.SetSelection({ThreadID{7}, ThreadID{9}});
    ASSERT_EQ(mRequests.size(), 1u);
    EXPECT_EQ(mRequests[0].Reason, static_cast<uint8_t>(ERequestReason::ThreadSelectionChanged));

    // All bits set keeps the thread selection; the range is requested.
    SendMessage(Listeners, Context.GetListenerId(), FilterState(-1, 10.0, 20.0, 0));
    ASSERT_EQ(mRequests.size(), 2u);
    EXPECT_EQ(Ids(mRequests[1].ThreadIDs), (std::vector<uint32_t>{7, 9}));
    EXPECT_EQ(mRequests[1].StartTime, 10.0);
    EXPECT_EQ(mRequests[1].EndTime, 20.0);
    EXPECT_EQ(mRequests[1].Reason, static_cast<uint8_t>(ERequestReason::RangeSelected));

    // One thread and a selected bar: the bar's range and depth.
    SendMessage(Listeners, Context.GetListenerId(), FilterState(9, 10.0, 20.0, 1, true));
    EXPECT_EQ(Ids(mRequests[2].ThreadIDs), (std::vector<uint32_t>{9}));
    EXPECT_TRUE(mRequests[2].HasBar);
    EXPECT_EQ(mRequests[2].Depth, 2);
    EXPECT_EQ(mRequests[2].StartTime, 11.0);
    EXPECT_EQ(mView->GetSelectionState()->mCurrentSelectedBarFrame.RelativeAddress, 0x1000u);

    // Another session's messages never reach this view.
    SendMessage(Listeners, 0x2000, FilterState(-1, 0.0, 1.0, 0));
    EXPECT_EQ(mRequests.size(), 3u);

    QCoreApplication::processEvents();
    ASSERT_NE(mView->GetCurrentCallGraph(), nullptr);
    EXPECT_EQ(mView->GetCallGraphWidget()->GetParameters().StartTime, 11.0);
    EXPECT_EQ(mView->GetTopExclusiveWidget()->GetCallGraph(), mView->GetCurrentCallGraph());
}

TEST_F(CallGraphViewTest, PersistsTheSelectionAndRestoresItWithoutASecondRequest)
{
    SendMessage(Listeners, Context.GetListenerId(), FilterState(5, 1.0, 2.0, 0));
    mView->SaveState(Directory.GetPath());
    ASSERT_TRUE(std::filesystem::exists(Directory / "CallGraph.dat"));

    mRequests.clear();
    mView = MakeThreadView();
    mView->LoadState(Directory.GetPath(), 0, &Registry);
    ASSERT_EQ(mRequests.size(), 1u);
    EXPECT_EQ(Ids(mRequests[0].ThreadIDs), (std::vector<uint32_t>{5}));
    EXPECT_EQ(mRequests[0].StartTime, 1.0);
    SendMessage(Listeners, Context.GetListenerId(), Message(MessageTypes::SessionOpened()));
    EXPECT_EQ(mRequests.size(), 1u); // the restored threads stand

    // A missing state file: defaults, no request, and the failure logged.
    PluginTests::LogCollector log;
    mRequests.clear();
    mView = MakeThreadView();
    mView->LoadState(Directory / "missing", 0, &Registry);
    EXPECT_TRUE(mRequests.empty());
    ASSERT_NE(mView->GetSelectionState(), nullptr);
    ASSERT_FALSE(log.GetLines().empty());
    EXPECT_NE(log.GetLines()[0].find("Failed to load callgraph view state: "), std::string::npos);
}

TEST_F(CallGraphViewTest, ClearingTheFilterAnnouncesItAndRaisesDocksByReason)
{
    PluginTests::MessageRecorder listener(&Listeners);
    mView->ClearFilter();
    EXPECT_EQ(mRequests.back().Reason, static_cast<uint8_t>(ERequestReason::FilterCleared));
    ASSERT_EQ(listener.Messages.size(), 1u);
    EXPECT_EQ(listener.Messages[0].GetName(), "CallGraphFilterCleared");

    QMainWindow window;
    auto* callGraphDock = new QDockWidget(&window);
    auto* listDock = new QDockWidget(&window);
    callGraphDock->setWidget(mView->GetCallGraphWidget());
    listDock->setWidget(mView->GetTopExclusiveWidget());
    window.addDockWidget(Qt::LeftDockWidgetArea, callGraphDock);
    window.tabifyDockWidget(callGraphDock, listDock);
    window.show();
    listDock->raise();
    SendMessage(Listeners, Context.GetListenerId(), FilterState(-1, 0.0, 1.0, 4));
    EXPECT_EQ(mRequests.back().Reason, static_cast<uint8_t>(ERequestReason::ShowPanel));
    EXPECT_FALSE(mView->GetCallGraphWidget()->visibleRegion().isEmpty());
    // The view deletes its panels even when a host docked them.
    mView.reset();
    EXPECT_EQ(callGraphDock->widget(), nullptr);
}
