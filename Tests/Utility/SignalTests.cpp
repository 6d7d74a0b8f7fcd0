#include "Support/AssertionCapture.h"
#include "Utility/Signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

using TestSupport::AssertionCapture;
using IntSignal = Utility::Signal<int>;

TEST(Signal, CallsConnectedCallbacksInConnectionOrderUntilDisconnected)
{
    IntSignal signal("Test");
    std::vector<int> calls;
    auto a = signal.Connect([&](int v) { calls.push_back(v); });
    auto b = signal.Connect([&](int v) { calls.push_back(v * 10); });
    EXPECT_NE(a.GetId(), b.GetId());
    signal.Emit(3);
    EXPECT_EQ(calls, (std::vector<int>{3, 30}));
    EXPECT_EQ(signal.GetNumConnections(), 2);

    // Replacing or resetting a registration disconnects it.
    a = {};
    b.Reset();
    b.Reset(); // harmless when already disconnected
    signal.Emit(4);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(signal.GetNumConnections(), 0);
}

// A signal that has lost the connection behind a registration (as a buggy owner might).
class ForgetfulSignal final : public Utility::ISignalConnections {
public:
    void Disconnect(uint32_t) override {}
    bool Rebind(uint32_t, Utility::SignalRegistration*) override { return mKnows; }
    bool mKnows = true;
};

TEST(Signal, MovedRegistrationKeepsTheConnectionAliveOrReportsThatItIsGone)
{
    IntSignal signal("Test");
    int calls = 0;
    std::optional<Utility::SignalRegistration> holder;
    {
        auto registration = signal.Connect([&](int) { ++calls; });
        holder.emplace(std::move(registration));
        EXPECT_FALSE(registration.IsConnected());
    } // the moved-from registration dies without disconnecting
    signal.Emit(0);
    EXPECT_EQ(calls, 1);

    // Move assignment over a live registration drops the old connection.
    Utility::SignalRegistration second = signal.Connect([&](int) { calls += 10; });
    second = std::move(*holder);
    EXPECT_EQ(signal.GetNumConnections(), 1);
    signal.Emit(0);
    EXPECT_EQ(calls, 2);
    holder.reset();
    second.Reset();
    EXPECT_EQ(signal.GetNumConnections(), 0);

    // Moving a registration whose connection is gone reports it.
    ForgetfulSignal forgetful;
    Utility::SignalRegistration lost(&forgetful, 7);
    forgetful.mKnows = false;
    AssertionCapture capture;
    Utility::SignalRegistration moved(std::move(lost));
    EXPECT_EQ(capture.GetMessages(), (std::vector<std::string>{"Could not move registration"}));
    EXPECT_FALSE(moved.IsConnected());
}

TEST(Signal, DyingWithConnectionsLogsAndDetachesRegistrations)
{
    AssertionCapture capture;
    Utility::SignalRegistration registration;
    {
        IntSignal signal("ThemeChanged");
        registration = signal.Connect([](int) {});
    }
    ASSERT_EQ(capture.GetReports().size(), 1u);
    EXPECT_EQ(capture.GetMessages()[0], "1 connections left on ThemeChanged signal");
    EXPECT_FALSE(registration.IsConnected());
    registration.Reset(); // must not touch the destroyed signal (ASan would catch it)
}

} // namespace
