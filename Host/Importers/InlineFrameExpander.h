#pragma once

#include "Importers/PerfScriptRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Profiler {

class ModuleSymbols;
class SymbolResolver;

/// Adds the inlined functions of each frame, read from the modules' debug information, to the
/// stacks of the records it passes on. `perf script` finds them itself unless told
/// `--no-inline`, but its lookup costs minutes on a large C++ program where the resolver's
/// takes a fraction of a second; the frames it adds look exactly like perf's own "(inlined)"
/// frames, so whoever reads the records treats both alike.
class InlineFrameExpander final : public IPerfScriptHandler {
public:
    InlineFrameExpander(IPerfScriptHandler& next, SymbolResolver& resolver);
    ~InlineFrameExpander() override;

    void OnSample(const PerfSample& sample) override;
    void OnSchedSwitch(const PerfSchedSwitch& record) override;
    void OnTaskEvent(const PerfTaskEvent& event) override { mNext.OnTaskEvent(event); }
    void OnMmapEvent(const PerfMmapEvent& event) override { mNext.OnMmapEvent(event); }

    /// Frames that got inlined functions added, and the functions added to them.
    uint64_t GetExpandedFrames() const { return mExpandedFrames; }
    uint64_t GetAddedFrames() const { return mAddedFrames; }

private:
    /// The inlined functions at a frame, innermost first; empty when there are none or the
    /// module's debug information does not confirm perf's name for the frame.
    const std::vector<std::string_view>& InlinedAt(const PerfFrame& frame, bool returnAddress);
    std::span<const PerfFrame> Expand(std::span<const PerfFrame> frames);

    IPerfScriptHandler& mNext;
    SymbolResolver& mResolver;
    std::unordered_map<std::string, std::shared_ptr<const ModuleSymbols>> mModules;
    struct Key {
        const ModuleSymbols* Module;
        uint64_t Address;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const
        {
            return std::hash<const void*>()(key.Module) ^ (key.Address * 0x9e3779b97f4a7c15ull);
        }
    };
    /// What the debug information holds at an address: the compiled function and the functions
    /// inlined into it there, innermost first (names owned by the module).
    struct Inlining {
        std::string_view Function;
        std::vector<std::string_view> Inlined;
    };
    std::unordered_map<Key, Inlining, KeyHash> mInlined;
    std::vector<PerfFrame> mFrames; ///< the expanded stack of the record being passed on
    uint64_t mExpandedFrames = 0;
    uint64_t mAddedFrames = 0;
};

} // namespace Profiler
