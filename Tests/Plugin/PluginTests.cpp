#include "RTTI/Registry.h"
#include "ZivuDeverUdovIradir/VelkorApi.h"
#include "ZivuDeverUdovIradir/ZivuDeverUdovIradir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Profiler::VelkorApiTable;

std::set<std::string> TypeNames(const RTTI::Registry& registry, RTTI::ModuleId module)
{
    std::set<std::string> names;
    for (const RTTI::Type* type : registry.GetTypes(module))
        names.insert(type->GetName());
    return names;
}

TEST(Plugin, CreationRegistersEveryTypeUnderTheModuleIdAndResetsTheCurrentModule)
{
    RTTI::Registry registry;
    std::string hostString = "one";
    Profiler::Plugin* plugin = Profiler::CreatePlugin(hostString.c_str(), nullptr, 3, &registry);
    ASSERT_NE(plugin, nullptr);
    hostString = "changed";
    EXPECT_EQ(plugin->hostString1, "one"); // copied
    EXPECT_EQ(plugin->hostString2, "");
    EXPECT_EQ(static_cast<Profiler::ZivuDeverUdovIradir*>(plugin)->GetCallGraphSettings(), nullptr);
    EXPECT_EQ(registry.GetCurrentModule(), RTTI::kNoModule);
    EXPECT_TRUE(registry.GetTypes(RTTI::kNoModule).empty()); // nothing went to the host's partition

    const std::set<std::string> names = TypeNames(registry, Profiler::GetModuleId());
    // One type of each group the plugin carries: primitives, the capture data model, view states,
    // symbol resolution, the serialization schema, the call graph model and the plugin's own
    // records (whose members the settings and view state tests write and read back).
    for (const char* expected :
         {"uint64_t", "Profiler::Session", "Profiler::SessionViewState", "Profiler::SymbolSettings",
          "Serialization::CompoundSchema", "Profiler::CallGraphModel", "Profiler::CallGraphSettings"})
        EXPECT_TRUE(names.contains(expected)) << expected << " is not registered";
    // Classes are numbered, so that they can be written; a settings record is an object.
    const RTTI::CompoundType* settings = registry.FindClass("Profiler::CallGraphSettings");
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->IsIndexed());
    EXPECT_TRUE(RTTI::IsA(*settings, *registry.FindClass("RTTI::Object")));

    // A second plugin on the same registry adds nothing and breaks nothing.
    const std::size_t count = registry.GetTypes(Profiler::GetModuleId()).size();
    Profiler::Plugin* second = Profiler::CreatePlugin("", "", 0, &registry);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(registry.GetTypes(Profiler::GetModuleId()).size(), count);
    EXPECT_EQ(registry.GetCurrentModule(), RTTI::kNoModule);
    EXPECT_EQ(registry.FindClass("Profiler::CallGraphSettings"), settings);

    Profiler::DestroyPlugin(second);
    Profiler::DestroyPlugin(plugin);
    Profiler::DestroyPlugin(nullptr);
}

TEST(Plugin, TheInstrumentationTableIsFilledOnlyForItsVersion)
{
    VelkorApiTable table;
    std::memset(&table, 0xA5, sizeof(table));
    VelkorApiTable untouched = table;
    EXPECT_EQ(Profiler::GetVelkorApi(0x20000, &table), 0);
    EXPECT_EQ(Profiler::GetVelkorApi(0x30001, &table), 0);
    EXPECT_EQ(std::memcmp(&table, &untouched, sizeof(table)), 0);
    EXPECT_EQ(Profiler::GetVelkorApi(Profiler::kVelkorApiVersion, nullptr), 0);

    ASSERT_EQ(Profiler::GetVelkorApi(0x30000, &table), 1);
    void* entries[11];
    static_assert(sizeof(entries) == sizeof(table));
    std::memcpy(entries, &table, sizeof(table));
    for (void* entry : entries)
        EXPECT_NE(entry, nullptr);

    // Nobody listens on this platform: every entry returns at once, whatever it is given.
    table.beginZone("zone");
    table.beginZone(nullptr);
    table.beginZoneN("zone", 4);
    table.beginCategoryZone("zone", "category", 0xFF00FF);
    table.beginCategoryZoneN("zone", 4, nullptr, 0, 0);
    table.beginCategoryZoneW(u"zone", u"category", 1);
    table.beginCategoryZoneWN(u"zone", 4, u"category", 8, 1);
    const Profiler::VelkorZoneContext context = table.getZoneContext();
    EXPECT_EQ(context.values[0] | context.values[1] | context.values[2], 0u);
    table.endZone(1);
    table.beginFrame(2);
    table.setCounter(3, 4);
    table.endFrame(2);
}

} // namespace
