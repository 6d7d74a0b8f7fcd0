#include "CaptureTestSupport.h"

#include "CallGraphModel/CallGraphModel.h"
#include "CallGraphModel/CallGraphReplay.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SyntheticCaptureGenerator.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>
#include <latch>

#include <limits>

using namespace Profiler;

namespace RuntimeTest {

const std::filesystem::path& SharedCapture()
{
    static TestSupport::TempDirectory directory;
    static const std::filesystem::path path = [] {
        SyntheticCaptureGenerator::Parameters parameters;
        parameters.seed = 3;
        parameters.threadCount = 3;
        parameters.durationMs = 12000.0;
        parameters.functionCount = 300;
        Serialization::ErrorList errors;
        SyntheticCaptureGenerator::Summary summary;
        const std::filesystem::path target = directory / "capture";
        EXPECT_TRUE(SyntheticCaptureGenerator(parameters)
                        .Generate(target, CaptureDocument::GetRegistry(), summary, errors))
            << errors.ToString();
        return target;
    }();
    return path;
}

void CopyCapture(const std::filesystem::path& target)
{
    std::filesystem::copy(SharedCapture(), target, std::filesystem::copy_options::recursive);
}

const std::filesystem::path& ProcessedCapture()
{
    static TestSupport::TempDirectory directory;
    static const std::filesystem::path path = [] {
        const std::filesystem::path target = directory / "capture";
        CopyCapture(target);
        CaptureDocument document;
        Serialization::ErrorList errors;
        EXPECT_TRUE(document.Open(target, errors)) << errors.ToString();
        EXPECT_EQ(document.Process({}, errors), CaptureDocument::EProcessResult::Processed)
            << errors.ToString();
        return target;
    }();
    return path;
}

std::unique_ptr<CallGraph> ReplayRange(const CaptureDocument& document, const std::vector<ThreadID>& threads,
                                       double start, double end)
{
    const IOpenBarInput& input = *document.GetModel()->GetContext().Input;
    const std::atomic<bool> canceled{false};
    std::unique_ptr<CallGraph> result = end == CallGraphModel::kEndOfCapture
                                            ? CallGraphReplay::Cumulative(input, threads, end, canceled)
                                            : CallGraphReplay::Range(input, threads, start, end, canceled);
    EXPECT_TRUE(result) << "the replay from the start failed";
    return result;
}

Profiler::CallGraphResult Query(Profiler::CaptureDocument& document, Profiler::CallGraphRequest request)
{
    Profiler::CaptureQueries queries(document, Profiler::MakeInlineExecutor());
    std::latch done(1);
    Profiler::CallGraphResult outcome;
    queries.SubmitCallGraph(std::move(request), [&](Profiler::CallGraphResult result) {
        outcome = std::move(result);
        done.count_down();
    });
    done.wait();
    return outcome;
}

Profiler::CallGraphRequest Range(std::vector<Profiler::ThreadID> threads, double from, double to)
{
    Profiler::CallGraphRequest request;
    request.Threads = std::move(threads);
    request.From = from;
    request.To = to;
    return request;
}

} // namespace RuntimeTest
