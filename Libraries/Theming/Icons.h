#pragma once

namespace Profiler {

/// Makes the bundled icons (":/ProfilerLibUI/...", ":/ZivuDeverUdovIradir/Resources/...") and
/// their dark variants available. Idempotent; the Theme calls it on construction.
void InitialiseIcons();

} // namespace Profiler
