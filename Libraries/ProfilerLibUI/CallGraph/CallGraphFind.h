#pragma once

#include "CallGraphModel/CallGraphNode.h"
#include "CaptureModel/ResolvedAddress.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Profiler {

class IFunctionInfoProvider;

/// Display names of functions, each resolved once: a large graph repeats few functions many
/// times, and the tree, the find and the copy commands all ask for them.
class FunctionNameCache {
public:
    /// `names` may be null (then functions read as their address); it must outlive the cache.
    explicit FunctionNameCache(const IFunctionInfoProvider* names = nullptr) : mNames(names) {}

    /// A stable index for the function's name; GetName and GetModule read it.
    uint32_t GetIndex(const ResolvedAddress& function);
    const std::string& GetName(uint32_t index) const { return mEntries[index].Name; }
    const std::string& GetModule(uint32_t index) const { return mEntries[index].Module; }
    const std::string& GetName(const ResolvedAddress& function) { return GetName(GetIndex(function)); }
    const std::string& GetModule(const ResolvedAddress& function) { return GetModule(GetIndex(function)); }
    std::size_t Size() const { return mEntries.size(); }

private:
    struct Entry {
        std::string Name;
        std::string Module;
    };
    const IFunctionInfoProvider* mNames; // not owned
    std::unordered_map<ResolvedAddress, uint32_t, ResolvedAddressHash> mIndices;
    std::vector<Entry> mEntries;
};

/// 64-bit FNV-1a over the eight bytes of a node's address, least significant first.
struct NodeAddressHash {
    std::size_t operator()(const CallGraphNode* node) const noexcept;
};

/// Which nodes a find leaves visible. A node stays when its name contains the text (ignoring
/// case), when an ancestor matched (a match keeps its whole subtree) or when a descendant
/// matched. A node without an entry is visible, so an empty state hides nothing.
class CallGraphFindState {
public:
    struct Entry {
        uint32_t NameIndex = 0; ///< in the name cache the find used
        bool Visible = true;
    };

    void Clear();
    /// Makes room for `nodes` entries at once, so that a visit of that many nodes never regrows
    /// the table (each growth moves every entry again).
    void Reserve(std::size_t nodes);
    bool IsEmpty() const { return mCount == 0; }
    /// Visits every node below each of `topLevel` (and the nodes themselves) once. An empty text
    /// records every node as visible and no matches. Returns false when it stopped early because
    /// `canceled` was set (the state is then partial).
    bool Apply(std::span<const CallGraphNode* const> topLevel, std::string_view text,
               FunctionNameCache& names, const std::atomic<bool>* canceled = nullptr);

    /// Whether the row of `node` stays; true without an entry.
    bool IsVisible(const CallGraphNode* node) const
    {
        const Entry* entry = Find(node);
        return entry == nullptr || entry->Visible;
    }
    /// One probe sequence in an open-addressed table: the proxy asks for every row it considers.
    const Entry* Find(const CallGraphNode* node) const
    {
        if (mCount == 0)
            return nullptr;
        const std::size_t mask = mSlots.size() - 1;
        for (std::size_t i = NodeAddressHash()(node) & mask;; i = (i + 1) & mask) {
            if (mSlots[i].Node == node)
                return &mSlots[i].Value;
            if (mSlots[i].Node == nullptr)
                return nullptr;
        }
    }
    /// The matching nodes in visiting order (depth first, children in node order).
    const std::vector<const CallGraphNode*>& GetMatches() const { return mMatches; }
    std::size_t GetEntryCount() const { return mCount; }

private:
    struct Slot {
        const CallGraphNode* Node = nullptr;
        Entry Value;
    };
    /// The slot of `node`'s entry, created when missing.
    std::size_t Insert(const CallGraphNode* node);
    void Grow();
    /// Moves every entry into a table of `size` slots (a power of two).
    void Rehash(std::size_t size);

    std::vector<Slot> mSlots;
    std::size_t mCount = 0;
    std::size_t mGrows = 0; ///< how often the table grew; slot indexes stay valid until it grows
    std::vector<const CallGraphNode*> mMatches;
};

/// The first node that a find's visit would record as a match (the same order: depth first,
/// children in node order), found without recording the others; null when none matches. A
/// large graph's first match usually lies early, so it can be shown long before the whole
/// visit ends. No value when `canceled` was seen.
std::optional<const CallGraphNode*> FindFirstMatch(std::span<const CallGraphNode* const> topLevel,
                                                   std::string_view text, FunctionNameCache& names,
                                                   const std::atomic<bool>& canceled);

/// Case-insensitive (ASCII) containment, the rule by which the find matches names.
bool ContainsIgnoringCase(std::string_view text, std::string_view needle);

} // namespace Profiler
