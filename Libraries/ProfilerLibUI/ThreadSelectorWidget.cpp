#include "ProfilerLibUI/ThreadSelectorWidget.h"

#include "ProfilerLibUI/ThreadSelectorPopupWidget.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace Profiler {

ThreadSelectorWidget::ThreadSelectorWidget(std::vector<ThreadTreeProcess> processes, bool flag,
                                           bool mergeProcesses, QWidget* parent)
    : DpiCorrectComboBox(parent), mFlag(flag), mMergeProcesses(mergeProcesses)
{
    setObjectName(QStringLiteral("mThreadSelector"));
    RebuildTrees(std::move(processes));
}

ThreadSelectorWidget::~ThreadSelectorWidget() = default;

void ThreadSelectorWidget::SetProcesses(std::vector<ThreadTreeProcess> processes)
{
    RebuildTrees(std::move(processes));
}

void ThreadSelectorWidget::RebuildTrees(std::vector<ThreadTreeProcess> processes)
{
    mPopup.reset();
    mSelection.clear();
    mMergedTree = std::make_unique<ThreadTree>(processes, true);
    mGroupedTree = std::make_unique<ThreadTree>(std::move(processes), false);
    mPopup = std::make_unique<ThreadSelectorPopupWidget>(
        mMergedTree.get(), mGroupedTree.get(), mMergeProcesses, QStringLiteral("Apply"), mFlag,
        [this](int result) {
            if (result == 0)
                ApplyFromPopup();
        },
        this);
    // A fresh selector covers everything.
    mSelection.push_back(&GetCurrentTree().GetRoot());
    UpdateSummary();
}

std::vector<int32_t> ThreadSelectorWidget::selectedThreadIds() const
{
    std::vector<int32_t> ids;
    for (const ThreadTreeNode* node : mSelection) {
        const std::vector<int32_t> nodeIds = GetCurrentTree().GetThreadIds(*node);
        ids.insert(ids.end(), nodeIds.begin(), nodeIds.end());
    }
    return ids;
}

void ThreadSelectorWidget::SetSelectedThreadIds(const std::vector<int32_t>& threadIds)
{
    // Every thread of the session reads as the root ("All Threads"), not as a list of them.
    std::vector<int32_t> all = GetCurrentTree().GetThreadIds(GetCurrentTree().GetRoot());
    std::vector<int32_t> wanted = threadIds;
    std::sort(all.begin(), all.end());
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    mSelection =
        wanted == all ? std::vector<const ThreadTreeNode*>{} : GetCurrentTree().FindThreadNodes(threadIds);
    if (mSelection.empty())
        mSelection.push_back(&GetCurrentTree().GetRoot());
    UpdateSummary();
}

void ThreadSelectorWidget::ApplyFromPopup()
{
    mMergeProcesses = mPopup->GetMergeProcesses();
    mSelection = mPopup->selectedNodes();
    if (mMergeChanged)
        mMergeChanged(mMergeProcesses);
    UpdateSummary();
    if (mSelectionChanged)
        mSelectionChanged();
}

QString ThreadSelectorWidget::GetNodeText(const ThreadTreeNode& node) const
{
    const ThreadTree& tree = GetCurrentTree();
    const QString label = tree.GetLabel(node);
    if (node.IsRoot())
        return label;
    if (node.kind == EThreadNodeKind::Process)
        return QStringLiteral("All threads in '%1'").arg(label);
    const bool several = tree.ShowsProcesses();
    QString process;
    for (const ThreadTreeNode* parent = node.parent; parent; parent = parent->parent)
        if (parent->kind == EThreadNodeKind::Process) {
            process = tree.GetLabel(*parent);
            break;
        }
    if (!node.isLeaf)
        return several ? QStringLiteral("All '%1' threads in '%2'").arg(label, process)
                       : QStringLiteral("All '%1' threads").arg(label);
    return several ? QStringLiteral("'%1' in '%2'").arg(label, process) : label;
}

void ThreadSelectorWidget::UpdateSummary()
{
    QStringList texts;
    for (const ThreadTreeNode* node : mSelection)
        texts.push_back(GetNodeText(*node));
    clear();
    addItem(texts.join(QStringLiteral(", ")));
    setToolTip(texts.join(QLatin1Char('\n')));
}

void ThreadSelectorWidget::showPopup()
{
    const int width = std::max(this->width(), Scaled(350));
    const int height = Scaled(250);
    const QRect field(mapToGlobal(QPoint(0, 0)), size());
    const QScreen* screen = QGuiApplication::screenAt(field.center());
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
    const int left = area.right() - field.left() + 1 < width ? field.right() + 1 - width : field.left();
    const int top = area.bottom() - field.bottom() < height ? field.top() - height : field.bottom() + 1;
    mPopup->SetRoomOnRight(area.right() - left + 1 >= 2 * width);
    mPopup->SetSelection(mSelection, mMergeProcesses);
    mPopup->setGeometry(left, top, width, height);
    mPopup->raise();
    mPopup->show();
}

void ThreadSelectorWidget::hidePopup()
{
    mPopup->hide();
}

} // namespace Profiler
