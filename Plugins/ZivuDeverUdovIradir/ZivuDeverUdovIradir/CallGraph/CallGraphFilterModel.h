#pragma once

#include <QSortFilterProxyModel>

namespace Profiler {

class CallGraphFindState;

/// Sorts call graph rows by their figures rather than their text: inclusive and exclusive
/// times, and the executing share of the thread states. Shared with the function list's panes.
class CallGraphSortFilterProxyModelBase : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit CallGraphSortFilterProxyModelBase(QObject* parent = nullptr);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

/// The call graph tree's proxy: hides the rows that the last find left out.
class CallGraphFilterModel final : public CallGraphSortFilterProxyModelBase {
    Q_OBJECT
public:
    /// `findState` is the widget's and outlives the proxy.
    explicit CallGraphFilterModel(const CallGraphFindState& findState, QObject* parent = nullptr)
        : CallGraphSortFilterProxyModelBase(parent), mFindState(findState)
    {}

    /// Re-reads the find state.
    void Refilter() { invalidateFilter(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    const CallGraphFindState& mFindState;
};

} // namespace Profiler
