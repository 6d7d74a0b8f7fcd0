#pragma once

#include <cstdint>

namespace Profiler {

/// The theme that views draw with; colour tables are indexed by it.
enum class EThemeType : int32_t { Light = 0, Dark = 1 };

/// What the user picked: one of the two themes or whatever the desktop uses.
enum class EThemeChoice : int32_t { Light = 0, Dark = 1, FollowSystem = 2 };

inline constexpr int kThemeTypeCount = 2;

/// "Light", "Dark" or "Follow system settings".
const char* GetThemeChoiceName(EThemeChoice choice);

} // namespace Profiler
