#include "PluginApi/MessageTypes.h"
#include "PluginApi/SessionModelContext.h"

#include <gtest/gtest.h>

#include <limits>

// The host's "FilterStateChanged" carries every field the view reads, so that no field is read
// at a missing offset; the host builds it in HostSession, whose encoding this pins down.
#include "HostSession.h"

using namespace Profiler;

TEST(HostSession, FilterStateCarriesEveryFieldTheViewReads)
{
    struct Recorder : MessageListener {
        using MessageListener::MessageListener;
        std::vector<Message> heard;
        void OnMessage(const Message& message) override { heard.push_back(message); }
    };
    HostSession session(nullptr, nullptr);
    Recorder recorder(&session.GetListeners(), 42);
    session.SendFilterState(1.5, std::numeric_limits<double>::max(), 7, 2);
    session.SendSessionOpened();
    ASSERT_EQ(recorder.heard.size(), 2u);
    const Message& filter = recorder.heard[0];
    for (const MessageType::Field& field : MessageTypes::FilterStateChanged().Fields)
        EXPECT_TRUE(filter.Has(field.Name)) << field.Name;
    EXPECT_EQ(filter.ReadInt32("ThreadID"), 7);
    EXPECT_EQ(filter.ReadDouble("SelectedRangeStartTime"), 1.5);
    EXPECT_EQ(filter.ReadDouble("SelectedRangeEndTime"), std::numeric_limits<double>::max());
    EXPECT_EQ(filter.ReadInt32("HasSelectedBar"), 0);
    EXPECT_EQ(filter.ReadFrame("SelectedBarFrame").RelativeAddress, ~uint64_t{0});
    EXPECT_EQ(filter.ReadInt32("Reason"), 2);
    EXPECT_EQ(recorder.heard[1].GetName(), "SessionOpened");
}
