#include "TestPrograms.h"

#include "CaptureModel/ModuleDatabase.h"
#include "Support/TempDirectory.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/ResolveReport.h"
#include "SymbolResolution/SymbolLocationSettings.h"
#include "SymbolResolution/SymbolResolver.h"

#include <gtest/gtest.h>

using namespace Profiler;
using namespace SymbolTest;

namespace {

std::unique_ptr<NativeModule> MakeModule(const std::filesystem::path& path, bool withFunction = true)
{
    auto module = std::make_unique<NativeModule>();
    module->mName = path.filename().string();
    module->mPath = path.string();
    module->mImageSize = 4096;
    if (withFunction)
        module->mFunctions.push_back({SymbolAddress("Sum"), 16, "Sum", 0, 0});
    return module;
}

} // namespace

TEST(ResolveReport, LogTextAlignsValuesByteForByte)
{
    const std::vector<ResolveLogEntry> log = {
        {"Image", "found", "/usr/bin/app", "", EResolveStepOutcome::Found},
        {"Build id", "", "", "ab12", EResolveStepOutcome::Info},
        {"Debug file by build id", "not found", "/d/ab/12.debug", "", EResolveStepOutcome::NotFound},
    };
    const std::vector<ResolveProperty> module = {{"Name", "app"}, {"Build id", "ab12"}, {"Size", "4096"}};
    // The widest label and detail ("Debug file by build id" + 1 + "not found") is 32 wide: every
    // value starts two columns after that.
    const std::string expected = "Resolve Log\n"
                                 "----------------------\n"
                                 "Image: found                      /usr/bin/app\n"
                                 "Build id                          ab12\n"
                                 "Debug file by build id: not found /d/ab/12.debug\n"
                                 "\nModule\n"
                                 "----------------------\n"
                                 "Name:      app\n"
                                 "Build id: ab12\n"
                                 "Size:     4096\n";
    EXPECT_EQ(FormatResolveLogText(log, EMissingResolveLog::None, module), expected);

    EXPECT_EQ(FormatResolveLogText({}, EMissingResolveLog::Unused, {}),
              "Resolve Log\n----------------------\n"
              "This module did not show up in any callstack and was therefore never resolved.\n"
              "\nModule\n----------------------\n");
    EXPECT_EQ(FormatFunctionInformationText({{"Name", "Sum"}, {"Line", "8"}}, {{"Path", "/a"}}),
              "\nFunction\n----------------------\nName: Sum\nLine:   8\n"
              "\nModule information\n----------------------\nPath: /a\n");
}

TEST(ResolveReport, StatusWrittenFromTheSearchKeepsUnusedAndOldCaptureMarks)
{
    const Programs& programs = GetPrograms();
    ModuleDatabase modules;
    modules.AddNativeModule(MakeModule(programs.Full));
    modules.AddNativeModule(MakeModule(programs.Stripped));
    modules.AddNativeModule(MakeModule(programs.Folder / "missing"));
    modules.AddNativeModule(MakeModule(programs.Full, false));
    auto old = MakeModule(programs.Full);
    old->mResolveStatus = NativeModule::EResolveStatus::OldCapture;
    modules.AddNativeModule(std::move(old));
    // An inline module resolves through the image it was inlined into.
    auto inlined = MakeModule(programs.Full);
    inlined->mPath += " (inlined)";
    modules.AddNativeModule(std::move(inlined));

    SymbolResolver symbols(IsolatedOptions());
    std::atomic<bool> canceled{false};
    EXPECT_EQ(UpdateModuleResolveStatuses(modules, symbols, canceled), 4u);
    using S = NativeModule::EResolveStatus;
    const auto& natives = modules.GetNativeModules();
    EXPECT_EQ(natives[0]->mResolveStatus, S::Resolved);
    EXPECT_EQ(natives[1]->mResolveStatus, S::Unresolved);
    EXPECT_EQ(natives[2]->mResolveStatus, S::Unresolved);
    EXPECT_EQ(natives[3]->mResolveStatus, S::Unused);
    EXPECT_EQ(natives[4]->mResolveStatus, S::OldCapture);
    EXPECT_EQ(natives[5]->mResolveStatus, S::Resolved);
}

TEST(ResolveReport, ModuleAndFunctionPropertiesComeFromTheSearch)
{
    const Programs& programs = GetPrograms();
    ModuleDatabase modules;
    const uint32_t index = modules.AddNativeModule(MakeModule(programs.ByBuildId));
    modules.AddNativeModuleInstance({0x7f0000000000ull, 0.0, 1.0, 1, index});
    SymbolSearchOptions options = IsolatedOptions();
    options.DebugRoot = programs.DebugRoot.string();
    SymbolResolver symbols(options);

    const FunctionInformation information = BuildFunctionInformation(
        modules, symbols, ResolvedAddress::Make(SymbolAddress("Sum"), ResolvedAddress::kKindNative, index));
    auto value = [](const std::vector<ResolveProperty>& properties, const std::string& key) {
        for (const auto& [name, text] : properties)
            if (name == key)
                return text;
        return std::string("<missing>");
    };
    EXPECT_EQ(value(information.Function, "Name"), "Sum");
    EXPECT_EQ(value(information.Function, "Source file"), programs.Source.string());
    EXPECT_EQ(value(information.Module, "Debug information"), "by build id");
    EXPECT_EQ(value(information.Module, "Load address"), "0x7f0000000000");
    EXPECT_EQ(value(information.Module, "Architecture"), "x86-64");
    EXPECT_EQ(value(information.Module, "Build id"),
              symbols.GetModule(programs.ByBuildId.string())->GetBuildId());
}

TEST(SymbolLocationSettings, RoundTripAndHandPickedDebugFile)
{
    const Programs& programs = GetPrograms();
    TestSupport::TempDirectory directory;
    const auto path = directory / SymbolLocationSettings::kFileName;
    Serialization::ErrorList errors;
    EXPECT_EQ(LoadSymbolLocationSettings(path, errors), nullptr);
    ASSERT_FALSE(errors.IsEmpty());
    EXPECT_EQ(errors.GetErrors().front().code, Serialization::EErrorCode::FileNotFound);

    // The debug file of the build-id program, moved where no search would look.
    const std::string buildId = ModuleSymbols::Load(programs.Full.string(), IsolatedOptions())->GetBuildId();
    const auto picked = directory / "picked.dbg";
    std::filesystem::copy_file(
        programs.DebugRoot / ".build-id" / buildId.substr(0, 2) / (buildId.substr(2) + ".debug"), picked);

    SymbolLocationSettings settings;
    settings.mLocalFolders = {"/opt/symbols", directory.GetPath().string()};
    settings.mLocatedDebugFiles[buildId] = picked.string();
    errors = {};
    ASSERT_TRUE(SaveSymbolLocationSettings(path, settings, errors)) << errors.ToString();
    const auto loaded = LoadSymbolLocationSettings(path, errors);
    ASSERT_NE(loaded, nullptr) << errors.ToString();
    EXPECT_EQ(loaded->mLocalFolders, settings.mLocalFolders);
    EXPECT_EQ(loaded->mLocatedDebugFiles, settings.mLocatedDebugFiles);

    SymbolSearchOptions options = IsolatedOptions();
    loaded->ApplyTo(options);
    auto module = ModuleSymbols::Load(programs.ByBuildId.string(), options);
    EXPECT_EQ(module->GetStatus(), EModuleResolveStatus::DebugInfo);
    EXPECT_EQ(module->GetDebugSource(), EDebugInfoSource::Located);
    EXPECT_EQ(module->GetDebugPath(), picked.string());

    // A hand-picked file of another build is refused, logged, and the search goes on.
    options.LocatedDebugFiles[buildId] = (programs.Folder / "wrong" / "program.debug").string();
    module = ModuleSymbols::Load(programs.ByBuildId.string(), options);
    EXPECT_EQ(module->GetStatus(), EModuleResolveStatus::SymbolsOnly);
    EXPECT_EQ(module->GetLog()[3].Outcome, EResolveStepOutcome::Mismatch) << module->GetLog()[3].Label;
}
