#pragma once

#include <cstdint>
#include <optional>

namespace Profiler {

/// Source lines of a function's instruction address ranges (the resolved line data of a function).
class IAddressLineMap {
public:
    virtual ~IAddressLineMap() = default;
    /// False while the function's addresses have not been resolved to lines.
    virtual bool HasAddressRanges() const = 0;
    /// The line whose address range holds `address`, if any.
    virtual std::optional<int32_t> FindLine(uint64_t address) const = 0;
};

} // namespace Profiler
