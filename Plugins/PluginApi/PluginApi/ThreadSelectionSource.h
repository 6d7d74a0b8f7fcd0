#pragma once

#include "CaptureModel/Identifiers.h"
#include "Utility/Signal.h"

#include <set>

namespace Profiler {

/// The host's thread selection of one session: views subscribe and follow it.
class ThreadSelectionSource {
public:
    using ThreadSet = std::set<ThreadID>;

    [[nodiscard]] Utility::SignalRegistration Connect(std::function<void(const ThreadSet&)> callback)
    {
        return mSelectionChanged.Connect(std::move(callback));
    }
    void SetSelection(ThreadSet threads)
    {
        mSelection = std::move(threads);
        mSelectionChanged.Emit(mSelection);
    }
    const ThreadSet& GetSelection() const { return mSelection; }

private:
    ThreadSet mSelection;
    Utility::Signal<const ThreadSet&> mSelectionChanged{"ThreadSelectionChanged"};
};

} // namespace Profiler
