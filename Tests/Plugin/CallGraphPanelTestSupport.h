#pragma once

// Call graph fixtures for the panel's tests: a graph written as text (one stack per line,
// outermost first, see CallGraphModel/CallGraphText.h), its folded and merged forms, and names
// that the panel resolves through the usual provider interface.

#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/CallGraphText.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "CallGraphModel/MergedCallGraph.h"

#include <atomic>
#include <memory>
#include <string>

namespace PluginTests {

class FixtureNames final : public Profiler::IFunctionInfoProvider {
public:
    std::string GetFunctionName(const Profiler::ResolvedAddress& function) const override
    {
        return Names.GetName(function);
    }
    std::string GetModuleName(const Profiler::ResolvedAddress&) const override
    {
        return "/usr/lib/libfixture.so";
    }

    mutable CallGraphTest::FunctionNames Names;
};

struct FixtureGraphs {
    std::shared_ptr<Profiler::CallGraph> Full = std::make_shared<Profiler::CallGraph>();
    std::shared_ptr<Profiler::FoldedCallGraph> Folded = std::make_shared<Profiler::FoldedCallGraph>();
    std::shared_ptr<Profiler::MergedCallGraph> Merged = std::make_shared<Profiler::MergedCallGraph>();
};

/// The full graph of `text` and its folded and merged graphs with nothing folded.
inline FixtureGraphs MakeGraphs(const std::string& text, FixtureNames& names)
{
    FixtureGraphs graphs;
    CallGraphTest::AddStacks(graphs.Full->GetRoot(), text, names.Names);
    const std::atomic<bool> canceled{false};
    Profiler::FoldAndMerge(graphs.Full->GetRoot(), {}, *graphs.Folded, graphs.Merged.get(), true, canceled);
    return graphs;
}

} // namespace PluginTests
