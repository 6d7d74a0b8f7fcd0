// The call stack node store: deduplication, stack walks, the block boundary, the file format
// and its checks, and a producer inserting while other threads look stacks up.

#include "CaptureModel/CallstackDatabase.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModelTestSupport.h"
#include "Support/AssertionCapture.h"
#include "Support/TempDirectory.h"
#include "Utility/ErrorList.h"

#include <barrier>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <xxhash.h>

using namespace Profiler;

namespace {

using Frames = std::vector<uint64_t>;

Frames Stack(const CallstackNodeStore& store, uint64_t id)
{
    Frames frames;
    EXPECT_TRUE(store.GetStack(id, frames)) << id;
    return frames;
}

/// A chain of `length` nodes under node 0; returns the ID of the innermost one.
uint64_t InsertChain(CallstackNodeStore& store, uint64_t length)
{
    uint64_t id = 0;
    for (uint64_t i = 0; i < length; ++i)
        id = store.Insert(0x1000 + i, id).first;
    return id;
}

void FixChecksum(std::vector<uint8_t>& file)
{
    const uint64_t checksum = XXH64(file.data() + 24, file.size() - 24, 0);
    std::memcpy(file.data() + 4, &checksum, 8);
}

std::string LoadError(const std::vector<uint8_t>& file)
{
    CallstackNodeStore store;
    Serialization::ErrorList errors;
    if (store.LoadFromMemory(file.data(), file.size(), errors))
        return "";
    EXPECT_EQ(errors.GetCount(), 1u);
    EXPECT_EQ(errors.GetErrors()[0].code, Serialization::EErrorCode::Corrupt);
    EXPECT_FALSE(store.IsValid());
    return errors.GetErrors()[0].message;
}

} // namespace

TEST(CallstackNodeStore, InsertDeduplicatesAndStacksReadOutermostFirst)
{
    CallstackNodeStore store;
    store.Initialise();
    EXPECT_EQ(store.GetNodeCount(), 1u);
    EXPECT_EQ(Stack(store, 0), Frames{CallstackNodeStore::kRootAddress}) << "the sentinel alone";

    const uint64_t main = store.InsertStack(Frames{0xA, 0xB, 0xC});
    const uint64_t sibling = store.InsertStack(Frames{0xA, 0xB, 0xD});
    EXPECT_EQ(store.GetNodeCount(), 5u) << "A and B are shared";
    EXPECT_EQ(Stack(store, main), (Frames{0xA, 0xB, 0xC}));
    EXPECT_EQ(Stack(store, sibling), (Frames{0xA, 0xB, 0xD}));

    const auto again = store.Insert(0xC, 2);
    EXPECT_EQ(again, std::make_pair(main, false));
    EXPECT_EQ(store.GetNodeCount(), 5u);
    const auto sameAddressOtherParent = store.Insert(0xC, 0);
    EXPECT_TRUE(sameAddressOtherParent.second);

    Frames frames{1, 2, 3};
    EXPECT_FALSE(store.GetStack(store.GetNodeCount(), frames)) << "an ID equal to the count";
    EXPECT_TRUE(frames.empty());
    {
        TestSupport::AssertionCapture capture;
        EXPECT_EQ(store.Insert(0xE, 1000).first, CallstackNodeStore::kInvalidId)
            << "the parent does not exist";
        EXPECT_EQ(capture.GetReports().size(), 1u);
    }
}

TEST(CallstackNodeStore, BlockBoundaryAtNode65535AndFileRoundTrip)
{
    CallstackNodeStore store;
    store.Initialise();
    // Node 65534 is the last of block 0, node 65535 the first of block 1.
    const uint64_t last = InsertChain(store, 65534);
    ASSERT_EQ(last, 65534u);
    const auto firstOfBlock1 = store.Insert(0xF00D, last);
    ASSERT_EQ(firstOfBlock1, std::make_pair(uint64_t(65535), true));
    const auto next = store.Insert(0xBEEF, 65535);
    EXPECT_EQ(next.first, 65536u);
    EXPECT_EQ(store.Insert(0xF00D, last), std::make_pair(uint64_t(65535), false)) << "found across the block";

    Frames deep = Stack(store, 65536);
    ASSERT_EQ(deep.size(), 65536u);
    EXPECT_EQ(deep.front(), 0x1000u);
    EXPECT_EQ(deep[65533], 0x1000u + 65533);
    EXPECT_EQ(deep[65534], 0xF00Du);
    EXPECT_EQ(deep.back(), 0xBEEFu);

    TestSupport::TempDirectory directory;
    Serialization::ErrorList errors;
    ASSERT_TRUE(store.Save(directory / "CallstackDatabase.dat", errors)) << errors.ToString();
    // Header, block 0 (2-byte parents) full, block 1 with two nodes and 4-byte parents.
    std::vector<uint8_t> file = TestSupport::ReadBytes(directory / "CallstackDatabase.dat");
    ASSERT_EQ(file.size(), 24u + 8 + 65535 * 10 + 8 + 2 * 12);
    const std::size_t block1 = 24 + 8 + 65535 * 10;
    EXPECT_EQ(file[28], 2u);
    EXPECT_EQ(file[block1], 2u);
    EXPECT_EQ(file[block1 + 4], 4u);

    CallstackNodeStore loaded;
    ASSERT_TRUE(loaded.Load(directory / "CallstackDatabase.dat", errors)) << errors.ToString();
    EXPECT_EQ(loaded.GetNodeCount(), 65537u);
    EXPECT_EQ(Stack(loaded, 65536), deep);
    // A loaded store still deduplicates when it is extended.
    EXPECT_EQ(loaded.Insert(0xBEEF, 65535), std::make_pair(uint64_t(65536), false));
    EXPECT_EQ(loaded.Insert(0xCAFE, 65535), std::make_pair(uint64_t(65537), true));

    file.resize(24 + 8 + 2 * 10); // a small but valid seed: first two nodes of a store
    TestSupport::WriteFuzzSeed("CallstackDatabaseFuzzer", "boundary-prefix", file);
}

TEST(CallstackNodeStore, DamagedFilesAreRejected)
{
    CallstackNodeStore store;
    store.Initialise();
    store.InsertStack(Frames{1, 2, 3});
    store.InsertStack(Frames{1, 4});
    TestSupport::TempDirectory directory;
    Serialization::ErrorList errors;
    ASSERT_TRUE(store.Save(directory / "db", errors));
    const std::vector<uint8_t> good = TestSupport::ReadBytes(directory / "db");
    TestSupport::WriteFuzzSeed("CallstackDatabaseFuzzer", "small", good);
    EXPECT_EQ(LoadError(good), "");

    EXPECT_EQ(LoadError(std::vector<uint8_t>(good.begin(), good.begin() + 23)), "Not enough data in file");
    std::vector<uint8_t> cut(good.begin(), good.end() - 3);
    EXPECT_EQ(LoadError(cut), "Checksum mismatch") << "block data cut short";
    FixChecksum(cut);
    EXPECT_EQ(LoadError(cut), "The call stack database is corrupt: a block is cut short");

    std::vector<uint8_t> cycle = good; // node 1's parent becomes node 3: a loop
    const std::size_t parents = 24 + 8 + 5 * 8;
    cycle[parents + 2] = 3;
    FixChecksum(cycle);
    EXPECT_EQ(LoadError(cycle),
              "The call stack database is corrupt: a node links to a parent that does not precede it");
    TestSupport::WriteFuzzSeed("CallstackDatabaseFuzzer", "cycle", cycle);
    {
        // A mapped file is checked where it is walked: the loop ends the walk as a failure, and
        // Verify finds it without a walk.
        TestSupport::WriteBytes(directory / "cycle", cycle);
        CallstackNodeStore mapped;
        Serialization::ErrorList mappedErrors;
        ASSERT_TRUE(mapped.Load(directory / "cycle", mappedErrors)) << mappedErrors.ToString();
        std::vector<uint64_t> frames;
        EXPECT_FALSE(mapped.GetStack(3, frames));
        EXPECT_TRUE(frames.empty());
        EXPECT_FALSE(mapped.Verify(mappedErrors));
        EXPECT_THAT(mappedErrors.ToString(), testing::HasSubstr("does not precede it"));
    }

    std::vector<uint8_t> width = good;
    width[28] = 3;
    FixChecksum(width);
    EXPECT_EQ(LoadError(width), "The call stack database is corrupt: a block has an invalid parent width");

    std::vector<uint8_t> count = good;
    count[12] = 200;
    FixChecksum(count);
    EXPECT_EQ(LoadError(count),
              "The call stack database is corrupt: the blocks do not hold the stated number of nodes");

    CallstackNodeStore missing;
    EXPECT_FALSE(missing.Load(directory / "absent", errors));
    EXPECT_TRUE(TestSupport::LastErrorIs(errors, Serialization::EErrorCode::FileAccess,
                                         "Could not read file to memory"));

    std::filesystem::create_directory(directory / "dir");
    EXPECT_FALSE(store.Save(directory / "dir", errors));
    EXPECT_EQ(errors.GetErrors().back().message,
              "Could not open " + (directory / "dir").string() + " for writing");
}

TEST(CallstackNodeStore, RandomStacksMatchAfterIndexGrowthAndReload)
{
    // Enough distinct nodes to double the index several times (it starts at 65536 slots).
    std::mt19937_64 random(42);
    CallstackNodeStore store;
    store.Initialise();
    std::vector<std::pair<uint64_t, Frames>> stacks;
    for (int s = 0; s < 20000; ++s) {
        Frames frames(1 + random() % 12);
        for (uint64_t& frame : frames)
            frame = random() % 64 + (random() % 4 == 0 ? random() : 0);
        stacks.emplace_back(store.InsertStack(frames), frames);
    }
    const uint64_t count = store.GetNodeCount();
    EXPECT_GT(count, 70000u);
    for (const auto& [id, frames] : stacks) {
        ASSERT_EQ(Stack(store, id), frames);
        ASSERT_EQ(store.InsertStack(frames), id) << "inserting a known stack again finds it";
    }
    EXPECT_EQ(store.GetNodeCount(), count);

    TestSupport::TempDirectory directory;
    Serialization::ErrorList errors;
    ASSERT_TRUE(store.Save(directory / "db", errors));
    CallstackNodeStore loaded;
    ASSERT_TRUE(loaded.Load(directory / "db", errors));
    for (const auto& [id, frames] : stacks)
        ASSERT_EQ(Stack(loaded, id), frames);
}

TEST(CallstackNodeStore, SharedStoreServesLookupsWhileAProducerInserts)
{
    CallstackNodeStore store(true);
    store.Initialise();
    constexpr int kReaders = 3;
    constexpr uint64_t kNodes = 3 * 65535; // crosses block appends while readers walk
    std::barrier start(kReaders + 1);
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    std::atomic<int> mismatches{0};
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&] {
            start.arrive_and_wait();
            Frames frames;
            while (!done.load()) {
                const uint64_t count = store.GetNodeCount();
                const uint64_t id = count - 1;
                // Node i (i > 0) is address i under node i - 100 (or node 0).
                if (id > 0 && store.GetStack(id, frames) && frames.back() != id)
                    ++mismatches;
            }
        });
    }
    start.arrive_and_wait();
    for (uint64_t i = 1; i < kNodes; ++i)
        store.Insert(i, i > 100 ? i - 100 : 0);
    done = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(store.GetNodeCount(), kNodes);
}
