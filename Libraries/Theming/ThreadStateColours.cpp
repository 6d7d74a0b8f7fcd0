#include "Theming/ThreadStateColours.h"

#include <array>
#include <cmath>

namespace Profiler {

QColor ColourFromHsv(float hue, float saturation, float value)
{
    const float chroma = value * saturation;
    const float x = chroma * (1.0f - std::fabs(std::fmod(hue / 60.0f, 2.0f) - 1.0f));
    const float m = value - chroma;
    float r = 0, g = 0, b = 0;
    switch (static_cast<int>(std::floor(hue / 60.0f))) {
    case 0:
        r = chroma, g = x, b = 0;
        break;
    case 1:
        r = x, g = chroma, b = 0;
        break;
    case 2:
        r = 0, g = chroma, b = x;
        break;
    case 3:
        r = 0, g = x, b = chroma;
        break;
    case 4:
        r = x, g = 0, b = chroma;
        break;
    default:
        r = chroma, g = 0, b = x;
        break;
    }
    auto toByte = [](float component) { return static_cast<int>(component * 255.0f); };
    return QColor(toByte(r + m), toByte(g + m), toByte(b + m), 255);
}

namespace {

struct Hsv {
    float h, s, v;
};

// Light and Dark rows, in EThreadState order.
constexpr std::array<std::array<Hsv, kThreadStateCount>, kThemeTypeCount> kStateHsv{{
    {{{356, 0.32f, 0.93f},
      {120, 0.5f, 0.65f},
      {55, 0.23f, 0.92f},
      {55, 0.23f, 0.85f},
      {211, 0.23f, 0.9f},
      {211, 0.23f, 0.85f},
      {356, 0.32f, 1.0f},
      {0, 0.0f, 0.85f}}},
    {{{356, 0.51f, 0.8f},
      {111, 0.4f, 0.94f},
      {211, 0.4f, 0.57f},
      {211, 0.4f, 0.7f},
      {280, 0.28f, 0.5f},
      {211, 0.4f, 0.85f},
      {356, 0.51f, 0.62f},
      {0, 0.0f, 0.5f}}},
}};

} // namespace

QColor GetThreadStateColour(int theme, EThreadState state)
{
    const auto index = static_cast<size_t>(state);
    if (theme < 0 || theme >= kThemeTypeCount || index >= kThreadStateCount)
        return QColor::fromRgb(0, 0, 0, 0);
    static const auto table = [] {
        std::array<std::array<QColor, kThreadStateCount>, kThemeTypeCount> colours;
        for (size_t t = 0; t < kThemeTypeCount; ++t)
            for (size_t s = 0; s < kThreadStateCount; ++s)
                colours[t][s] = ColourFromHsv(kStateHsv[t][s].h, kStateHsv[t][s].s, kStateHsv[t][s].v);
        return colours;
    }();
    return table[static_cast<size_t>(theme)][index];
}

} // namespace Profiler
