#include "CallGraphModel/OpenBar.h"

#include <algorithm>

namespace Profiler {

void OpenBar::AddSample(uint64_t address)
{
    // Nearly always the bar has one or two addresses and the last one repeats.
    if (!Samples.empty() && Samples.back().Address == address) {
        ++Samples.back().Count;
        return;
    }
    auto found = std::lower_bound(Samples.begin(), Samples.end(), address,
                                  [](const AddressSample& sample, uint64_t a) { return sample.Address < a; });
    if (found != Samples.end() && found->Address == address)
        ++found->Count;
    else
        Samples.insert(found, AddressSample{address, 1});
}

} // namespace Profiler
