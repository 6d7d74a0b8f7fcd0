#include "RTTI/Registry.h"
#include "Runtime/PluginLoader.h"
#include "Support/ShellCommand.h"
#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using testing::HasSubstr;

struct CommandResult {
    int status = -1;
    std::string output; ///< standard output and standard error together
};

/// Runs qx with `arguments` in a fresh working and state directory.
CommandResult RunQx(const std::string& arguments)
{
    TestSupport::TempDirectory directory;
    const TestSupport::ShellResult result =
        TestSupport::RunShell("XDG_STATE_HOME=" + TestSupport::ShellQuote(directory.GetPath().string()) +
                                  " " + TestSupport::ShellQuote(QX_QX_EXECUTABLE) + " " + arguments + " 2>&1",
                              directory.GetPath());
    return {result.exitCode, result.out};
}

/// The number of types the plugin registers into a fresh registry of this process.
std::size_t RegisteredTypeCount()
{
    Profiler::PluginLoader loader;
    Serialization::ErrorList errors;
    RTTI::Registry registry;
    if (!loader.Load(QX_PLUGIN_MODULE, errors) || !loader.CreatePlugin(registry, "", "", 0, errors))
        return 0;
    const std::size_t count = registry.GetTypes(loader.GetPluginModuleId()).size();
    loader.Unload();
    return count;
}

TEST(QxPlugins, DescribesTheModuleBuiltBesideItAndCountsTheTypesItRegisters)
{
    const CommandResult result = RunQx("plugins");
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string canonical = std::filesystem::canonical(QX_PLUGIN_MODULE).string();
    EXPECT_THAT(result.output, HasSubstr("Module:             " + canonical + "\n"));
    EXPECT_THAT(result.output, HasSubstr("Descriptor version: 9\n"));
    EXPECT_THAT(result.output, HasSubstr("Module version:     1.0.7463.3832\n"));
    EXPECT_THAT(result.output, HasSubstr("Plugins:            1\n"));
    EXPECT_THAT(result.output, HasSubstr("Plugin:             ZivuDeverUdovIradir (kind 0)\n"));

    const std::string label = "Registered types:   ";
    const std::size_t at = result.output.find(label);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::stoul(result.output.substr(at + label.size())), RegisteredTypeCount());
}

TEST(QxPlugins, FailsWithTheLoadersReasonForAPathThatIsNoPlugin)
{
    const CommandResult missing = RunQx("plugins /nonexistent/libNothing.so");
    EXPECT_EQ(missing.status, 2);
    EXPECT_THAT(missing.output,
                HasSubstr("qx plugins: Plugin module /nonexistent/libNothing.so does not exist"));

    const CommandResult tooMany = RunQx("plugins a b");
    EXPECT_EQ(tooMany.status, 1);
    EXPECT_THAT(tooMany.output, HasSubstr("Usage: qx plugins [PATH]"));
}

} // namespace
