#include "FunctionListTestSupport.h"

#include <sstream>

using namespace Profiler;

namespace FunctionListTests {

ResolvedAddress FunctionOf(const std::string& name)
{
    uint64_t address = 0;
    for (char c : name)
        address = address * 256 + static_cast<unsigned char>(c);
    return ResolvedAddress::Make(address, ResolvedAddress::kKindNative, 1);
}

std::shared_ptr<CallGraph> MakeGraph(const std::string& stacks)
{
    auto graph = std::make_shared<CallGraph>();
    std::istringstream lines(stacks);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string path;
        double time = 0.0;
        std::string state;
        if (!(fields >> path >> time))
            continue;
        fields >> state;
        const auto stateIndex =
            static_cast<std::size_t>(state == "Sleep" ? EThreadState::Sleep : EThreadState::Executing);
        CallGraphNode* node = &graph->GetRoot();
        node->StateTimes[stateIndex] += time;
        std::istringstream frames(path);
        std::string frame;
        while (std::getline(frames, frame, ';')) {
            node = node->FindOrCreateChild(FunctionOf(frame), kUnknownCallerAddress);
            node->StateTimes[stateIndex] += time;
        }
        if (state.empty())
            node->AddSample(0x10, static_cast<uint32_t>(time));
    }
    return graph;
}

std::string TestNames::GetFunctionName(const ResolvedAddress& function) const
{
    std::string name;
    for (uint64_t address = function.RelativeAddress; address != 0; address /= 256)
        name.insert(name.begin(), static_cast<char>(address % 256));
    return name;
}

std::string TestNames::GetModuleName(const ResolvedAddress& function) const
{
    return "/opt/demo/lib" + GetFunctionName(function) + ".so.1";
}

} // namespace FunctionListTests
