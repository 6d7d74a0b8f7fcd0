#pragma once

#include "Serialization/SerializableGUID.h"

#include <functional>
#include <memory>
#include <string>

namespace RTTI {
class Registry;
}

namespace Serialization {
class CompatibilityHandlerMap;
}

namespace Profiler {

class PlatformSession;

/// A platform that records captures: it is found by the "PlatformID" of a session's header,
/// registers the classes of its own session data and makes the platform session object.
class Platform {
public:
    virtual ~Platform() = default;

    virtual Serialization::SerializableGUID GetID() const = 0;
    virtual std::string GetName() const = 0;
    /// Registers the platform's classes and compatibility handlers before a session is read.
    /// Handlers must outlive the read; the platform keeps them.
    virtual void RegisterTypes(RTTI::Registry& registry,
                               Serialization::CompatibilityHandlerMap& handlers) const;
    /// The platform session of a session whose file held none.
    virtual std::unique_ptr<PlatformSession> CreatePlatformSession() const;
};

/// Finds the platform of a "PlatformID"; null when no such platform is installed.
using PlatformLookup = std::function<const Platform*(const Serialization::SerializableGUID&)>;

} // namespace Profiler
