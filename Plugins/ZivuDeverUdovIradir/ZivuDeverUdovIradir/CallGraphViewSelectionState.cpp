#include "ZivuDeverUdovIradir/CallGraphViewSelectionState.h"

QX_RTTI_DEFINE_CLASS(Profiler::CallGraphViewSelectionState, 1)
{
    type.Property("SelectionTimeRange", &CallGraphViewSelectionState::mSelectionTimeRange)
        .Property("SelectedBarTimeRange", &CallGraphViewSelectionState::mSelectedBarTimeRange)
        .Property("CurrentTimeRange", &CallGraphViewSelectionState::mCurrentTimeRange)
        .Property("CurrentThreadSelection", &CallGraphViewSelectionState::mCurrentThreadSelection)
        .Property("CurrentSelectedBarFrame", &CallGraphViewSelectionState::mCurrentSelectedBarFrame);
}
