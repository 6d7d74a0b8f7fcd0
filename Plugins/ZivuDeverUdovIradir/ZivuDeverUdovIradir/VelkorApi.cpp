#include "ZivuDeverUdovIradir/VelkorApi.h"

#include "System/Platform/EventTracing.h"

#include <limits>
#include <string_view>

namespace Profiler {
namespace {

using System::Platform::TraceEventField;

// Event ids are the entries' positions in the table.
enum EEventId : uint16_t {
    kBeginZoneEvent = 2,
    kBeginCategoryZoneEvent = 4,
    kBeginCategoryZoneWideEvent = 6,
    kGetZoneContextEvent = 7,
    kEndZoneEvent = 8,
    kBeginFrameEvent = 9,
    kSetCounterEvent = 10,
    kEndFrameEvent = 11,
};

constexpr uint16_t kMaxLength = std::numeric_limits<uint16_t>::max();

/// A text's length in code units, cut to what a 16-bit length can say.
template <class Char> uint16_t MeasuredLength(const Char* text)
{
    if (!text)
        return 0;
    const std::size_t length = std::basic_string_view<Char>(text).size();
    return static_cast<uint16_t>(length < kMaxLength ? length : kMaxLength);
}

template <class Char> TraceEventField TextField(const Char* text, uint16_t length)
{
    return {text, text ? static_cast<uint32_t>(length * sizeof(Char)) : 0u};
}

void BeginZoneN(const char* name, uint16_t nameLength)
{
    if (!System::Platform::IsEventTracingEnabled())
        return;
    const TraceEventField fields[] = {{&nameLength, sizeof(nameLength)}, TextField(name, nameLength)};
    System::Platform::WriteTraceEvent(kBeginZoneEvent, fields, 2);
}

void BeginZone(const char* name)
{
    BeginZoneN(name, MeasuredLength(name));
}

template <class Char>
void WriteCategoryZone(uint16_t eventId, const Char* name, uint16_t nameLength, const Char* category,
                       uint16_t categoryLength, uint32_t color)
{
    const TraceEventField fields[] = {{&nameLength, sizeof(nameLength)},
                                      TextField(name, nameLength),
                                      {&categoryLength, sizeof(categoryLength)},
                                      TextField(category, categoryLength),
                                      {&color, sizeof(color)}};
    System::Platform::WriteTraceEvent(eventId, fields, 5);
}

void BeginCategoryZoneN(const char* name, uint16_t nameLength, const char* category, uint16_t categoryLength,
                        uint32_t color)
{
    if (System::Platform::IsEventTracingEnabled())
        WriteCategoryZone(kBeginCategoryZoneEvent, name, nameLength, category, categoryLength, color);
}

void BeginCategoryZone(const char* name, const char* category, uint32_t color)
{
    if (System::Platform::IsEventTracingEnabled())
        BeginCategoryZoneN(name, MeasuredLength(name), category, MeasuredLength(category), color);
}

void BeginCategoryZoneWN(const char16_t* name, uint16_t nameLength, const char16_t* category,
                         uint16_t categoryLength, uint32_t color)
{
    if (System::Platform::IsEventTracingEnabled())
        WriteCategoryZone(kBeginCategoryZoneWideEvent, name, nameLength, category, categoryLength, color);
}

void BeginCategoryZoneW(const char16_t* name, const char16_t* category, uint32_t color)
{
    if (System::Platform::IsEventTracingEnabled())
        BeginCategoryZoneWN(name, MeasuredLength(name), category, MeasuredLength(category), color);
}

VelkorZoneContext GetZoneContext()
{
    if (System::Platform::IsEventTracingEnabled())
        System::Platform::WriteTraceEvent(kGetZoneContextEvent, nullptr, 0);
    return VelkorZoneContext{};
}

template <uint16_t EventId> void WriteValue(uint64_t value)
{
    if (!System::Platform::IsEventTracingEnabled())
        return;
    const TraceEventField field{&value, sizeof(value)};
    System::Platform::WriteTraceEvent(EventId, &field, 1);
}

void SetCounter(uint64_t counterId, uint64_t value)
{
    if (!System::Platform::IsEventTracingEnabled())
        return;
    const TraceEventField fields[] = {{&counterId, sizeof(counterId)}, {&value, sizeof(value)}};
    System::Platform::WriteTraceEvent(kSetCounterEvent, fields, 2);
}

} // namespace

int GetVelkorApi(uint32_t version, VelkorApiTable* table)
{
    if (version != kVelkorApiVersion || table == nullptr)
        return 0;
    table->beginZone = &BeginZone;
    table->beginZoneN = &BeginZoneN;
    table->beginCategoryZone = &BeginCategoryZone;
    table->beginCategoryZoneN = &BeginCategoryZoneN;
    table->beginCategoryZoneW = &BeginCategoryZoneW;
    table->beginCategoryZoneWN = &BeginCategoryZoneWN;
    table->getZoneContext = &GetZoneContext;
    table->endZone = &WriteValue<kEndZoneEvent>;
    table->beginFrame = &WriteValue<kBeginFrameEvent>;
    table->setCounter = &SetCounter;
    table->endFrame = &WriteValue<kEndFrameEvent>;
    return 1;
}

} // namespace Profiler
