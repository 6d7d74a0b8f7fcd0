#include "CaptureModelTestSupport.h"

#include "RTTI/Registry.h"

#include <gtest/gtest.h>

namespace {

// The registered names, versions and property orders are what older and newer programs read
// files by; a change here breaks compatibility, so they are pinned.

std::vector<std::string> PropertyNames(const char* className)
{
    std::vector<std::string> names;
    if (const RTTI::CompoundType* type = TestSupport::CaptureModelRegistry().FindClass(className))
        for (const RTTI::Property& property : type->GetProperties())
            names.push_back(property.GetName() + ":" + property.GetType().GetName());
    return names;
}

TEST(CaptureModelTypes, StoredShapesKeepTheirVersionsAndPropertyOrder)
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
    EXPECT_EQ(PropertyNames("Profiler::Session"),
              (std::vector<std::string>{
                  "ThreadCompatibilityMap:Map_int_To_int", "ProcessCompatibilityMap:Map_int_To_int",
                  "ProcessList:Array_Profiler::Process", "ThreadList:Array_Profiler::Thread",
                  "NonCapturedProcesses:Array_Profiler::Process", "ModuleDatabase:Profiler::ModuleDatabase",
                  "CallstackDatabase:Profiler::CallstackDatabase",
                  "PlatformSession:UniquePtr_Profiler::PlatformSession"}));
    EXPECT_EQ(PropertyNames("Profiler::SessionInfo"),
              (std::vector<std::string>{"SampleIntervalMs:double", "SessionStartTimeMs:double",
                                        "SessionEndTimeMs:double", "VelkorAPIVersion:uint32_t",
                                        "PlatformID:Serialization::SerializableGUID",
                                        "SymbolSettingsHash:uint64_t"}));
    EXPECT_EQ(PropertyNames("Profiler::ResolvedAddress"),
              (std::vector<std::string>{"RelativeAddress:uint64_t", "ResolveIndex:Profiler::ResolveIndex"}));
    EXPECT_EQ(PropertyNames("Profiler::NativeModule"),
              (std::vector<std::string>{
                  "Name:std::string", "Path:std::string", "ImageSize:int32_t",
                  "Functions:Array_Profiler::Function", "RuntimeFunctions:Array_Profiler::Function",
                  "ResolveStatus:Profiler::NativeModule::EResolveStatus",
                  "SymbolLookupAddressMode:Profiler::NativeModule::ESymbolLookupAddressMode"}));
    EXPECT_EQ(PropertyNames("Profiler::CallstackDatabase"),
              (std::vector<std::string>{
                  "StacksByID:Map_Profiler::CallstackKey_To_std::unique_ptr<Profiler::Callstack>"}));
    EXPECT_EQ(
        PropertyNames("Profiler::TraceEventStream"),
        (std::vector<std::string>{"NumEvents:uint64_t", "Chunks:Array_Profiler::TraceEventStream::Chunk",
                                  "EventDataVersion:uint32_t"}));
    EXPECT_EQ(
        PropertyNames("Profiler::TraceEventStream::Chunk"),
        (std::vector<std::string>{"StartTime:double", "EndTime:double", "FileOffset:uint64_t",
                                  "Size:uint64_t", "NumEvents:uint64_t", "Processes:Set_Profiler::ThreadID",
                                  "Threads:Set_Profiler::ThreadID"}));
    // Former names still load.
    for (const char* alias : {"Profiler::ResolvedFunction", "Profiler::JITResolvedFunction",
                              "Profiler::ThreadSelectionState", "Profiler::SerializableGUID"})
        EXPECT_NE(registry.FindType(alias), nullptr) << alias;
    EXPECT_EQ(PropertyNames("Profiler::ModuleDatabase").size(), 9u);
    EXPECT_EQ(PropertyNames("Profiler::ModuleDatabase")[7],
              "JITFunctionAddressMap:Map_uint64_t_To_Profiler::ModuleDatabase::JITFunctionIndices");
}

} // namespace
