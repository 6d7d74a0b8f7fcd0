#pragma once

// Call graph fixtures for the panel's tests: a graph written as text (one stack per line,
// outermost first, see CallGraphModel/CallGraphText.h), its folded and merged forms, and names
// that the panel resolves through the usual provider interface.

#include "CallGraphModel/CallGraphFolding.h"
#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/CallGraphText.h"
#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "PluginApi/MessageListener.h"
#include "PluginApi/SessionModelContext.h"
#include "PluginTestSupport.h"
#include "RTTI/Registry.h"
#include "Support/TempDirectory.h"
#include "ZivuDeverUdovIradir/CallGraphRequester.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/PluginTypes.h"
#include "ZivuDeverUdovIradir/SourceSettings.h"

#include <QAbstractItemModel>
#include <QCoreApplication>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace PluginTests {

/// Names a fixture's functions; all live in one library, or with `modulePerFunction` each
/// function <name> in "/opt/demo/lib<name>.so.1".
class FixtureNames final : public Profiler::IFunctionInfoProvider {
public:
    explicit FixtureNames(bool modulePerFunction = false) : mModulePerFunction(modulePerFunction) {}
    std::string GetFunctionName(const Profiler::ResolvedAddress& function) const override
    {
        return Names.GetName(function);
    }
    std::string GetModuleName(const Profiler::ResolvedAddress& function) const override
    {
        return mModulePerFunction ? "/opt/demo/lib" + Names.GetName(function) + ".so.1"
                                  : "/usr/lib/libfixture.so";
    }
    Profiler::ResolvedAddress operator()(const std::string& name) const { return Names.Get(name); }

    mutable CallGraphTest::FunctionNames Names;

private:
    bool mModulePerFunction;
};

/// The graph of `text` alone, its functions named by `names`.
inline std::shared_ptr<Profiler::CallGraph> MakeGraph(const std::string& text, const FixtureNames& names)
{
    auto graph = std::make_shared<Profiler::CallGraph>();
    CallGraphTest::AddStacks(graph->GetRoot(), text, names.Names);
    return graph;
}

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

/// Keeps each request it is given and answers it on the next turn of the event loop with
/// `NextGraph` (an empty graph while that is unset), as a document's requester would.
class QueuedRequester final : public Profiler::ICallGraphRequester {
public:
    QueuedRequester(std::vector<Profiler::CallGraphInputParameters>* requests,
                    std::shared_ptr<FixtureNames> names = nullptr)
        : mRequests(requests), mNames(std::move(names))
    {}
    void Submit(const Profiler::CallGraphInputParameters& request,
                std::function<void(Profiler::CallGraphAnswer)> completion) override
    {
        if (mRequests != nullptr)
            mRequests->push_back(request);
        Profiler::CallGraphAnswer answer{
            request, NextGraph ? NextGraph : std::make_shared<Profiler::CallGraph>(), false, {}};
        QMetaObject::invokeMethod(
            qApp, [completion, answer] { completion(answer); }, Qt::QueuedConnection);
    }
    void CancelAll() override {}
    std::shared_ptr<const Profiler::IFunctionInfoProvider> GetFunctionNames() const override
    {
        return mNames;
    }
    double GetSampleIntervalMs() const override { return mNames ? 1.0 : 0.0; }

    std::shared_ptr<const Profiler::CallGraph> NextGraph;

private:
    std::vector<Profiler::CallGraphInputParameters>* mRequests; // not owned
    std::shared_ptr<FixtureNames> mNames;
};

/// Answers only when the test says so, as a query that is still running.
class HeldRequester final : public Profiler::ICallGraphRequester {
public:
    void Submit(const Profiler::CallGraphInputParameters& request,
                std::function<void(Profiler::CallGraphAnswer)> completion) override
    {
        Pending.push_back({request, std::move(completion)});
    }
    void CancelAll() override {}

    std::vector<std::pair<Profiler::CallGraphInputParameters, std::function<void(Profiler::CallGraphAnswer)>>>
        Pending;
};

/// Every message sent to a list, in order.
class MessageRecorder final : public Profiler::MessageListener {
public:
    explicit MessageRecorder(Profiler::MessageListenerList* list,
                             uint64_t id = Profiler::kBroadcastListenerId)
        : MessageListener(list, id)
    {}
    void OnMessage(const Profiler::Message& message) override { Messages.push_back(message); }
    std::vector<Profiler::Message> Messages;
};

/// What a host hands a call graph view, in a directory of its own that is current while it lives
/// (the plugin writes its settings files there). The context names no document until a test does.
struct ViewHost {
    ViewHost() : Cwd(Directory.GetPath())
    {
        Profiler::RegisterPluginTypes(Registry);
        Context.Listeners = &Listeners;
    }
    std::unique_ptr<Profiler::CallGraphView>
    MakeView(Profiler::ThreadSelectionSource* threads = nullptr, const Profiler::Session* session = nullptr,
             std::unique_ptr<Profiler::ICallGraphRequester> requester = nullptr)
    {
        return std::make_unique<Profiler::CallGraphView>(threads, session, Manager, GraphSettings,
                                                         SourceOptions, Context, std::move(requester));
    }

    TestSupport::TempDirectory Directory;
    CurrentDirectoryScope Cwd;
    RTTI::Registry Registry;
    Profiler::CallGraphManager Manager;
    Profiler::CallGraphSettings GraphSettings;
    Profiler::SourceSettings SourceOptions;
    Profiler::MessageListenerList Listeners;
    Profiler::SessionModelContext Context;
};

/// The first row below `parent`, depth first, whose first column reads `name`.
inline QModelIndex FindRow(const QAbstractItemModel& model, const QString& name,
                           const QModelIndex& parent = {})
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (index.data().toString() == name)
            return index;
        if (QModelIndex found = FindRow(model, name, index); found.isValid())
            return found;
    }
    return {};
}

} // namespace PluginTests
