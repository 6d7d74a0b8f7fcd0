#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <string>

namespace Profiler {

/// Names of functions and their modules, as the session's module database knows them.
class IFunctionInfoProvider {
public:
    virtual ~IFunctionInfoProvider() = default;
    virtual std::string GetFunctionName(const ResolvedAddress& function) const = 0;
    virtual std::string GetModuleName(const ResolvedAddress& function) const = 0;
};

} // namespace Profiler
