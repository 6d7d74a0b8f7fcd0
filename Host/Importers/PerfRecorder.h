#pragma once

#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfRecordCommand.h"
#include "Importers/PerfScriptParser.h"

#include "Utility/ErrorList.h"

namespace Profiler {

/// Runs the two perf commands of a recording plan.
class PerfRecorder {
public:
    /// Runs `perf record` and waits for it. While it runs, Ctrl-C, SIGTERM and SIGHUP reach perf
    /// (which stops the recorded program and keeps what it recorded) but do not end this
    /// process, so that the recording can still be imported and the work directory removed. False with one
    /// error record when perf cannot be started, fails, or leaves no data file.
    static bool Record(const PerfRecordPlan& plan, Serialization::ErrorList& errors);

    /// Runs `perf script` and streams its standard output into the parser, then finishes it. A
    /// stop signal meanwhile ends perf script and makes this return false.
    static bool Script(const PerfRecordPlan& plan, PerfScriptParser& parser,
                       Serialization::ErrorList& errors);

    /// How many perf script processes print a data file of this size at once on this many
    /// cores (each on a slice of the recording's time).
    static unsigned ChooseSliceCount(uint64_t dataFileBytes, unsigned cores);

    /// Imports what the plan's `perf script` prints into a new capture, adding the inlined
    /// functions that it leaves out, the same way for `qx record`, `qx import perf.data` and the
    /// desktop app.
    static bool Import(const PerfRecordPlan& plan, const std::filesystem::path& directory,
                       PerfImportOptions options, PerfImportStats& stats, std::string& problems,
                       Serialization::ErrorList& errors);
    /// The plan that only reads an existing perf data file.
    static PerfRecordPlan PlanForDataFile(const std::string& dataFile);

    /// Asks a running Record or Script to stop, as Ctrl-C would: perf ends the program and keeps
    /// what it recorded. For a window's Stop button; safe to call from any thread.
    static void RequestStop();

    /// The stop signal that arrived during the last Record or Script call (0: none).
    static int GetStopSignal();
};

} // namespace Profiler
