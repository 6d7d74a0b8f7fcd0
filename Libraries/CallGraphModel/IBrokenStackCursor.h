#pragma once

#include <cstdint>

namespace Profiler {

/// Where a broken-stack cursor stands in a thread's index, as kept in the serialized processor
/// state: four 32-bit words and a 64-bit one, whose meaning belongs to the cursor.
struct BrokenStackPosition {
    uint32_t Words[4] = {0, 0, 0, 0};
    uint64_t Value = 0;
    friend bool operator==(const BrokenStackPosition&, const BrokenStackPosition&) = default;
};

/// Answers, time after time, whether one thread's stacks are unrooted (do not reach the
/// thread's base function) and which rooted stack ended the range. Lookups in increasing time
/// order are cheap; earlier times search again.
class IBrokenStackCursor {
public:
    /// The stack ID of a range that no rooted stack closed.
    static constexpr uint64_t kNoClosingStack = ~uint64_t{0};

    virtual ~IBrokenStackCursor() = default;

    /// True when the thread's stacks are unrooted at `time`; `closingStackId` is then the rooted
    /// stack that ended the range (kNoClosingStack when none did).
    virtual bool Find(double time, uint64_t& closingStackId) = 0;
    virtual BrokenStackPosition GetPosition() const = 0;
    virtual void SetPosition(const BrokenStackPosition& position) = 0;
};

} // namespace Profiler
