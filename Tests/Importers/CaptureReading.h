#pragma once

#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/TraceEventStreamReader.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

// Reading an imported capture back, as the views do, for the importer's tests.
namespace CaptureReading {

/// Loads a capture directory; null (and a test failure) when it cannot be read.
inline std::unique_ptr<Profiler::Session> Load(const std::filesystem::path& capture)
{
    using namespace Profiler;
    static RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry;
        RegisterAllCaptureTypes(*made);
        return made;
    }();
    static const PlatformRegistry platforms;
    std::unique_ptr<Session> session;
    const Platform* platform = nullptr;
    Serialization::ErrorList errors;
    EXPECT_EQ(Session::sLoad(capture, *registry, RTTI::GetDefaultObjectFactory(), {}, platforms.GetLookup(),
                             session, platform, errors),
              0)
        << errors.ToString();
    return session;
}

/// Calls `visit` with each event of the session's stream, in order.
template <typename Visit> void ForEachEvent(const Profiler::Session& session, Visit&& visit)
{
    Profiler::TraceEventStreamReader reader(*session.GetTraceEventStream());
    Profiler::TraceEvent event;
    while (reader.Next(event))
        visit(event);
    EXPECT_FALSE(reader.HasFailed());
}

/// A thread or process id of an event as the capture's own signed id.
template <typename StoredId> int32_t Id(StoredId stored)
{
    return static_cast<int32_t>(static_cast<uint32_t>(stored));
}

} // namespace CaptureReading
