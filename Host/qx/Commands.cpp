#include "Command.h"

namespace Profiler {

std::span<const QxCommand> GetQxCommands()
{
    static const QxCommand kCommands[] = {
        {"plugins", "[PATH]",
         "load a plugin module (default: the call graph plugin built with qx) and describe it",
         &RunPluginsCommand},
    };
    return kCommands;
}

} // namespace Profiler
