#include "Importers/FoldedStackCollector.h"
#include "Importers/FoldedStackNamer.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"

#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

namespace {

using namespace Profiler;

const char* const kRecordings[] = {
    "perf-cycles-instructions-01", "perf-dd-stacks-01",   "perf-funcab-cmd-01",
    "perf-iperf-stacks-pidtid-01", "perf-java-stacks-01", "perf-js-stacks-01",
};
const char* const kFlags[] = {"pid", "tid", "kernel", "jit", "all", "addrs"};

std::filesystem::path RecordingsDirectory()
{
    const char* root = std::getenv("QX_TEST_DATA");
    return root != nullptr ? std::filesystem::path(root) / "perf-script" : std::filesystem::path();
}

// The folded output of each shared recording, with each option, must be the folding tool's
// own output byte for byte: that is what users compare our numbers with.
class FoldedStackComparison : public testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(FoldedStackComparison, MatchesTheFoldingToolByteForByte)
{
    const auto [recording, flag] = GetParam();
    const std::filesystem::path directory = RecordingsDirectory();
    if (directory.empty() || !std::filesystem::exists(directory))
        GTEST_SKIP() << "the shared perf script recordings are not here (" << directory
                     << "); set QX_TEST_DATA to the testdata folder of ../shared to run this comparison";

    const std::filesystem::path input = directory / (std::string(recording) + ".txt");
    const std::filesystem::path expectedPath =
        directory / "expected" / (std::string(recording) + "-collapsed-" + flag + ".txt");
    ASSERT_TRUE(std::filesystem::exists(input)) << input;
    ASSERT_TRUE(std::filesystem::exists(expectedPath)) << expectedPath;

    FoldedStackCollector collector(*FoldOptions::FromFlag(flag));
    PerfScriptParser parser(collector);
    Serialization::ErrorList errors;
    ASSERT_TRUE(PerfScriptReader::Read(input.string(), parser, errors)) << errors.ToString();
    // Some recordings end without the blank line after their last sample; that record is the
    // only thing the parser may complain about (the folding tool leaves it out too).
    if (parser.GetFirstError()) {
        EXPECT_EQ(parser.GetStats().badLines, 1u) << PerfScriptReader::DescribeProblems(parser);
        EXPECT_THAT(parser.GetFirstError()->message, testing::HasSubstr("ends inside a record"));
    }
    EXPECT_EQ(collector.ToText(), TestSupport::ReadFile(expectedPath));
}

INSTANTIATE_TEST_SUITE_P(SharedRecordings, FoldedStackComparison,
                         testing::Combine(testing::ValuesIn(kRecordings), testing::ValuesIn(kFlags)),
                         [](const auto& info) {
                             std::string name =
                                 std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
