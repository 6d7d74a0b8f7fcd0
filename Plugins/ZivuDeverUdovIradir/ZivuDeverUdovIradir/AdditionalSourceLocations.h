#pragma once

#include "RTTI/Reflection.h"

#include <string>
#include <vector>

namespace Profiler {

/// Directory mappings that let the source view find files whose recorded path does not exist
/// on this machine: a path that begins with a location's original prefix is also looked up
/// with that beginning replaced by each of its new prefixes.
class AdditionalSourceLocations : public RTTI::Object {
public:
    QX_RTTI_CLASS(AdditionalSourceLocations);

    struct Location {
        QX_RTTI_STRUCT(Location);

        std::string mOriginalPathPrefix;
        std::vector<std::string> mNewPathPrefixes; ///< most recently used first
    };

    std::vector<Location> mLocations; ///< most recently used first
};

} // namespace Profiler
