#pragma once

#include "CallGraphModel/IFunctionInfoProvider.h"

#include <string>
#include <string_view>

namespace Profiler {

class ModuleDatabase;

/// Names functions the way the imported folded stacks do, so that the views, `qx callgraph` and
/// `qx folded` agree: symbols without their "+0x..." offset, and functions without a symbol
/// shown as their module in brackets.
class FunctionDisplayNames final : public IFunctionInfoProvider {
public:
    /// The database must outlive the names.
    explicit FunctionDisplayNames(const ModuleDatabase& modules) : mModules(modules) {}

    std::string GetFunctionName(const ResolvedAddress& function) const override;
    std::string GetModuleName(const ResolvedAddress& function) const override;

    /// The display name of a symbol of a module (a path or a name).
    static std::string MakeDisplayName(std::string_view symbol, std::string_view module);

private:
    const ModuleDatabase& mModules; // not owned
};

} // namespace Profiler
