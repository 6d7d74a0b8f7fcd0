#pragma once

#include "CallGraphModel/CallGraph.h"
#include "CallGraphModel/IFunctionInfoProvider.h"

#include <map>
#include <memory>
#include <string>

namespace FunctionListTests {

/// Functions named by their text: the address is the name's first letter, so "A" < "B".
Profiler::ResolvedAddress FunctionOf(const std::string& name);

/// A graph from text, one stack per line, outermost first: "A;B;C 3" adds 3 ms of executing
/// time on every node of the path and 3 samples (at 1 ms each) to the innermost one. A state
/// after the count ("A;B 2 Sleep") books the time as sleeping without samples.
std::shared_ptr<Profiler::CallGraph> MakeGraph(const std::string& stacks);

/// Names functions by their text and puts each in "/opt/demo/lib<name>.so.1".
class TestNames final : public Profiler::IFunctionInfoProvider {
public:
    std::string GetFunctionName(const Profiler::ResolvedAddress& function) const override;
    std::string GetModuleName(const Profiler::ResolvedAddress& function) const override;
};

} // namespace FunctionListTests
