#include "PluginApi/MessageListener.h"
#include "PluginApi/MessageTypes.h"

#include <gtest/gtest.h>

#include <string>

using namespace Profiler;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    return std::vector<uint8_t>(values.begin(), values.end());
}

struct Recorder : MessageListener {
    Recorder(MessageListenerList* list, uint64_t id, std::vector<std::string>* log, std::string name)
        : MessageListener(list, id), log(log), name(std::move(name))
    {}
    void OnMessage(const Message& message) override
    {
        log->push_back(name + ":" + std::string(message.GetName()));
    }
    std::vector<std::string>* log;
    std::string name;
};

} // namespace

TEST(Messages, EncodeEachFieldTypeByteForByteAndReadItBack)
{
    Message message(MessageTypes::CallGraphSelected());
    message.WriteStringArray("ResolvedFunctionNames", {"ab", "c"});
    EXPECT_EQ(message.GetPayload(), Bytes({5, 2, 0, 0,   0,   0, 0, 0, 0, 2, 0, 0, 0, 0,
                                           0, 0, 0, 'a', 'b', 1, 0, 0, 0, 0, 0, 0, 0, 'c'}));
    EXPECT_EQ(message.GetOffset("ResolvedFunctionNames"), 0);
    EXPECT_EQ(message.GetOffset("ModuleNames"), -1); // never written
    EXPECT_EQ(message.GetOffset("modulenames"), -1); // names are case-sensitive

    Message ints(MessageTypes::CallGraphSelected());
    ints.WriteInt32Array("ThreadIDs", {1, -1});
    ints.WriteDouble("StartTime", 1.0);
    EXPECT_EQ(ints.GetPayload(), Bytes({2,    2,    0,    0,    0, 0, 0, 0, 0, 1, 0,    0,   0,
                                        0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f}));
    EXPECT_EQ(ints.GetOffset("StartTime"), 17);

    Message frames(MessageTypes::CallGraphSelected());
    frames.WriteFrameArrays("Callstack", {{{0x0102, 0x03}}});
    EXPECT_EQ(frames.GetPayload(), Bytes({7, 1, 0, 0, 0, 0, 0, 0, 0,             // one path
                                          6, 1, 0, 0, 0, 0, 0, 0, 0,             // of one frame
                                          2, 1, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0})); // address, index

    // Reading gives back what was written.
    Message written(MessageTypes::TopExclusiveSelected());
    written.WriteInt32Array("ThreadIDs", {7, 9});
    written.WriteDouble("EndTime", 12.5);
    written.WriteInt32("Depth", 3);
    written.WriteFrameArray("Frames", {{1, 2}, {3, 4}});
    written.WriteStringArray("ModuleNames", {"", "libc.so.6"});
    EXPECT_EQ(written.ReadInt32Array("ThreadIDs"), (std::vector<int32_t>{7, 9}));
    EXPECT_EQ(written.ReadDouble("EndTime"), 12.5);
    EXPECT_EQ(written.ReadInt32("Depth"), 3);
    const auto read = written.ReadFrameArray("Frames");
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].RelativeAddress, 3u);
    EXPECT_EQ(read[1].ResolveIndex, 4u);
    EXPECT_EQ(written.ReadStringArray("ModuleNames"), (std::vector<std::string>{"", "libc.so.6"}));
    // Unwritten or unknown fields read as empty, never past the payload.
    EXPECT_TRUE(written.ReadFrameArray("CustomRoot").empty());
    EXPECT_EQ(written.ReadDouble("Nope"), 0.0);

    Message bar(MessageTypes::FilterStateChanged());
    bar.WriteFrame("SelectedBarFrame", {0xffffffffffffffffull, 5});
    EXPECT_EQ(bar.ReadFrame("SelectedBarFrame").RelativeAddress, 0xffffffffffffffffull);
    EXPECT_EQ(bar.GetPayload().size(), 12u);
}

TEST(Messages, SendReachesTheTargetSessionAndBroadcastListenersInOrder)
{
    MessageListenerList list;
    std::vector<std::string> log;
    Recorder a(&list, 1, &log, "a");
    Recorder other(&list, 2, &log, "other");
    Recorder all(&list, kBroadcastListenerId, &log, "all");
    Recorder b(&list, 1, &log, "b");

    SendMessage(list, 1, Message(MessageTypes::SessionOpened()));
    EXPECT_EQ(log, (std::vector<std::string>{"a:SessionOpened", "all:SessionOpened", "b:SessionOpened"}));
    log.clear();
    SendMessage(list, kBroadcastListenerId, Message(MessageTypes::CallGraphFilterCleared()));
    EXPECT_EQ(log.size(), 4u);

    // Leaving removes only the listener, keeping the others' order.
    {
        Recorder temporary(&list, 1, &log, "t");
        EXPECT_EQ(list.size(), 5u);
    }
    EXPECT_EQ(list, (MessageListenerList{&a, &other, &all, &b}));
}
