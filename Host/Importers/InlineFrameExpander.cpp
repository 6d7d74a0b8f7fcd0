#include "Importers/InlineFrameExpander.h"

#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/SymbolResolver.h"

namespace Profiler {

namespace {

constexpr std::string_view kInlined = "inlined";

/// Whether the resolver's name of a function is the name perf printed: perf leaves out the
/// parameter list of C++ functions, the demangler keeps it.
bool SameFunction(std::string_view resolved, std::string_view printed)
{
    if (resolved.size() < printed.size() || resolved.substr(0, printed.size()) != printed)
        return false;
    return resolved.size() == printed.size() || resolved[printed.size()] == '(';
}

} // namespace

InlineFrameExpander::InlineFrameExpander(IPerfScriptHandler& next, SymbolResolver& resolver)
    : mNext(next), mResolver(resolver)
{}

InlineFrameExpander::~InlineFrameExpander() = default;

const std::vector<std::string_view>& InlineFrameExpander::InlinedAt(const PerfFrame& frame,
                                                                    bool returnAddress)
{
    static const std::vector<std::string_view> kNone;
    // Only files can be read: not the kernel, [vdso], [unknown], JIT maps or deleted files.
    if (frame.dso.empty() || frame.dso.front() != '/' || frame.dso.ends_with(")") ||
        frame.symbol == "[unknown]")
        return kNone;
    auto module = mModules.find(std::string(frame.dso));
    if (module == mModules.end())
        module = mModules.emplace(std::string(frame.dso), mResolver.GetModule(std::string(frame.dso))).first;
    if (!module->second->HasMatchingDebugInfo())
        return kNone;
    // A caller's address is where its call returns to, which may already lie in the next line
    // or outside an inlined function: the call instruction itself is the byte before it.
    const uint64_t address = returnAddress && frame.address > 0 ? frame.address - 1 : frame.address;
    const Key key{module->second.get(), address};
    auto found = mInlined.find(key);
    if (found == mInlined.end()) {
        Inlining inlining;
        AddressInfo info;
        if (module->second->Resolve(address, info) && info.HasFunction && !info.Frames.empty()) {
            inlining.Function = info.Frames.back().Function;
            for (std::size_t i = 0; i + 1 < info.Frames.size(); ++i)
                inlining.Inlined.push_back(info.Frames[i].Function);
        }
        found = mInlined.emplace(key, std::move(inlining)).first;
    }
    // perf prints a module's own addresses for the frames of its files; the function it named
    // there must be the one the debug information holds at that address, or the address is of
    // another kind (absolute, in a module loaded elsewhere) and nothing is added.
    if (!SameFunction(found->second.Function, frame.symbol))
        return kNone;
    return found->second.Inlined;
}

std::span<const PerfFrame> InlineFrameExpander::Expand(std::span<const PerfFrame> frames)
{
    mFrames.clear();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const PerfFrame& frame = frames[i];
        // perf found the inlined functions of this frame itself (no --no-inline): keep its.
        const bool perfInlined = frame.dso == kInlined || (i > 0 && frames[i - 1].dso == kInlined);
        if (!perfInlined) {
            const std::vector<std::string_view>& inlined = InlinedAt(frame, i > 0);
            if (!inlined.empty()) {
                ++mExpandedFrames;
                mAddedFrames += inlined.size();
            }
            for (std::string_view function : inlined) {
                PerfFrame added;
                added.address = frame.address;
                added.symbol = function;
                added.dso = kInlined;
                mFrames.push_back(added);
            }
        }
        mFrames.push_back(frame);
    }
    return mFrames;
}

void InlineFrameExpander::OnSample(const PerfSample& sample)
{
    PerfSample expanded = sample;
    expanded.frames = Expand(sample.frames);
    mNext.OnSample(expanded);
}

void InlineFrameExpander::OnSchedSwitch(const PerfSchedSwitch& record)
{
    PerfSchedSwitch expanded = record;
    expanded.sample.frames = Expand(record.sample.frames);
    mNext.OnSchedSwitch(expanded);
}

} // namespace Profiler
