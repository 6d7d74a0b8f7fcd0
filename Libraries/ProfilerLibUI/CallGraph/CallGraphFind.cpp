#include "ProfilerLibUI/CallGraph/CallGraphFind.h"

#include "CallGraphModel/IFunctionInfoProvider.h"
#include "Utility/Fnv1a.h"

#include <algorithm>
#include <cstdio>

namespace Profiler {

uint32_t FunctionNameCache::GetIndex(const ResolvedAddress& function)
{
    auto [it, inserted] = mIndices.try_emplace(function, static_cast<uint32_t>(mEntries.size()));
    if (inserted) {
        Entry entry;
        if (mNames != nullptr) {
            entry.Name = mNames->GetFunctionName(function);
            entry.Module = mNames->GetModuleName(function);
        } else {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "0x%llx",
                          static_cast<unsigned long long>(function.RelativeAddress));
            entry.Name = buffer;
        }
        mEntries.push_back(std::move(entry));
    }
    return it->second;
}

std::size_t NodeAddressHash::operator()(const CallGraphNode* node) const noexcept
{
    return static_cast<std::size_t>(
        Utility::Fnv1aValue(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(node))));
}

bool ContainsIgnoringCase(std::string_view text, std::string_view needle)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

void CallGraphFindState::Clear()
{
    if (mCount != 0)
        std::fill(mSlots.begin(), mSlots.end(), Slot{});
    mCount = 0;
    mMatches.clear();
}

void CallGraphFindState::Grow()
{
    Rehash(std::max<std::size_t>(mSlots.size() * 2, 1024));
}

void CallGraphFindState::Reserve(std::size_t nodes)
{
    std::size_t size = std::max<std::size_t>(mSlots.size(), 1024);
    while ((nodes + 1) * 2 > size)
        size *= 2;
    if (size != mSlots.size())
        Rehash(size);
}

void CallGraphFindState::Rehash(std::size_t size)
{
    ++mGrows;
    std::vector<Slot> old = std::move(mSlots);
    mSlots.assign(size, Slot{});
    const std::size_t mask = size - 1;
    for (const Slot& slot : old) {
        if (slot.Node == nullptr)
            continue;
        std::size_t i = NodeAddressHash()(slot.Node) & mask;
        while (mSlots[i].Node != nullptr)
            i = (i + 1) & mask;
        mSlots[i] = slot;
    }
}

std::size_t CallGraphFindState::Insert(const CallGraphNode* node)
{
    // At most half full, so that probe sequences stay short.
    if ((mCount + 1) * 2 > mSlots.size())
        Grow();
    const std::size_t mask = mSlots.size() - 1;
    std::size_t i = NodeAddressHash()(node) & mask;
    while (mSlots[i].Node != nullptr && mSlots[i].Node != node)
        i = (i + 1) & mask;
    if (mSlots[i].Node == nullptr) {
        mSlots[i].Node = node;
        ++mCount;
    }
    return i;
}

namespace {

/// Whether each function's name matches, decided once per function: a large graph repeats
/// few functions many times.
class FunctionMatches {
public:
    FunctionMatches(std::string_view text, FunctionNameCache& names) : mText(text), mNames(names)
    {
        mSlots.resize(4096);
    }

    /// The name index of the function and whether its name matches.
    std::pair<uint32_t, bool> Get(const CallGraphNode& node)
    {
        const uint64_t key = node.FunctionAddress;
        const uint32_t index = node.FunctionIndex & ResolvedAddress::kIdentityMask;
        std::size_t mask = mSlots.size() - 1;
        std::size_t i = Hash(key, index) & mask;
        for (; mSlots[i].Used; i = (i + 1) & mask)
            if (mSlots[i].Address == key && mSlots[i].Index == index)
                return {mSlots[i].NameIndex, mSlots[i].Matches};
        const uint32_t name = mNames.GetIndex(node.GetFunction());
        const bool matches = mText.empty() || ContainsIgnoringCase(mNames.GetName(name), mText);
        mSlots[i] = {key, index, name, matches, true};
        if (++mCount * 2 > mSlots.size())
            Grow();
        return {name, matches};
    }

private:
    /// Two multiplications instead of twelve FNV rounds: this runs once per node of the graph.
    static std::size_t Hash(uint64_t address, uint32_t index)
    {
        const uint64_t mixed = (address ^ (uint64_t{index} << 40)) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>((mixed ^ (mixed >> 29)) * 0xBF58476D1CE4E5B9ull >> 32);
    }

    struct Slot {
        uint64_t Address = 0;
        uint32_t Index = 0;
        uint32_t NameIndex = 0;
        bool Matches = false;
        bool Used = false;
    };

    void Grow()
    {
        std::vector<Slot> old = std::move(mSlots);
        mSlots.assign(old.size() * 2, Slot{});
        const std::size_t mask = mSlots.size() - 1;
        for (const Slot& slot : old) {
            if (!slot.Used)
                continue;
            std::size_t i = Hash(slot.Address, slot.Index) & mask;
            while (mSlots[i].Used)
                i = (i + 1) & mask;
            mSlots[i] = slot;
        }
    }

    std::string_view mText;
    FunctionNameCache& mNames;
    std::vector<Slot> mSlots;
    std::size_t mCount = 0;
};

} // namespace

std::optional<const CallGraphNode*> FindFirstMatch(std::span<const CallGraphNode* const> topLevel,
                                                   std::string_view text, FunctionNameCache& names,
                                                   const std::atomic<bool>& canceled)
{
    if (text.empty())
        return nullptr;
    FunctionMatches matches(text, names);
    uint32_t untilCancelCheck = 4096;
    std::vector<std::pair<const CallGraphNode*, uint32_t>> stack; // node, next child
    for (const CallGraphNode* top : topLevel) {
        if (top == nullptr)
            continue;
        if (matches.Get(*top).second)
            return top;
        stack.emplace_back(top, 0);
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            if (next == node->Children.size()) {
                stack.pop_back();
                continue;
            }
            if (--untilCancelCheck == 0) {
                untilCancelCheck = 4096;
                if (canceled.load(std::memory_order_relaxed))
                    return std::nullopt;
            }
            const CallGraphNode* child = node->Children[next++];
            if (matches.Get(*child).second)
                return child;
            stack.emplace_back(child, 0);
        }
    }
    return nullptr;
}

bool CallGraphFindState::Apply(std::span<const CallGraphNode* const> topLevel, std::string_view text,
                               FunctionNameCache& names, const std::atomic<bool>* canceled)
{
    // How many nodes pass between two looks at the cancel flag: a fraction of a millisecond.
    constexpr uint32_t kNodesPerCancelCheck = 4096;
    uint32_t untilCancelCheck = kNodesPerCancelCheck;
    Clear();
    FunctionMatches matches(text, names);

    // Depth-first, post-order without recursion: call paths can be thousands of frames deep.
    // Each frame keeps its node's slot, so that the post-order step writes it without a second
    // probe; only when the table grew meanwhile is the slot looked up again.
    struct Frame {
        const CallGraphNode* Node;
        std::size_t Slot;
        std::size_t Grows;
        uint32_t NextChild;
        bool AncestorMatched;
        bool Matched;
        bool ChildVisible;
    };
    std::vector<Frame> stack;
    auto enter = [&](const CallGraphNode* node, bool ancestorMatched) {
        const auto [name, matched] = matches.Get(*node);
        const std::size_t slot = Insert(node);
        mSlots[slot].Value.NameIndex = name;
        if (matched && !text.empty())
            mMatches.push_back(node);
        // The table is far larger than the caches and the nodes are spread over the graph's
        // arena: start fetching what the children's visits read while this node is handled.
        const std::size_t mask = mSlots.size() - 1;
        for (const CallGraphNode* child : node->Children) {
            __builtin_prefetch(child);
            __builtin_prefetch(&mSlots[NodeAddressHash()(child) & mask]);
        }
        stack.push_back({node, slot, mGrows, 0, ancestorMatched, matched, false});
    };
    for (const CallGraphNode* top : topLevel) {
        if (top == nullptr)
            continue;
        enter(top, false);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.NextChild < frame.Node->Children.size()) {
                if (--untilCancelCheck == 0) {
                    untilCancelCheck = kNodesPerCancelCheck;
                    if (canceled != nullptr && canceled->load(std::memory_order_relaxed))
                        return false;
                }
                const CallGraphNode* child = frame.Node->Children[frame.NextChild++];
                enter(child, frame.AncestorMatched || frame.Matched);
                continue;
            }
            const bool visible = frame.AncestorMatched || frame.Matched || frame.ChildVisible;
            Entry& entry =
                frame.Grows == mGrows ? mSlots[frame.Slot].Value : *const_cast<Entry*>(Find(frame.Node));
            entry.Visible = visible;
            stack.pop_back();
            if (!stack.empty() && visible)
                stack.back().ChildVisible = true;
        }
    }
    return true;
}

} // namespace Profiler
