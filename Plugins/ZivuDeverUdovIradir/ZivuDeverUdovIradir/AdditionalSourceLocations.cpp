#include "ZivuDeverUdovIradir/AdditionalSourceLocations.h"

QX_RTTI_DEFINE_CLASS(Profiler::AdditionalSourceLocations::Location, 1)
{
    type.Property("OriginalPathPrefix", &Location::mOriginalPathPrefix)
        .Property("NewPathPrefixes", &Location::mNewPathPrefixes);
}

QX_RTTI_DEFINE_CLASS(Profiler::AdditionalSourceLocations, 1)
{
    type.Property("Locations", &AdditionalSourceLocations::mLocations);
}
