#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"

#include "ProfilerLibUI/FunctionList/FunctionListFormat.h"
#include "System/FormatDuration.h"

#include <algorithm>

namespace Profiler {

namespace {

const char* const kHeaders[TopExclusiveViewModel::kColumnCount] = {"Function",  "Module",  "Inclusive",
                                                                   "Exclusive", "Samples", "Thread States"};

EFunctionListTimeUnit UnitOf(EFunctionListTimeDisplayMode mode)
{
    return static_cast<EFunctionListTimeUnit>(mode);
}

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

} // namespace

TopExclusiveViewModel::TopExclusiveViewModel(std::shared_ptr<const BuildListData> data, double totalTime,
                                             EFunctionListTimeDisplayMode mode, QObject* parent)
    : QAbstractItemModel(parent), mData(std::move(data)), mTotalTime(totalTime), mTimeDisplayMode(mode)
{
    if (mData) {
        mRows.reserve(mData->Items.size());
        for (std::size_t i = 0; i < mData->Items.size(); ++i) {
            const FunctionListItem& item = *mData->Items[i];
            FunctionListViewItem row;
            row.Item = &item;
            if (i < mData->DisplayRecords.size()) {
                const FunctionDisplayRecord& record = mData->DisplayRecords[i];
                row.Name = FromUtf8(record.FunctionName);
                const std::string_view file = GetModuleFileName(record.ModuleName);
                row.ModuleFile = FromUtf8(file);
                row.ModuleText = FromUtf8(GetModuleDisplayName(file));
            }
            // A function without a resolved name is known by its address.
            if (row.Name.isEmpty())
                row.Name = QString::asprintf("0x%llX",
                                             static_cast<unsigned long long>(item.Function.RelativeAddress));
            row.Inclusive = item.GetTotalInclusive();
            row.Exclusive = item.Exclusive;
            mRows.push_back(std::move(row));
        }
    }
    ShowAllRows();
}

void TopExclusiveViewModel::ShowAllRows()
{
    mVisibleRows.resize(mRows.size());
    for (uint32_t i = 0; i < mVisibleRows.size(); ++i)
        mVisibleRows[i] = i;
}

QModelIndex TopExclusiveViewModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || column >= kColumnCount ||
        static_cast<std::size_t>(row) >= mVisibleRows.size())
        return {};
    return createIndex(row, column, const_cast<FunctionListViewItem*>(&mRows[mVisibleRows[row]]));
}

QModelIndex TopExclusiveViewModel::parent(const QModelIndex&) const
{
    return {};
}

int TopExclusiveViewModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || parent.column() > 0)
        return 0;
    return static_cast<int>(mVisibleRows.size());
}

int TopExclusiveViewModel::columnCount(const QModelIndex&) const
{
    return kColumnCount;
}

QString TopExclusiveViewModel::GetDisplayText(const FunctionListViewItem& row, int column) const
{
    switch (column) {
    case 0:
        return row.Name;
    case 1:
        return row.ModuleText;
    case 2:
        return QString::fromStdString(
            FormatFunctionListTime(row.Inclusive, mTotalTime, UnitOf(mTimeDisplayMode)));
    case 3:
        return QString::fromStdString(
            FormatFunctionListTime(row.Exclusive, mTotalTime, UnitOf(mTimeDisplayMode)));
    case 4:
        return QString::number(static_cast<qulonglong>(row.Item->SampleCount));
    default:
        return {};
    }
}

QVariant TopExclusiveViewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this)
        return {};
    const FunctionListViewItem& row = *GetViewItem(index);
    const FunctionListItem& item = *row.Item;
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return column <= 4 ? QVariant(GetDisplayText(row, column)) : QVariant();
    case Qt::ToolTipRole:
        switch (column) {
        case 0:
            return item.Function.IsUnrootedStacks() ? QString::fromUtf8(GetUnrootedStacksTooltip())
                                                    : row.Name;
        case 2:
            return QString::fromStdString(
                FormatInclusiveTooltip(row.Inclusive, item.UnknownExecuting, item.UnknownWait));
        case 3:
            return QString::fromStdString(System::FormatDuration(row.Exclusive));
        case 4:
            return QString::number(static_cast<qulonglong>(item.SampleCount));
        default:
            return {};
        }
    case Qt::TextAlignmentRole:
        return static_cast<int>(column == 2 || column == 3 ? Qt::AlignRight | Qt::AlignVCenter
                                                           : Qt::AlignLeft | Qt::AlignVCenter);
    case kItemRole:
        return QVariant::fromValue(static_cast<void*>(const_cast<FunctionListItem*>(&item)));
    case kInclusiveRole:
        return row.Inclusive;
    case kExclusiveRole:
        return row.Exclusive;
    case kModuleFileRole:
        return row.ModuleFile;
    case kSortRole:
        switch (column) {
        case 0:
            return row.Name;
        case 1:
            return row.ModuleText;
        case 2:
            return row.Inclusive;
        case 3:
            return row.Exclusive;
        case 4:
            return static_cast<qulonglong>(item.SampleCount);
        default:
            return {};
        }
    default:
        // Every role from the state-times role on answers the per-state times, for the delegate.
        if (role >= kStateTimesRole)
            return QVariant::fromValue(static_cast<void*>(const_cast<double*>(item.Inclusive.data())));
        return {};
    }
}

QVariant TopExclusiveViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return {};
    if (role == Qt::InitialSortOrderRole)
        return static_cast<int>(Qt::DescendingOrder);
    if (role != Qt::DisplayRole)
        return {};
    QString text = QString::fromUtf8(kHeaders[section]);
    if (section == 2 || section == 3)
        text += QString::fromUtf8(GetFunctionListTimeHeaderSuffix(UnitOf(mTimeDisplayMode)));
    return text;
}

Qt::ItemFlags TopExclusiveViewModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void TopExclusiveViewModel::setFilter(const QString& text)
{
    beginResetModel();
    if (text.isEmpty()) {
        ShowAllRows();
    } else {
        mVisibleRows.clear();
        for (uint32_t i = 0; i < mRows.size(); ++i)
            if (mRows[i].Name.contains(text, Qt::CaseInsensitive))
                mVisibleRows.push_back(i);
    }
    endResetModel();
}

void TopExclusiveViewModel::resetFilter()
{
    beginResetModel();
    ShowAllRows();
    endResetModel();
}

uint32_t TopExclusiveViewModel::rowOfItem(uint32_t listRow) const
{
    const auto at = std::lower_bound(mVisibleRows.begin(), mVisibleRows.end(), listRow);
    if (at == mVisibleRows.end() || *at != listRow)
        return ~0u;
    return static_cast<uint32_t>(at - mVisibleRows.begin());
}

uint32_t TopExclusiveViewModel::FindListRow(const ResolvedAddress& function) const
{
    for (uint32_t i = 0; i < mRows.size(); ++i)
        if (mRows[i].Item->Function == function)
            return i;
    return ~0u;
}

TopExclusiveSortProxyModel::TopExclusiveSortProxyModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
    setSortRole(TopExclusiveViewModel::kSortRole);
}

bool TopExclusiveSortProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const FunctionListViewItem* a = TopExclusiveViewModel::GetViewItem(left);
    const FunctionListViewItem* b = TopExclusiveViewModel::GetViewItem(right);
    if (a == nullptr || b == nullptr || left.model() != right.model())
        return QSortFilterProxyModel::lessThan(left, right);
    switch (left.column()) {
    case 0:
        return a->Name.compare(b->Name, Qt::CaseInsensitive) < 0;
    case 1:
        return a->ModuleText.compare(b->ModuleText, Qt::CaseInsensitive) < 0;
    case 2:
        return a->Inclusive < b->Inclusive;
    case 3:
        return a->Exclusive < b->Exclusive;
    case 4:
        return a->Item->SampleCount < b->Item->SampleCount;
    default:
        return false;
    }
}

} // namespace Profiler
