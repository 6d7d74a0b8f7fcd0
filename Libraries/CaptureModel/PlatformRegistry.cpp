#include "CaptureModel/PlatformRegistry.h"

#include "CaptureModel/LinuxPlatform.h"

#include <algorithm>

namespace Profiler {

PlatformRegistry::PlatformRegistry()
{
    Add(std::make_unique<LinuxPlatform>());
    Add(std::make_unique<WindowsPlatform>());
}

PlatformRegistry::~PlatformRegistry() = default;

void PlatformRegistry::Add(std::unique_ptr<Platform> platform)
{
    const auto id = platform->GetID();
    auto it =
        std::find_if(mPlatforms.begin(), mPlatforms.end(), [&](const auto& p) { return p->GetID() == id; });
    if (it != mPlatforms.end())
        *it = std::move(platform);
    else
        mPlatforms.push_back(std::move(platform));
}

const Platform* PlatformRegistry::Find(const Serialization::SerializableGUID& id) const
{
    for (const auto& platform : mPlatforms)
        if (platform->GetID() == id)
            return platform.get();
    return nullptr;
}

PlatformLookup PlatformRegistry::GetLookup() const
{
    return [this](const Serialization::SerializableGUID& id) { return Find(id); };
}

} // namespace Profiler
