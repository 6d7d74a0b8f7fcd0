#include "ZivuDeverUdovIradir/CallGraph/CallGraphFilterModel.h"

#include "CallGraphModel/CallGraphNode.h"
#include "ProfilerLibUI/CallGraph/CallGraphFind.h"
#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"

namespace Profiler {

namespace {

double ExecutingShare(const QModelIndex& index)
{
    const auto* node = static_cast<const CallGraphNode*>(index.data(CallGraphRoles::Node).value<void*>());
    if (node == nullptr)
        return 0.0;
    const double inclusive = node->InclusiveTime();
    return inclusive > 0.0 ? node->StateTimes[static_cast<int>(EThreadState::Executing)] / inclusive : 0.0;
}

} // namespace

CallGraphSortFilterProxyModelBase::CallGraphSortFilterProxyModelBase(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(true);
}

bool CallGraphSortFilterProxyModelBase::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    switch (left.column()) {
    case 2:
        return right.data(CallGraphRoles::Inclusive).toDouble() >
               left.data(CallGraphRoles::Inclusive).toDouble();
    case 3:
        return right.data(CallGraphRoles::Exclusive).toDouble() >
               left.data(CallGraphRoles::Exclusive).toDouble();
    case 5:
        return ExecutingShare(right) > ExecutingShare(left);
    default:
        return QSortFilterProxyModel::lessThan(left, right);
    }
}

bool CallGraphFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (mFindState.IsEmpty())
        return true;
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    const auto* node = static_cast<const CallGraphNode*>(index.data(CallGraphRoles::Node).value<void*>());
    return mFindState.IsVisible(node);
}

} // namespace Profiler
