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
    std::vector<TraceEvent> events;
    for (uint8_t kind = 0; kind < Profiler::kTraceEventKindCount; ++kind) {
        TraceEvent event;
        event.kind = static_cast<ETraceEventKind>(kind);
        event.time = time;
        event.processId = Profiler::ProcessID{process};
        event.threadId = Profiler::ThreadID{thread};
        const uint64_t seed = 0x0102030405060708ull * (kind + 1);
        switch (event.kind) {
        case ETraceEventKind::Sample:
        case ETraceEventKind::ContextSwitchIn:
        case ETraceEventKind::StackOnly:
            event.stackId = seed;
            break;
        case ETraceEventKind::ContextSwitchOut:
        case ETraceEventKind::ThreadStatus:
            event.data8 = static_cast<uint8_t>(kind + 20);
            break;
        case ETraceEventKind::StackWithoutTime:
            event.stackId = seed;
            event.data32[0] = 0xAABBCCDD;
            event.data32[1] = 7;
            break;
        case ETraceEventKind::Kind4:
            event.data8 = 4;
            event.data64[0] = seed;
            break;
        case ETraceEventKind::Kind6:
            event.text[0] = "a string";
            break;
        case ETraceEventKind::ZoneBegin:
            event.stackId = seed;
            event.text[0] = "zone";
            event.text[1] = "";
            break;
        case ETraceEventKind::ZoneBeginWithColour:
            event.stackId = seed;
            event.text[0] = "coloured zone";
            event.text[1] = "detail";
            event.data32[0] = 0xFF00FF00;
            break;
        case ETraceEventKind::Kind10:
            event.data64[0] = seed;
            event.data32[0] = 1;
            event.data32[1] = 2;
            event.data64[1] = ~seed;
            break;
        case ETraceEventKind::Kind11:
            event.data32[0] = 11;
            event.data8 = 0x80;
            event.data64[0] = seed;
            break;
        case ETraceEventKind::ThreadStatusWithValue:
            event.data32[0] = 12;
            event.data8 = 2;
            break;
        case ETraceEventKind::InstrumentationContextOut:
            event.data64[0] = seed;
            event.data64[1] = 15;
            break;
        case ETraceEventKind::Kind13:
        case ETraceEventKind::Kind14:
        case ETraceEventKind::InstrumentationContextIn:
            event.data64[0] = seed;
            break;
        case ETraceEventKind::ZoneEnd:
        case ETraceEventKind::EndMarker:
            break;
        }
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
