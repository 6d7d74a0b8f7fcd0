#include "ZivuDeverUdovIradir/ThreadSelectorSettings.h"

QX_RTTI_DEFINE_CLASS(Profiler::ThreadSelectorSettings, 1)
{
    type.Property("ProcessMode", &ThreadSelectorSettings::mProcessMode);
}
