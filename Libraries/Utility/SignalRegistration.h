#pragma once

#include <cstdint>

namespace Utility {

/// What a registration needs from the signal it belongs to, independent of the callback type.
class ISignalConnections {
public:
    virtual void Disconnect(uint32_t id) = 0;
    /// Points connection `id` at its registration's new owner object; false when it is gone.
    virtual bool Rebind(uint32_t id, class SignalRegistration* owner) = 0;

protected:
    ~ISignalConnections() = default;
};

/// Keeps one callback connected to a signal; destroying it disconnects the callback.
/// A registration may be moved to a new owner; a default-constructed one is empty.
class SignalRegistration {
public:
    SignalRegistration() = default;
    /// Binds connection `id` of `signal` to this object (signals call this from Connect).
    SignalRegistration(ISignalConnections* signal, uint32_t id);
    SignalRegistration(SignalRegistration&& other) noexcept;
    SignalRegistration& operator=(SignalRegistration&& other) noexcept;
    SignalRegistration(const SignalRegistration&) = delete;
    SignalRegistration& operator=(const SignalRegistration&) = delete;
    ~SignalRegistration() { Reset(); }

    /// Disconnects now (if still connected).
    void Reset();
    bool IsConnected() const { return mSignal != nullptr; }
    uint32_t GetId() const { return mId; }

private:
    template <class...>
    friend class Signal;
    /// Called by a signal that is destroyed first: its later destruction then does nothing.
    void Detach() { mSignal = nullptr; }
    void TakeFrom(SignalRegistration& other);

    ISignalConnections* mSignal = nullptr; // not owned
    uint32_t mId = 0;
};

} // namespace Utility
