#include "Importers/CaptureStackFolder.h"
#include "Importers/FoldedStackCollector.h"
#include "Importers/FoldedStackNamer.h"
#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "SharedRecordings.h"
#include "Support/Paths.h"

#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

namespace {

using namespace Profiler;

/// Each recording imported once, for all its options.
const std::filesystem::path& ImportedCapture(const std::string& recording)
{
    static TestSupport::TempDirectory directory;
    static std::map<std::string, std::filesystem::path> captures;
    if (auto found = captures.find(recording); found != captures.end())
        return found->second;
    PerfImportStats stats;
    std::string problems;
    Serialization::ErrorList errors;
    EXPECT_TRUE(PerfCaptureImporter::Import(SharedRecordings::Recording(recording).string(),
                                            directory / recording, {}, stats, problems, errors))
        << errors.ToString();
    return captures.emplace(recording, directory / recording).first->second;
}

// The folded output of each shared recording, with each option, must be the folding tool's
// own output byte for byte: that is what users compare our numbers with. Folding the imported
// capture must give it too: the capture keeps every name, module and printed address the text had.
class FoldedStackComparison : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(FoldedStackComparison, MatchesTheFoldingToolByteForByte)
{
    const auto [recording, flag] = GetParam();
    const std::filesystem::path input = SharedRecordings::Recording(recording);
    const std::filesystem::path expectedPath = SharedRecordings::ExpectedFile(recording, flag);
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
    const std::string expected = SharedRecordings::ReadText(expectedPath);
    EXPECT_EQ(collector.ToText(), expected);

    std::string fromCapture;
    Serialization::ErrorList foldErrors;
    ASSERT_TRUE(CaptureStackFolder::Fold(ImportedCapture(recording), *FoldOptions::FromFlag(flag),
                                         fromCapture, foldErrors))
        << foldErrors.ToString();
    EXPECT_EQ(fromCapture, expected);
}

INSTANTIATE_TEST_SUITE_P(SharedRecordings, FoldedStackComparison, SharedRecordings::AllCases(),
                         SharedRecordings::CaseName);

std::string FoldFrame(std::string_view symbol, std::string_view dso, const FoldOptions& options = {},
                      std::string_view process = "app", uint64_t address = 0x10)
{
    std::string stack;
    FoldedStackNamer::AppendFrame(stack, symbol, dso, address, process, options);
    return stack;
}

TEST(FoldedStackNamer, FrameNamingRules)
{
    FoldOptions all = *FoldOptions::FromFlag("all");
    FoldOptions addrs = *FoldOptions::FromFlag("addrs");
    EXPECT_EQ(FoldFrame("[unknown]", "/usr/lib/libc.so.6"), ";[libc.so.6]");
    EXPECT_EQ(FoldFrame("[unknown]", "[unknown]", addrs, "app", 0x7f2e), ";[unknown <7f2e>]");
    EXPECT_EQ(FoldFrame("[unknown]", "/bin/dd", addrs, "app", 0x31ef), ";[dd <31ef>]");
    // Arguments go, (anonymous namespace) stays, `.(...).` names are left whole.
    EXPECT_EQ(FoldFrame("ns::(anonymous namespace)::f(int, char)", "/x"), ";ns::(anonymous namespace)::f");
    EXPECT_EQ(FoldFrame("pkg.(*T).Method", "/x"), ";pkg.(*T).Method");
    EXPECT_EQ(FoldFrame("RegExp:[&<>\\\"\\'] x;y", "/x"), ";RegExp:[&<>\\\\] x:y");
    // Frames that start with a parenthesis are left out; inline chains expand outermost first.
    EXPECT_EQ(FoldFrame("(anonymous namespace)::Worker", "/x"), "");
    EXPECT_EQ(FoldFrame("outer->inner(int)", "/x"), ";outer;inner");
    // Annotations: kernel wins over JIT; unknown DSOs are neither.
    EXPECT_EQ(FoldFrame("schedule", "[kernel.kallsyms]", all), ";schedule_[k]");
    EXPECT_EQ(FoldFrame("read", "/lib/modules/4.1/build/vmlinux", all), ";read_[k]");
    EXPECT_EQ(FoldFrame("[unknown]", "[unknown]", all), ";[unknown]");
    EXPECT_EQ(FoldFrame("Interpreter", "/tmp/perf-123.map", all), ";Interpreter_[j]");
    EXPECT_EQ(FoldFrame("Interpreter", "/tmp/perf-.map", all), ";Interpreter");
    // Java class names lose their "L" in stacks named after a java process only.
    EXPECT_EQ(FoldFrame("Ljava/lang/String;.length()I", "/tmp/perf-9.map", {}, "java"),
              ";java/lang/String:.length");
    EXPECT_EQ(FoldFrame("Ljava/lang/String;.length()I", "/tmp/perf-9.map", {}, "app"),
              ";Ljava/lang/String:.length");
    EXPECT_EQ(
        FoldFrame("Ljava/lang/String;.length()I", "/tmp/perf-9.map", *FoldOptions::FromFlag("pid"), "java"),
        ";Ljava/lang/String:.length");
}

TEST(FoldedStackNamer, StackPrefixAndDisplayNames)
{
    EXPECT_EQ(FoldedStackNamer::StackPrefix("V8 WorkerThread", 12, 13, {}), "V8_WorkerThread");
    EXPECT_EQ(FoldedStackNamer::StackPrefix("dd", std::nullopt, 29776, *FoldOptions::FromFlag("pid")),
              "dd-?");
    EXPECT_EQ(FoldedStackNamer::StackPrefix("dd", 5, 6, *FoldOptions::FromFlag("tid")), "dd-5/6");
    EXPECT_FALSE(FoldOptions::FromFlag("--pid").has_value());

    EXPECT_EQ(FoldedStackNamer::DisplayName("v8::Call(int)", "/tmp/node"), "v8::Call(int)");
    EXPECT_EQ(FoldedStackNamer::DisplayName("[unknown]", "/usr/lib/libstdc++.so.6"), "[libstdc++.so.6]");
    EXPECT_EQ(FoldedStackNamer::DisplayName("[unknown]", "[kernel.kallsyms]"), "[kernel.kallsyms]");
    EXPECT_EQ(FoldedStackNamer::DisplayName("[unknown]", "[unknown]"), "[unknown]");
}

TEST(FoldedStackCollector, CountsOnlyTheFirstEventWeightedByPeriod)
{
    FoldedStackCollector collector({});
    PerfScriptParser parser(collector);
    parser.Feed("a 1 1.0: 100 instructions: \n\t10 f (/x)\n\n"
                "a 1 1.1: 7 cycles: \n\t10 f (/x)\n\n"
                "b 2 1.2: 1 sched:sched_switch: prev_comm=b prev_pid=2 prev_prio=1 prev_state=S ==> "
                "next_comm=a next_pid=1 next_prio=1\n\t20 g (/x)\n\n"
                "a 1 1.3: instructions: \n\t10 f (/x)\n\n"
                "a 1 1.4: 0 instructions: \n\n");
    parser.Finish();
    EXPECT_EQ(collector.GetEventName(), "instructions");
    EXPECT_EQ(collector.GetSkippedSamples(), 1u);
    EXPECT_EQ(collector.ToText(), "a 1\na;f 101\n");
}

} // namespace
