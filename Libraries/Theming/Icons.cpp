#include "Theming/Icons.h"

#include <QtGlobal>

// Resource initialisers must be called from the global namespace.
static void InitialiseQxIconsResource()
{
    Q_INIT_RESOURCE(QxIcons);
}

namespace Profiler {

void InitialiseIcons()
{
    // The resource lives in a static library: referencing its initialiser keeps it linked.
    static const bool initialised = [] {
        InitialiseQxIconsResource();
        return true;
    }();
    (void)initialised;
}

} // namespace Profiler
