#include "CaptureModelTestSupport.h"

#include "RTTI/Registry.h"

#include <gtest/gtest.h>

namespace {

// The registered names and versions are what older and newer programs read files by (the upgrade
// handlers key on the versions); a change here breaks compatibility, so they are pinned.

TEST(CaptureModelTypes, StoredShapesKeepTheirNamesAndVersions)
{
    const RTTI::Registry& registry = TestSupport::CaptureModelRegistry();
    const std::pair<const char*, uint32_t> versions[] = {{"Profiler::Session", 9},
                                                         {"Profiler::SessionInfo", 3},
                                                         {"Profiler::ModuleDatabase", 2},
                                                         {"Profiler::Module", 2},
                                                         {"Profiler::NativeModule", 2},
                                                         {"Profiler::JITModule", 1},
                                                         {"Profiler::Function", 1},
                                                         {"Profiler::SharedModel", 5},
                                                         {"Profiler::FunctionDataCache", 2},
                                                         {"Profiler::FunctionDataCache::CacheEntry", 2},
                                                         {"Profiler::InstrumentationDatabase", 2},
                                                         {"Profiler::ResolvedAddress", 1},
                                                         {"Profiler::Process", 1},
                                                         {"Profiler::Thread", 1},
                                                         {"Profiler::SessionViewState", 1},
                                                         {"Profiler::FunctionData", 1},
                                                         {"Profiler::AsmInstruction", 1}};
    for (const auto& [name, version] : versions) {
        const RTTI::CompoundType* type = registry.FindClass(name);
        ASSERT_NE(type, nullptr) << name;
        EXPECT_EQ(type->GetVersion(), version) << name;
    }
    // Former names still load.
    for (const char* alias : {"Profiler::ResolvedFunction", "Profiler::JITResolvedFunction",
                              "Profiler::ThreadSelectionState", "Profiler::SerializableGUID"})
        EXPECT_NE(registry.FindType(alias), nullptr) << alias;
}

} // namespace
