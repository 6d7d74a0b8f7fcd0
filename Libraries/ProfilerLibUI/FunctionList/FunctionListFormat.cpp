#include "ProfilerLibUI/FunctionList/FunctionListFormat.h"

#include "System/FormatDuration.h"
#include "Utility/Format.h"

#include <cmath>

namespace Profiler {

std::string FormatFunctionListTime(double milliseconds, double totalTime, EFunctionListTimeUnit unit)
{
    switch (unit) {
    case EFunctionListTimeUnit::Milliseconds:
        return Utility::Format("%.2f", milliseconds);
    case EFunctionListTimeUnit::Seconds:
        return Utility::Format("%.2f", milliseconds / 1000.0);
    case EFunctionListTimeUnit::AbsolutePercentage:
        break;
    }
    // An empty graph has no 100 %; every share of it reads as nothing rather than NaN.
    const double share = totalTime > 0.0 ? milliseconds / totalTime * 100.0 : 0.0;
    if (share > 0.0 && share < 1.0)
        return "<1%";
    return Utility::Format("%d%%", static_cast<int>(std::round(share)));
}

const char* GetFunctionListTimeHeaderSuffix(EFunctionListTimeUnit unit)
{
    switch (unit) {
    case EFunctionListTimeUnit::Milliseconds:
        return " (ms)";
    case EFunctionListTimeUnit::Seconds:
        return " (s)";
    case EFunctionListTimeUnit::AbsolutePercentage:
        break;
    }
    return "";
}

std::string_view GetModuleFileName(std::string_view modulePath)
{
    const std::size_t slash = modulePath.find_last_of("/\\");
    return slash == std::string_view::npos ? modulePath : modulePath.substr(slash + 1);
}

std::string_view GetModuleDisplayName(std::string_view moduleFileName)
{
    // The list names a module without the extension of its file type. On Linux that is a shared
    // object's ".so" with the version after it ("libc.so.6" is "libc") and a kernel module's
    // ".ko"; programs have no extension, so a dot in their name is part of it ("python3.11"), and
    // perf's pseudo-modules ("[kernel.kallsyms]", "[vdso]") are names as they stand.
    if (moduleFileName.starts_with('['))
        return moduleFileName;
    for (std::size_t so = moduleFileName.find(".so"); so != std::string_view::npos;
         so = moduleFileName.find(".so", so + 1)) {
        const std::size_t after = so + 3;
        if (so > 0 && (after == moduleFileName.size() || moduleFileName[after] == '.'))
            return moduleFileName.substr(0, so);
    }
    if (moduleFileName.size() > 3 && moduleFileName.ends_with(".ko"))
        return moduleFileName.substr(0, moduleFileName.size() - 3);
    return moduleFileName;
}

bool IsDurationPresent(double milliseconds)
{
    // The finest unit of a duration's text is the nanosecond.
    return std::fabs(milliseconds) * 1.0e6 >= 1.0;
}

std::string FormatInclusiveTooltip(double inclusive, double unknownExecuting, double unknownWait)
{
    std::string text = System::FormatDuration(inclusive);
    const bool executing = IsDurationPresent(unknownExecuting);
    const bool wait = IsDurationPresent(unknownWait);
    if (!executing && !wait)
        return text;
    auto percent = [inclusive](double part) {
        return inclusive > 0.0 ? static_cast<int>(std::round(part / inclusive * 100.0)) : 0;
    };
    text += "<br><table>";
    if (executing)
        text += Utility::Format("<tr><td><strong>Unknown Executing</strong></td><td align='right'>%d%% "
                                "</td><td><p style='white-space:pre'>(%s)</p></td></tr>",
                                percent(unknownExecuting), System::FormatDuration(unknownExecuting).c_str());
    if (wait)
        text += Utility::Format("<tr><td><strong>Unknown Wait</strong></td><td align='right'>%d%% "
                                "</td><td><p style='white-space:pre'>(%s)</p></td></tr>",
                                percent(unknownWait), System::FormatDuration(unknownWait).c_str());
    text += "</table>";
    return text;
}

const char* GetUnrootedStacksTooltip()
{
    return "<p style='white-space:pre'>This function represents all stacks originating from incomplete "
           "stacktraces that didn't go all the way to the base function of the thread.<br /><br />See the "
           "section <i>Unrooted stacks</i> in the documentation for detailed information.</p>";
}

} // namespace Profiler
