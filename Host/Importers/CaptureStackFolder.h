#pragma once

#include "Importers/FoldedStackNamer.h"

#include "Utility/ErrorList.h"

#include <filesystem>
#include <functional>
#include <string>

namespace Profiler {

class Session;

/// Folds the samples of a capture into `NAME;outermost;...;innermost COUNT` lines, reading the
/// capture as the views do: the event stream, the call stacks and the module database. Frames
/// are named with FoldedStackNamer, so a capture imported from perf script text folds exactly
/// as the text does. Threads are named by their name at the sample's time, a sample weighs the
/// weight event before it (else 1), and processes with a negative id (imported without one) print as `?`.
class CaptureStackFolder {
public:
    /// Loads the capture (directory or session file) and folds it. False with one error when it
    /// cannot be read.
    static bool Fold(const std::filesystem::path& capture, const FoldOptions& options, std::string& text,
                     Serialization::ErrorList& errors);
    /// Folds a loaded session; false with an error when its event stream is damaged.
    static bool Fold(const Session& session, const FoldOptions& options, std::string& text,
                     Serialization::ErrorList& errors);

    /// Receives the output a piece at a time; returns false to stop (a write error).
    using Sink = std::function<bool(std::string_view)>;
    /// The same, streamed: the lines go to `sink` in order as they are made, so memory is bounded
    /// by the distinct stacks, not by the text. False with an error when the capture cannot be
    /// read or the sink refuses (nothing is said then: the sink knows why).
    static bool Fold(const std::filesystem::path& capture, const FoldOptions& options, const Sink& sink,
                     Serialization::ErrorList& errors);
    static bool Fold(const Session& session, const FoldOptions& options, const Sink& sink,
                     Serialization::ErrorList& errors);
};

} // namespace Profiler
