#pragma once

#include "CallGraphModel/CallGraph.h"
#include "ZivuDeverUdovIradir/CallGraphDisplayOptions.h"

#include <QAbstractItemModel>
#include <QSortFilterProxyModel>
#include <QString>

#include <memory>
#include <vector>

namespace Profiler {

class IFunctionInfoProvider;

/// A lazy tree over one butterfly graph (the called-by graph or the merged calls graph): the
/// root's children are the top rows, and a node's rows are made when a view first asks for them,
/// so a graph of a million nodes costs nothing until it is expanded. The graph is shared and never
/// changed. A row whose children the butterfly job left out is fetched: the model asks for them
/// (LevelsWanted) and shows them, from a graph of their own, when AddLevels hands them in.
class ButterflyTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    // The same roles as the function list, so that one delegate paints both.
    static constexpr int kNodeRole = Qt::UserRole;          ///< const CallGraphNode*
    static constexpr int kInclusiveRole = Qt::UserRole + 1; ///< double
    static constexpr int kExclusiveRole = Qt::UserRole + 2; ///< double
    static constexpr int kStateTimesRole = Qt::UserRole + 4;
    static constexpr int kSortRole = Qt::UserRole + 100;

    /// `firstHeader` names column 0 ("Called By", "Calls"); `totalTime` is the 100 % of the
    /// absolute percentage mode; `names` may be null (functions then read as addresses).
    ButterflyTreeModel(std::shared_ptr<const CallGraph> graph, QString firstHeader, double totalTime,
                       double samplingIntervalMs, std::shared_ptr<const IFunctionInfoProvider> names,
                       ECallGraphTimeDisplayMode mode, QObject* parent = nullptr);
    ~ButterflyTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    /// Shows the children of `node`, which stands for the node of `row` in `graph` (kept alive
    /// here), as the rows below `row`. Without a node the row may be fetched again.
    void AddLevels(const QModelIndex& row, std::shared_ptr<const CallGraph> graph, const CallGraphNode* node);

    /// The caller emits layoutChanged.
    void SetTimeDisplayMode(ECallGraphTimeDisplayMode mode) { mMode = mode; }
    /// The node that `index` shows (null for an invalid index).
    static const CallGraphNode* GetNode(const QModelIndex& index);
    QString GetFunctionName(const CallGraphNode& node) const;
    QString GetDisplayText(const CallGraphNode& node, int column) const;

signals:
    /// The children of `row`'s node were left out; answered with AddLevels, once per fetch.
    void LevelsWanted(const QModelIndex& row);

private:
    struct Item;
    Item* ItemOf(const QModelIndex& index) const;
    void Populate(Item& item) const;

    std::shared_ptr<const CallGraph> mGraph;
    QString mFirstHeader;
    double mTotalTime;
    double mSamplingIntervalMs;
    std::shared_ptr<const IFunctionInfoProvider> mNames;
    std::vector<std::shared_ptr<const CallGraph>> mLevelGraphs;
    ECallGraphTimeDisplayMode mMode;
    std::unique_ptr<Item> mRoot;
};

/// Sorts butterfly rows among their siblings by the node figures.
class ButterflySortProxyModel final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ButterflySortProxyModel(QObject* parent = nullptr);
};

} // namespace Profiler
