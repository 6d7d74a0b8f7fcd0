#include "ProfilerLibUI/ThreadTreeModel.h"

#include <QRegularExpression>

namespace Profiler {

ThreadTreeModel::ThreadTreeModel(const ThreadTree& tree, QObject* parent)
    : QAbstractItemModel(parent), mTree(tree)
{}

const ThreadTreeNode* ThreadTreeModel::GetNode(const QModelIndex& index)
{
    return index.isValid() ? static_cast<const ThreadTreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex ThreadTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? createIndex(0, 0, const_cast<ThreadTreeNode*>(&mTree.GetRoot())) : QModelIndex();
    const ThreadTreeNode* node = GetNode(parent);
    if (static_cast<size_t>(row) >= node->children.size())
        return {};
    return createIndex(row, 0, node->children[static_cast<size_t>(row)].get());
}

QModelIndex ThreadTreeModel::IndexOf(const ThreadTreeNode* node) const
{
    if (!node)
        return {};
    if (!node->parent)
        return createIndex(0, 0, const_cast<ThreadTreeNode*>(node));
    const auto& siblings = node->parent->children;
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node)
            return createIndex(static_cast<int>(i), 0, const_cast<ThreadTreeNode*>(node));
    return {};
}

QModelIndex ThreadTreeModel::parent(const QModelIndex& child) const
{
    const ThreadTreeNode* node = GetNode(child);
    return node ? IndexOf(node->parent) : QModelIndex();
}

int ThreadTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return 1;
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(GetNode(parent)->children.size());
}

int ThreadTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant ThreadTreeModel::data(const QModelIndex& index, int role) const
{
    const ThreadTreeNode* node = GetNode(index);
    if (!node)
        return {};
    if (role == Qt::DisplayRole)
        return mTree.GetLabel(*node);
    if (role == kNodeRole)
        return QVariant::fromValue(const_cast<void*>(static_cast<const void*>(node)));
    return {};
}

QVariant ThreadTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Thread name");
    return {};
}

Qt::ItemFlags ThreadTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

ThreadGroupFilterModel::ThreadGroupFilterModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
    setRecursiveFilteringEnabled(false);
}

bool ThreadGroupFilterModel::Matches(const QModelIndex& sourceIndex) const
{
    const QRegularExpression pattern = filterRegularExpression();
    // An invalid pattern (a half-typed bracket) matches nothing rather than everything.
    if (!pattern.isValid())
        return false;
    return pattern.match(sourceModel()->data(sourceIndex, Qt::DisplayRole).toString()).hasMatch();
}

bool ThreadGroupFilterModel::DescendantMatches(const QModelIndex& sourceIndex) const
{
    const int rows = sourceModel()->rowCount(sourceIndex);
    for (int row = 0; row < rows; ++row) {
        const QModelIndex child = sourceModel()->index(row, 0, sourceIndex);
        if (Matches(child) || DescendantMatches(child))
            return true;
    }
    return false;
}

bool ThreadGroupFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (filterRegularExpression().pattern().isEmpty())
        return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    for (QModelIndex at = index; at.isValid(); at = at.parent())
        if (Matches(at))
            return true;
    return DescendantMatches(index);
}

} // namespace Profiler
