#include "Plugin/PluginTestSupport.h"
#include "PluginApi/Plugin.h"
#include "RTTI/Registry.h"
#include "Runtime/PluginLoader.h"
#include "Support/TempDirectory.h"
#include "System/Log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using Profiler::PluginLoader;
using Serialization::EErrorCode;
using Serialization::ErrorList;
using testing::HasSubstr;

/// Loads `path`, expecting one error of `code` whose message contains `text`.
void ExpectLoadFailure(const std::filesystem::path& path, EErrorCode code, const std::string& text)
{
    PluginLoader loader;
    ErrorList errors;
    EXPECT_FALSE(loader.Load(path, errors));
    EXPECT_FALSE(loader.IsLoaded());
    ASSERT_EQ(errors.GetCount(), 1u);
    EXPECT_EQ(errors.GetErrors()[0].code, code);
    EXPECT_THAT(errors.GetErrors()[0].message, HasSubstr(text));
}

TEST(PluginLoader, RefusesModulesItCannotUseWithAClearReason)
{
    TestSupport::TempDirectory directory;
    ExpectLoadFailure(directory / "missing.so", EErrorCode::FileNotFound, "missing.so does not exist");

    TestSupport::WriteFile(directory / "text.so", "not a shared object\n");
    ExpectLoadFailure(directory / "text.so", EErrorCode::NotThisFormat, "Unable to load plugin module");

    ExpectLoadFailure(QX_FAKE_MODULE_NO_DESCRIPTOR, EErrorCode::NotThisFormat,
                      "does not export moduleDescriptor");
    ExpectLoadFailure(QX_FAKE_MODULE_OLD_VERSION, EErrorCode::NewerVersion,
                      "has descriptor version 8; this host reads version 9");
    ExpectLoadFailure(QX_FAKE_MODULE_TWO_PLUGINS, EErrorCode::Corrupt, "a plugin count other than 1");

    // A module that loads but whose factory makes no plugin.
    PluginLoader loader;
    ErrorList errors;
    ASSERT_TRUE(loader.Load(QX_FAKE_MODULE_NULL_FACTORY, errors)) << errors.ToString();
    RTTI::Registry registry;
    EXPECT_EQ(loader.CreatePlugin(registry, "", "", 0, errors), nullptr);
    ASSERT_EQ(errors.GetCount(), 1u);
    EXPECT_THAT(errors.GetErrors()[0].message, HasSubstr("could not create its plugin FakePlugin"));
    loader.DestroyPlugin(); // nothing to destroy
}

// The whole cycle a host goes through, on the real module: load, hand over the log sinks,
// create with the registry, open a view, destroy. Run under the address sanitizer this also
// shows that destroying the plugin frees everything it made.
TEST(PluginLoader, LoadsCreatesAndDestroysTheCallGraphPlugin)
{
    TestSupport::TempDirectory directory;
    PluginTests::CurrentDirectoryScope cwd(directory.GetPath());
    // A directory where the settings file should go makes its save fail, which the plugin logs.
    std::filesystem::create_directory(directory / "CallGraphPlugin.json");

    PluginLoader loader;
    ErrorList errors;
    // The descriptors' fields are checked through `qx plugins`.
    ASSERT_TRUE(loader.Load(QX_PLUGIN_MODULE, errors)) << errors.ToString();
    EXPECT_EQ(loader.GetModuleDescriptor().tracingRevision, 1u);

    PluginTests::LogCollector collector(false);
    loader.InitializeTracing({collector.GetSink()});

    RTTI::Registry registry;
    Profiler::Plugin* plugin = loader.CreatePlugin(registry, "first", "second", 42, errors);
    ASSERT_NE(plugin, nullptr) << errors.ToString();
    EXPECT_EQ(plugin->hostString1, "first");
    EXPECT_EQ(plugin->hostString2, "second");
    EXPECT_EQ(plugin->hostValue, 42u);
    EXPECT_GT(registry.GetTypes(loader.GetPluginModuleId()).size(), 100u);

    auto* viewPlugin = static_cast<Profiler::ViewPlugin*>(plugin);
    EXPECT_EQ(viewPlugin->modelPluginName, "CallGraphModelPlugin");
    Profiler::View* view = nullptr;
    viewPlugin->CreateView(&view, nullptr, nullptr, nullptr);
    EXPECT_EQ(view, nullptr);
    EXPECT_TRUE(std::filesystem::is_regular_file(directory / "SourcePlugin.json"));
    const std::vector<std::string> lines = collector.GetLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr("]: Failed to save CallGraphSettings: "));
    EXPECT_EQ(lines[0].back(), '\n');

    loader.DestroyPlugin();
    EXPECT_EQ(loader.GetPlugin(), nullptr);
    loader.InitializeTracing({});
    loader.Unload();
    EXPECT_FALSE(loader.IsLoaded());
}

} // namespace
