#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/StackResolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <limits>
#include <numeric>
#include <random>
#include <thread>

namespace {

using namespace Profiler;

constexpr double kNoTime = ModuleDatabase::kNoTime;
constexpr double kForever = std::numeric_limits<double>::max();

uint32_t
AddModule(ModuleDatabase& modules, const char* name, int32_t imageSize,
          NativeModule::ESymbolLookupAddressMode mode = NativeModule::ESymbolLookupAddressMode::Relative)
{
    auto module = std::make_unique<NativeModule>();
    module->mName = name;
    module->mImageSize = imageSize;
    module->mSymbolLookupAddressMode = mode;
    return modules.AddNativeModule(std::move(module));
}

void AddFunction(ModuleDatabase& modules, uint32_t module, uint64_t address, uint64_t size, const char* name)
{
    Function function;
    function.mRelativeAddress = address;
    function.mSize = size;
    function.mName = name;
    ASSERT_TRUE(modules.AddFunction(module, function));
}

std::string NameAt(const ModuleDatabase& modules, int32_t process, double time, uint64_t address)
{
    return modules.GetFunctionName(modules.Resolve(process, time, address).Function);
}

/// A library with functions added out of address order, one of unknown size.
class ModuleDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mLib = AddModule(mModules, "libfoo.so", 0x1000);
        AddFunction(mModules, mLib, 0x300, 0x40, "third");
        AddFunction(mModules, mLib, 0x100, 0x80, "first");
        AddFunction(mModules, mLib, 0x200, 0, "sizeless"); // reaches up to "third"
        mModules.AddNativeModuleInstance({0x10000, 0.0, kForever, 1, mLib});
    }

    ModuleDatabase mModules;
    uint32_t mLib = 0;
};

TEST_F(ModuleDatabaseTest, AddressesResolveToTheFunctionThatCoversThemAndEveryEntryHasAName)
{
    EXPECT_EQ(NameAt(mModules, 1, 5.0, 0x10100), "first");
    EXPECT_EQ(NameAt(mModules, 1, 5.0, 0x1017F), "first");
    EXPECT_EQ(NameAt(mModules, 1, 5.0, 0x10200), "sizeless");
    EXPECT_EQ(NameAt(mModules, 1, 5.0, 0x102FF), "sizeless");
    EXPECT_EQ(NameAt(mModules, 1, 5.0, 0x1033F), "third");
    const AddressResolution inside = mModules.Resolve(1, 5.0, 0x10110);
    EXPECT_TRUE(inside.InFunction);
    EXPECT_EQ(inside.InstanceIndex, 0);
    EXPECT_EQ(inside.Function, ResolvedAddress::Make(0x100, ResolvedAddress::kKindNative, mLib));
    EXPECT_EQ(mModules.FindFunction(inside.Function)->mName, "first");

    // Inside the module but in no function: the module's own entry, named as perf does.
    for (uint64_t address : {0x10000ull, 0x10180ull, 0x10340ull, 0x10FFFull}) {
        const AddressResolution gap = mModules.Resolve(1, 5.0, address);
        EXPECT_FALSE(gap.InFunction);
        EXPECT_EQ(gap.Function, ModuleDatabase::ModuleEntry(mLib)) << std::hex << address;
        EXPECT_EQ(mModules.GetFunctionName(gap.Function), "[libfoo.so]");
        EXPECT_EQ(mModules.GetModuleName(gap.Function), "libfoo.so");
        EXPECT_EQ(mModules.GetAbsoluteAddress(gap.Function), ModuleDatabase::kInvalidAddress);
    }

    // Outside every module, or in a process that never loaded it.
    for (auto [process, address] :
         {std::pair{1, 0xFFFFull}, std::pair{1, 0x11000ull}, std::pair{2, 0x10100ull}}) {
        const AddressResolution outside = mModules.Resolve(process, 5.0, address);
        EXPECT_EQ(outside.Function, ModuleDatabase::UnknownFunction());
        EXPECT_EQ(outside.InstanceIndex, -1);
        EXPECT_EQ(mModules.GetFunctionName(outside.Function), "Unknown");
        EXPECT_EQ(mModules.GetModuleName(outside.Function), "<unknown>");
    }

    // Pseudo entries, instrumentation and JIT functions have names too.
    EXPECT_EQ(mModules.GetFunctionName(ResolvedAddress::UnrootedStacks()), "[Unrooted Stacks]");
    EXPECT_EQ(mModules.GetModuleName(ResolvedAddress::UnrootedStacks()), "[Unrooted Stacks]");
    EXPECT_EQ(mModules.GetFunctionName(ResolvedAddress::Make(0x100, ResolvedAddress::kKindNative, 99)),
              "Unknown");
    EXPECT_EQ(mModules.GetModuleName(ResolvedAddress::Make(0x100, ResolvedAddress::kKindJit, 0)),
              "<unknown>");

    const ResolvedAddress zone = ResolvedAddress::Make(7, ResolvedAddress::kKindNoCode, mLib, true);
    mModules.GetInstrumentationDatabase().mInstrumentationData[zone] = {"Render", 0xFF00FF00};
    EXPECT_EQ(mModules.GetFunctionName(zone), "Render");
    const ResolvedAddress named = ResolvedAddress::Make(8, ResolvedAddress::kKindNoCode, mLib);
    mModules.GetInstrumentationDatabase().mInstrumentationIDs[named] = "Update";
    EXPECT_EQ(mModules.GetFunctionName(named), "Update");
    EXPECT_EQ(mModules.GetModuleName(named), "libfoo.so");

    Function jit;
    jit.mRelativeAddress = 0x40;
    jit.mSize = 0x20;
    jit.mName = "Jitted";
    auto jitModule = std::make_unique<JITModule>();
    jitModule->mName = "jit-region";
    jit.mModuleIndex = mModules.AddJITModule(std::move(jitModule));
    mModules.AddJITModuleInstance({1, 0.0, kForever, 0x500000, jit.mModuleIndex});
    mModules.AddJITFunction(jit, {0x500040, 1, 0x500000, 0.0, kForever, 0});
    const AddressResolution resolved = mModules.Resolve(1, 1.0, 0x500050);
    EXPECT_EQ(resolved.Function.GetKind(), ResolvedAddress::kKindJit);
    EXPECT_EQ(mModules.GetFunctionName(resolved.Function), "Jitted");
    EXPECT_EQ(mModules.GetModuleName(resolved.Function), "jit-region");
    EXPECT_EQ(mModules.GetAbsoluteAddress(resolved.Function, 1.0), 0x500040u);
}

TEST(ModuleDatabase, ReloadedModulesResolveByTime)
{
    // The library is unloaded at 10 ms; another library takes its place from 20 ms on.
    ModuleDatabase database;
    const uint32_t foo = AddModule(database, "libfoo.so", 0x1000);
    AddFunction(database, foo, 0x100, 0x80, "first");
    const uint32_t bar = AddModule(database, "libbar.so", 0x1000);
    AddFunction(database, bar, 0x100, 0x10, "barFunction");
    database.AddNativeModuleInstance({0x10000, 0.0, 10.0, 1, foo});
    database.AddNativeModuleInstance({0x10000, 20.0, kForever, 1, bar});
    database.AddNativeModuleInstance({0x40000, 0.0, kForever, 1, foo}); // loaded again elsewhere

    EXPECT_EQ(NameAt(database, 1, 5.0, 0x10100), "first");
    EXPECT_EQ(NameAt(database, 1, 25.0, 0x10100), "barFunction");
    // Between the two loads, or without a time, two candidates hold the address: none is taken.
    EXPECT_EQ(NameAt(database, 1, 15.0, 0x10100), "Unknown");
    EXPECT_EQ(NameAt(database, 1, kNoTime, 0x10100), "Unknown");
    // A single candidate is taken whatever the time.
    EXPECT_EQ(NameAt(database, 1, kNoTime, 0x40100), "first");
    EXPECT_EQ(NameAt(database, 1, -5.0, 0x40100), "first");

    const ResolvedAddress first = ResolvedAddress::Make(0x100, ResolvedAddress::kKindNative, foo);
    EXPECT_EQ(database.GetAbsoluteAddress(first, 5.0), 0x10100u);
    EXPECT_EQ(database.GetAbsoluteAddress(first, 30.0), 0x40100u);
    // Two instances and no time (or a time that matches none): it cannot be placed.
    EXPECT_EQ(database.GetAbsoluteAddress(first), ModuleDatabase::kInvalidAddress);
    const ResolvedAddress barFunction = ResolvedAddress::Make(0x100, ResolvedAddress::kKindNative, bar);
    EXPECT_EQ(database.GetAbsoluteAddress(barFunction), 0x10100u);
    EXPECT_EQ(database.GetAbsoluteAddress(ResolvedAddress::UnrootedStacks()),
              ModuleDatabase::kInvalidAddress);
    EXPECT_EQ(
        database.GetAbsoluteAddress(ResolvedAddress::Make(0x100, ResolvedAddress::kKindNoCode, foo), 5.0),
        ModuleDatabase::kInvalidAddress);
}

TEST(ModuleDatabase, AbsoluteModulesUseAddressesAsTheyAre)
{
    ModuleDatabase modules;
    // The kernel, known only by its symbols: it spans its functions.
    const uint32_t kernel =
        AddModule(modules, "[kernel.kallsyms]", 0, NativeModule::ESymbolLookupAddressMode::Absolute);
    AddFunction(modules, kernel, 0xffffffff81000000ull, 0x100, "schedule");
    AddFunction(modules, kernel, 0xffffffff81000400ull, 0, "do_syscall_64");
    modules.AddNativeModuleInstance({0, 0.0, kForever, 7, kernel});
    EXPECT_EQ(NameAt(modules, 7, 1.0, 0xffffffff81000010ull), "schedule");
    EXPECT_EQ(NameAt(modules, 7, 1.0, 0xffffffff81000200ull), "[kernel.kallsyms]");
    EXPECT_EQ(NameAt(modules, 7, 1.0, 0xffffffff81000400ull), "do_syscall_64");
    EXPECT_EQ(NameAt(modules, 7, 1.0, 0xffffffff81000401ull), "Unknown"); // past the span
    EXPECT_EQ(NameAt(modules, 7, 1.0, 0xfffffffff0000000ull), "Unknown");
    const ResolvedAddress schedule = modules.Resolve(7, 1.0, 0xffffffff81000010ull).Function;
    EXPECT_EQ(schedule.RelativeAddress, 0xffffffff81000000ull);
    EXPECT_EQ(modules.GetAbsoluteAddress(schedule), 0xffffffff81000000ull);
}

/// Brute force over every function of every instance, for the property test below.
std::string SlowName(const std::vector<std::pair<uint64_t, uint64_t>>& ranges,
                     const std::vector<std::string>& names, uint64_t base, uint64_t imageSize,
                     uint64_t address)
{
    if (address < base || address >= base + imageSize)
        return "Unknown";
    for (std::size_t i = 0; i < ranges.size(); ++i)
        if (address - base >= ranges[i].first && address - base < ranges[i].second)
            return names[i];
    return "[lib]";
}

TEST(ModuleDatabase, BinarySearchAgreesWithAScanOverRandomLayouts)
{
    std::mt19937_64 random(7);
    for (int round = 0; round < 20; ++round) {
        ModuleDatabase modules;
        const uint32_t lib = AddModule(modules, "lib", 0x10000);
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        std::vector<std::string> names;
        uint64_t at = random() % 64;
        while (at < 0xF000) {
            const uint64_t size = 1 + random() % 200;
            ranges.emplace_back(at, at + size);
            names.push_back("f" + std::to_string(names.size()));
            at += size + random() % 100;
        }
        // Added in random order.
        std::vector<std::size_t> order(ranges.size());
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), random);
        for (std::size_t i : order)
            AddFunction(modules, lib, ranges[i].first, ranges[i].second - ranges[i].first, names[i].c_str());
        modules.AddNativeModuleInstance({0x200000, 0.0, kForever, 3, lib});
        for (int probe = 0; probe < 500; ++probe) {
            const uint64_t address = 0x1FF000 + random() % 0x12000;
            ASSERT_EQ(NameAt(modules, 3, 1.0, address), SlowName(ranges, names, 0x200000, 0x10000, address))
                << std::hex << address;
        }
    }
}

TEST(StackResolver, EachAddressIsLookedUpOncePerProcess)
{
    ModuleDatabase modules;
    const uint32_t lib = AddModule(modules, "lib", 0x1000);
    AddFunction(modules, lib, 0x100, 0x100, "outer");
    AddFunction(modules, lib, 0x200, 0x100, "inner");
    modules.AddNativeModuleInstance({0x1000, 0.0, kForever, 1, lib});
    modules.AddNativeModuleInstance({0x1000, 0.0, kForever, 2, lib});
    CallstackNodeStore store;
    store.Initialise();
    const std::vector<uint64_t> frames = {0x1110, 0x1220};
    const uint64_t stack = store.InsertStack(frames);
    const uint64_t longer = store.InsertStack(std::vector<uint64_t>{0x1110, 0x1220, 0x1230});

    StackResolver resolver(store, modules);
    std::vector<ResolvedFrame> resolved;
    ASSERT_TRUE(resolver.Resolve(1, stack, 0.0, resolved));
    ASSERT_EQ(resolved.size(), 2u);
    EXPECT_EQ(modules.GetFunctionName(resolved[0].Function), "outer");
    EXPECT_EQ(resolved[0].CallerAddress, ~0ull);
    EXPECT_EQ(resolved[1].FrameAddress, 0x1220u);
    EXPECT_EQ(resolved[1].CallerAddress, 0x1110u);
    EXPECT_EQ(resolver.GetLookupCount(), 2u);
    ASSERT_TRUE(resolver.Resolve(1, stack, 0.0, resolved));
    ASSERT_TRUE(resolver.Resolve(1, longer, 0.0, resolved)); // shares two frames
    EXPECT_EQ(resolver.GetLookupCount(), 3u);
    const uint64_t innerOnly =
        store.InsertStack(std::vector<uint64_t>{0x1220}); // another node, known address
    ASSERT_TRUE(resolver.Resolve(1, innerOnly, 0.0, resolved));
    EXPECT_EQ(resolver.GetLookupCount(), 3u);
    ASSERT_TRUE(resolver.Resolve(2, stack, 0.0, resolved)); // another process looks up its own
    EXPECT_EQ(resolver.GetLookupCount(), 5u);
    EXPECT_FALSE(resolver.Resolve(1, store.GetNodeCount(), 0.0, resolved));

    // The platform is asked once per outermost address and process.
    int decisions = 0;
    auto decide = [&](const ResolvedFrame& outermost) {
        ++decisions;
        return modules.GetFunctionName(outermost.Function) == "outer";
    };
    EXPECT_EQ(resolver.IsRooted(1, stack, 0.0, decide), true);
    EXPECT_EQ(resolver.IsRooted(1, longer, 0.0, decide), true);
    EXPECT_EQ(resolver.IsRooted(2, longer, 0.0, decide), true);
    EXPECT_EQ(decisions, 2);
    EXPECT_EQ(resolver.IsRooted(1, innerOnly, 0.0, decide), false);
    EXPECT_EQ(resolver.IsRooted(1, 0, 0.0, decide), std::nullopt);
    EXPECT_EQ(resolver.IsRooted(1, store.GetNodeCount(), 0.0, decide), std::nullopt);
    EXPECT_TRUE(resolver.Resolve(1, 0, 0.0, resolved));
    EXPECT_TRUE(resolved.empty());

    // After the modules change, cleared answers (the calling thread's own included) are looked up anew.
    AddFunction(modules, lib, 0x220, 0x10, "added");
    resolver.Clear();
    ASSERT_TRUE(resolver.Resolve(1, stack, 0.0, resolved));
    EXPECT_EQ(modules.GetFunctionName(resolved[1].Function), "added");
    EXPECT_EQ(resolver.GetLookupCount(), 7u);
}

// Resolving each stack after the one before (sharing its outer frames, whatever they share)
// gives what resolving it alone gives, with each frame's node beside it.
TEST(StackResolver, ResolvingAfterAnotherStackAgreesWithResolvingAlone)
{
    ModuleDatabase modules;
    const uint32_t lib = AddModule(modules, "lib", 0x1000);
    for (uint64_t f = 0; f < 8; ++f)
        AddFunction(modules, lib, 0x100 * (f + 1), 0x100, ("f" + std::to_string(f)).c_str());
    modules.AddNativeModuleInstance({0x1000, 0.0, kForever, 1, lib});
    CallstackNodeStore store;
    store.Initialise();
    std::mt19937 random(5);
    std::vector<uint64_t> stacks{0};
    for (int i = 0; i < 400; ++i) {
        std::vector<uint64_t> frames(1 + random() % 7);
        for (uint64_t& frame : frames)
            frame = 0x1100 + 0x40 * (random() % 28);
        stacks.push_back(store.InsertStack(frames));
    }
    stacks.push_back(store.GetNodeCount()); // unknown

    StackResolver resolver(store, modules);
    std::vector<ResolvedFrame> previous;
    std::vector<uint64_t> previousNodes;
    std::vector<ResolvedFrame> alone;
    for (int i = 0; i < 2000; ++i) {
        const uint64_t stack = stacks[random() % stacks.size()];
        std::vector<ResolvedFrame> frames;
        std::vector<uint64_t> nodes;
        const bool known = resolver.Resolve(1, stack, 0.0, alone);
        ASSERT_EQ(resolver.ResolveAfter(1, stack, 0.0, previous, previousNodes, frames, nodes), known);
        ASSERT_EQ(frames.size(), alone.size());
        ASSERT_EQ(nodes.size(), frames.size());
        for (std::size_t f = 0; f < frames.size(); ++f) {
            EXPECT_EQ(frames[f].Function.RelativeAddress, alone[f].Function.RelativeAddress);
            EXPECT_EQ(frames[f].Function.ResolveIndex, alone[f].Function.ResolveIndex);
            EXPECT_EQ(frames[f].FrameAddress, alone[f].FrameAddress);
            EXPECT_EQ(frames[f].CallerAddress, alone[f].CallerAddress);
        }
        if (!nodes.empty()) {
            EXPECT_EQ(nodes.back(), stack);
        }
        previous = std::move(frames);
        previousNodes = std::move(nodes);
    }
}

TEST(StackResolver, ConcurrentReadersAgreeWhileFunctionsAreAdded)
{
    ModuleDatabase modules;
    const uint32_t lib = AddModule(modules, "lib", 0x100000);
    for (uint64_t i = 0; i < 256; ++i)
        AddFunction(modules, lib, i * 0x100, 0x80, ("f" + std::to_string(i)).c_str());
    modules.AddNativeModuleInstance({0x100000, 0.0, kForever, 1, lib});
    CallstackNodeStore store;
    store.Initialise();
    std::vector<uint64_t> stacks;
    std::mt19937_64 random(3);
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint64_t> frames;
        for (int depth = 0; depth < 8; ++depth)
            frames.push_back(0x100000 + (random() % 256) * 0x100 + random() % 0x80);
        stacks.push_back(store.InsertStack(frames));
    }
    StackResolver resolver(store, modules);
    constexpr int kThreads = 4;
    std::barrier start(kThreads + 1);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t)
        readers.emplace_back([&, t] {
            start.arrive_and_wait();
            std::vector<ResolvedFrame> frames;
            std::vector<uint64_t> addresses;
            for (int round = 0; round < 3; ++round)
                for (std::size_t i = t; i < stacks.size(); i += 1 + t) {
                    resolver.Resolve(1, stacks[i], 0.0, frames);
                    store.GetStack(stacks[i], addresses);
                    for (std::size_t f = 0; f < frames.size(); ++f)
                        if (frames[f].Function.RelativeAddress != ((addresses[f] - 0x100000) & ~0xFFull))
                            ++mismatches;
                }
        });
    start.arrive_and_wait();
    // A writer adds functions beyond the sampled range meanwhile.
    for (uint64_t i = 0; i < 200; ++i)
        AddFunction(modules, lib, 0x80000 + i * 0x100, 0x10, "late");
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(LinuxPlatform, ThreadBaseFunctionsIgnoreVersionsAndOffsetsAndNamesChangeOverTime)
{
    for (const char* name :
         {"_start", "__libc_start_main", "__libc_start_call_main", "start_thread", "clone", "clone3",
          "__clone", "ret_from_fork", "kthread", "__libc_start_main@@GLIBC_2.34", "clone3+0x2c"})
        EXPECT_TRUE(LinuxPlatformSession::IsThreadBaseFunction(name)) << name;
    for (const char* name : {"main", "start", "_start_thread", "", "[unknown]", "kthreadd"})
        EXPECT_FALSE(LinuxPlatformSession::IsThreadBaseFunction(name)) << name;

    // Thread names change over time.
    LinuxPlatformSession platform;
    platform.AddThreadName(5, 10.0, "second");
    platform.AddThreadName(5, 0.0, "first");
    platform.AddThreadName(6, 3.0, "other");
    EXPECT_EQ(platform.GetThreadName(5, -1.0), "first"); // before the first change: the first name
    EXPECT_EQ(platform.GetThreadName(5, 9.9), "first");
    EXPECT_EQ(platform.GetThreadName(5, 10.0), "second");
    EXPECT_EQ(platform.GetThreadName(6, 100.0), "other");
    EXPECT_EQ(platform.GetThreadName(7, 1.0), "");
}

} // namespace
