#include "ProfilerLibUI/ThreadSelectorPopupWidget.h"

#include "ProfilerLibUI/FindLineEdit.h"
#include "ProfilerLibUI/ThreadTreeModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSizeGrip>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <functional>

namespace Profiler {

ThreadSelectorPopupWidget::ThreadSelectorPopupWidget(const ThreadTree* mergedTree,
                                                     const ThreadTree* groupedTree, bool mergeProcesses,
                                                     const QString& applyText, bool /*flag*/,
                                                     ResultCallback callback, QWidget* selector)
    : QFrame(selector, Qt::Popup), mMergedTree(mergedTree), mGroupedTree(groupedTree),
      mMergeProcesses(mergeProcesses), mCallback(std::move(callback)), mSelector(selector)
{
    setObjectName(QStringLiteral("ThreadSelectorPopupWidget"));
    setStyleSheet(QStringLiteral("QFrame { border: 1px solid palette(mid);}"));
    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout_3"));
    layout->setContentsMargins(4, 4, 4, 4);

    mFindLineEdit = new FindLineEdit(this);
    mFindLineEdit->setObjectName(QStringLiteral("mFindLineEdit"));
    mFindLineEdit->setPlaceholderText(QStringLiteral("Find..."));
    layout->addWidget(mFindLineEdit);

    auto* groupFrame = new QFrame(this);
    groupFrame->setObjectName(QStringLiteral("mGroupByProcessFrame"));
    groupFrame->setStyleSheet(QStringLiteral("QFrame { margin: 1px; border: 1px solid gray;  }"));
    auto* groupLayout = new QHBoxLayout(groupFrame);
    groupLayout->setContentsMargins(2, 2, 2, 2);
    mGroupByProcessCheckBox = new QCheckBox(QStringLiteral("Group by process"), groupFrame);
    mGroupByProcessCheckBox->setObjectName(QStringLiteral("mGroupByProcessCheckBox"));
    mGroupByProcessCheckBox->setStyleSheet(QStringLiteral("QCheckBox { border: none; margin: 0px; }"));
    groupLayout->addWidget(mGroupByProcessCheckBox);
    layout->addWidget(groupFrame);

    mTreeView = new QTreeView(this);
    mTreeView->setObjectName(QStringLiteral("mTreeView"));
    mTreeView->setHeaderHidden(true);
    mTreeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mTreeView->setStyleSheet(QStringLiteral("QTreeView { border: none; }"));
    mTreeView->installEventFilter(this);
    layout->addWidget(mTreeView, 1);

    mBottomHLayout = new QHBoxLayout();
    mBottomHLayout->setObjectName(QStringLiteral("mBottomHLayout"));
    mSizeGrip = new QSizeGrip(this);
    mApplyButton = new QPushButton(applyText, this);
    mApplyButton->setObjectName(QStringLiteral("mApplyButton"));
    mCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    mCancelButton->setObjectName(QStringLiteral("mCancelButton"));
    mBottomHLayout->addWidget(mSizeGrip, 0, Qt::AlignBottom | Qt::AlignLeft);
    mBottomHLayout->addStretch(1);
    mBottomHLayout->addWidget(mApplyButton);
    mBottomHLayout->addWidget(mCancelButton);
    layout->addLayout(mBottomHLayout);

    mGroupByProcessCheckBox->setChecked(!mMergeProcesses);
    connect(mGroupByProcessCheckBox, &QCheckBox::toggled, this, [this](bool checked) {
        mMergeProcesses = !checked;
        RebuildModel();
    });
    connect(mApplyButton, &QPushButton::clicked, this, &ThreadSelectorPopupWidget::Apply);
    connect(mCancelButton, &QPushButton::clicked, this, &ThreadSelectorPopupWidget::Cancel);
    connect(mFindLineEdit, &QLineEdit::textChanged, this, &ThreadSelectorPopupWidget::OnFindTextChanged);
    mFindLineEdit->SetClearCallback([this] { mFindLineEdit->clear(); });
    mFindLineEdit->SetKeyCallback([this](FindLineEdit::Key key) {
        if (key == FindLineEdit::Key::Return) {
            Apply();
            return true;
        }
        mTreeView->setFocus();
        QKeyEvent* press = new QKeyEvent(
            QEvent::KeyPress, key == FindLineEdit::Key::Down ? Qt::Key_Down : Qt::Key_Up, Qt::NoModifier);
        QApplication::postEvent(mTreeView, press);
        return true;
    });
    RebuildModel();
}

ThreadSelectorPopupWidget::~ThreadSelectorPopupWidget()
{
    RestoreCursor();
    mTreeView->setModel(nullptr);
}

const ThreadTree& ThreadSelectorPopupWidget::GetCurrentTree() const
{
    return mMergeProcesses ? *mMergedTree : *mGroupedTree;
}

void ThreadSelectorPopupWidget::RebuildModel()
{
    mTreeView->setModel(nullptr);
    mFilter = std::make_unique<ThreadGroupFilterModel>();
    mModel = std::make_unique<ThreadTreeModel>(GetCurrentTree());
    mFilter->setSourceModel(mModel.get());
    mTreeView->setModel(mFilter.get());
    mExpandedBeforeFind.clear();
    if (!mFindLineEdit->text().isEmpty())
        OnFindTextChanged(mFindLineEdit->text());
    mTreeView->expand(mFilter->index(0, 0));
    mApplyButton->setEnabled(false);
    connect(mTreeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { mApplyButton->setEnabled(mTreeView->selectionModel()->hasSelection()); });
}

std::vector<const ThreadTreeNode*> ThreadSelectorPopupWidget::selectedNodes() const
{
    std::vector<const ThreadTreeNode*> selected;
    for (const QModelIndex& index : mTreeView->selectionModel()->selectedRows())
        selected.push_back(ThreadTreeModel::GetNode(mFilter->mapToSource(index)));
    // Display order, so the summary reads top to bottom.
    std::vector<const ThreadTreeNode*> ordered;
    std::function<void(const ThreadTreeNode&)> visit = [&](const ThreadTreeNode& node) {
        if (std::find(selected.begin(), selected.end(), &node) != selected.end()) {
            ordered.push_back(&node);
            return; // a selected ancestor covers its descendants
        }
        for (const auto& child : node.children)
            visit(*child);
    };
    visit(GetCurrentTree().GetRoot());
    return ordered;
}

void ThreadSelectorPopupWidget::SetSelection(const std::vector<const ThreadTreeNode*>& nodes,
                                             bool mergeProcesses)
{
    if (mergeProcesses != mMergeProcesses) {
        const QSignalBlocker blocker(mGroupByProcessCheckBox);
        mMergeProcesses = mergeProcesses;
        mGroupByProcessCheckBox->setChecked(!mergeProcesses);
        RebuildModel();
    }
    QItemSelection selection;
    for (const ThreadTreeNode* node : nodes) {
        const QModelIndex index = mFilter->mapFromSource(mModel->IndexOf(node));
        if (index.isValid()) {
            selection.select(index, index);
            for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
                mTreeView->expand(parent);
        }
    }
    mTreeView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ThreadSelectorPopupWidget::SetRoomOnRight(bool roomOnRight)
{
    mBottomHLayout->setAlignment(mSizeGrip, Qt::AlignBottom | (roomOnRight ? Qt::AlignRight : Qt::AlignLeft));
    mBottomHLayout->removeWidget(mSizeGrip);
    if (roomOnRight)
        mBottomHLayout->addWidget(mSizeGrip, 0, Qt::AlignBottom | Qt::AlignRight);
    else
        mBottomHLayout->insertWidget(0, mSizeGrip, 0, Qt::AlignBottom | Qt::AlignLeft);
}

void ThreadSelectorPopupWidget::Apply()
{
    if (!mTreeView->selectionModel()->hasSelection())
        return;
    if (mCallback)
        mCallback(0);
    close();
}

void ThreadSelectorPopupWidget::Cancel()
{
    if (mCallback)
        mCallback(1);
    close();
}

void ThreadSelectorPopupWidget::OnFindTextChanged(const QString& text)
{
    const bool wasFiltering = !mFilter->filterRegularExpression().pattern().isEmpty();
    std::function<void(const QModelIndex&, const std::function<void(const QModelIndex&)>&)> walk =
        [&](const QModelIndex& parent, const std::function<void(const QModelIndex&)>& visit) {
            for (int row = 0; row < mFilter->rowCount(parent); ++row) {
                const QModelIndex index = mFilter->index(row, 0, parent);
                visit(index);
                walk(index, visit);
            }
        };
    if (!wasFiltering && !text.isEmpty()) {
        mExpandedBeforeFind.clear();
        walk({}, [this](const QModelIndex& index) {
            if (mTreeView->isExpanded(index))
                mExpandedBeforeFind.push_back(ThreadTreeModel::GetNode(mFilter->mapToSource(index)));
        });
    }
    // Blanks stand for anything, so "work 2" finds "Worker 2".
    QString pattern = text;
    pattern.replace(QLatin1Char(' '), QLatin1String(".*"));
    mFilter->setFilterRegularExpression(
        QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption));
    if (!text.isEmpty()) {
        mTreeView->expandAll();
    } else if (wasFiltering) {
        mTreeView->collapseAll();
        for (const ThreadTreeNode* node : mExpandedBeforeFind)
            mTreeView->expand(mFilter->mapFromSource(mModel->IndexOf(node)));
    }
}

bool ThreadSelectorPopupWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mTreeView && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Apply();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void ThreadSelectorPopupWidget::mousePressEvent(QMouseEvent* event)
{
    if (!rect().contains(event->pos())) {
        // A press on the selector only closes the popup: it must not reopen it at once.
        if (mSelector && mSelector->rect().contains(mSelector->mapFromGlobal(event->globalPos())))
            setAttribute(Qt::WA_NoMouseReplay);
        Cancel();
        return;
    }
    QFrame::mousePressEvent(event);
}

void ThreadSelectorPopupWidget::hideEvent(QHideEvent* event)
{
    RestoreCursor();
    QFrame::hideEvent(event);
}

void ThreadSelectorPopupWidget::enterEvent(QEvent* event)
{
    RestoreCursor();
    QFrame::enterEvent(event);
}

void ThreadSelectorPopupWidget::leaveEvent(QEvent* event)
{
    // Outside the popup a click cancels; the arrow says so whatever is under the pointer.
    if (!mOverrideCursor) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        mOverrideCursor = true;
    }
    QFrame::leaveEvent(event);
}

void ThreadSelectorPopupWidget::RestoreCursor()
{
    if (mOverrideCursor) {
        QApplication::restoreOverrideCursor();
        mOverrideCursor = false;
    }
}

} // namespace Profiler
