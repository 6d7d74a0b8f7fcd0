#include "CallGraphText.h"

#include "CallGraphModel/RecordReader.h"
#include "CallGraphModel/RecordWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

using namespace Profiler;

namespace CallGraphTest {

namespace {

constexpr uint32_t kFixtureModule = 1;

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

uint64_t ParseInteger(const std::string& text)
{
    return std::stoull(text, nullptr, 0);
}

int StateFromName(const std::string& name)
{
    for (int i = 0; i < kThreadStateCount; ++i)
        if (name == GetThreadStateName(static_cast<EThreadState>(i)))
            return i;
    return -1;
}

} // namespace

ResolvedAddress FunctionNames::Get(const std::string& name)
{
    size_t id = 0;
    while (id < mNames.size() && mNames[id] != name)
        ++id;
    if (id == mNames.size())
        mNames.push_back(name);
    const bool zone = !name.empty() && name[0] == '!';
    return ResolvedAddress::Make(0x1000 * (id + 1), ResolvedAddress::kKindNative, kFixtureModule, zone);
}

std::string FunctionNames::GetName(const ResolvedAddress& function) const
{
    if (function.IsUnrootedStacks())
        return "[Unrooted Stacks]";
    const uint64_t id = function.RelativeAddress / 0x1000;
    if (function.RelativeAddress % 0x1000 == 0 && id >= 1 && id <= mNames.size() &&
        function.GetModuleIndex() == kFixtureModule)
        return mNames[id - 1];
    char text[64];
    std::snprintf(text, sizeof(text), "?%llx:%x", static_cast<unsigned long long>(function.RelativeAddress),
                  function.ResolveIndex);
    return text;
}

CallGraphNode& AddStack(CallGraphNode& root, const std::vector<Frame>& frames, const StateTimeArray& times,
                        const std::vector<AddressSample>& samples)
{
    CallGraphNode* node = &root;
    for (const Frame& frame : frames) {
        node = node->FindOrCreateChild(frame.function, frame.callerAddress);
        node->AddTimes(times);
    }
    node->AddSamples(samples);
    return *node;
}

void AddStacks(CallGraphNode& root, const std::string& text, FunctionNames& names)
{
    for (std::string line : Split(text, '\n')) {
        line = line.substr(0, line.find('#'));
        std::istringstream tokens(line);
        std::string stack;
        if (!(tokens >> stack))
            continue;
        std::vector<Frame> frames;
        for (const std::string& frameText : Split(stack, ';')) {
            const size_t at = frameText.find('@');
            Frame frame{names.Get(frameText.substr(0, at))};
            if (at != std::string::npos)
                frame.callerAddress = ParseInteger(frameText.substr(at + 1));
            frames.push_back(frame);
        }
        StateTimeArray times{};
        std::vector<AddressSample> samples;
        std::string token;
        while (tokens >> token) {
            const size_t equals = token.find('=');
            if (equals == std::string::npos) {
                times[static_cast<int>(EThreadState::Executing)] += std::stod(token);
                continue;
            }
            const std::string key = token.substr(0, equals);
            const std::string value = token.substr(equals + 1);
            if (key == "samples") {
                for (const std::string& sample : Split(value, ',')) {
                    const size_t colon = sample.find(':');
                    samples.push_back({ParseInteger(sample.substr(0, colon)),
                                       static_cast<uint32_t>(ParseInteger(sample.substr(colon + 1)))});
                }
                continue;
            }
            const int state = StateFromName(key);
            if (state < 0)
                ADD_FAILURE() << "unknown fixture token '" << token << "' in line: " << line;
            else
                times[state] += std::stod(value);
        }
        AddStack(root, frames, times, samples);
    }
}

std::string FormatNumber(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

namespace {

std::string NodeLine(const CallGraphNode& node, const FunctionNames& names, const NodeAnnotation& annotate)
{
    std::string out = names.GetName(node.GetFunction());
    if (node.CallerAddress != kUnknownCallerAddress) {
        char caller[32];
        std::snprintf(caller, sizeof(caller), "@0x%llx", static_cast<unsigned long long>(node.CallerAddress));
        out += caller;
    }
    out += ' ' + FormatNumber(node.InclusiveTime());
    bool otherStates = false;
    for (int i = 0; i < kThreadStateCount; ++i)
        if (i != static_cast<int>(EThreadState::Executing) && node.StateTimes[i] != 0.0)
            otherStates = true;
    if (otherStates)
        for (int i = 0; i < kThreadStateCount; ++i)
            if (node.StateTimes[i] != 0.0)
                out += std::string(" ") + GetThreadStateName(static_cast<EThreadState>(i)) + "=" +
                       FormatNumber(node.StateTimes[i]);
    if (!node.AddressSamples.empty()) {
        out += " {";
        for (uint32_t i = 0; i < node.AddressSamples.size(); ++i) {
            char sample[64];
            std::snprintf(sample, sizeof(sample), "%s0x%llx:%u", i == 0 ? "" : " ",
                          static_cast<unsigned long long>(node.AddressSamples[i].Address),
                          node.AddressSamples[i].Count);
            out += sample;
        }
        out += "}";
    }
    if (annotate)
        out += annotate(node);
    return out;
}

/// The subtrees below `node`, one line a node indented by its level, siblings in their stored
/// order or sorted by their text (so that equal trees give equal text whatever their order).
std::string Subtrees(const CallGraphNode& node, int level, const FunctionNames& names,
                     const NodeAnnotation& annotate, bool sorted)
{
    std::vector<std::string> children;
    for (const CallGraphNode* child : node.Children)
        children.push_back(std::string(static_cast<size_t>(level) * 2, ' ') + NodeLine(*child, names, annotate) +
                           '\n' + Subtrees(*child, level + 1, names, annotate, sorted));
    if (sorted)
        std::sort(children.begin(), children.end());
    std::string out;
    for (const std::string& child : children)
        out += child;
    return out;
}

} // namespace

std::string Dump(const CallGraphNode& root, const FunctionNames& names, const NodeAnnotation& annotate)
{
    return Subtrees(root, 0, names, annotate, false);
}

std::string SortedDump(const CallGraphNode& root, const FunctionNames& names)
{
    return Subtrees(root, 0, names, {}, true);
}

namespace {

struct Comparer {
    double tolerance;
    const FunctionNames& names;
    std::size_t lenient = 0;
    std::string difference;

    double Limit(double a, double b, const CallGraphNode* scale) const
    {
        const double magnitude =
            std::max({std::abs(a), std::abs(b), scale != nullptr ? scale->InclusiveTime() : 0.0});
        return tolerance * magnitude;
    }

    bool Negligible(const CallGraphNode& node, const CallGraphNode* scale) const
    {
        for (double time : node.StateTimes)
            if (std::abs(time) > Limit(time, 0.0, scale) || (tolerance == 0.0 && time != 0.0))
                return false;
        for (const CallGraphNode* child : node.Children)
            if (!Negligible(*child, scale != nullptr
                                        ? scale->FindChild(child->GetFunction(), child->CallerAddress)
                                        : nullptr))
                return false;
        return true;
    }

    void Fail(const std::string& path, const std::string& what)
    {
        if (difference.empty())
            difference = path + ": " + what;
    }

    void Compare(const CallGraphNode& expected, const CallGraphNode& actual, const CallGraphNode* scale,
                 const std::string& path)
    {
        for (int i = 0; i < kThreadStateCount; ++i) {
            const double e = expected.StateTimes[i];
            const double a = actual.StateTimes[i];
            if (std::abs(e - a) > Limit(e, a, scale) || (tolerance == 0.0 && e != a))
                Fail(path, "state " + std::to_string(i) + " expected " + FormatNumber(e) + " got " +
                               FormatNumber(a));
        }
        const auto es = expected.AddressSamples.Span();
        const auto as = actual.AddressSamples.Span();
        if (!std::equal(es.begin(), es.end(), as.begin(), as.end(),
                        [](const AddressSample& x, const AddressSample& y) {
                            return x.Address == y.Address && x.Count == y.Count;
                        }))
            Fail(path, "samples differ: expected " + std::to_string(expected.GetSampleCount()) + " got " +
                           std::to_string(actual.GetSampleCount()));
        for (const CallGraphNode* child : expected.Children) {
            const CallGraphNode* childScale =
                scale != nullptr ? scale->FindChild(child->GetFunction(), child->CallerAddress) : nullptr;
            const std::string childPath = path + ";" + names.GetName(child->GetFunction());
            if (const CallGraphNode* match = actual.FindChild(child->GetFunction(), child->CallerAddress))
                Compare(*child, *match, childScale, childPath);
            else if (Negligible(*child, childScale))
                ++lenient;
            else
                Fail(childPath, "missing, time " + FormatNumber(child->InclusiveTime()));
        }
        for (const CallGraphNode* child : actual.Children) {
            if (expected.FindChild(child->GetFunction(), child->CallerAddress) != nullptr)
                continue;
            const CallGraphNode* childScale =
                scale != nullptr ? scale->FindChild(child->GetFunction(), child->CallerAddress) : nullptr;
            if (Negligible(*child, childScale))
                ++lenient;
            else
                Fail(path + ";" + names.GetName(child->GetFunction()),
                     "unexpected, time " + FormatNumber(child->InclusiveTime()));
        }
    }
};

} // namespace

std::vector<uint8_t> SerializeTree(const CallGraphNode& root)
{
    std::vector<uint8_t> bytes;
    RecordWriter writer(bytes);
    root.Serialize(writer);
    return bytes;
}

bool DeserializeAdd(CallGraphNode& root, std::span<const uint8_t> bytes, Serialization::ErrorList& errors)
{
    RecordReader reader(bytes);
    return root.DeserializeAdd(reader, errors);
}

std::string CompareGraphs(const CallGraphNode& expected, const CallGraphNode& actual,
                          const CallGraphNode* scale, double tolerance, const FunctionNames& names,
                          std::size_t* lenientNodes)
{
    Comparer comparer{tolerance, names, 0, {}};
    comparer.Compare(expected, actual, scale, "root");
    if (lenientNodes != nullptr)
        *lenientNodes += comparer.lenient;
    return comparer.difference;
}

} // namespace CallGraphTest
