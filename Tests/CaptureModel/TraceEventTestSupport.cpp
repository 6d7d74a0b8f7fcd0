#include "TraceEventTestSupport.h"

#include "CaptureModel/BrokenStackIndex.h"
#include "CaptureModel/CallstackDatabase.h"
#include "CaptureModel/TraceEventStream.h"
#include "RTTI/Registry.h"
#include "Serialization/Schema.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"
#include "Utility/Format.h"

#include <fstream>

namespace TestSupport {

using Profiler::ETraceEventKind;
using Profiler::TraceEvent;

RTTI::Registry& CaptureModelRegistry()
{
    static RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry;
        made->RegisterPrimitives();
        Serialization::RegisterSchemaTypes(*made);
        made->Register<Profiler::TraceEventStream>();
        made->Register<Profiler::BrokenStackIndex>();
        made->Register<Profiler::CallstackDatabase>();
        return made;
    }();
    return *registry;
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
