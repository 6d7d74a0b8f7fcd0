#include "Importers/CaptureStackFolder.h"
#include "Importers/PerfCaptureImporter.h"
#include "SharedRecordings.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>

namespace {

using namespace Profiler;

/// Each recording is imported once and its capture folded with every option.
class ImportedRecordings {
public:
    static const std::filesystem::path& Capture(const std::string& recording)
    {
        static TestSupport::TempDirectory directory;
        static std::map<std::string, std::filesystem::path> captures;
        auto found = captures.find(recording);
        if (found != captures.end())
            return found->second;
        const std::filesystem::path capture = directory / recording;
        PerfImportStats stats;
        std::string problems;
        Serialization::ErrorList errors;
        const bool imported = PerfCaptureImporter::Import(SharedRecordings::Recording(recording).string(),
                                                          capture, {}, stats, problems, errors);
        EXPECT_TRUE(imported) << errors.ToString();
        EXPECT_GT(stats.samples, 0u);
        return captures.emplace(recording, capture).first->second;
    }
};

// Folding the imported capture must give the folding tool's own output byte for byte: the
// capture keeps every name, module and printed address that the text had.
class CaptureFoldingComparison : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(CaptureFoldingComparison, ImportedCaptureFoldsLikeTheFoldingTool)
{
    const auto [recording, flag] = GetParam();
    const std::filesystem::path expectedPath = SharedRecordings::ExpectedFile(recording, flag);
    const std::filesystem::path& capture = ImportedRecordings::Capture(recording);

    std::string folded;
    Serialization::ErrorList errors;
    ASSERT_TRUE(CaptureStackFolder::Fold(capture, *FoldOptions::FromFlag(flag), folded, errors))
        << errors.ToString();
    EXPECT_EQ(folded, SharedRecordings::ReadText(expectedPath));
}

INSTANTIATE_TEST_SUITE_P(SharedRecordings, CaptureFoldingComparison, SharedRecordings::AllCases(),
                         SharedRecordings::CaseName);

} // namespace
