#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

namespace Serialization {
class ErrorList;
}

namespace System::Platform {
class MappedFile;
}

namespace Profiler {

/// Every call stack of a capture, stored once as a path in a prefix tree of frames. A stack's
/// ID is the index of its innermost frame's node; node 0 is the root sentinel. Nodes live in
/// fixed blocks of 65535, so growing the store never moves a node, and each block stores its
/// parent links in the narrowest width (2, 4 or 8 bytes) that any index in it can need.
///
/// One producer may insert while other threads look stacks up when the store is shared: block
/// appends and lookups then take the store's mutex, and the node count grows only after the
/// node is written, so a lookup that passes the count check never sees an unwritten node.
class CallstackNodeStore {
public:
    static constexpr uint32_t kBlockSize = 65535;
    static constexpr uint64_t kRootAddress = ~0ull;
    static constexpr uint64_t kInvalidId = ~0ull;
    static constexpr const char* kFileName = "CallstackDatabase.dat";
    static constexpr std::size_t kFileHeaderSize = 24;

    explicit CallstackNodeStore(bool shared = false);
    ~CallstackNodeStore();
    CallstackNodeStore(const CallstackNodeStore&) = delete;
    CallstackNodeStore& operator=(const CallstackNodeStore&) = delete;

    /// Empties the store and creates node 0 and the deduplication index.
    void Initialise();

    /// The node for (address, parent): the existing one (created = false) or a new one. The
    /// parent must exist, so stacks are inserted outermost frame first. kInvalidId for a parent
    /// that does not exist.
    std::pair<uint64_t, bool> Insert(uint64_t address, uint64_t parent);
    /// Inserts a whole stack, outermost frame first, and returns its ID (node 0 when empty).
    uint64_t InsertStack(std::span<const uint64_t> frames);

    /// The frames of the stack, outermost first, into `frames` (replacing its contents). False
    /// when the ID is not below the node count.
    bool GetStack(uint64_t stackId, std::vector<uint64_t>& frames) const;
    /// As GetStack, with the ID of each frame's node beside it (outermost first), so that
    /// callers can remember per node what they derived from a frame.
    bool GetStackNodes(uint64_t stackId, std::vector<uint64_t>& frames, std::vector<uint64_t>& nodeIds) const;
    /// The frames of the stack that lie below its deepest node among `knownNodes` (the node IDs
    /// of another stack, outermost first), innermost first, with their node IDs; `shared` is the
    /// number of outer frames the two stacks share. Walks only the frames that differ.
    bool GetStackNodesBelow(uint64_t stackId, std::span<const uint64_t> knownNodes,
                            std::vector<uint64_t>& frames, std::vector<uint64_t>& nodeIds,
                            std::size_t& shared) const;
    /// The outermost frame of a stack (its node ID and address), following parent links only.
    bool GetOutermostFrame(uint64_t stackId, uint64_t& nodeId, uint64_t& address) const;

    uint64_t GetNodeCount() const { return mNodeCount.load(std::memory_order_acquire); }
    /// Whether the store holds data (initialised or loaded).
    bool IsValid() const { return mValid; }
    bool IsShared() const { return mShared; }

    /// Replaces the contents by the file's ("CallstackDatabase.dat" format). The file is mapped,
    /// not read: its block layout is checked, and a node's bytes are read when a stack needs them.
    /// The checksum and the parent links of the whole file are checked by Verify.
    bool Load(const std::filesystem::path& path, Serialization::ErrorList& errors);
    /// Checks what Load left to first use: the file's checksum and that every parent link points
    /// to a smaller index. Costs a read of the whole file; true for a store that was not loaded.
    bool Verify(Serialization::ErrorList& errors) const;
    /// Load from the file's bytes in memory.
    bool LoadFromMemory(const uint8_t* data, std::size_t size, Serialization::ErrorList& errors);
    bool Save(const std::filesystem::path& path, Serialization::ErrorList& errors) const;

private:
    struct Block {
        std::unique_ptr<uint64_t[]> addresses;
        std::unique_ptr<uint8_t[]> parents;
        /// A loaded block's bytes in the mapped file (addresses, then parents), unaligned; the
        /// owned arrays are then empty until the block is written to.
        const uint8_t* mapped = nullptr;
        uint32_t width = 2;
        uint32_t used = 0;
    };

    static uint32_t ParentWidthForBlock(std::size_t blockIndex);
    static uint64_t ReadParent(const Block& block, uint32_t slot);
    static void WriteParent(Block& block, uint32_t slot, uint64_t parent);
    static Block MakeBlock(uint32_t width);
    static uint64_t HashNode(uint64_t address, uint64_t parent);
    uint64_t IndexSlot(uint64_t hash) const;
    void ResetIndex(std::size_t capacity);

    void Clear();
    void AppendBlock();
    uint64_t AppendNode(uint64_t address, uint64_t parent);
    void GrowIndex();
    void RebuildIndex();
    static uint64_t ReadAddress(const Block& block, uint32_t slot);
    static const uint8_t* AddressBytes(const Block& block);
    static const uint8_t* ParentBytes(const Block& block);
    /// Gives a mapped block arrays of its own, before a node is appended to it.
    static void MakeWritable(Block& block);
    /// Parses the block layout of a file's bytes into mapped blocks.
    static bool MapBlocks(const uint8_t* data, std::size_t size, uint64_t nodeCount, uint32_t blockCount,
                          std::vector<Block>& blocks, Serialization::ErrorList& errors);
    uint64_t GetAddress(uint64_t id) const { return ReadAddress(mBlocks[id / kBlockSize], id % kBlockSize); }
    uint64_t GetParent(uint64_t id) const { return ReadParent(mBlocks[id / kBlockSize], id % kBlockSize); }
    /// Checks what Load read: a tree whose parent links always point to a smaller index.
    static bool CheckLinks(const std::vector<Block>& blocks, uint64_t nodeCount);

    const bool mShared;
    mutable std::mutex mMutex; ///< taken for block appends and lookups when shared
    std::vector<Block> mBlocks;
    std::shared_ptr<const System::Platform::MappedFile> mMapping; ///< what mapped blocks point into
    std::atomic<uint64_t> mNodeCount{0};
    bool mValid = false;

    /// Index entries hold a node's ID in their low bits and the top bits of its hash above: far
    /// more IDs than any store can have, and enough hash to tell nearly all nodes apart.
    static constexpr unsigned kIndexIdBits = 40;
    static constexpr unsigned kIndexTagBits = 64 - kIndexIdBits;
    static constexpr uint64_t kIndexIdMask = (uint64_t{1} << kIndexIdBits) - 1;
    /// Node IDs with their hash tags, 0 = empty slot; capacity a power of two. A node's slot is
    /// the top bits of its hash, so that growing can take it from the tag.
    std::vector<uint64_t> mIndex;
    unsigned mIndexShift = 64; ///< 64 minus log2 of the capacity
    uint64_t mIndexEntries = 0;
    bool mIndexBuilt = false; ///< a loaded store builds its index on the first insert
};

} // namespace Profiler
