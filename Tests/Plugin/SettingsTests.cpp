#include "PluginTestSupport.h"

#include "RTTI/Registry.h"
#include "Support/ErrorAssertions.h"
#include "Support/TempDirectory.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/PluginTypes.h"
#include "ZivuDeverUdovIradir/SourceSettings.h"
#include "ZivuDeverUdovIradir/ZivuDeverUdovIradir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

namespace {

using Profiler::CallGraphHeaderSet;
using Profiler::CallGraphSettings;
using Profiler::ECallGraphHeaders;
using Profiler::SourceSettings;
using ProcessMode = Profiler::ThreadOrganizationModel::EProcessMode;
using Serialization::EErrorCode;
using Serialization::ErrorList;
using testing::HasSubstr;
using testing::UnorderedElementsAre;

const CallGraphHeaderSet kAllHeaders = {ECallGraphHeaders::FunctionName,  ECallGraphHeaders::ModuleName,
                                        ECallGraphHeaders::InclusiveTime, ECallGraphHeaders::ExclusiveTime,
                                        ECallGraphHeaders::SampleCount,   ECallGraphHeaders::ThreadStates};

MATCHER(IsTheDefaultHeaderSet, "every column but SampleCount")
{
    return arg == CallGraphHeaderSet{ECallGraphHeaders::FunctionName, ECallGraphHeaders::ModuleName,
                                     ECallGraphHeaders::InclusiveTime, ECallGraphHeaders::ExclusiveTime,
                                     ECallGraphHeaders::ThreadStates};
}

/// Each test runs in an empty current directory with the plugin's types registered.
class SettingsTest : public testing::Test {
protected:
    SettingsTest() : mCwd(mDirectory.GetPath()) { Profiler::RegisterPluginTypes(mRegistry); }

    std::unique_ptr<CallGraphSettings> LoadCallGraph(ErrorList& errors)
    {
        return Profiler::LoadCallGraphSettings(mRegistry, errors);
    }
    std::unique_ptr<CallGraphSettings> LoadCallGraph()
    {
        ErrorList errors;
        auto settings = LoadCallGraph(errors);
        EXPECT_TRUE(errors.IsEmpty()) << errors.ToString();
        return settings;
    }
    /// A plugin whose first view has been asked for, which loads or creates the settings.
    std::unique_ptr<Profiler::ZivuDeverUdovIradir> PluginWithView()
    {
        auto plugin = std::make_unique<Profiler::ZivuDeverUdovIradir>("", "", 0, &mRegistry);
        Profiler::View* view = nullptr;
        plugin->CreateView(&view, nullptr, nullptr, nullptr);
        EXPECT_EQ(view, nullptr);
        return plugin;
    }
    std::filesystem::path File(const char* name) const { return mDirectory / name; }

    TestSupport::TempDirectory mDirectory;
    PluginTests::CurrentDirectoryScope mCwd;
    RTTI::Registry mRegistry;
};

TEST_F(SettingsTest, AFreshStartWritesBothFilesWithTheDefaultsAndLaterViewsReadNothing)
{
    auto plugin = PluginWithView();
    ASSERT_NE(plugin->GetCallGraphSettings(), nullptr);
    ASSERT_NE(plugin->GetSourceSettings(), nullptr);

    auto stored = LoadCallGraph();
    ASSERT_NE(stored, nullptr);
    EXPECT_THAT(stored->GetVisibleHeaders(), IsTheDefaultHeaderSet());
    EXPECT_THAT(TestSupport::ReadFile(File(Profiler::kSourceSettingsFileName)),
                HasSubstr(R"("Type": "Profiler::SourceSettings")"));

    // The settings are the plugin's from now on: another view neither reads nor writes them.
    CallGraphSettings* settings = plugin->GetCallGraphSettings();
    std::filesystem::remove(File(Profiler::kCallGraphSettingsFileName));
    std::filesystem::remove(File(Profiler::kSourceSettingsFileName));
    Profiler::View* view = nullptr;
    plugin->CreateView(&view, nullptr, nullptr, nullptr);
    EXPECT_EQ(plugin->GetCallGraphSettings(), settings);
    EXPECT_FALSE(std::filesystem::exists(File(Profiler::kCallGraphSettingsFileName)));
    EXPECT_FALSE(std::filesystem::exists(File(Profiler::kSourceSettingsFileName)));
}

TEST_F(SettingsTest, ExistingFilesAreLoadedAsTheyAre)
{
    {
        CallGraphSettings written;
        written.SetPieChartVisible(false);
        SourceSettings source;
        source.mLastUsedBrowseDirectory = "/src";
        source.mAdditionalSourceLocations.mLocations.push_back(
            {"C:/build", {"/home/me/build", "/mnt/build"}});
        Profiler::SaveSourceSettings(source);
    }
    auto plugin = PluginWithView();
    EXPECT_FALSE(plugin->GetCallGraphSettings()->IsPieChartVisible());
    const SourceSettings& source = *plugin->GetSourceSettings();
    EXPECT_EQ(source.mLastUsedBrowseDirectory, "/src");
    ASSERT_EQ(source.mAdditionalSourceLocations.mLocations.size(), 1u);
    EXPECT_EQ(source.mAdditionalSourceLocations.mLocations[0].mOriginalPathPrefix, "C:/build");
    EXPECT_THAT(source.mAdditionalSourceLocations.mLocations[0].mNewPathPrefixes,
                testing::ElementsAre("/home/me/build", "/mnt/build"));
}

TEST_F(SettingsTest, MissingFilesAndFilesWithoutTheRecordAreReportedAndReplacedByDefaults)
{
    ErrorList errors;
    EXPECT_EQ(LoadCallGraph(errors), nullptr);
    ASSERT_TRUE(TestSupport::HasOnlyError(errors, EErrorCode::FileNotFound, "Unable to open file"));
    EXPECT_EQ(errors.GetErrors()[0].context, "CallGraphPlugin.json");

    // A file whose only object is of another class.
    Profiler::SaveSourceSettings(SourceSettings());
    std::filesystem::copy_file(File(Profiler::kSourceSettingsFileName),
                               File(Profiler::kCallGraphSettingsFileName));
    errors.Clear();
    EXPECT_EQ(LoadCallGraph(errors), nullptr);
    EXPECT_TRUE(TestSupport::HasOnlyError(
        errors, EErrorCode::Corrupt,
        "The file does not appear to be a CallGraphSettings file (missing CallGraphSettings object)"));

    TestSupport::WriteFile(File(Profiler::kSourceSettingsFileName), "{ \"Objects\": [ { \"Type\": ");
    errors.Clear();
    EXPECT_EQ(Profiler::LoadSourceSettings(mRegistry, errors), nullptr);
    EXPECT_FALSE(errors.IsEmpty());

    // The next start replaces both by defaults.
    auto plugin = PluginWithView();
    EXPECT_THAT(LoadCallGraph()->GetVisibleHeaders(), IsTheDefaultHeaderSet());
    errors.Clear();
    EXPECT_NE(Profiler::LoadSourceSettings(mRegistry, errors), nullptr) << errors.ToString();
}

TEST_F(SettingsTest, SetVisibleHeadersNeverKeepsSampleCountAndTellsSubscribersInOrder)
{
    // A file may hold it, and it stays until the setter runs; missing members keep their defaults.
    TestSupport::WriteFile(File(Profiler::kCallGraphSettingsFileName),
                           R"({"Type": "Profiler::CallGraphSettings", "VisibleHeaders": ["SampleCount"]})");
    auto settings = LoadCallGraph();
    ASSERT_NE(settings, nullptr);
    EXPECT_THAT(settings->GetVisibleHeaders(), UnorderedElementsAre(ECallGraphHeaders::SampleCount));
    EXPECT_TRUE(settings->IsPieChartVisible());

    std::vector<std::pair<int, CallGraphHeaderSet>> calls;
    auto firstSubscription = settings->SubscribeVisibleHeaders(
        [&](const CallGraphHeaderSet& headers) { calls.emplace_back(1, headers); });
    auto secondSubscription = settings->SubscribeVisibleHeaders(
        [&](const CallGraphHeaderSet& headers) { calls.emplace_back(2, headers); });
    settings->SetVisibleHeaders(kAllHeaders);
    EXPECT_THAT(settings->GetVisibleHeaders(), IsTheDefaultHeaderSet());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].first, 1);
    EXPECT_EQ(calls[1].first, 2);
    EXPECT_THAT(calls[0].second, IsTheDefaultHeaderSet());
    EXPECT_FLOAT_EQ(settings->GetVisibleHeaders().max_load_factor(), 1.0f);
    EXPECT_THAT(LoadCallGraph()->GetVisibleHeaders(), IsTheDefaultHeaderSet()); // saved at once

    secondSubscription.Reset();
    settings->SetVisibleHeaders({ECallGraphHeaders::FunctionName, ECallGraphHeaders::SampleCount});
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_THAT(calls[2].second, UnorderedElementsAre(ECallGraphHeaders::FunctionName));
}

TEST_F(SettingsTest, EverySetterSavesAtOnceAndResetKeepsTheProcessMode)
{
    CallGraphSettings settings;
    settings.SetCallGraphTimeDisplayMode(Profiler::ECallGraphTimeDisplayMode::RelativePercentage);
    settings.SetFunctionListTimeDisplayMode(Profiler::EFunctionListTimeDisplayMode::Seconds);
    settings.SetPieChartVisible(false);
    settings.SetThreadSelectorProcessMode(ProcessMode::GroupByProcess);
    settings.SetVisibleHeaders({ECallGraphHeaders::ModuleName});

    auto stored = LoadCallGraph();
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->GetCallGraphTimeDisplayMode(), Profiler::ECallGraphTimeDisplayMode::RelativePercentage);
    EXPECT_EQ(stored->GetFunctionListTimeDisplayMode(), Profiler::EFunctionListTimeDisplayMode::Seconds);
    EXPECT_FALSE(stored->IsPieChartVisible());
    EXPECT_EQ(stored->GetThreadSelectorSettings().mProcessMode, ProcessMode::GroupByProcess);

    Profiler::ResetCallGraphSettings(*stored);
    EXPECT_EQ(stored->GetCallGraphTimeDisplayMode(), Profiler::ECallGraphTimeDisplayMode::Milliseconds);
    EXPECT_EQ(stored->GetFunctionListTimeDisplayMode(), Profiler::EFunctionListTimeDisplayMode::Milliseconds);
    EXPECT_THAT(stored->GetVisibleHeaders(), IsTheDefaultHeaderSet());
    EXPECT_TRUE(stored->IsPieChartVisible());
    EXPECT_EQ(stored->GetThreadSelectorSettings().mProcessMode, ProcessMode::GroupByProcess);
}

TEST_F(SettingsTest, AFailedSaveIsLoggedAndTheNewValueKept)
{
    // A directory in the file's place cannot be replaced by the written file.
    std::filesystem::create_directory(File(Profiler::kCallGraphSettingsFileName));
    std::filesystem::create_directory(File(Profiler::kSourceSettingsFileName));
    PluginTests::LogCollector log;

    CallGraphSettings settings;
    settings.SetPieChartVisible(false);
    EXPECT_FALSE(settings.IsPieChartVisible());
    Profiler::SaveSourceSettings(SourceSettings());

    const std::vector<std::string> lines = log.GetLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], testing::StartsWith("["));
    EXPECT_THAT(lines[0], HasSubstr("]: Failed to save CallGraphSettings: "));
    EXPECT_THAT(lines[1], HasSubstr("]: Failed to save SourceSettings: "));
    EXPECT_EQ(lines[1].back(), '\n');
}

} // namespace
