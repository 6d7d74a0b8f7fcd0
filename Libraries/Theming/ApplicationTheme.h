#pragma once

#include "Theming/Theme.h"

#include <QPalette>

namespace Profiler {

/// The theme of a running application: installs the Fusion style and a light or dark palette
/// on the QApplication, so that every widget follows the theme without its own colours.
class ApplicationTheme final : public Theme {
public:
    /// Remembers the desktop's palette, which answers the system query later.
    ApplicationTheme();

    static QPalette MakePalette(EThemeType type);

protected:
    void Apply() override;
    bool QuerySystemDark() const override;

private:
    QPalette mPlatformPalette;
};

} // namespace Profiler
