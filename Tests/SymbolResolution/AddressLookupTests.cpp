#include "TestPrograms.h"

#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/AddressLookup.h"
#include "SymbolResolution/SymbolResolver.h"

#include <gtest/gtest.h>

using namespace Profiler;
using namespace SymbolTest;

namespace {

constexpr uint64_t kBase = 0x7f1200000000ull;
constexpr uint64_t kOtherBase = 0x7f3400000000ull;

/// A capture that loaded `image` at kBase in process 1, recorded the way the importer does
/// (relative module, function records named as the recorder saw them).
uint32_t AddModule(ModuleDatabase& modules, const std::filesystem::path& image, uint64_t base,
                   int32_t process = 1)
{
    auto module = std::make_unique<NativeModule>();
    module->mName = image.filename().string();
    module->mPath = image.string();
    module->mImageSize = 0x100000;
    const uint32_t index = modules.AddNativeModule(std::move(module));
    modules.AddNativeModuleInstance({base, 0.0, 1e9, process, index});
    return index;
}

} // namespace

TEST(AddressLookup, ResolvesFunctionAndLineWithDebugInformation)
{
    const Programs& programs = GetPrograms();
    ModuleDatabase modules;
    AddModule(modules, programs.Full, kBase);
    SymbolResolver symbols(IsolatedOptions());

    const uint64_t sum = SymbolAddress("Sum");
    const auto reported = Addr2Line(programs.Full, {sum + 4});
    const AddressLookupResult result = LookupAbsoluteAddress(modules, symbols, kBase + sum + 4);
    ASSERT_EQ(result.Outcome, AddressLookupResult::EOutcome::Resolved);
    EXPECT_EQ(result.ModuleName, "full");
    EXPECT_EQ(result.RelativeAddress, sum + 4);
    EXPECT_EQ(result.FunctionName, "Sum");
    EXPECT_EQ(result.SourceFile, programs.Source.string());
    EXPECT_EQ(result.Line, reported.at(sum + 4).front().second);

    // The same address given relative to the module.
    const AddressLookupResult relative = LookupRelativeAddress(modules, symbols, 0, sum + 4);
    EXPECT_TRUE(relative.IsRelative);
    EXPECT_EQ(relative.FunctionName, "Sum");
    EXPECT_EQ(relative.Line, result.Line);
}

TEST(AddressLookup, WithoutDebugInformationNamesTheFunctionFromSymbolsOrTheCapture)
{
    const Programs& programs = GetPrograms();
    ModuleDatabase modules;
    const uint32_t symbolsOnly = AddModule(modules, programs.ByBuildId, kBase); // symbols, no DWARF here
    const uint32_t stripped = AddModule(modules, programs.Stripped, kOtherBase);
    SymbolResolver symbols(IsolatedOptions());
    const uint64_t caller = SymbolAddress("Caller");

    const AddressLookupResult named = LookupAbsoluteAddress(modules, symbols, kBase + caller + 1);
    ASSERT_EQ(named.Outcome, AddressLookupResult::EOutcome::Resolved);
    EXPECT_EQ(named.FunctionName, "Caller");
    EXPECT_TRUE(named.SourceFile.empty());
    EXPECT_EQ(named.Line, 0);

    // A stripped image names nothing; the lookup says so and offers the stable name.
    const AddressLookupResult unnamed = LookupRelativeAddress(modules, symbols, stripped, caller + 1);
    EXPECT_EQ(unnamed.Outcome, AddressLookupResult::EOutcome::NoFunction);
    EXPECT_NE(unnamed.StableName.find("stripped+0x"), std::string::npos) << unnamed.StableName;

    // With the recorder's name in the capture, the stripped image's code is named after all.
    Function recorded;
    recorded.mRelativeAddress = caller;
    recorded.mSize = 16;
    recorded.mName = "Caller";
    ASSERT_TRUE(modules.AddFunction(stripped, recorded));
    EXPECT_EQ(LookupRelativeAddress(modules, symbols, stripped, caller + 1).FunctionName, "Caller");
    EXPECT_EQ(LookupRelativeAddress(modules, symbols, symbolsOnly, caller + 1).FunctionName, "Caller");
}

TEST(AddressLookup, OutsideEveryModuleAndInSeveral)
{
    const Programs& programs = GetPrograms();
    ModuleDatabase modules;
    const uint32_t full = AddModule(modules, programs.Full, kBase, 1);
    modules.AddNativeModuleInstance({kBase, 0.0, 1e9, 2, full}); // another process: still one candidate
    AddModule(modules, programs.Stripped, kBase + 0x1000, 3);
    SymbolResolver symbols(IsolatedOptions());

    EXPECT_EQ(LookupAbsoluteAddress(modules, symbols, 0x1000).Outcome,
              AddressLookupResult::EOutcome::NotFound);
    const AddressLookupResult single = LookupAbsoluteAddress(modules, symbols, kBase + 0x10);
    EXPECT_NE(single.Outcome, AddressLookupResult::EOutcome::Ambiguous);

    const AddressLookupResult both = LookupAbsoluteAddress(modules, symbols, kBase + 0x2000);
    ASSERT_EQ(both.Outcome, AddressLookupResult::EOutcome::Ambiguous);
    ASSERT_EQ(both.Candidates.size(), 2u);
    EXPECT_EQ(both.Candidates[1].ModuleName, "stripped");
    EXPECT_EQ(both.Candidates[1].AbsoluteStart, kBase + 0x1000);
    EXPECT_EQ(both.Candidates[1].RelativeEnd, 0x100000u);

    // Relative lookups in a module the capture does not have find nothing.
    EXPECT_EQ(LookupRelativeAddress(modules, symbols, 99, 0x10).Outcome,
              AddressLookupResult::EOutcome::NotFound);
}
