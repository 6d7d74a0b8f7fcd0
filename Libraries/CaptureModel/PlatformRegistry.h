#pragma once

#include "CaptureModel/Platform.h"

#include <memory>
#include <vector>

namespace Profiler {

/// The platforms a host knows, found by their "PlatformID". A new registry knows the Linux
/// and the Windows platform.
class PlatformRegistry {
public:
    PlatformRegistry();
    ~PlatformRegistry();

    /// Adds a platform; one with the same identifier is replaced.
    void Add(std::unique_ptr<Platform> platform);
    const Platform* Find(const Serialization::SerializableGUID& id) const;
    /// A lookup for Session::sLoad; the registry must outlive it.
    PlatformLookup GetLookup() const;

private:
    std::vector<std::unique_ptr<Platform>> mPlatforms;
};

} // namespace Profiler
