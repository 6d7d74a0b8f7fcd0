#include "TestPrograms.h"

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/CallGraphText.h"
#include "CallGraphModel/FunctionTimingProcessor.h"
#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/FunctionDataResolver.h"
#include "System/JobScheduler.h"

#include <gtest/gtest.h>

#include <future>

using namespace Profiler;
using namespace SymbolTest;

namespace {

const std::atomic<bool> kNotCanceled{false};

/// A capture's module database with one module per test program, and its resolver.
struct Capture {
    ModuleDatabase modules;
    SymbolResolver symbols{IsolatedOptions()};
    FunctionDataCache cache;
    FunctionDataResolver resolver{modules, symbols, &cache};

    uint32_t Add(const std::filesystem::path& image)
    {
        auto module = std::make_unique<NativeModule>();
        module->mName = image.filename().string();
        module->mPath = image.string();
        return modules.AddNativeModule(std::move(module));
    }

    FunctionData Resolve(uint32_t module, const char* function, FunctionLineData* lines = nullptr)
    {
        FunctionData data;
        FunctionLineData ownLines;
        std::string error;
        EXPECT_TRUE(resolver.ResolveFunctionData(
            ResolvedAddress::Make(SymbolAddress(function), ResolvedAddress::kKindNative, module), data,
            lines ? *lines : ownLines, error, kNotCanceled))
            << error;
        return data;
    }
};

} // namespace

TEST(FunctionDataResolver, MapsEachOutcomeAndAnswersRepeatsFromTheCache)
{
    const Programs& programs = GetPrograms();
    Capture capture;
    const uint32_t full = capture.Add(programs.Full);
    const uint32_t stripped = capture.Add(programs.Stripped);
    const uint32_t missing = capture.Add(programs.Folder / "gone-image");
    const uint32_t noSource = capture.Add(programs.NoSource);

    FunctionLineData lines;
    FunctionData found = capture.Resolve(full, "Caller", &lines);
    EXPECT_EQ(found.mResult, EResolveFunctionDataResult::SourceFoundNoChecksum);
    EXPECT_EQ(found.mDisassemblyResult, EDisassemblyResult::Success);
    EXPECT_EQ(std::filesystem::path(found.mResolvedSourcePath), programs.Source);
    EXPECT_EQ(found.mResolvedFunctionLine, 11);
    EXPECT_TRUE(lines.mAddressToLineMap.mFullyResolved);
    EXPECT_TRUE(lines.mAddressToLineMap.mLineToFirstAddressMap.contains(kCallerCallLine));
    EXPECT_TRUE(std::any_of(found.mInstructions.begin(), found.mInstructions.end(),
                            [](const AsmInstruction& i) { return i.mIsCallInstruction; }));

    FunctionLineData cachedLines;
    FunctionData cached = capture.Resolve(full, "Caller", &cachedLines);
    EXPECT_EQ(cached.mResult, EResolveFunctionDataResult::SourceFoundInCache);
    EXPECT_EQ(cached.mDisassemblyResult, EDisassemblyResult::SuccessFromCache);
    EXPECT_EQ(cached.mInstructions.size(), found.mInstructions.size());
    EXPECT_EQ(cachedLines.mAddressToLineMap.mResolvedLines.size(),
              lines.mAddressToLineMap.mResolvedLines.size());
    EXPECT_EQ(capture.cache.GetEntryCount(), 1u);

    FunctionData noDebug = capture.Resolve(stripped, "Sum");
    EXPECT_EQ(noDebug.mResult, EResolveFunctionDataResult::PDBNotFound);
    EXPECT_EQ(noDebug.mDisassemblyResult, EDisassemblyResult::Success);

    FunctionData noImage = capture.Resolve(missing, "Sum");
    EXPECT_EQ(noImage.mResult, EResolveFunctionDataResult::PDBNotFound);
    EXPECT_EQ(noImage.mDisassemblyResult, EDisassemblyResult::ImageNotFound);

    FunctionData sourceGone = capture.Resolve(noSource, "Sum");
    EXPECT_EQ(sourceGone.mResult, EResolveFunctionDataResult::SourceNotFound);
    EXPECT_NE(sourceGone.mOriginalSourcePath.find("gone/program.c"), std::string::npos);
    EXPECT_TRUE(sourceGone.mResolvedSourcePath.empty());
}

TEST(FunctionDataResolver, ASourceChangedAfterTheBuildIsUnmatched)
{
    const Programs& programs = GetPrograms();
    const auto copy = programs.Folder / "touched";
    std::filesystem::create_directories(copy);
    RunCommand("cd " + copy.string() +
               " && cp ../program.c . && gcc -g -O2 -DOFFSET=3 program.c -o touched && "
               "touch -d '+1 hour' program.c");
    Capture capture;
    const uint32_t module = capture.Add(copy / "touched");
    FunctionData data;
    FunctionLineData lines;
    std::string error;
    // Its own symbol address: the copy is a build of its own.
    const uint64_t sum = std::strtoull(
        RunCommand("nm " + (copy / "touched").string() + " | grep ' Sum$'").c_str(), nullptr, 16);
    ASSERT_TRUE(capture.resolver.ResolveFunctionData(
        ResolvedAddress::Make(sum, ResolvedAddress::kKindNative, module), data, lines, error, kNotCanceled));
    EXPECT_EQ(data.mResult, EResolveFunctionDataResult::SourceUnmatched);
}

TEST(FunctionTimingProcessor, PutsCalleeTimeOnTheCallLineWithItsStates)
{
    Capture capture;
    const uint32_t module = capture.Add(GetPrograms().Full);
    const ResolvedAddress caller =
        ResolvedAddress::Make(SymbolAddress("Caller"), ResolvedAddress::kKindNative, module);
    const ResolvedAddress sum =
        ResolvedAddress::Make(SymbolAddress("Sum"), ResolvedAddress::kKindNative, module);

    // The return address of Caller's call of Sum, as a sampled stack records it.
    FunctionData data = capture.Resolve(module, "Caller");
    uint64_t returnAddress = 0;
    for (const AsmInstruction& instruction : data.mInstructions)
        if (instruction.mIsCallInstruction && returnAddress == 0)
            returnAddress = instruction.mAddress + instruction.mSize;
    ASSERT_NE(returnAddress, 0u);
    const uint64_t ownAddress = SymbolAddress("Caller");
    // Stacks record the loaded addresses; the timing comes back in the module's own.
    constexpr uint64_t kBase = 0x7f0000000000;
    NativeModuleInstance instance;
    instance.mImageBase = kBase;
    instance.mNativeModuleIndex = module;
    capture.modules.AddNativeModuleInstance(instance);

    auto graph = std::make_shared<CallGraph>();
    const ResolvedAddress mainFunction =
        ResolvedAddress::Make(SymbolAddress("main"), ResolvedAddress::kKindNative, module);
    StateTimeArray calleeTimes{};
    calleeTimes[static_cast<int>(EThreadState::Executing)] = 6.0;
    calleeTimes[static_cast<int>(EThreadState::Sleep)] = 4.0;
    CallGraphTest::AddStack(graph->GetRoot(), {{mainFunction}, {caller}, {sum, kBase + returnAddress}},
                            calleeTimes);
    StateTimeArray ownTimes{};
    ownTimes[static_cast<int>(EThreadState::Executing)] = 2.0;
    CallGraphTest::AddStack(graph->GetRoot(), {{mainFunction}, {caller}}, ownTimes,
                            {{kBase + ownAddress, 2}});

    System::JobScheduler scheduler(1);
    auto provider = std::make_shared<FunctionDataResolver>(capture.modules, capture.symbols, &capture.cache);
    FunctionTimingProcessor processor(scheduler, provider);
    std::promise<std::unique_ptr<FunctionTimingInfo>> result;
    std::promise<std::shared_ptr<const FunctionData>> dataResult;
    FunctionTimingProcessor::Callbacks callbacks;
    callbacks.FunctionDataReady = [&](std::shared_ptr<const FunctionData> d) {
        dataResult.set_value(std::move(d));
    };
    callbacks.TimingReady = [&](std::unique_ptr<FunctionTimingInfo> info) {
        result.set_value(std::move(info));
    };
    FunctionQuery query;
    query.Graph = graph;
    processor.Request(query, caller, callbacks);
    auto info = result.get_future().get();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(dataResult.get_future().get()->mResult, EResolveFunctionDataResult::SourceFoundInCache);

    EXPECT_DOUBLE_EQ(info->TotalTime, 12.0);
    ASSERT_TRUE(info->LineEntries.contains(kCallerCallLine));
    const TimingEntry& callLine = info->LineEntries.at(kCallerCallLine);
    EXPECT_DOUBLE_EQ(callLine.Times[static_cast<int>(EThreadState::Sleep)], 4.0);
    EXPECT_GE(callLine.Times[static_cast<int>(EThreadState::Executing)], 6.0);
    // The own samples land on the line of the first instruction, whichever the compiler chose.
    double lineTotal = 0.0;
    uint64_t lineSamples = 0;
    for (const auto& [line, entry] : info->LineEntries) {
        lineTotal += entry.Total;
        lineSamples += entry.Samples;
    }
    EXPECT_DOUBLE_EQ(lineTotal, 12.0);
    EXPECT_EQ(lineSamples, 2u);
    EXPECT_EQ(info->AddressEntries.at({ownAddress, false}).Samples, 2u);
    EXPECT_DOUBLE_EQ(info->AddressEntries.at({returnAddress, true}).Total, 10.0);
}
