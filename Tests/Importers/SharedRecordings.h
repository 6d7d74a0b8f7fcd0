#pragma once

#include "Support/Paths.h"

#include <filesystem>
#include <string>
#include <vector>

// The shared `perf script` recordings and the folding tool's own output for each of them with
// each option: `expected/NAME-collapsed-OPTION.txt`.
namespace SharedRecordings {

inline const std::vector<std::string> kNames = {
    "perf-cycles-instructions-01", "perf-dd-stacks-01",   "perf-funcab-cmd-01",
    "perf-iperf-stacks-pidtid-01", "perf-java-stacks-01", "perf-js-stacks-01",
};
inline const std::vector<std::string> kOptions = {"pid", "tid", "kernel", "jit", "all", "addrs"};

inline std::filesystem::path Directory()
{
    return TestSupport::TestDataDirectory() / "perf-script";
}

inline std::filesystem::path ExpectedFile(const std::string& name, const std::string& option)
{
    return Directory() / "expected" / (name + "-collapsed-" + option + ".txt");
}

} // namespace SharedRecordings
