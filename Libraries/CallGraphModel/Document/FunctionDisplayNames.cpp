#include "CallGraphModel/Document/FunctionDisplayNames.h"

#include "CaptureModel/ModuleDatabase.h"

namespace Profiler {

namespace {

/// The symbol without a trailing "+0x..." offset.
std::string_view StripOffset(std::string_view symbol)
{
    const std::size_t plus = symbol.rfind("+0x");
    if (plus == std::string_view::npos || plus == 0)
        return symbol;
    for (std::size_t i = plus + 3; i < symbol.size(); ++i) {
        const char c = symbol[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex)
            return symbol;
    }
    return plus + 3 < symbol.size() ? symbol.substr(0, plus) : symbol;
}

/// `[NAME]` for the file name of a module path; kernel pseudo modules ("[kernel.kallsyms]") are
/// bracketed already.
std::string BracketedModule(std::string_view module)
{
    const std::size_t slash = module.rfind('/');
    if (slash != std::string_view::npos)
        module.remove_prefix(slash + 1);
    if (module.size() >= 2 && module.front() == '[' && module.back() == ']')
        return std::string(module);
    return "[" + std::string(module) + "]";
}

} // namespace

std::string FunctionDisplayNames::MakeDisplayName(std::string_view symbol, std::string_view module)
{
    // The module database names an address without a symbol after its module, "Unknown" when
    // no module covers it; both are what the folding rules call "[unknown]".
    if (symbol == ModuleDatabase::kUnknownFunctionName)
        symbol = "[unknown]";
    if (module == ModuleDatabase::kUnknownModuleName)
        module = "[unknown]";
    // The same rule that names frames of folded stacks, so the views and the folded text agree:
    // the symbol when there is one, else its module in brackets.
    constexpr std::string_view kUnknown = "[unknown]";
    symbol = StripOffset(symbol);
    if (!symbol.empty() && symbol != kUnknown)
        return std::string(symbol);
    if (module.empty() || module == kUnknown)
        return std::string(kUnknown);
    return BracketedModule(module);
}

std::string FunctionDisplayNames::GetFunctionName(const ResolvedAddress& function) const
{
    if (function.GetKind() == ResolvedAddress::kKindPseudo && !function.IsUnrootedStacks())
        return "[unknown]"; // an address outside every module
    std::string symbol = mModules.GetFunctionName(function);
    if (function.GetKind() == ResolvedAddress::kKindPseudo || function.HasInstrumentationFlag())
        return symbol; // "[Unrooted Stacks]" and zone names are names of their own
    const std::string module = mModules.GetModuleName(function);
    if (function.RelativeAddress == ModuleDatabase::kModuleEntryAddress)
        symbol = "[unknown]";
    return MakeDisplayName(symbol, module);
}

std::string FunctionDisplayNames::GetModuleName(const ResolvedAddress& function) const
{
    return mModules.GetModuleName(function);
}

} // namespace Profiler
