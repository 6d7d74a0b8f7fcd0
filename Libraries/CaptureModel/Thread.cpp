#include "CaptureModel/Thread.h"

QX_RTTI_DEFINE_CLASS(Profiler::Thread, 1)
{
    type.Property("ProcessID", &Thread::mProcessID)
        .Property("ThreadID", &Thread::mThreadID)
        .Property("DisplayThreadID", &Thread::mDisplayThreadID)
        .Property("ThreadName", &Thread::mThreadName)
        .Property("StartTimeMs", &Thread::mStartTimeMs)
        .Property("EndTimeMs", &Thread::mEndTimeMs);
}
