#include "Importers/InlineFrameExpander.h"
#include "SymbolResolution/SymbolResolver.h"

#include "../SymbolResolution/TestPrograms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Profiler;

namespace {

struct StackRecorder : IPerfScriptHandler {
    std::vector<std::vector<std::string>> Stacks; ///< "symbol|dso" per frame, innermost first
    void OnSample(const PerfSample& sample) override
    {
        std::vector<std::string> stack;
        for (const PerfFrame& frame : sample.frames)
            stack.push_back(std::string(frame.symbol) + "|" + std::string(frame.dso));
        Stacks.push_back(std::move(stack));
    }
};

} // namespace

// The importer's inline frames for text printed with --no-inline: the functions the compiler
// inlined at a frame's address come from the module's debug information, in the form of perf's
// own "(inlined)" frames, and only where the debug information confirms perf's frame.
TEST(InlineFrameExpander, AddsTheInlinedFunctionsThatTheDebugInformationHolds)
{
    const SymbolTest::Programs& programs = SymbolTest::GetPrograms();
    ASSERT_FALSE(programs.Full.empty());
    const std::string image = programs.Full.string();
    // An address of Sum that holds the inlined Square, as addr2line sees it.
    const uint64_t inSquare = SymbolTest::AddressInInlinedSquare();
    ASSERT_NE(inSquare, 0u) << "the compiler inlined Square nowhere in Sum";

    SymbolResolver resolver(SymbolTest::IsolatedOptions());
    StackRecorder recorder;
    InlineFrameExpander expander(recorder, resolver);
    auto send = [&](std::vector<PerfFrame> frames) {
        PerfSample sample;
        sample.frames = frames;
        expander.OnSample(sample);
        return recorder.Stacks.back();
    };
    const uint64_t caller = SymbolTest::SymbolAddress("Caller");
    // Sum's frame is the sampled one (its own address); Caller's a return address.
    EXPECT_EQ(send({{inSquare, "Sum", image}, {caller + 1, "Caller", image}}),
              (std::vector<std::string>{"Square|inlined", "Sum|" + image, "Caller|" + image}));
    EXPECT_EQ(expander.GetAddedFrames(), 1u);

    // A frame whose name the debug information does not confirm (an absolute address, another
    // build), a module without a file, and frames perf expanded itself pass unchanged.
    EXPECT_EQ(send({{inSquare, "Other", image}}), (std::vector<std::string>{"Other|" + image}));
    EXPECT_EQ(send({{inSquare, "Sum", "[unknown]"}}), (std::vector<std::string>{"Sum|[unknown]"}));
    EXPECT_EQ(send({{inSquare, "Square", "inlined"}, {inSquare, "Sum", image}}),
              (std::vector<std::string>{"Square|inlined", "Sum|" + image}));
    EXPECT_EQ(expander.GetAddedFrames(), 1u);
}
