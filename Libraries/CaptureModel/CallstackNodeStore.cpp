#include "CaptureModel/CallstackNodeStore.h"

#include "CaptureModel/EventChunkFile.h"
#include "Serialization/AtomicFileWriter.h"
#include "System/Platform/MappedFile.h"
#include "Utility/Assert.h"
#include "Utility/ErrorList.h"

#include "Utility/Fnv1a.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <xxhash.h>

namespace Profiler {

using Serialization::EErrorCode;

namespace {

// Small to start with: most captures of small inputs never need more, and the index doubles as
// it fills.
constexpr std::size_t kInitialIndexCapacity = 1024;
constexpr uint32_t kFileFormatVersion = 1;

class ScopedLock {
public:
    ScopedLock(std::mutex& mutex, bool enabled) : mMutex(enabled ? &mutex : nullptr)
    {
        if (mMutex)
            mMutex->lock();
    }
    ~ScopedLock()
    {
        if (mMutex)
            mMutex->unlock();
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    std::mutex* mMutex;
};

template <class T> T LoadValue(const uint8_t* bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

} // namespace

CallstackNodeStore::CallstackNodeStore(bool shared) : mShared(shared) {}

CallstackNodeStore::~CallstackNodeStore() = default;

uint32_t CallstackNodeStore::ParentWidthForBlock(std::size_t blockIndex)
{
    const uint64_t largestIndex = static_cast<uint64_t>(blockIndex) * kBlockSize + (kBlockSize - 1);
    if (largestIndex <= 0xFFFF)
        return 2;
    if (largestIndex <= 0xFFFFFFFF)
        return 4;
    return 8;
}

CallstackNodeStore::Block CallstackNodeStore::MakeBlock(uint32_t width)
{
    Block block;
    block.addresses = std::make_unique_for_overwrite<uint64_t[]>(kBlockSize);
    block.parents = std::make_unique_for_overwrite<uint8_t[]>(std::size_t(kBlockSize) * width);
    block.width = width;
    return block;
}

const uint8_t* CallstackNodeStore::AddressBytes(const Block& block)
{
    return block.mapped ? block.mapped : reinterpret_cast<const uint8_t*>(block.addresses.get());
}

const uint8_t* CallstackNodeStore::ParentBytes(const Block& block)
{
    return block.mapped ? block.mapped + std::size_t(block.used) * 8 : block.parents.get();
}

uint64_t CallstackNodeStore::ReadAddress(const Block& block, uint32_t slot)
{
    return block.mapped ? LoadValue<uint64_t>(block.mapped + std::size_t(slot) * 8) : block.addresses[slot];
}

void CallstackNodeStore::MakeWritable(Block& block)
{
    if (!block.mapped)
        return;
    Block owned = MakeBlock(block.width);
    std::memcpy(owned.addresses.get(), AddressBytes(block), std::size_t(block.used) * 8);
    std::memcpy(owned.parents.get(), ParentBytes(block), std::size_t(block.used) * block.width);
    owned.used = block.used;
    block = std::move(owned);
}

uint64_t CallstackNodeStore::ReadParent(const Block& block, uint32_t slot)
{
    const uint8_t* at = ParentBytes(block) + std::size_t(slot) * block.width;
    switch (block.width) {
    case 2:
        return LoadValue<uint16_t>(at);
    case 4:
        return LoadValue<uint32_t>(at);
    default:
        return LoadValue<uint64_t>(at);
    }
}

void CallstackNodeStore::WriteParent(Block& block, uint32_t slot, uint64_t parent)
{
    uint8_t* at = block.parents.get() + std::size_t(slot) * block.width;
    if (block.width == 2) {
        const auto value = static_cast<uint16_t>(parent);
        std::memcpy(at, &value, 2);
    } else if (block.width == 4) {
        const auto value = static_cast<uint32_t>(parent);
        std::memcpy(at, &value, 4);
    } else {
        std::memcpy(at, &parent, 8);
    }
}

uint64_t CallstackNodeStore::HashNode(uint64_t address, uint64_t parent)
{
    return Utility::MixBits64(address ^ (parent * 0x9E3779B97F4A7C15ull));
}

void CallstackNodeStore::Clear()
{
    ScopedLock lock(mMutex, mShared);
    mBlocks.clear();
    mMapping.reset();
    mNodeCount.store(0, std::memory_order_release);
    mValid = false;
    mIndex.clear();
    mIndexEntries = 0;
    mIndexBuilt = false;
}

void CallstackNodeStore::Initialise()
{
    Clear();
    ResetIndex(kInitialIndexCapacity);
    mIndexBuilt = true;
    AppendNode(kRootAddress, 0);
    mValid = true;
}

void CallstackNodeStore::AppendBlock()
{
    Block block = MakeBlock(ParentWidthForBlock(mBlocks.size()));
    ScopedLock lock(mMutex, mShared);
    mBlocks.push_back(std::move(block));
}

uint64_t CallstackNodeStore::AppendNode(uint64_t address, uint64_t parent)
{
    // Only the producer changes the block list, so it reads it without the mutex.
    if (mBlocks.empty() || mBlocks.back().used == kBlockSize)
        AppendBlock();
    Block& block = mBlocks.back();
    if (block.mapped) {
        ScopedLock lock(mMutex, mShared);
        MakeWritable(block);
    }
    block.addresses[block.used] = address;
    WriteParent(block, block.used, parent);
    ++block.used;
    const uint64_t id = mNodeCount.load(std::memory_order_relaxed);
    mNodeCount.store(id + 1, std::memory_order_release);
    return id;
}

uint64_t CallstackNodeStore::IndexSlot(uint64_t hash) const
{
    return hash >> mIndexShift;
}

void CallstackNodeStore::ResetIndex(std::size_t capacity)
{
    mIndex.assign(capacity, 0);
    mIndexEntries = 0;
    mIndexShift = 64 - std::countr_zero(capacity);
}

void CallstackNodeStore::GrowIndex()
{
    std::vector<uint64_t> old;
    old.swap(mIndex);
    const uint64_t entries = mIndexEntries;
    ResetIndex(old.size() * 2);
    mIndexEntries = entries;
    const uint64_t mask = mIndex.size() - 1;
    // While the index has no more slots than the tag has values, the tag (the hash's top bits)
    // gives each entry's new slot without reading its node.
    const bool tagGivesSlot = mIndexShift >= 64 - kIndexTagBits;
    for (uint64_t entry : old) {
        if (entry == 0)
            continue;
        const uint64_t id = entry & kIndexIdMask;
        uint64_t slot = tagGivesSlot ? (entry >> kIndexIdBits) >> (mIndexShift - (64 - kIndexTagBits))
                                     : IndexSlot(HashNode(GetAddress(id), GetParent(id)));
        while (mIndex[slot] != 0)
            slot = (slot + 1) & mask;
        mIndex[slot] = entry;
    }
}

void CallstackNodeStore::RebuildIndex()
{
    const uint64_t count = GetNodeCount();
    std::size_t capacity = kInitialIndexCapacity;
    while (capacity <= 2 * count)
        capacity *= 2;
    ResetIndex(capacity);
    const uint64_t mask = capacity - 1;
    for (uint64_t id = 1; id < count; ++id) {
        const uint64_t address = GetAddress(id);
        const uint64_t parent = GetParent(id);
        const uint64_t hash = HashNode(address, parent);
        const uint64_t tag = hash >> (64 - kIndexTagBits);
        uint64_t slot = IndexSlot(hash);
        bool duplicate = false;
        while (mIndex[slot] != 0 && !duplicate) {
            const uint64_t entry = mIndex[slot];
            const uint64_t other = entry & kIndexIdMask;
            duplicate = (entry >> kIndexIdBits) == tag && GetAddress(other) == address && GetParent(other) == parent;
            slot = (slot + 1) & mask;
        }
        if (!duplicate) {
            mIndex[slot] = id | (tag << kIndexIdBits);
            ++mIndexEntries;
        }
    }
    mIndexBuilt = true;
}

std::pair<uint64_t, bool> CallstackNodeStore::Insert(uint64_t address, uint64_t parent)
{
    if (!mValid)
        Initialise();
    if (!QX_ASSERT(parent < GetNodeCount(), "Parent node %llu does not exist",
                   static_cast<unsigned long long>(parent)))
        return {kInvalidId, false};
    // A loaded store comes without its index; build it once rather than insert duplicates.
    if (!mIndexBuilt)
        RebuildIndex();
    if (2 * mIndexEntries >= mIndex.size())
        GrowIndex();
    const uint64_t mask = mIndex.size() - 1;
    const uint64_t hash = HashNode(address, parent);
    const uint64_t tag = hash >> (64 - kIndexTagBits);
    uint64_t slot = IndexSlot(hash);
    for (;;) {
        const uint64_t entry = mIndex[slot];
        if (entry == 0)
            break;
        const uint64_t id = entry & kIndexIdMask;
        // The tag rules out nearly every other node without reading it.
        if ((entry >> kIndexIdBits) == tag && GetAddress(id) == address && GetParent(id) == parent)
            return {id, false};
        slot = (slot + 1) & mask;
    }
    const uint64_t id = AppendNode(address, parent);
    mIndex[slot] = id | (tag << kIndexIdBits);
    ++mIndexEntries;
    return {id, true};
}

uint64_t CallstackNodeStore::InsertStack(std::span<const uint64_t> frames)
{
    uint64_t id = 0;
    for (uint64_t frame : frames)
        id = Insert(frame, id).first;
    return id;
}

bool CallstackNodeStore::GetStack(uint64_t stackId, std::vector<uint64_t>& frames) const
{
    frames.clear();
    if (stackId >= GetNodeCount())
        return false;
    ScopedLock lock(mMutex, mShared);
    // Inserts need existing parents, so links point to a smaller index; a loaded file's links
    // are checked here, on the path walked, so that a damaged one ends the walk as a failure.
    uint64_t id = stackId;
    for (;;) {
        frames.push_back(GetAddress(id));
        const uint64_t parent = GetParent(id);
        if (parent == 0)
            break;
        if (parent >= id) {
            frames.clear();
            return false;
        }
        id = parent;
    }
    std::reverse(frames.begin(), frames.end());
    return true;
}

bool CallstackNodeStore::GetStackNodes(uint64_t stackId, std::vector<uint64_t>& frames,
                                       std::vector<uint64_t>& nodeIds) const
{
    frames.clear();
    nodeIds.clear();
    if (stackId >= GetNodeCount())
        return false;
    ScopedLock lock(mMutex, mShared);
    uint64_t id = stackId;
    for (;;) {
        frames.push_back(GetAddress(id));
        nodeIds.push_back(id);
        const uint64_t parent = GetParent(id);
        if (parent == 0)
            break;
        if (parent >= id) {
            frames.clear();
            nodeIds.clear();
            return false;
        }
        id = parent;
    }
    std::reverse(frames.begin(), frames.end());
    std::reverse(nodeIds.begin(), nodeIds.end());
    return true;
}

bool CallstackNodeStore::GetStackNodesBelow(uint64_t stackId, std::span<const uint64_t> knownNodes,
                                            std::vector<uint64_t>& frames, std::vector<uint64_t>& nodeIds,
                                            std::size_t& shared) const
{
    frames.clear();
    nodeIds.clear();
    shared = 0;
    if (stackId >= GetNodeCount())
        return false;
    ScopedLock lock(mMutex, mShared);
    // Node IDs grow from a stack's outermost frame inwards, so one cursor moving down the known
    // path meets every ID that the walk up could share with it.
    std::size_t known = knownNodes.size();
    uint64_t id = stackId;
    for (;;) {
        while (known > 0 && knownNodes[known - 1] > id)
            --known;
        if (known > 0 && knownNodes[known - 1] == id) {
            shared = known;
            return true;
        }
        frames.push_back(GetAddress(id));
        nodeIds.push_back(id);
        const uint64_t parent = GetParent(id);
        if (parent == 0)
            return true;
        if (parent >= id) {
            frames.clear();
            nodeIds.clear();
            return false;
        }
        id = parent;
    }
}

bool CallstackNodeStore::GetOutermostFrame(uint64_t stackId, uint64_t& nodeId, uint64_t& address) const
{
    if (stackId >= GetNodeCount())
        return false;
    ScopedLock lock(mMutex, mShared);
    uint64_t id = stackId;
    for (uint64_t parent = GetParent(id); parent != 0; parent = GetParent(id)) {
        if (parent >= id)
            return false; // a damaged link of a loaded file
        id = parent;
    }
    nodeId = id;
    address = GetAddress(id);
    return true;
}

bool CallstackNodeStore::CheckLinks(const std::vector<Block>& blocks, uint64_t nodeCount)
{
    for (uint64_t id = 0; id < nodeCount; ++id) {
        const uint64_t parent = ReadParent(blocks[id / kBlockSize], id % kBlockSize);
        if (id == 0 ? parent != 0 : parent >= id)
            return false;
    }
    return true;
}

bool CallstackNodeStore::Load(const std::filesystem::path& path, Serialization::ErrorList& errors)
{
    Serialization::ErrorList::ContextScope context(errors, path.string());
    auto mapping = std::make_shared<System::Platform::MappedFile>();
    std::string errorText;
    if (!mapping->Open(path, errorText)) {
        errors.Add(EErrorCode::FileAccess, "Could not read file to memory");
        return false;
    }
    const uint8_t* data = mapping->GetData();
    const std::size_t size = mapping->GetSize();
    if (size < kFileHeaderSize) {
        errors.Add(EErrorCode::Corrupt, "Not enough data in file");
        return false;
    }
    // Opening a capture for a small query must not read every stack of it: only the block
    // headers are read here (one page per block), the nodes when a stack is looked up.
    const uint64_t nodeCount = LoadValue<uint64_t>(data + 12);
    std::vector<Block> blocks;
    if (!MapBlocks(data, size, nodeCount, LoadValue<uint32_t>(data + 20), blocks, errors))
        return false;
    Clear();
    {
        ScopedLock lock(mMutex, mShared);
        mBlocks = std::move(blocks);
        mMapping = std::move(mapping);
    }
    mNodeCount.store(nodeCount, std::memory_order_release);
    mValid = true;
    return true;
}

bool CallstackNodeStore::MapBlocks(const uint8_t* data, std::size_t size, uint64_t nodeCount,
                                   uint32_t blockCount, std::vector<Block>& blocks,
                                   Serialization::ErrorList& errors)
{
    auto corrupt = [&](const char* what) {
        errors.AddFormatted(EErrorCode::Corrupt, "The call stack database is corrupt: %s", what);
        return false;
    };
    std::size_t position = kFileHeaderSize;
    uint64_t nodesRead = 0;
    for (uint32_t b = 0; b < blockCount; ++b) {
        if (size - position < 8)
            return corrupt("a block header is cut short");
        const uint32_t used = LoadValue<uint32_t>(data + position);
        const uint32_t width = LoadValue<uint32_t>(data + position + 4);
        position += 8;
        if (width != 2 && width != 4 && width != 8)
            return corrupt("a block has an invalid parent width");
        if (used > kBlockSize || (b + 1 < blockCount && used != kBlockSize))
            return corrupt("a block has an invalid node count");
        const std::size_t blockBytes = std::size_t(used) * (8 + width);
        if (size - position < blockBytes)
            return corrupt("a block is cut short");
        Block block;
        block.mapped = data + position;
        block.width = width;
        block.used = used;
        position += blockBytes;
        nodesRead += used;
        blocks.push_back(std::move(block));
    }
    if (nodesRead != nodeCount)
        return corrupt("the blocks do not hold the stated number of nodes");
    if (position != size)
        return corrupt("unexpected data after the last block");
    // Node 0 is the root sentinel; a store without it has no stack to walk up to.
    if (nodeCount > 0 && ReadParent(blocks.front(), 0) != 0)
        return corrupt("a node links to a parent that does not precede it");
    return true;
}

bool CallstackNodeStore::Verify(Serialization::ErrorList& errors) const
{
    if (!mMapping)
        return true;
    const uint8_t* data = mMapping->GetData();
    const std::size_t size = mMapping->GetSize();
    if (XXH64(data + kFileHeaderSize, size - kFileHeaderSize, 0) != LoadValue<uint64_t>(data + 4)) {
        errors.AddFormatted(EErrorCode::Corrupt, "The call stack database is corrupt: checksum mismatch");
        return false;
    }
    if (!CheckLinks(mBlocks, GetNodeCount())) {
        errors.AddFormatted(
            EErrorCode::Corrupt,
            "The call stack database is corrupt: a node links to a parent that does not precede it");
        return false;
    }
    return true;
}

bool CallstackNodeStore::LoadFromMemory(const uint8_t* data, std::size_t size,
                                        Serialization::ErrorList& errors)
{
    if (size < kFileHeaderSize) {
        errors.Add(EErrorCode::Corrupt, "Not enough data in file");
        return false;
    }
    if (XXH64(data + kFileHeaderSize, size - kFileHeaderSize, 0) != LoadValue<uint64_t>(data + 4)) {
        errors.Add(EErrorCode::Corrupt, "Checksum mismatch");
        return false;
    }
    const uint64_t nodeCount = LoadValue<uint64_t>(data + 12);
    std::vector<Block> blocks;
    if (!MapBlocks(data, size, nodeCount, LoadValue<uint32_t>(data + 20), blocks, errors))
        return false;
    if (!CheckLinks(blocks, nodeCount)) {
        errors.AddFormatted(
            EErrorCode::Corrupt,
            "The call stack database is corrupt: a node links to a parent that does not precede it");
        return false;
    }
    // The caller's bytes do not outlive the call, so the store takes copies of its own.
    for (Block& block : blocks)
        MakeWritable(block);
    Clear();
    {
        ScopedLock lock(mMutex, mShared);
        mBlocks = std::move(blocks);
    }
    mNodeCount.store(nodeCount, std::memory_order_release);
    mValid = true;
    return true;
}

bool CallstackNodeStore::Save(const std::filesystem::path& path, Serialization::ErrorList& errors) const
{
    XXH64_state_t* state = XXH64_createState();
    XXH64_reset(state, 0);
    for (const Block& block : mBlocks) {
        const uint32_t header[2] = {block.used, block.width};
        XXH64_update(state, header, sizeof(header));
        XXH64_update(state, AddressBytes(block), std::size_t(block.used) * 8);
        XXH64_update(state, ParentBytes(block), std::size_t(block.used) * block.width);
    }
    const uint64_t checksum = XXH64_digest(state);
    XXH64_freeState(state);

    uint8_t header[kFileHeaderSize];
    const uint64_t nodeCount = GetNodeCount();
    const auto blockCount = static_cast<uint32_t>(mBlocks.size());
    std::memcpy(header, &kFileFormatVersion, 4);
    std::memcpy(header + 4, &checksum, 8);
    std::memcpy(header + 12, &nodeCount, 8);
    std::memcpy(header + 20, &blockCount, 4);

    // A loaded store reads its nodes from the mapped file, which must not be cut while it is
    // read: the new file is written beside it and renamed over it, which leaves the mapped one
    // intact (and a reader never sees half a file).
    const std::filesystem::path writing = path.string() + ".writing";
    EventChunkFile file;
    std::string errorText;
    if (!file.Create(writing, errorText)) {
        errors.AddFormatted(EErrorCode::WriteFailed, "Could not open %s for writing",
                            writing.string().c_str());
        return false;
    }
    bool written = file.Append(header, sizeof(header), errorText);
    for (std::size_t b = 0; b < mBlocks.size() && written; ++b) {
        const Block& block = mBlocks[b];
        const uint32_t blockHeader[2] = {block.used, block.width};
        written = file.Append(blockHeader, sizeof(blockHeader), errorText) &&
                  file.Append(AddressBytes(block), std::size_t(block.used) * 8, errorText) &&
                  file.Append(ParentBytes(block), std::size_t(block.used) * block.width, errorText);
    }
    // The file must be on disk before the one that points into it commits it; a batch of files
    // committed together flushes it with the others.
    Serialization::SyncBatch* batch = Serialization::SyncBatch::Current();
    std::error_code existsError;
    if (batch && std::filesystem::exists(path, existsError) && !batch->Contains(path))
        batch = nullptr; // what it replaces stays until the new one is on disk
    written = written && (batch != nullptr || file.Sync(errorText));
    file.Close();
    std::error_code error;
    if (written)
        std::filesystem::rename(writing, path, error);
    if (written && !error && batch)
        batch->AddFile(path);
    if (!written || error) {
        std::error_code ignored;
        std::filesystem::remove(writing, ignored);
        errors.AddFormatted(EErrorCode::WriteFailed,
                            written ? "Could not open %s for writing" : "Could not write to %s",
                            path.string().c_str());
        return false;
    }
    return true;
}

} // namespace Profiler
