#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"

#include "ProfilerLibUI/FunctionList/FunctionListFormat.h"
#include "System/FormatDuration.h"

#include <algorithm>
#include <unordered_map>

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

/// Compares without regard to case, folding ASCII through a table: names are mostly ASCII, and
/// sorting 100,000 of them makes almost two million comparisons.
int CompareIgnoringCase(const QString& a, const QString& b)
{
    const QChar* left = a.constData();
    const QChar* right = b.constData();
    if (left == right)
        return 0; // rows of one module share its text
    const int length = std::min(a.size(), b.size());
    for (int i = 0; i < length; ++i) {
        char16_t x = left[i].unicode();
        char16_t y = right[i].unicode();
        if (x == y)
            continue;
        x = x < 128 ? static_cast<char16_t>(x >= 'A' && x <= 'Z' ? x + 32 : x) : QChar::toCaseFolded(x);
        y = y < 128 ? static_cast<char16_t>(y >= 'A' && y <= 'Z' ? y + 32 : y) : QChar::toCaseFolded(y);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

TopExclusiveViewModel::TopExclusiveViewModel(std::shared_ptr<const BuildListData> data, double totalTime,
                                             EFunctionListTimeDisplayMode mode, FunctionNameKeys nameKeys,
                                             QObject* parent)
    : QAbstractItemModel(parent), mData(std::move(data)), mTotalTime(totalTime),
      mNameKeys(std::move(nameKeys)), mTimeDisplayMode(mode)
{
    if (mData) {
        mRows.reserve(mData->Items.size());
        // A capture has few modules: their texts are made once each and shared by the rows, and
        // ordered once, so that sorting by module compares numbers. Index 0: no module.
        std::vector<QString> moduleTexts(1);
        std::unordered_map<std::string_view, std::pair<std::string_view, uint32_t>> modules;
        for (std::size_t i = 0; i < mData->Items.size(); ++i) {
            const FunctionListItem& item = *mData->Items[i];
            FunctionListViewItem row;
            row.Item = &item;
            if (i < mData->DisplayRecords.size()) {
                const FunctionDisplayRecord& record = mData->DisplayRecords[i];
                row.Name = record.FunctionName;
                auto [module, inserted] = modules.try_emplace(record.ModuleName);
                if (inserted) {
                    const std::string_view file = GetModuleFileName(record.ModuleName);
                    module->second = {file, static_cast<uint32_t>(moduleTexts.size())};
                    moduleTexts.push_back(FromUtf8(GetModuleDisplayName(file)));
                }
                row.ModuleFile = module->second.first;
                row.ModuleRank = module->second.second;
                row.ModuleText = moduleTexts[row.ModuleRank];
            }
            row.Inclusive = item.GetTotalInclusive();
            row.Exclusive = item.Exclusive;
            mRows.push_back(std::move(row));
        }
        std::vector<uint32_t> order(moduleTexts.size());
        for (uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&moduleTexts](uint32_t a, uint32_t b) {
            return CompareIgnoringCase(moduleTexts[a], moduleTexts[b]) < 0;
        });
        std::vector<uint32_t> rankOf(moduleTexts.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            rankOf[order[i]] =
                i > 0 && CompareIgnoringCase(moduleTexts[order[i]], moduleTexts[order[i - 1]]) == 0
                    ? rankOf[order[i - 1]]
                    : static_cast<uint32_t>(i);
        for (FunctionListViewItem& row : mRows)
            row.ModuleRank = rankOf[row.ModuleRank];
    }
    ShowAllRows();
}

namespace {

QString MakeDisplayName(std::string_view name, const ResolvedAddress& function)
{
    // A function without a resolved name is known by its address.
    if (name.empty())
        return QString::asprintf("0x%llX", static_cast<unsigned long long>(function.RelativeAddress));
    return FromUtf8(name);
}

} // namespace

QString FunctionListViewItem::GetName() const
{
    return MakeDisplayName(Name, Item->Function);
}

FunctionNameKeys TopExclusiveViewModel::MakeNameKeys(const BuildListData& data)
{
    FunctionNameKeys keys;
    const std::size_t count = data.Items.size();
    keys.Folded.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view name =
            i < data.DisplayRecords.size() ? std::string_view(data.DisplayRecords[i].FunctionName) : "";
        keys.Folded.push_back(MakeDisplayName(name, data.Items[i]->Function).toCaseFolded());
    }
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&keys](uint32_t a, uint32_t b) { return keys.Folded[a].compare(keys.Folded[b]) < 0; });
    keys.Rank.resize(count);
    uint32_t rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys.Folded[order[i]] != keys.Folded[order[i - 1]])
            ++rank;
        keys.Rank[order[i]] = rank;
    }
    return keys;
}

const FunctionNameKeys& TopExclusiveViewModel::GetNameKeys()
{
    if (mNameKeys.Folded.size() != mRows.size() || mNameKeys.Rank.size() != mRows.size())
        mNameKeys = mData ? MakeNameKeys(*mData) : FunctionNameKeys{};
    return mNameKeys;
}

void TopExclusiveViewModel::ShowAllRows()
{
    mVisibleRows.resize(mRows.size());
    for (uint32_t i = 0; i < mVisibleRows.size(); ++i)
        mVisibleRows[i] = i;
    OrderVisibleRows();
}

void TopExclusiveViewModel::OrderVisibleRows()
{
    const std::vector<FunctionListViewItem>& rows = mRows;
    const bool descending = mSortOrder == Qt::DescendingOrder;
    auto order = [this, descending](auto compare) {
        // Equal rows keep the list's order in either direction.
        std::sort(mVisibleRows.begin(), mVisibleRows.end(), [&compare, descending](uint32_t a, uint32_t b) {
            const int result = compare(a, b);
            if (result != 0)
                return descending ? result > 0 : result < 0;
            return a < b;
        });
    };
    auto threeWay = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (mSortColumn) {
    case 0:
        // Names share long prefixes ("std::..."): they are ordered once per list, and each sort
        // compares their ranks.
        order([&threeWay, &rank = GetNameKeys().Rank](uint32_t a, uint32_t b) {
            return threeWay(rank[a], rank[b]);
        });
        break;
    case 1:
        order([&](uint32_t a, uint32_t b) { return threeWay(rows[a].ModuleRank, rows[b].ModuleRank); });
        break;
    case 2:
        order([&](uint32_t a, uint32_t b) { return threeWay(rows[a].Inclusive, rows[b].Inclusive); });
        break;
    case 3:
        order([&](uint32_t a, uint32_t b) { return threeWay(rows[a].Exclusive, rows[b].Exclusive); });
        break;
    case 4:
        order([&](uint32_t a, uint32_t b) {
            return threeWay(rows[a].Item->SampleCount, rows[b].Item->SampleCount);
        });
        break;
    default:
        std::sort(mVisibleRows.begin(), mVisibleRows.end());
        break;
    }
    mShownRowOf.assign(mRows.size(), ~0u);
    for (uint32_t shown = 0; shown < mVisibleRows.size(); ++shown)
        mShownRowOf[mVisibleRows[shown]] = shown;
}

void TopExclusiveViewModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column > 4)
        column = -1; // the state bar has no order of its own
    if (column == mSortColumn && order == mSortOrder)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    mSortColumn = column;
    mSortOrder = order;
    OrderVisibleRows();
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& index : persistent) {
        const auto listRow = static_cast<uint32_t>(GetViewItem(index) - mRows.data());
        moved.push_back(
            createIndex(static_cast<int>(mShownRowOf[listRow]), index.column(), index.internalPointer()));
    }
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
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
        return row.GetName();
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
                                                    : row.GetName();
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
        return FromUtf8(row.ModuleFile);
    case kSortRole:
        switch (column) {
        case 0:
            return row.GetName();
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
        const std::vector<QString>& names = GetNameKeys().Folded;
        const QString folded = text.toCaseFolded();
        for (uint32_t i = 0; i < mRows.size(); ++i)
            if (names[i].contains(folded))
                mVisibleRows.push_back(i);
        OrderVisibleRows();
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
    return listRow < mShownRowOf.size() ? mShownRowOf[listRow] : ~0u;
}

uint32_t TopExclusiveViewModel::FindListRow(const ResolvedAddress& function) const
{
    for (uint32_t i = 0; i < mRows.size(); ++i)
        if (mRows[i].Item->Function == function)
            return i;
    return ~0u;
}

} // namespace Profiler
