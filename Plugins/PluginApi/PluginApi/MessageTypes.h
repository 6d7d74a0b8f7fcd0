#pragma once

#include "PluginApi/Message.h"

namespace Profiler {

/// The message types of a session's bus: those the call graph plugin sends, and those the host
/// defines and the plugin reads.
struct MessageTypes {
    static const MessageType& CallGraphSelected()
    {
        static const MessageType type{"CallGraphSelected",
                                      {{"ThreadIDs", EMessageFieldType::Array},
                                       {"StartTime", EMessageFieldType::Double},
                                       {"EndTime", EMessageFieldType::Double},
                                       {"Callstack", EMessageFieldType::Array},
                                       {"ResolvedFunctionNames", EMessageFieldType::Array},
                                       {"ModuleNames", EMessageFieldType::Array}}};
        return type;
    }
    static const MessageType& TopExclusiveSelected()
    {
        static const MessageType type{"TopExclusiveSelected",
                                      {{"ThreadIDs", EMessageFieldType::Array},
                                       {"StartTime", EMessageFieldType::Double},
                                       {"EndTime", EMessageFieldType::Double},
                                       {"Depth", EMessageFieldType::Int32},
                                       {"CustomRoot", EMessageFieldType::Array},
                                       {"Frames", EMessageFieldType::Array},
                                       {"ResolvedFunctionNames", EMessageFieldType::Array},
                                       {"ModuleNames", EMessageFieldType::Array}}};
        return type;
    }
    static const MessageType& CallGraphFilterCleared()
    {
        static const MessageType type{"CallGraphFilterCleared", {}};
        return type;
    }
    static const MessageType& ShowFunctionStatsFromCallGraph()
    {
        static const MessageType type{"ShowFunctionStatsFromCallGraph", {}};
        return type;
    }
    static const MessageType& ShowFunctionStatsFromFunctionList()
    {
        static const MessageType type{"ShowFunctionStatsFromFunctionList", {}};
        return type;
    }

    // Defined by the host. "ThreadID" all bits set means no single thread; "Reason" says what
    // the user did on the timeline (its low byte is read).
    static const MessageType& FilterStateChanged()
    {
        static const MessageType type{"FilterStateChanged",
                                      {{"ThreadID", EMessageFieldType::Int32},
                                       {"SelectedRangeStartTime", EMessageFieldType::Double},
                                       {"SelectedRangeEndTime", EMessageFieldType::Double},
                                       {"HasSelectedBar", EMessageFieldType::Int32},
                                       {"SelectedBarDepth", EMessageFieldType::Int32},
                                       {"SelectedBarStartTime", EMessageFieldType::Double},
                                       {"SelectedBarEndTime", EMessageFieldType::Double},
                                       {"SelectedBarFrame", EMessageFieldType::Frame},
                                       {"Reason", EMessageFieldType::Int32}}};
        return type;
    }
    static const MessageType& SessionOpened()
    {
        static const MessageType type{"SessionOpened", {}};
        return type;
    }
    static const MessageType& StackFrameSelected()
    {
        static const MessageType type{"StackFrameSelected",
                                      {{"Frame", EMessageFieldType::Frame},
                                       {"State", EMessageFieldType::Int32},
                                       {"Duration", EMessageFieldType::Double}}};
        return type;
    }
};

/// What the user did on the timeline, as "FilterStateChanged" carries it in "Reason".
enum class EFilterReason : int32_t {
    RangeSelected = 0,   ///< a time range
    BarSelected = 1,     ///< one call on a thread's timeline
    ThreadSelected = 2,  ///< a thread lane
    FilterCleared = 3,   ///< the selection was cleared
    ShowCallGraph = 4,   ///< asks for the call graph panel
    ShowFunctionList = 5 ///< asks for the function list panel
};

} // namespace Profiler
