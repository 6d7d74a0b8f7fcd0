#include "Utility/SignalRegistration.h"

#include "Utility/Assert.h"

namespace Utility {

SignalRegistration::SignalRegistration(ISignalConnections* signal, uint32_t id) : mSignal(signal), mId(id)
{
    if (mSignal && !mSignal->Rebind(mId, this))
        mSignal = nullptr;
}

SignalRegistration::SignalRegistration(SignalRegistration&& other) noexcept
{
    TakeFrom(other);
}

SignalRegistration& SignalRegistration::operator=(SignalRegistration&& other) noexcept
{
    if (this != &other) {
        Reset();
        TakeFrom(other);
    }
    return *this;
}

void SignalRegistration::TakeFrom(SignalRegistration& other)
{
    mSignal = other.mSignal;
    mId = other.mId;
    other.mSignal = nullptr;
    if (mSignal && !mSignal->Rebind(mId, this)) {
        QX_FAIL("Could not move registration");
        mSignal = nullptr;
    }
}

void SignalRegistration::Reset()
{
    if (mSignal) {
        mSignal->Disconnect(mId);
        mSignal = nullptr;
    }
}

} // namespace Utility
