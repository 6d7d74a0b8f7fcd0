#pragma once

#include "ProfilerLibUI/ThreadTree.h"
#include "QtWidgets/DpiCorrectComboBox.h"

#include <functional>
#include <memory>
#include <vector>

namespace Profiler {

class ThreadSelectorPopupWidget;

/// Decides which threads a view covers: a combo box whose one item summarises the selection
/// and whose popup shows the session's threads grouped by process and name.
class ThreadSelectorWidget : public QtWidgets::DpiCorrectComboBox {
    Q_OBJECT
public:
    using SelectionChangedCallback = std::function<void()>;
    using MergeChangedCallback = std::function<void(bool mergeProcesses)>;

    /// `mergeProcesses`: the stored grouping mode (1 merges every process into one tree).
    ThreadSelectorWidget(std::vector<ThreadTreeProcess> processes, bool flag, bool mergeProcesses,
                         QWidget* parent = nullptr);
    ~ThreadSelectorWidget() override;

    /// Rebuilds both trees for a new session (the popup is made anew).
    void SetProcesses(std::vector<ThreadTreeProcess> processes);
    void SetSelectionChangedCallback(SelectionChangedCallback callback)
    {
        mSelectionChanged = std::move(callback);
    }
    /// Told the grouping mode after each Apply, to store it in the settings.
    void SetMergeChangedCallback(MergeChangedCallback callback) { mMergeChanged = std::move(callback); }

    /// The ids of all threads under the selected nodes, node by node (duplicates kept).
    std::vector<int32_t> selectedThreadIds() const;
    /// Selects the single-thread nodes of these ids (no callback).
    void SetSelectedThreadIds(const std::vector<int32_t>& threadIds);
    const std::vector<const ThreadTreeNode*>& GetSelectedNodes() const { return mSelection; }
    const ThreadTree& GetCurrentTree() const { return mMergeProcesses ? *mMergedTree : *mGroupedTree; }
    bool GetMergeProcesses() const { return mMergeProcesses; }
    ThreadSelectorPopupWidget* GetPopup() const { return mPopup.get(); }

    void showPopup() override;
    void hidePopup() override;
    /// What the popup's Apply does; public for the popup's callback and tests.
    void ApplyFromPopup();

private:
    void RebuildTrees(std::vector<ThreadTreeProcess> processes);
    void UpdateSummary();
    QString GetNodeText(const ThreadTreeNode& node) const;

    bool mFlag;
    bool mMergeProcesses;
    std::unique_ptr<ThreadTree> mMergedTree;
    std::unique_ptr<ThreadTree> mGroupedTree;
    std::unique_ptr<ThreadSelectorPopupWidget> mPopup;
    std::vector<const ThreadTreeNode*> mSelection; ///< nodes of the current tree
    SelectionChangedCallback mSelectionChanged;
    MergeChangedCallback mMergeChanged;
};

} // namespace Profiler
