#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

class QShortcut;
class QWidget;

namespace RTTI {
class Registry;
}

namespace Profiler {

/// What a plugin shows for one opened session. The host owns it and deletes it before the
/// plugin that made it.
class View {
public:
    virtual ~View() = default;
    /// The panels to dock; the host takes over their Qt parenthood.
    virtual std::vector<QWidget*> GetWidgets() = 0;
    virtual std::vector<QWidget*> GetExtraWidgets() { return {}; }
    virtual std::vector<std::pair<QShortcut*, QWidget*>> GetShortcuts() { return {}; }
    virtual void SaveState(const std::filesystem::path& /*directory*/) {}
    /// `flags` bit 4: forget the selected bar.
    virtual void LoadState(const std::filesystem::path& /*directory*/, uint32_t /*flags*/,
                           RTTI::Registry* /*registry*/)
    {}
};

/// LoadState flag: start without the selected bar that was saved.
inline constexpr uint32_t kLoadStateClearSelectedBar = 4;

} // namespace Profiler
