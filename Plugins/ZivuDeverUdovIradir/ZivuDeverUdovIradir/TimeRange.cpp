#include "ZivuDeverUdovIradir/TimeRange.h"

QX_RTTI_DEFINE_CLASS(Profiler::TimeRange, 1)
{
    type.Property("Depth", &TimeRange::mDepth)
        .Property("StartTime", &TimeRange::mStartTime)
        .Property("EndTime", &TimeRange::mEndTime);
}
