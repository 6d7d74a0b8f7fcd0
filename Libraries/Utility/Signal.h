#pragma once

#include "Utility/Assert.h"
#include "Utility/SignalRegistration.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Utility {

/// A small thread-safe signal for shared engine objects that are not QObjects.
/// Callbacks run under the signal's mutex, in connection order, on the emitting thread; a
/// callback must not connect to or disconnect from the same signal.
template <class... Args>
class Signal final : public ISignalConnections {
public:
    using Callback = std::function<void(Args...)>;

    /// `name` appears in the message logged when the signal dies with connections left.
    explicit Signal(std::string name = "Signal") : mName(std::move(name)) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    ~Signal()
    {
        std::lock_guard lock(mMutex);
        const int left = static_cast<int>(mConnections.size());
        QX_ASSERT(left == 0, "%d connections left on %s signal", left, mName.c_str());
        for (Connection& connection : mConnections)
            if (connection.owner)
                connection.owner->Detach();
    }

    [[nodiscard]] SignalRegistration Connect(Callback callback)
    {
        uint32_t id = 0;
        {
            std::lock_guard lock(mMutex);
            id = ++mLastId;
            mConnections.push_back({id, std::move(callback), nullptr});
        }
        // The registration binds its own address to the connection (guaranteed elision).
        return SignalRegistration(this, id);
    }

    void Emit(Args... args)
    {
        std::lock_guard lock(mMutex);
        for (Connection& connection : mConnections)
            connection.callback(args...);
    }

    int GetNumConnections() const
    {
        std::lock_guard lock(mMutex);
        return static_cast<int>(mConnections.size());
    }

private:
    struct Connection {
        uint32_t id;
        Callback callback;
        SignalRegistration* owner; // not owned
    };

    void Disconnect(uint32_t id) override
    {
        std::lock_guard lock(mMutex);
        std::erase_if(mConnections, [id](const Connection& c) { return c.id == id; });
    }

    bool Rebind(uint32_t id, SignalRegistration* owner) override
    {
        std::lock_guard lock(mMutex);
        for (Connection& connection : mConnections)
            if (connection.id == id) {
                connection.owner = owner;
                return true;
            }
        return false;
    }

    std::string mName;
    mutable std::mutex mMutex;
    std::vector<Connection> mConnections;
    uint32_t mLastId = 0;
};

} // namespace Utility
