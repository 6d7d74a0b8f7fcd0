#pragma once

#include <cstdint>

// The instrumentation interface that a plugin module offers to instrumented programs through its
// exported VelkorAPI_GetAPI(version, table). A program asks for the table once and then calls its
// entries around the code it wants to see as zones; each entry writes an event only while a trace
// session listens and returns at once otherwise. Wide strings are UTF-16, as instrumented
// programs of the original platform pass them.

namespace Profiler {

inline constexpr uint32_t kVelkorApiVersion = 0x30000;

/// What the context entry returns: 24 bytes, all zero while nobody listens.
struct VelkorZoneContext {
    uint64_t values[3];
};
static_assert(sizeof(VelkorZoneContext) == 24);

/// The eleven entries, in the order they are stored.
struct VelkorApiTable {
    void (*beginZone)(const char* name);
    void (*beginZoneN)(const char* name, uint16_t nameLength);
    void (*beginCategoryZone)(const char* name, const char* category, uint32_t color);
    void (*beginCategoryZoneN)(const char* name, uint16_t nameLength, const char* category,
                               uint16_t categoryLength, uint32_t color);
    void (*beginCategoryZoneW)(const char16_t* name, const char16_t* category, uint32_t color);
    void (*beginCategoryZoneWN)(const char16_t* name, uint16_t nameLength, const char16_t* category,
                                uint16_t categoryLength, uint32_t color);
    VelkorZoneContext (*getZoneContext)();
    void (*endZone)(uint64_t zoneId);
    void (*beginFrame)(uint64_t frameId);
    void (*setCounter)(uint64_t counterId, uint64_t value);
    void (*endFrame)(uint64_t frameId);
};

} // namespace Profiler
