#include "Importers/FoldedStackNamer.h"

#include "Importers/PerfScriptRecords.h"

#include <algorithm>
#include <cstdio>

#include <cinttypes>
#include <cstdio>

namespace Profiler {

namespace {

constexpr std::string_view kUnknown = "[unknown]";

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// Argument lists are cut off (`f(int)` → `f`) except where the name looks like `.(...).`,
/// and `(anonymous namespace)` survives; `;` cannot appear inside a folded frame; quotes go.
void TidyName(std::string& name)
{
    for (char& c : name)
        if (c == ';')
            c = ':';
    std::size_t dotParen = name.find(".(");
    std::size_t parenDot = name.rfind(").");
    bool looksLikeDottedCall =
        dotParen != std::string::npos && parenDot != std::string::npos && parenDot >= dotParen + 2;
    if (!looksLikeDottedCall) {
        constexpr std::string_view kAnonymous = "anonymous namespace)";
        for (std::size_t open = name.find('('); open != std::string::npos; open = name.find('(', open + 1)) {
            if (std::string_view(name).substr(open + 1, kAnonymous.size()) != kAnonymous) {
                name.resize(open);
                break;
            }
        }
    }
    std::erase_if(name, [](char c) { return c == '"' || c == '\''; });
}

void AppendOneName(std::string& stack, std::string_view part, std::string_view dso, uint64_t address,
                   std::string_view processName, const FoldOptions& options)
{
    std::string name;
    if (part == kUnknown) {
        std::string_view module =
            dso != kUnknown ? FoldedStackNamer::BaseName(dso) : std::string_view("unknown");
        name = "[";
        name += module;
        if (options.includeAddresses) {
            char text[32];
            std::snprintf(text, sizeof(text), " <%" PRIx64 ">", address);
            name += text;
        }
        name += "]";
    } else {
        name = part;
    }
    TidyName(name);
    // Java class names in frames look like "Ljava/lang/String;.length" and lose the "L" in
    // stacks named after a java process; the folding tools do not do it once the stack name
    // carries the process id (--pid, --tid), and neither do we.
    bool javaStack = processName.starts_with("java") && !options.includePid && !options.includeTid;
    if (javaStack && name.find('/') != std::string::npos && name.starts_with("L"))
        name.erase(0, 1);

    if (options.annotateKernel && FoldedStackNamer::IsKernelDso(dso))
        name += "_[k]";
    else if (options.annotateJit && FoldedStackNamer::IsJitMapDso(dso) &&
             name.find("_[j]") == std::string::npos)
        name += "_[j]";
    stack += ';';
    stack += name;
}

} // namespace

std::optional<FoldOptions> FoldOptions::FromFlag(std::string_view flag)
{
    FoldOptions options;
    if (flag == "pid")
        options.includePid = true;
    else if (flag == "tid")
        options.includeTid = true;
    else if (flag == "kernel")
        options.annotateKernel = true;
    else if (flag == "jit")
        options.annotateJit = true;
    else if (flag == "all")
        options.annotateKernel = options.annotateJit = true;
    else if (flag == "addrs")
        options.includeAddresses = true;
    else
        return std::nullopt;
    return options;
}

void FoldedStackNamer::AppendFrame(std::string& stack, std::string_view symbol, std::string_view dso,
                                   uint64_t address, std::string_view processName, const FoldOptions& options)
{
    if (symbol.starts_with("("))
        return; // process names that some recorders print as frames
    // The folding tools take the last parenthesised group of a frame line as its DSO, so for a
    // DSO that ends in a group of its own ("/memfd:x (deleted)") they read the symbol as
    // "SYMBOL (/memfd:x" and the DSO as "deleted)". Folded output follows them, since users
    // compare it with theirs; the capture itself keeps the real DSO.
    std::string joined;
    if (dso.ends_with(")")) {
        const std::size_t group = dso.rfind(" (");
        if (group != std::string_view::npos) {
            joined.assign(symbol);
            joined += " (";
            joined += dso.substr(0, group);
            symbol = joined;
            dso = dso.substr(group + 2);
        }
    }
    while (true) {
        std::size_t arrow = symbol.find("->");
        AppendOneName(stack, symbol.substr(0, arrow), dso, address, processName, options);
        if (arrow == std::string_view::npos)
            break;
        symbol.remove_prefix(arrow + 2);
    }
}

std::string FoldedStackNamer::StackPrefix(std::string_view comm, std::optional<int32_t> pid, int32_t tid,
                                          const FoldOptions& options)
{
    std::string prefix(comm);
    if (options.includeTid || options.includePid) {
        prefix += '-';
        prefix += pid ? std::to_string(*pid) : std::string("?");
        if (options.includeTid) {
            prefix += '/';
            prefix += tid <= kUnnamedThreadIdBase ? std::string("?") : std::to_string(tid);
        }
    }
    for (char& c : prefix)
        if (c == ' ')
            c = '_';
    return prefix;
}

std::string FoldedStackNamer::DisplayName(std::string_view symbol, std::string_view dso)
{
    if (symbol != kUnknown && !symbol.empty())
        return std::string(symbol);
    if (dso.empty() || dso == kUnknown)
        return std::string(kUnknown);
    std::string_view module = BaseName(dso);
    // Kernel pseudo DSOs are bracketed already ("[kernel.kallsyms]").
    if (module.size() >= 2 && module.front() == '[' && module.back() == ']')
        return std::string(module);
    return "[" + std::string(module) + "]";
}

std::string FoldedStackNamer::UnknownRangeName(std::string_view dso, uint64_t start)
{
    std::string name = DisplayName(kUnknown, dso);
    if (name == kUnknown)
        return name;
    char offset[32];
    std::snprintf(offset, sizeof(offset), "+0x%llx]", static_cast<unsigned long long>(start));
    name.pop_back();
    name += offset;
    return name;
}

bool FoldedStackNamer::IsUnknownRangeName(std::string_view name, std::string_view dso)
{
    const std::string plain = DisplayName(kUnknown, dso);
    if (name == plain)
        return true;
    std::string_view stem(plain.data(), plain.size() - 1);
    if (!name.starts_with(stem) || !name.ends_with("]") || name.size() < stem.size() + 4)
        return false;
    std::string_view offset = name.substr(stem.size(), name.size() - stem.size() - 1);
    if (!offset.starts_with("+0x"))
        return false;
    offset.remove_prefix(3);
    return std::all_of(offset.begin(), offset.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string_view FoldedStackNamer::BaseName(std::string_view dso)
{
    std::size_t slash = dso.rfind('/');
    return slash == std::string_view::npos ? dso : dso.substr(slash + 1);
}

bool FoldedStackNamer::IsKernelDso(std::string_view dso)
{
    return (dso.starts_with("[") || dso.ends_with("vmlinux")) &&
           dso.find("unknown") == std::string_view::npos;
}

bool FoldedStackNamer::IsJitMapDso(std::string_view dso)
{
    constexpr std::string_view kPrefix = "/tmp/perf-";
    for (std::size_t at = dso.find(kPrefix); at != std::string_view::npos; at = dso.find(kPrefix, at + 1)) {
        std::size_t i = at + kPrefix.size();
        std::size_t digits = i;
        while (digits < dso.size() && IsDigit(dso[digits]))
            ++digits;
        if (digits > i && dso.substr(digits, 4) == ".map")
            return true;
    }
    return false;
}

} // namespace Profiler
