#include "Runtime/FunctionDisplayNames.h"

#include "CaptureModel/ModuleDatabase.h"
#include "Importers/FoldedStackNamer.h"

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

} // namespace

std::string FunctionDisplayNames::MakeDisplayName(std::string_view symbol, std::string_view module)
{
    // The module database names an address without a symbol after its module, "Unknown" when
    // no module covers it; both are what the folding rules call "[unknown]".
    if (symbol == ModuleDatabase::kUnknownFunctionName)
        symbol = "[unknown]";
    if (module == ModuleDatabase::kUnknownModuleName)
        module = "[unknown]";
    return FoldedStackNamer::DisplayName(StripOffset(symbol), module);
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
