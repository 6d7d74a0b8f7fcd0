#pragma once

#include <QFrame>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QPushButton;
class QTreeView;
class QHBoxLayout;
class QSizeGrip;

namespace Profiler {

class FindLineEdit;
class ThreadGroupFilterModel;
class ThreadTree;
class ThreadTreeModel;
struct ThreadTreeNode;

/// The selector's popup: a filterable tree of the session's threads with "Apply" and "Cancel".
class ThreadSelectorPopupWidget : public QFrame {
    Q_OBJECT
public:
    /// 0: Apply, 1: Cancel.
    using ResultCallback = std::function<void(int result)>;

    ThreadSelectorPopupWidget(const ThreadTree* mergedTree, const ThreadTree* groupedTree,
                              bool mergeProcesses, const QString& applyText, bool flag,
                              ResultCallback callback, QWidget* selector);
    ~ThreadSelectorPopupWidget() override;

    /// The selected nodes without those whose ancestor is selected too.
    std::vector<const ThreadTreeNode*> selectedNodes() const;
    bool GetMergeProcesses() const { return mMergeProcesses; }
    const ThreadTree& GetCurrentTree() const;
    /// Rebuilds the model when the flag changed, then selects `nodes` (of the matching tree).
    void SetSelection(const std::vector<const ThreadTreeNode*>& nodes, bool mergeProcesses);
    /// Where the size grip goes: right when there is room to grow to the right.
    void SetRoomOnRight(bool roomOnRight);

    FindLineEdit* GetFindLineEdit() const { return mFindLineEdit; }
    QTreeView* GetTreeView() const { return mTreeView; }
    QPushButton* GetApplyButton() const { return mApplyButton; }
    QCheckBox* GetGroupByProcessCheckBox() const { return mGroupByProcessCheckBox; }

    void Apply();
    void Cancel();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void RebuildModel();
    void OnFindTextChanged(const QString& text);
    void RestoreCursor();

    const ThreadTree* mMergedTree;  // not owned
    const ThreadTree* mGroupedTree; // not owned
    bool mMergeProcesses;
    ResultCallback mCallback;
    QWidget* mSelector; // not owned
    FindLineEdit* mFindLineEdit;
    QCheckBox* mGroupByProcessCheckBox;
    QTreeView* mTreeView;
    QHBoxLayout* mBottomHLayout;
    QSizeGrip* mSizeGrip;
    QPushButton* mApplyButton;
    QPushButton* mCancelButton;
    std::unique_ptr<ThreadTreeModel> mModel;
    std::unique_ptr<ThreadGroupFilterModel> mFilter;
    std::vector<const ThreadTreeNode*> mExpandedBeforeFind;
    bool mOverrideCursor = false;
};

} // namespace Profiler
