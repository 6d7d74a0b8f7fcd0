#pragma once

#include "Importers/PerfRecordCommand.h"
#include "Importers/PerfScriptParser.h"

#include "Utility/ErrorList.h"

namespace Profiler {

/// Runs the two perf commands of a recording plan.
class PerfRecorder {
public:
    /// Runs `perf record` and waits for it. While it runs, Ctrl-C reaches perf (which stops the
    /// recorded program and keeps what it recorded) but not this process, so that the recording
    /// can still be imported. False with one error record when perf cannot be started, fails,
    /// or leaves no data file.
    static bool Record(const PerfRecordPlan& plan, Serialization::ErrorList& errors);

    /// Runs `perf script` and streams its standard output into the parser, then finishes it.
    static bool Script(const PerfRecordPlan& plan, PerfScriptParser& parser,
                       Serialization::ErrorList& errors);
};

} // namespace Profiler
