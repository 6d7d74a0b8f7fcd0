#pragma once

#include "Support/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>
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

/// Every (recording, option) pair, for INSTANTIATE_TEST_SUITE_P.
inline auto AllCases()
{
    return testing::Combine(testing::ValuesIn(kNames), testing::ValuesIn(kOptions));
}

/// A test name for a pair: "perf_dd_stacks_01_pid".
inline std::string CaseName(const testing::TestParamInfo<std::tuple<std::string, std::string>>& info)
{
    std::string name = std::get<0>(info.param) + "_" + std::get<1>(info.param);
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
}

} // namespace SharedRecordings
