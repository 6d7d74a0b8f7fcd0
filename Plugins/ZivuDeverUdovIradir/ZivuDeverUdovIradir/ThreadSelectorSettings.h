#pragma once

#include "CaptureModel/CaptureModelRecords.h"
#include "RTTI/Reflection.h"

namespace Profiler {

/// What the thread selector remembers between sessions: whether it groups threads by process.
class ThreadSelectorSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(ThreadSelectorSettings);

    ThreadOrganizationModel::EProcessMode mProcessMode =
        ThreadOrganizationModel::EProcessMode::CombineProcesses;
};

} // namespace Profiler
