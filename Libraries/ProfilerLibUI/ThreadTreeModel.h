#pragma once

#include "ProfilerLibUI/ThreadTree.h"

#include <QAbstractItemModel>
#include <QSortFilterProxyModel>

namespace Profiler {

/// The thread tree as a one-column item model: the invalid parent has one row, the root.
class ThreadTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    static constexpr int kNodeRole = 256; ///< a `const ThreadTreeNode*`

    ThreadTreeModel(const ThreadTree& tree, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const ThreadTree& GetTree() const { return mTree; }
    static const ThreadTreeNode* GetNode(const QModelIndex& index);
    /// The index of a node of this model's tree.
    QModelIndex IndexOf(const ThreadTreeNode* node) const;

private:
    const ThreadTree& mTree; // not owned; the selector keeps it alive longer than the model
};

/// Filters the thread tree by a pattern: a row stays when its label, an ancestor's or a
/// descendant's matches, so a match always shows with the path to it and everything below it.
class ThreadGroupFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ThreadGroupFilterModel(QObject* parent = nullptr);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool Matches(const QModelIndex& sourceIndex) const;
    bool DescendantMatches(const QModelIndex& sourceIndex) const;
};

} // namespace Profiler
