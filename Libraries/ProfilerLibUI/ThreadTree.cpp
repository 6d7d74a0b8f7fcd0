#include "ProfilerLibUI/ThreadTree.h"

#include "CaptureModel/ProcessDisplay.h"
#include "CaptureModel/Session.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace Profiler {

// Threads are listed under the names the capture gives them. Linux threads always carry one (the
// kernel's comm, set at clone and by prctl), and perf records no start routine, so the default
// names by start routine (GetDefaultThreadName) have nothing to apply to in these captures; a
// thread that still has no name is shown by its id.
std::vector<ThreadTreeProcess> GetThreadTreeInput(const Session& session)
{
    std::vector<ThreadTreeProcess> processes;
    for (const Process& process : session.GetProcessList()) {
        ThreadTreeProcess entry{QString::fromStdString(process.mName), process.mID, {}};
        auto add = [&](const Thread& thread) {
            entry.Threads.push_back({QString::fromStdString(thread.mThreadName), thread.mThreadID});
        };
        if (!process.mThreadOrder.empty()) {
            for (int32_t id : process.mThreadOrder)
                if (const Thread* thread = session.FindThread(id);
                    thread && thread->mProcessID == process.mID)
                    add(*thread);
        } else {
            for (const Thread& thread : session.GetThreadList())
                if (thread.mProcessID == process.mID)
                    add(thread);
        }
        processes.push_back(std::move(entry));
    }
    return processes;
}

namespace {

// A prefix tree of names; children keep the order in which their character first appeared.
struct PrefixNode {
    QChar character;
    std::vector<ThreadRef> refs;   ///< every name through this node
    std::vector<ThreadRef> ending; ///< the names that end here
    std::vector<std::unique_ptr<PrefixNode>> children;

    PrefixNode* Child(QChar c)
    {
        for (auto& child : children)
            if (child->character == c)
                return child.get();
        children.push_back(std::make_unique<PrefixNode>());
        children.back()->character = c;
        return children.back().get();
    }
};

struct Item {
    QString name;
    ThreadRef ref;
};

ThreadTreeNode* AddNode(ThreadTreeNode& parent, QString name, std::vector<ThreadRef> threads,
                        EThreadNodeKind kind, bool isLeaf)
{
    auto node = std::make_unique<ThreadTreeNode>();
    node->parent = &parent;
    node->name = std::move(name);
    node->threads = std::move(threads);
    node->kind = kind;
    node->isLeaf = isLeaf;
    parent.children.push_back(std::move(node));
    return parent.children.back().get();
}

// A display node that groups may not extend with their characters: the roots, and a process
// whose threads are grouped below it.
bool IsGroupingBase(const ThreadTreeNode& node, EThreadNodeKind kind)
{
    return node.IsRoot() || node.kind != kind;
}

void Convert(const PrefixNode& prefix, ThreadTreeNode& display, EThreadNodeKind kind)
{
    if (prefix.children.empty()) {
        if (prefix.ending.size() == 1 && !IsGroupingBase(display, kind) && display.threads.size() == 1) {
            display.isLeaf = true;
        } else {
            for (ThreadRef ref : prefix.ending)
                AddNode(display, QString(), {ref}, kind, true);
        }
        return;
    }
    for (ThreadRef ref : prefix.ending)
        AddNode(display, QString(), {ref}, kind, true);
    for (const auto& child : prefix.children) {
        if (!IsGroupingBase(display, kind) && child->refs == display.threads) {
            display.name += child->character;
            Convert(*child, display, kind);
        } else {
            ThreadTreeNode* node = AddNode(display, QString(child->character), child->refs, kind, false);
            Convert(*child, *node, kind);
        }
    }
}

// Groups `items` by their names below `base`; unnamed items follow the named ones.
void GroupByName(const std::vector<Item>& items, ThreadTreeNode& base, EThreadNodeKind kind)
{
    PrefixNode prefixRoot;
    std::vector<ThreadRef> unnamed;
    for (const Item& item : items) {
        if (item.name.isEmpty()) {
            unnamed.push_back(item.ref);
            continue;
        }
        PrefixNode* node = &prefixRoot;
        for (QChar c : item.name) {
            node = node->Child(c);
            node->refs.push_back(item.ref);
        }
        node->ending.push_back(item.ref);
    }
    for (const auto& child : prefixRoot.children) {
        ThreadTreeNode* node = AddNode(base, QString(child->character), child->refs, kind, false);
        Convert(*child, *node, kind);
    }
    // Unnamed threads are leaves, so their label is their identifier.
    for (ThreadRef ref : unnamed)
        AddNode(base, QString(), {ref}, kind, true);

    // Groups of one or two characters say little: their children take their place, carrying
    // the short name in front of their own.
    std::vector<std::unique_ptr<ThreadTreeNode>> kept;
    for (auto& child : base.children) {
        if (child->isLeaf || child->children.empty() || child->name.size() >= 3) {
            kept.push_back(std::move(child));
            continue;
        }
        for (auto& grandchild : child->children) {
            grandchild->name = child->name + grandchild->name;
            grandchild->parent = &base;
            kept.push_back(std::move(grandchild));
        }
    }
    base.children = std::move(kept);
}

void ForEachLeafOfKind(ThreadTreeNode& node, EThreadNodeKind kind,
                       const std::function<void(ThreadTreeNode&)>& visit)
{
    if (node.kind == kind && node.isLeaf)
        visit(node);
    for (auto& child : node.children)
        ForEachLeafOfKind(*child, kind, visit);
}

} // namespace

ThreadTree::ThreadTree(std::vector<ThreadTreeProcess> processes, bool mergeProcesses)
    : mProcesses(std::move(processes)), mMergeProcesses(mergeProcesses),
      mRoot(std::make_unique<ThreadTreeNode>())
{
    for (uint32_t p = 0; p < mProcesses.size(); ++p)
        for (int32_t t = 0; t < static_cast<int32_t>(mProcesses[p].Threads.size()); ++t)
            mRoot->threads.push_back(MakeThreadRef(p, t));

    if (mProcesses.size() < 2 || mergeProcesses) {
        mRoot->name = QStringLiteral("All Threads");
        mRoot->kind = EThreadNodeKind::AllThreads;
        std::vector<Item> items;
        for (ThreadRef ref : mRoot->threads)
            items.push_back(
                {mProcesses[GetRefProcess(ref)].Threads[static_cast<size_t>(GetRefThread(ref))].Name, ref});
        GroupByName(items, *mRoot, EThreadNodeKind::Thread);
        return;
    }
    mRoot->name = QStringLiteral("All processes");
    mRoot->kind = EThreadNodeKind::AllProcesses;
    std::vector<Item> items;
    for (uint32_t p = 0; p < mProcesses.size(); ++p)
        items.push_back({mProcesses[p].Name, MakeThreadRef(p, -1)});
    GroupByName(items, *mRoot, EThreadNodeKind::Process);
    ForEachLeafOfKind(*mRoot, EThreadNodeKind::Process, [this](ThreadTreeNode& processNode) {
        const uint32_t p = GetRefProcess(processNode.threads.front());
        std::vector<Item> threads;
        for (int32_t t = 0; t < static_cast<int32_t>(mProcesses[p].Threads.size()); ++t)
            threads.push_back({mProcesses[p].Threads[static_cast<size_t>(t)].Name, MakeThreadRef(p, t)});
        GroupByName(threads, processNode, EThreadNodeKind::Thread);
    });
}

QString ThreadTree::GetLabel(const ThreadTreeNode& node) const
{
    QString text = node.name;
    for (const ThreadTreeNode* parent = node.parent; parent && parent->kind == node.kind;
         parent = parent->parent)
        text.prepend(parent->name);
    if (!node.isLeaf) {
        static const QString kTrimmed = QStringLiteral(" (,-:_[");
        while (!text.isEmpty() && kTrimmed.contains(text.back()))
            text.chop(1);
        return text;
    }
    const ThreadRef ref = node.threads.empty() ? 0 : node.threads.front();
    const ThreadTreeProcess& process = mProcesses.at(GetRefProcess(ref));
    const int32_t id = node.kind == EThreadNodeKind::Process
                           ? process.ProcessId
                           : process.Threads.at(static_cast<size_t>(GetRefThread(ref))).ThreadId;
    const QString idText =
        QString::fromStdString(node.kind == EThreadNodeKind::Process ? ProcessIdText(id) : ThreadIdText(id));
    if (text.isEmpty())
        return idText;
    return QStringLiteral("%1 (%2)").arg(text, idText);
}

std::vector<int32_t> ThreadTree::GetThreadIds(const ThreadTreeNode& node) const
{
    std::vector<int32_t> ids;
    for (ThreadRef ref : node.threads) {
        const ThreadTreeProcess& process = mProcesses.at(GetRefProcess(ref));
        if (GetRefThread(ref) < 0) {
            for (const ThreadTreeThread& thread : process.Threads)
                ids.push_back(thread.ThreadId);
        } else {
            ids.push_back(process.Threads.at(static_cast<size_t>(GetRefThread(ref))).ThreadId);
        }
    }
    return ids;
}

std::vector<const ThreadTreeNode*> ThreadTree::FindThreadNodes(const std::vector<int32_t>& threadIds) const
{
    std::vector<const ThreadTreeNode*> found;
    std::function<void(const ThreadTreeNode&)> visit = [&](const ThreadTreeNode& node) {
        if (node.kind == EThreadNodeKind::Thread && node.isLeaf && node.threads.size() == 1) {
            const std::vector<int32_t> ids = GetThreadIds(node);
            if (std::find(threadIds.begin(), threadIds.end(), ids.front()) != threadIds.end())
                found.push_back(&node);
        }
        for (const auto& child : node.children)
            visit(*child);
    };
    visit(*mRoot);
    return found;
}

QString GetDefaultThreadName(const QString& modulePath, const QString& functionName)
{
    static const char* const kGroups[] = {
        "Worker", "Main",    "CLR Worker",     "Thread Pool", "GDI",
        "RPC",    "OLE/RPC", "Concurrency RT", "WinSock",     "Debugger Helper"};
    using Routines = std::vector<std::pair<const char*, int>>;
    static const std::unordered_map<std::string, Routines> kStartRoutines = [] {
        const Routines clr{
            {"Thread::intermediateThreadProc", 2}, {"SockAsyncThread", 8}, {"DebuggerRCThread", 9}};
        const Routines concurrency{{"ConcurrencyInternals", 7}};
        return std::unordered_map<std::string, Routines>{
            {"clr.dll", clr},
            {"mscorwks.dll", clr},
            {"ntdll.dll", {{"TppWorkerThread", 3}}},
            {"gdiplus.dll", {{"BackgroundThreadPro", 4}}},
            {"rpcrt4.dll", {{"ThreadStartRoutine", 5}}},
            {"mswsock.dll", {{"RpcWorkerThreadEntry", 6}}},
            {"msvcr100.dll", concurrency},
            {"msvcr100d.dll", concurrency},
            {"", {{"mainCRTStartup", 1}, {"wmainCRTStartup", 1}, {"COM+_Entry_Point", 1}}},
        };
    }();
    const qsizetype slash = std::max(modulePath.lastIndexOf('/'), modulePath.lastIndexOf('\\'));
    const std::string file = modulePath.mid(slash + 1).toStdString();
    auto entry = kStartRoutines.find(file);
    if (entry == kStartRoutines.end())
        entry = kStartRoutines.find("");
    for (const auto& [substring, group] : entry->second)
        if (functionName.contains(QLatin1String(substring)))
            return QLatin1String(kGroups[group]);
    return QLatin1String(kGroups[0]);
}

} // namespace Profiler
