#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace Profiler {

class Session;

/// A thread of the selector's input.
struct ThreadTreeThread {
    QString Name; ///< empty when the capture has no name for it
    int32_t ThreadId = 0;
};

/// A process of the selector's input, with its threads in display order.
struct ThreadTreeProcess {
    QString Name;
    int32_t ProcessId = 0;
    std::vector<ThreadTreeThread> Threads;
};

/// The processes and threads of a session, in the session's order.
std::vector<ThreadTreeProcess> GetThreadTreeInput(const Session& session);

/// A thread reference: process index in the low half, thread index in the high half; a
/// process-only reference has thread index -1.
using ThreadRef = uint64_t;
inline ThreadRef MakeThreadRef(uint32_t process, int32_t thread)
{
    return uint64_t{process} | (uint64_t{static_cast<uint32_t>(thread)} << 32);
}
inline uint32_t GetRefProcess(ThreadRef ref)
{
    return static_cast<uint32_t>(ref);
}
inline int32_t GetRefThread(ThreadRef ref)
{
    return static_cast<int32_t>(ref >> 32);
}

enum class EThreadNodeKind : uint8_t { AllProcesses = 0, Process = 1, AllThreads = 2, Thread = 3 };

/// One node of the selector's tree: a root, a process, a group of names with a common prefix,
/// or one thread. A node lists every thread (or process) below it.
struct ThreadTreeNode {
    ThreadTreeNode* parent = nullptr; // not owned
    QString name;                     ///< the node's own part of the label
    std::vector<ThreadRef> threads;
    EThreadNodeKind kind = EThreadNodeKind::Thread;
    bool isLeaf = false;
    std::vector<std::unique_ptr<ThreadTreeNode>> children;

    bool IsRoot() const
    {
        return kind == EThreadNodeKind::AllProcesses || kind == EThreadNodeKind::AllThreads;
    }
};

/// The tree of a session's threads for one grouping mode: one flat grouping under "All Threads"
/// (merged, or a single process), or processes grouped under "All processes" with each
/// process's threads grouped below it. Names are grouped by their common prefixes.
class ThreadTree {
public:
    ThreadTree(std::vector<ThreadTreeProcess> processes, bool mergeProcesses);

    const ThreadTreeNode& GetRoot() const { return *mRoot; }
    bool IsMerged() const { return mMergeProcesses; }
    /// Whether processes show as separate nodes (two or more processes and not merged).
    bool ShowsProcesses() const { return mRoot->kind == EThreadNodeKind::AllProcesses; }
    const std::vector<ThreadTreeProcess>& GetProcesses() const { return mProcesses; }

    /// The text shown for a node: its name after those of its same-kind ancestors; a group
    /// without its trailing separators; a leaf with its identifier.
    QString GetLabel(const ThreadTreeNode& node) const;
    /// The thread ids under a node, in its thread order (a process reference gives all threads
    /// of the process).
    std::vector<int32_t> GetThreadIds(const ThreadTreeNode& node) const;
    /// The nodes that stand for exactly these threads: leaves of single threads, depth first.
    std::vector<const ThreadTreeNode*> FindThreadNodes(const std::vector<int32_t>& threadIds) const;

private:
    std::vector<ThreadTreeProcess> mProcesses;
    bool mMergeProcesses;
    std::unique_ptr<ThreadTreeNode> mRoot;
};

/// The default name of a thread whose start event carries no name, from the module file name
/// and the function name of its start address: "Main", "Thread Pool", ... or "Worker".
QString GetDefaultThreadName(const QString& modulePath, const QString& functionName);

} // namespace Profiler
