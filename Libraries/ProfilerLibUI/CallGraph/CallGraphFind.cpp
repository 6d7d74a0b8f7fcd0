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
    mEntries.clear();
    mMatches.clear();
}

void CallGraphFindState::Apply(std::span<const CallGraphNode* const> topLevel, std::string_view text,
                               FunctionNameCache& names)
{
    Clear();
    // Whether each function's name matches, decided once per function rather than per node.
    std::vector<int8_t> functionMatches;
    auto matches = [&](uint32_t nameIndex) {
        if (text.empty())
            return true;
        if (nameIndex >= functionMatches.size())
            functionMatches.resize(names.Size(), -1);
        int8_t& known = functionMatches[nameIndex];
        if (known < 0)
            known = ContainsIgnoringCase(names.GetName(nameIndex), text) ? 1 : 0;
        return known == 1;
    };

    // Depth-first, post-order without recursion: call paths can be thousands of frames deep.
    struct Frame {
        const CallGraphNode* Node;
        uint32_t NextChild;
        bool AncestorMatched;
        bool Matched;
        bool ChildVisible;
        Entry* Slot;
    };
    std::vector<Frame> stack;
    for (const CallGraphNode* top : topLevel) {
        if (top == nullptr)
            continue;
        auto enter = [&](const CallGraphNode* node, bool ancestorMatched) {
            auto [it, inserted] = mEntries.try_emplace(node);
            it->second.NameIndex = names.GetIndex(node->GetFunction());
            const bool matched = matches(it->second.NameIndex);
            if (matched && !text.empty())
                mMatches.push_back(node);
            stack.push_back({node, 0, ancestorMatched, matched, false, &it->second});
        };
        enter(top, false);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.NextChild < frame.Node->Children.size()) {
                const CallGraphNode* child = frame.Node->Children[frame.NextChild++];
                enter(child, frame.AncestorMatched || frame.Matched);
                continue;
            }
            const bool visible = frame.AncestorMatched || frame.Matched || frame.ChildVisible;
            frame.Slot->Visible = visible;
            stack.pop_back();
            if (!stack.empty() && visible)
                stack.back().ChildVisible = true;
        }
    }
}

} // namespace Profiler
