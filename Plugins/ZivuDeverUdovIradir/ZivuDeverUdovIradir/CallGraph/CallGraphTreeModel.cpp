#include "ZivuDeverUdovIradir/CallGraph/CallGraphTreeModel.h"

#include "CallGraphModel/FoldedCallGraph.h"
#include "CallGraphModel/MergedCallGraph.h"
#include "ProfilerLibUI/CallGraph/CallGraphFind.h"
#include "Theming/Icons.h"

#include <QColor>

#include <algorithm>

namespace Profiler {

namespace {

const QString kRootIconPath = QStringLiteral(":/ZivuDeverUdovIradir/Resources/callgraph_root.png");
const QString kRecursionIconPath = QStringLiteral(":/ZivuDeverUdovIradir/Resources/recursion.png");
const QString kRecursionUnfoldIconPath =
    QStringLiteral(":/ZivuDeverUdovIradir/Resources/recursion_unfold.png");

QString Percentage(double percent)
{
    return QString::fromStdString(FormatPercentage(percent));
}

double Share(double part, double whole)
{
    return whole > 0.0 ? part / whole * 100.0 : 0.0;
}

} // namespace

CallGraphTreeItem::CallGraphTreeItem(const CallGraphNode& node, double timeScale, FunctionNameCache& names,
                                     CallGraphTreeItem* parent, int row)
    : mNode(node), mParent(parent), mRow(row), mChildItems(node.Children.size())
{
    const uint32_t name = names.GetIndex(node.GetFunction());
    mFunctionName = names.GetName(name);
    mModulePath = names.GetModule(name);
    mFigures = ComputeNodeFigures(node, timeScale);
}

CallGraphTreeItem* CallGraphTreeItem::GetChild(int row, double timeScale, FunctionNameCache& names)
{
    std::unique_ptr<CallGraphTreeItem>& slot = mChildItems[row];
    if (!slot)
        slot = std::make_unique<CallGraphTreeItem>(*mNode.Children[row], timeScale, names, this, row);
    return slot.get();
}

CallGraphTreeModel::CallGraphTreeModel(std::shared_ptr<const CallGraph> graph, FunctionNameCache& names,
                                       EThemeType theme, const std::vector<const CallGraphNode*>& roots,
                                       ECallGraphTimeDisplayMode mode, double timeScale, QObject* parent)
    : QAbstractItemModel(parent), mGraph(std::move(graph)), mNames(names), mTimeScale(timeScale),
      mTheme(theme), mTimeDisplayMode(mode), mFirstColumnHeader(ColumnName(0))
{
    mRootItems.reserve(roots.size());
    for (const CallGraphNode* root : roots) {
        mTotalTime += root->InclusiveTime();
        mRootItems.push_back(std::make_unique<CallGraphTreeItem>(*root, mTimeScale, mNames, nullptr,
                                                                 static_cast<int>(mRootItems.size())));
    }
    mRootIcon = GetThemedIcon(kRootIconPath);
}

CallGraphTreeModel::~CallGraphTreeModel() = default;

QString CallGraphTreeModel::ColumnName(int column)
{
    static const char* const kNames[kColumnCount] = {"Function",  "Module",  "Inclusive",
                                                     "Exclusive", "Samples", "Thread States"};
    return column >= 0 && column < kColumnCount ? QString::fromLatin1(kNames[column]) : QString();
}

CallGraphTreeItem* CallGraphTreeModel::ItemOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<CallGraphTreeItem*>(index.internalPointer()) : nullptr;
}

const CallGraphNode* CallGraphTreeModel::NodeOf(const QModelIndex& index)
{
    return static_cast<const CallGraphNode*>(index.data(CallGraphRoles::Node).value<void*>());
}

std::vector<const CallGraphNode*> CallGraphTreeModel::GetRootNodes() const
{
    std::vector<const CallGraphNode*> nodes;
    for (const auto& item : mRootItems)
        nodes.push_back(&item->GetNode());
    return nodes;
}

QModelIndex CallGraphTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= kColumnCount)
        return {};
    if (!parent.isValid()) {
        if (row >= static_cast<int>(mRootItems.size()))
            return {};
        return createIndex(row, column, mRootItems[row].get());
    }
    CallGraphTreeItem* parentItem = ItemOf(parent);
    if (parent.column() != 0 || row >= parentItem->GetChildCount())
        return {};
    return createIndex(row, column, parentItem->GetChild(row, mTimeScale, mNames));
}

QModelIndex CallGraphTreeModel::parent(const QModelIndex& index) const
{
    CallGraphTreeItem* item = ItemOf(index);
    if (item == nullptr || item->GetParent() == nullptr)
        return {};
    CallGraphTreeItem* parentItem = item->GetParent();
    return createIndex(parentItem->GetRow(), 0, parentItem);
}

int CallGraphTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(mRootItems.size());
    if (parent.column() != 0)
        return 0;
    return ItemOf(parent)->GetChildCount();
}

int CallGraphTreeModel::columnCount(const QModelIndex&) const
{
    return kColumnCount;
}

Qt::ItemFlags CallGraphTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QModelIndex CallGraphTreeModel::IndexOfNode(const CallGraphNode* node) const
{
    if (node == nullptr)
        return {};
    std::vector<const CallGraphNode*> path;
    for (const CallGraphNode* at = node; at != nullptr; at = at->Parent) {
        path.push_back(at);
        auto root = std::find_if(mRootItems.begin(), mRootItems.end(),
                                 [at](const auto& item) { return &item->GetNode() == at; });
        if (root == mRootItems.end())
            continue;
        QModelIndex index = this->index(static_cast<int>(root - mRootItems.begin()), 0);
        for (auto step = path.rbegin() + 1; step != path.rend() && index.isValid(); ++step) {
            const auto& children = (*std::prev(step))->Children;
            auto found = std::find(children.begin(), children.end(), *step);
            if (found == children.end())
                return {};
            index = this->index(static_cast<int>(found - children.begin()), 0, index);
        }
        return index;
    }
    return {};
}

QString CallGraphTreeModel::DisplayText(const CallGraphTreeItem& item, int column) const
{
    const NodeFigures& figures = item.GetFigures();
    switch (column) {
    case 0:
        return QString::fromStdString(item.GetFunctionName());
    case 1: {
        const std::string& path = item.GetModulePath();
        const std::size_t slash = path.find_last_of("/\\");
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return QString::fromStdString(name.empty() ? path : name);
    }
    case 2:
        switch (mTimeDisplayMode) {
        case ECallGraphTimeDisplayMode::Milliseconds:
        case ECallGraphTimeDisplayMode::Seconds:
            return QString::fromStdString(
                FormatTimeValue(figures.Inclusive, mTimeDisplayMode == ECallGraphTimeDisplayMode::Seconds));
        case ECallGraphTimeDisplayMode::RelativePercentage:
            if (item.GetParent() == nullptr)
                return QStringLiteral("100%");
            return Percentage(Share(figures.Inclusive, item.GetParent()->GetFigures().Inclusive));
        case ECallGraphTimeDisplayMode::AbsolutePercentage:
            return Percentage(Share(figures.Inclusive, mTotalTime));
        }
        break;
    case 3: {
        const double exclusive = item.GetExclusiveTotal();
        switch (mTimeDisplayMode) {
        case ECallGraphTimeDisplayMode::Milliseconds:
        case ECallGraphTimeDisplayMode::Seconds:
            return QString::fromStdString(
                FormatTimeValue(exclusive, mTimeDisplayMode == ECallGraphTimeDisplayMode::Seconds));
        case ECallGraphTimeDisplayMode::RelativePercentage:
            return Percentage(Share(exclusive, figures.Inclusive));
        case ECallGraphTimeDisplayMode::AbsolutePercentage:
            return Percentage(Share(exclusive, mTotalTime));
        }
        break;
    }
    case 4:
        return QString::number(static_cast<qulonglong>(item.GetNode().GetSampleCount()));
    default:
        break;
    }
    return {};
}

QString CallGraphTreeModel::Tooltip(const CallGraphTreeItem& item, int column) const
{
    const CallGraphNode& node = item.GetNode();
    const NodeFigures& figures = item.GetFigures();
    if (figures.Inclusive == 0.0)
        return QString::fromLatin1(FoldedRecursionTooltip());
    switch (column) {
    case 0:
        if (node.GetFunction().GetKind() == ResolvedAddress::kKindPseudo)
            return QString::fromLatin1(UnrootedStacksTooltip(node.Depth != 0));
        return QString::fromStdString(item.GetFunctionName());
    case 1:
        return QString::fromStdString(item.GetModulePath());
    case 2:
        return QString::fromStdString(InclusiveTooltip(figures));
    case 3:
        return QString::fromStdString(ExclusiveTooltip(figures));
    case 4:
        return QString::number(static_cast<qulonglong>(node.GetSampleCount()));
    default:
        return {};
    }
}

QVariant CallGraphTreeModel::data(const QModelIndex& index, int role) const
{
    const CallGraphTreeItem* item = ItemOf(index);
    if (item == nullptr)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText(*item, index.column());
    case Qt::ToolTipRole:
        return Tooltip(*item, index.column());
    case Qt::TextAlignmentRole:
        return static_cast<int>(index.column() == 2 || index.column() == 3 ? Qt::AlignRight : Qt::AlignLeft);
    case Qt::ForegroundRole:
        if (item->GetFigures().Inclusive == 0.0)
            return QColor(Qt::gray);
        return {};
    case CallGraphRoles::Inclusive:
        return item->GetFigures().Inclusive;
    case CallGraphRoles::Exclusive:
        return item->GetExclusiveTotal();
    case CallGraphRoles::ModulePath:
        return QString::fromStdString(item->GetModulePath());
    case CallGraphRoles::Node:
    case CallGraphRoles::NodeAlias:
        return QVariant::fromValue(const_cast<void*>(static_cast<const void*>(&item->GetNode())));
    case CallGraphRoles::RootIcon:
        if (index.column() == 0 && mCustomRootNode != nullptr && &item->GetNode() == mCustomRootNode)
            return mRootIcon;
        return {};
    default:
        return {};
    }
}

QVariant CallGraphTreeModel::headerData(int section, Qt::Orientation, int role) const
{
    if (role == Qt::InitialSortOrderRole)
        return static_cast<int>(Qt::DescendingOrder);
    if (role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return {};
    if (section == 0)
        return mFirstColumnHeader;
    QString text = ColumnName(section);
    if (section == 2 || section == 3) {
        if (mTimeDisplayMode == ECallGraphTimeDisplayMode::Milliseconds)
            text += QStringLiteral(" (ms)");
        else if (mTimeDisplayMode == ECallGraphTimeDisplayMode::Seconds)
            text += QStringLiteral(" (s)");
    }
    return text;
}

void CallGraphTreeModel::SetTimeDisplayMode(ECallGraphTimeDisplayMode mode)
{
    if (mode == mTimeDisplayMode)
        return;
    emit layoutAboutToBeChanged();
    mTimeDisplayMode = mode;
    emit layoutChanged();
    emit headerDataChanged(Qt::Horizontal, 2, 3);
}

void CallGraphTreeModel::SetFirstColumnHeader(const QString& header)
{
    mFirstColumnHeader = header;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void CallGraphTreeModel::SetThemeType(EThemeType theme)
{
    mTheme = theme;
    mRootIcon = GetThemedIcon(kRootIconPath);
}

bool MergedCallGraphTreeModel::IsFolded(const CallGraphNode& node)
{
    for (const MergedSource& source : MergedCallGraphNode::From(node).Sources)
        if (source.State() == EFoldState::Folded)
            return true;
    return false;
}

bool MergedCallGraphTreeModel::IsRecursive(const CallGraphNode& node)
{
    return MergedCallGraphNode::From(node).Recursive;
}

void MergedCallGraphTreeModel::LoadIcons() const
{
    if (mRecursionIcon.isNull()) {
        mRecursionIcon = GetThemedIcon(kRecursionIconPath);
        mRecursionUnfoldIcon = GetThemedIcon(kRecursionUnfoldIconPath);
    }
}

void MergedCallGraphTreeModel::SetThemeType(EThemeType theme)
{
    CallGraphTreeModel::SetThemeType(theme);
    mRecursionIcon = QIcon();
    LoadIcons();
}

void MergedCallGraphTreeModel::SetHover(const QModelIndex& index, uint8_t part)
{
    const QModelIndex previous = mHoveredIndex;
    mHoveredIndex = index.isValid() ? index.sibling(index.row(), 0) : QModelIndex();
    mHoveredPart = index.isValid() ? part : static_cast<uint8_t>(None);
    if (previous.isValid() && previous != mHoveredIndex)
        emit dataChanged(previous, previous);
    if (mHoveredIndex.isValid())
        emit dataChanged(mHoveredIndex, mHoveredIndex);
}

QVariant MergedCallGraphTreeModel::data(const QModelIndex& index, int role) const
{
    const CallGraphTreeItem* item = ItemOf(index);
    if (item == nullptr)
        return {};
    const bool hovered = mHoveredIndex.isValid() && index.row() == mHoveredIndex.row() &&
                         index.internalPointer() == mHoveredIndex.internalPointer();
    switch (role) {
    case CallGraphRoles::RecursionIcon:
        LoadIcons();
        if (IsFolded(item->GetNode()))
            return mRecursionUnfoldIcon;
        if (IsRecursive(item->GetNode()))
            return mRecursionIcon;
        return {};
    case CallGraphRoles::HoverPart:
        return hovered ? static_cast<int>(mHoveredPart) : static_cast<int>(None);
    case Qt::ToolTipRole:
        if (hovered && mHoveredPart == Hovered) {
            if (IsFolded(item->GetNode()))
                return QStringLiteral("All nested recursive calls have been folded. Click to unfold");
            if (IsRecursive(item->GetNode()))
                return QStringLiteral(
                    "This is a recursive function. Click to fold all nested recursive calls into this node");
        }
        break;
    default:
        break;
    }
    return CallGraphTreeModel::data(index, role);
}

} // namespace Profiler
