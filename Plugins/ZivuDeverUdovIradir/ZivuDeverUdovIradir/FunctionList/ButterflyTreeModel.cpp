#include "ZivuDeverUdovIradir/FunctionList/ButterflyTreeModel.h"

#include "CallGraphModel/Butterfly.h"
#include "CallGraphModel/FunctionScope.h"
#include "CallGraphModel/IFunctionInfoProvider.h"
#include "ProfilerLibUI/FunctionList/FunctionListFormat.h"
#include "System/FormatDuration.h"
#include "Utility/Format.h"

#include <cmath>

namespace Profiler {

struct ButterflyTreeModel::Item {
    const CallGraphNode* Node = nullptr; // not owned; in a shared graph
    /// Whose children are the rows: Node, or the same node in the graph built for its left-out
    /// children.
    const CallGraphNode* RowsOf = nullptr;
    Item* Parent = nullptr;
    int Row = 0;
    bool Populated = false;
    bool Fetching = false;
    std::vector<std::unique_ptr<Item>> Children;

    const CallGraphNode* Source() const { return RowsOf != nullptr ? RowsOf : Node; }
    /// The children of Node were left out and have not come yet.
    bool LeftOut() const
    {
        return RowsOf == nullptr && Node != nullptr && FindUnbuiltLevels(*Node) != nullptr;
    }
};

namespace {

const char* const kHeaders[] = {"", "Module", "Inclusive", "Exclusive", "Samples", "Thread States"};
constexpr int kColumns = 6;

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

QString Percentage(double share)
{
    if (share > 0.0 && share < 1.0)
        return QStringLiteral("<1%");
    return QStringLiteral("%1%").arg(static_cast<int>(std::round(share)));
}

} // namespace

ButterflyTreeModel::ButterflyTreeModel(std::shared_ptr<const CallGraph> graph, QString firstHeader,
                                       double totalTime, double samplingIntervalMs,
                                       std::shared_ptr<const IFunctionInfoProvider> names,
                                       ECallGraphTimeDisplayMode mode, QObject* parent)
    : QAbstractItemModel(parent), mGraph(std::move(graph)), mFirstHeader(std::move(firstHeader)),
      mTotalTime(totalTime), mSamplingIntervalMs(samplingIntervalMs), mNames(std::move(names)), mMode(mode),
      mRoot(std::make_unique<Item>())
{
    mRoot->Node = mGraph ? &mGraph->GetRoot() : nullptr;
}

ButterflyTreeModel::~ButterflyTreeModel() = default;

ButterflyTreeModel::Item* ButterflyTreeModel::ItemOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Item*>(index.internalPointer()) : mRoot.get();
}

void ButterflyTreeModel::Populate(Item& item) const
{
    if (item.Populated)
        return;
    item.Populated = true;
    if (item.Node == nullptr || item.LeftOut())
        return;
    const CallGraphNode& source = *item.Source();
    item.Children.reserve(source.Children.size());
    int row = 0;
    for (const CallGraphNode* child : source.Children) {
        if (IsUnbuiltLevels(*child))
            continue;
        auto childItem = std::make_unique<Item>();
        childItem->Node = child;
        childItem->Parent = &item;
        childItem->Row = row++;
        item.Children.push_back(std::move(childItem));
    }
}

QModelIndex ButterflyTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= kColumns || (parent.isValid() && parent.column() != 0))
        return {};
    Item* parentItem = ItemOf(parent);
    Populate(*parentItem);
    if (static_cast<std::size_t>(row) >= parentItem->Children.size())
        return {};
    return createIndex(row, column, parentItem->Children[static_cast<std::size_t>(row)].get());
}

QModelIndex ButterflyTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const Item* parentItem = ItemOf(child)->Parent;
    if (parentItem == nullptr || parentItem == mRoot.get())
        return {};
    return createIndex(parentItem->Row, 0, const_cast<Item*>(parentItem));
}

int ButterflyTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    Item* item = ItemOf(parent);
    Populate(*item);
    return static_cast<int>(item->Children.size());
}

int ButterflyTreeModel::columnCount(const QModelIndex&) const
{
    return kColumns;
}

bool ButterflyTreeModel::hasChildren(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return false;
    const Item* item = ItemOf(parent);
    return item->Node != nullptr && !item->Source()->Children.empty();
}

const CallGraphNode* ButterflyTreeModel::GetNode(const QModelIndex& index)
{
    return index.isValid() ? static_cast<const Item*>(index.internalPointer())->Node : nullptr;
}

QString ButterflyTreeModel::GetFunctionName(const CallGraphNode& node) const
{
    const ResolvedAddress function = node.GetFunction();
    QString name = mNames ? FromUtf8(mNames->GetFunctionName(function)) : QString();
    if (name.isEmpty())
        name = QString::asprintf("0x%llX", static_cast<unsigned long long>(function.RelativeAddress));
    return name;
}

QString ButterflyTreeModel::GetDisplayText(const CallGraphNode& node, int column) const
{
    auto timeText = [this, &node](double time) {
        switch (mMode) {
        case ECallGraphTimeDisplayMode::Milliseconds:
            return QString::asprintf("%.2f", time);
        case ECallGraphTimeDisplayMode::Seconds:
            return QString::asprintf("%.2f", time / 1000.0);
        case ECallGraphTimeDisplayMode::RelativePercentage: {
            // Relative to the row above; the top rows are their own 100 %.
            const double parentTime =
                node.Parent && !node.Parent->IsRoot() ? node.Parent->InclusiveTime() : node.InclusiveTime();
            return Percentage(parentTime > 0.0 ? time / parentTime * 100.0 : 0.0);
        }
        case ECallGraphTimeDisplayMode::AbsolutePercentage:
            break;
        }
        return Percentage(mTotalTime > 0.0 ? time / mTotalTime * 100.0 : 0.0);
    };
    switch (column) {
    case 0:
        return GetFunctionName(node);
    case 1: {
        const std::string module = mNames ? mNames->GetModuleName(node.GetFunction()) : std::string();
        return FromUtf8(GetModuleDisplayName(GetModuleFileName(module)));
    }
    case 2:
        return timeText(node.InclusiveTime());
    case 3:
        return timeText(ComputeSelfTimeSplit(node, mSamplingIntervalMs).Exclusive);
    case 4:
        return QString::number(static_cast<qulonglong>(node.GetSampleCount()));
    default:
        return {};
    }
}

QVariant ButterflyTreeModel::data(const QModelIndex& index, int role) const
{
    const CallGraphNode* node = GetNode(index);
    if (node == nullptr)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return GetDisplayText(*node, column);
    case Qt::ToolTipRole:
        switch (column) {
        case 0:
            return node->GetFunction().IsUnrootedStacks() ? QString::fromUtf8(GetUnrootedStacksTooltip())
                                                          : GetFunctionName(*node);
        case 2: {
            const SelfTimeSplit split = ComputeSelfTimeSplit(*node, mSamplingIntervalMs);
            return QString::fromStdString(
                FormatInclusiveTooltip(node->InclusiveTime(), split.UnknownExecuting, split.UnknownWait));
        }
        case 3:
            return QString::fromStdString(
                System::FormatDuration(ComputeSelfTimeSplit(*node, mSamplingIntervalMs).Exclusive));
        default:
            return {};
        }
    case Qt::TextAlignmentRole:
        return static_cast<int>(column == 2 || column == 3 ? Qt::AlignRight | Qt::AlignVCenter
                                                           : Qt::AlignLeft | Qt::AlignVCenter);
    case kNodeRole:
        return QVariant::fromValue(static_cast<void*>(const_cast<CallGraphNode*>(node)));
    case kInclusiveRole:
        return node->InclusiveTime();
    case kExclusiveRole:
        return ComputeSelfTimeSplit(*node, mSamplingIntervalMs).Exclusive;
    case kSortRole:
        switch (column) {
        case 0:
            return GetFunctionName(*node);
        case 1:
            return GetDisplayText(*node, 1);
        case 2:
            return node->InclusiveTime();
        case 3:
            return ComputeSelfTimeSplit(*node, mSamplingIntervalMs).Exclusive;
        case 4:
            return static_cast<qulonglong>(node->GetSampleCount());
        default:
            return {};
        }
    default:
        if (role >= kStateTimesRole)
            return QVariant::fromValue(static_cast<void*>(const_cast<double*>(node->StateTimes.data())));
        return {};
    }
}

QVariant ButterflyTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return {};
    if (role == Qt::InitialSortOrderRole)
        return static_cast<int>(Qt::DescendingOrder);
    if (role != Qt::DisplayRole)
        return {};
    if (section == 0)
        return mFirstHeader;
    QString text = QString::fromUtf8(kHeaders[section]);
    if (section == 2 || section == 3) {
        if (mMode == ECallGraphTimeDisplayMode::Milliseconds)
            text += QStringLiteral(" (ms)");
        else if (mMode == ECallGraphTimeDisplayMode::Seconds)
            text += QStringLiteral(" (s)");
    }
    return text;
}

Qt::ItemFlags ButterflyTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

bool ButterflyTreeModel::canFetchMore(const QModelIndex& parent) const
{
    if (!parent.isValid() || parent.column() != 0)
        return false;
    const Item* item = ItemOf(parent);
    return !item->Fetching && item->LeftOut();
}

void ButterflyTreeModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    ItemOf(parent)->Fetching = true;
    emit LevelsWanted(parent);
}

void ButterflyTreeModel::AddLevels(const QModelIndex& row, std::shared_ptr<const CallGraph> graph,
                                   const CallGraphNode* node)
{
    if (!row.isValid() || row.model() != this)
        return;
    Item* item = ItemOf(row);
    item->Fetching = false;
    if (node == nullptr || graph == nullptr || !item->LeftOut() ||
        !node->HasFunction(item->Node->GetFunction()))
        return;
    mLevelGraphs.push_back(std::move(graph));
    int count = 0;
    for (const CallGraphNode* child : node->Children)
        if (!IsUnbuiltLevels(*child))
            ++count;
    if (!item->Populated || count == 0) {
        // Nothing shown yet: the rows are made when a view asks for them.
        item->RowsOf = node;
        return;
    }
    beginInsertRows(row.sibling(row.row(), 0), 0, count - 1);
    item->RowsOf = node;
    item->Populated = false;
    Populate(*item);
    endInsertRows();
}

ButterflySortProxyModel::ButterflySortProxyModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
    setSortRole(ButterflyTreeModel::kSortRole);
}

} // namespace Profiler
