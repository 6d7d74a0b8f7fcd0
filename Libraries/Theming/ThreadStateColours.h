#pragma once

#include "CallGraphModel/ThreadState.h"
#include "Theming/ThemeType.h"

#include <QColor>

namespace Profiler {

/// An opaque colour from hue (degrees), saturation and value (0..1), computed in single
/// precision and truncated to 8 bits per component so that every platform gets the same bytes.
QColor ColourFromHsv(float hue, float saturation, float value);

/// The colour of `state` in `theme`; a theme type other than Light and Dark gives an invalid
/// (all zero) colour.
QColor GetThreadStateColour(int theme, EThreadState state);
inline QColor GetThreadStateColour(EThemeType theme, EThreadState state)
{
    return GetThreadStateColour(static_cast<int>(theme), state);
}

} // namespace Profiler
