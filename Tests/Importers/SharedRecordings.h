#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

// The `perf script` recordings that the folding comparisons use, kept in the repository with the
// folding tool's own output for each of them with each option:
// `expected/NAME-collapsed-OPTION.txt.gz`. A missing file fails its test: a comparison that
// cannot run is not a comparison that passed.
namespace SharedRecordings {

inline const std::vector<std::string> kNames = {
    "perf-cycles-instructions-01",
    "perf-dd-stacks-01",
    "perf-funcab-cmd-01",
    "perf-iperf-stacks-pidtid-01",
    "perf-java-stacks-01",
    "perf-js-stacks-01",
    "linux-xz-noevent",
    "linux-gcc-dwarf-inline",
    "linux-systemwide-memfd",
    "linux-python-switches",
};
inline const std::vector<std::string> kOptions = {"pid", "tid", "kernel", "jit", "all", "addrs"};

inline std::filesystem::path Directory()
{
    return std::filesystem::path(QX_IMPORTERS_RECORDINGS);
}

inline std::filesystem::path Recording(const std::string& name)
{
    return Directory() / (name + ".txt.gz");
}

inline std::filesystem::path ExpectedFile(const std::string& name, const std::string& option)
{
    return Directory() / "expected" / (name + "-collapsed-" + option + ".txt.gz");
}

/// The whole (decompressed) text of a gzip or plain file; fails the test when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path)
{
    std::string text;
    gzFile file = gzopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr) << "missing test data file " << path;
    if (!file)
        return text;
    char buffer[1 << 16];
    int read = 0;
    while ((read = gzread(file, buffer, sizeof(buffer))) > 0)
        text.append(buffer, static_cast<std::size_t>(read));
    EXPECT_EQ(read, 0) << "cannot read " << path;
    gzclose(file);
    return text;
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
