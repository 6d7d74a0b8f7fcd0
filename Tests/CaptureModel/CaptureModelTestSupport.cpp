#include "CaptureModelTestSupport.h"

#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "LegacyShapes.h"
#include "RTTI/ObjectFactory.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"
#include "Utility/Format.h"

#include <gtest/gtest.h>

#include <limits>

namespace TestSupport {

using Profiler::ETraceEventKind;
using Profiler::TraceEvent;

RTTI::Registry& CaptureModelRegistry()
{
    static RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry;
        Profiler::RegisterAllCaptureTypes(*made);
        Legacy::RegisterLegacyShapes(*made);
        return made;
    }();
    return *registry;
}

std::string LoadedSession::FirstError() const
{
    return errors.IsEmpty() ? std::string() : errors.GetErrors().front().message;
}

LoadedSession LoadSession(const std::filesystem::path& path)
{
    static const Profiler::PlatformRegistry platforms;
    LoadedSession loaded;
    loaded.status =
        Profiler::Session::sLoad(path, CaptureModelRegistry(), RTTI::GetDefaultObjectFactory(), {},
                                 platforms.GetLookup(), loaded.session, loaded.platform, loaded.errors);
    return loaded;
}

std::filesystem::path WriteSmallCapture(const std::filesystem::path& directory)
{
    using A = SmallCaptureAddresses;
    Profiler::CaptureWriter writer;
    Serialization::ErrorList errors;
    Profiler::CaptureWriter::Options options;
    options.sampleIntervalMs = 1.0;
    if (!writer.Open(directory, CaptureModelRegistry(), options, errors))
        return {};
    writer.AddProcess(10, "app").mPath = "/usr/bin/app";
    writer.AddProcess(20, "app");
    writer.AddThread(10, 11, "app");
    writer.AddThread(10, 12, "worker");
    writer.AddThread(20, 21, "app");
    writer.AddThreadName(12, 0.0, "worker");
    writer.AddThreadName(12, 2.5, "renamed");

    const uint32_t app = writer.AddNativeModule("app", "/usr/bin/app", 0x1000);
    const uint32_t kernel =
        writer.AddNativeModule("[kernel.kallsyms]", "[kernel.kallsyms]", 0,
                               Profiler::NativeModule::ESymbolLookupAddressMode::Absolute);
    writer.AddModuleInstance(app, 10, A::kAppBase10);
    writer.AddModuleInstance(app, 20, A::kAppBase20);
    writer.AddModuleInstance(kernel, 10, 0);
    writer.AddFunction(app, A::kMain, 0x100, "main");
    writer.AddFunction(app, A::kStart, 0x40, "_start");
    writer.AddFunction(app, A::kWork, 0, "work");
    writer.AddFunction(app, A::kHelper, 0x20, "helper");
    writer.AddFunction(app, A::kCloneStart, 0x40, "start_thread");
    writer.AddFunction(kernel, A::kKernelFunction, 0x100, "schedule");

    const uint64_t b = A::kAppBase10;
    const std::vector<uint64_t> rooted = {b + A::kStart + 8, b + A::kMain + 0x10, b + A::kWork + 4};
    const std::vector<uint64_t> deeper = {b + A::kStart + 8, b + A::kMain + 0x10, b + A::kWork + 0x20,
                                          b + A::kHelper + 2};
    const std::vector<uint64_t> unrooted = {b + A::kWork + 8, b + A::kHelper + 4};
    const std::vector<uint64_t> blocked = {b + A::kStart + 8, b + A::kMain + 0x20, A::kKernelFunction + 0x10};
    const std::vector<uint64_t> worker = {b + A::kCloneStart + 4, b + A::kWork + 0x10};
    const std::vector<uint64_t> other = {A::kAppBase20 + A::kStart + 8, A::kAppBase20 + A::kMain + 0x10,
                                         A::kAppBase20 + 0x900};
    const uint64_t rootedId = writer.AddStack(rooted);
    const uint64_t deeperId = writer.AddStack(deeper);
    const uint64_t unrootedId = writer.AddStack(unrooted);
    const uint64_t blockedId = writer.AddStack(blocked);
    const uint64_t workerId = writer.AddStack(worker);
    const uint64_t otherId =
        writer.AddStackInnermostFirst(std::vector<uint64_t>(other.rbegin(), other.rend()));

    writer.AddSample(0.0, 10, 11, rootedId);
    writer.AddSample(0.5, 10, 12, workerId);
    writer.AddSampleWeight(1.0, 10, 11, 250000);
    writer.AddSample(1.0, 10, 11, deeperId);
    writer.AddSample(1.5, 20, 21, otherId);
    writer.AddSample(2.0, 10, 11, unrootedId);
    writer.AddSample(3.0, 10, 11, unrootedId);
    writer.AddSwitchOut(3.5, 10, 11, 6);
    writer.AddSwitchIn(4.5, 10, 11, blockedId);
    writer.AddZoneBegin(5.0, 10, 11, rootedId, "Frame", "detail");
    writer.AddSample(5.5, 10, 11, rootedId);
    writer.AddZoneEnd(6.0, 10, 11);
    writer.AddThreadEnd(6.5, 10, 12);
    writer.AddSample(7.0, 10, 11, deeperId);
    if (!writer.Finish(errors))
        return {};
    return writer.GetSessionPath();
}

std::vector<TraceEvent> ReadAllEvents(const Profiler::Session& session)
{
    std::vector<TraceEvent> events;
    Profiler::TraceEventStreamReader reader(*session.GetTraceEventStream());
    reader.SetZonesEnabled(true);
    reader.Seek(std::numeric_limits<double>::lowest());
    TraceEvent event;
    while (reader.Next(event)) {
        event.text[0] = {};
        event.text[1] = {};
        events.push_back(event);
    }
    EXPECT_FALSE(reader.HasFailed());
    return events;
}

std::vector<TraceEvent> MakeEventOfEveryKind(double time, uint32_t process, uint32_t thread)
{
    // Which payload fields each kind carries: stack, 8-byte values, u32 values, byte, strings.
    struct Fields {
        int stack, data64, data32, data8, texts;
    };
    constexpr Fields kFields[Profiler::kTraceEventKindCount] = {
        {1, 0, 0, 0, 0}, {0, 0, 0, 1, 0}, {1, 0, 0, 0, 0}, {1, 0, 2, 0, 0}, {0, 1, 0, 1, 0}, {0, 0, 0, 1, 0},
        {0, 0, 0, 0, 1}, {1, 0, 0, 0, 2}, {0, 0, 0, 0, 0}, {1, 0, 1, 0, 2}, {0, 2, 2, 0, 0}, {0, 1, 1, 1, 0},
        {0, 0, 1, 1, 0}, {0, 1, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 2, 0, 0, 0}, {0, 1, 0, 0, 0}, {1, 0, 0, 0, 0}};
    static const char* const kTexts[2] = {"first text", ""};
    std::vector<TraceEvent> events;
    for (uint8_t kind = 0; kind < Profiler::kTraceEventKindCount; ++kind) {
        const Fields& fields = kFields[kind];
        const uint64_t seed = 0x0102030405060708ull * (kind + 1);
        TraceEvent event;
        event.kind = static_cast<ETraceEventKind>(kind);
        event.time = time;
        event.processId = Profiler::ProcessID{process};
        event.threadId = Profiler::ThreadID{thread};
        if (fields.stack)
            event.stackId = seed;
        for (int i = 0; i < fields.data64; ++i)
            event.data64[i] = seed + i + 1;
        for (int i = 0; i < fields.data32; ++i)
            event.data32[i] = 0xAABBCC00u + kind * 2 + i;
        if (fields.data8)
            event.data8 = static_cast<uint8_t>(0x80 + kind);
        for (int i = 0; i < fields.texts; ++i)
            event.text[i] = kTexts[i];
        events.push_back(event);
    }
    return events;
}

std::string DescribeDifference(const TraceEvent& expected, const TraceEvent& actual)
{
    std::string difference;
    auto check = [&](bool same, const char* field) {
        if (!same)
            difference +=
                Utility::Format("%s differs (kind %u); ", field, static_cast<unsigned>(expected.kind));
    };
    check(expected.kind == actual.kind, "kind");
    check(expected.time == actual.time, "time");
    check(expected.processId == actual.processId, "process");
    check(expected.threadId == actual.threadId, "thread");
    check(expected.stackId == actual.stackId, "stack");
    check(expected.data64[0] == actual.data64[0] && expected.data64[1] == actual.data64[1], "data64");
    check(expected.data32[0] == actual.data32[0] && expected.data32[1] == actual.data32[1], "data32");
    check(expected.data8 == actual.data8, "data8");
    check(expected.text[0] == actual.text[0] && expected.text[1] == actual.text[1], "text");
    return difference;
}

void WriteFuzzSeed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::filesystem::path directory = FuzzCorpusDirectory(target.c_str());
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    WriteBytes(directory / name, bytes);
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path)
{
    const std::string text = ReadFile(path);
    return {text.begin(), text.end()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

} // namespace TestSupport
