#pragma once

#include "CallGraphModel/BuildListJob.h"
#include "ZivuDeverUdovIradir/CallGraphDisplayOptions.h"

#include <QAbstractItemModel>
#include <QString>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace Profiler {

/// One row of the function list: the item and what is shown of it. The texts point into the
/// model's list data; a name becomes a QString only when a view shows it.
struct FunctionListViewItem {
    const FunctionListItem* Item = nullptr; // not owned; the model's list data holds it
    std::string_view Name;                  ///< UTF-8; empty when the function has no name
    std::string_view ModuleFile;            ///< the file-name part of the module path
    QString ModuleText;      ///< the module file without its extension, as the Module column shows it
    uint32_t ModuleRank = 0; ///< the place of ModuleText in module order, ignoring case
    double Inclusive = 0.0;
    double Exclusive = 0.0;

    /// The display name: the resolved name, or the address when there is none.
    QString GetName() const;
};

/// What sorting and finding by name compare, made once per list.
struct FunctionNameKeys {
    std::vector<QString> Folded; ///< per item: its case-folded display name
    std::vector<uint32_t> Rank;  ///< per item: its place in name order; equal names share one
};

/// The flat model of the function list over one finished list. It shares the immutable list
/// data and never changes it; a find filter narrows the rows that it shows, and it sorts itself
/// by comparing the rows' own fields: a proxy going through item data for every comparison
/// takes several times the 100 ms that showing 100,000 functions may take.
class TopExclusiveViewModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 6;
    // Roles beyond the standard ones, shared with the delegate and the widget.
    static constexpr int kItemRole = Qt::UserRole;           ///< const FunctionListItem*
    static constexpr int kInclusiveRole = Qt::UserRole + 1;  ///< double
    static constexpr int kExclusiveRole = Qt::UserRole + 2;  ///< double
    static constexpr int kModuleFileRole = Qt::UserRole + 3; ///< QString
    static constexpr int kStateTimesRole = Qt::UserRole + 4; ///< void* to the eight inclusive times
    static constexpr int kSortRole = Qt::UserRole + 100;

    /// `totalTime` is the 100 % of the percentage mode (the graph's time over every thread).
    /// `nameKeys` are MakeNameKeys(*data) when the caller made them off the UI thread (ordering
    /// 100,000 names costs more than showing them); empty: the model makes them when first
    /// sorted or found by name.
    TopExclusiveViewModel(std::shared_ptr<const BuildListData> data, double totalTime,
                          EFunctionListTimeDisplayMode mode, FunctionNameKeys nameKeys = {},
                          QObject* parent = nullptr);

    /// The name keys of the items of `data`, in item order. Safe on any thread.
    static FunctionNameKeys MakeNameKeys(const BuildListData& data);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Orders the visible rows by `column` (ties keep the list's order); persistent indexes follow.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int GetSortColumn() const { return mSortColumn; }
    Qt::SortOrder GetSortOrder() const { return mSortOrder; }

    /// Shows only the rows whose name contains `text`, ignoring case; empty shows every row.
    void setFilter(const QString& text);
    void resetFilter();
    /// The caller emits layoutChanged so that views repaint the time cells.
    void setTimeDisplayMode(EFunctionListTimeDisplayMode mode) { mTimeDisplayMode = mode; }
    EFunctionListTimeDisplayMode GetTimeDisplayMode() const { return mTimeDisplayMode; }

    /// The row that shows row `listRow` of the full list, or ~0u when it is filtered out.
    uint32_t rowOfItem(uint32_t listRow) const;
    /// The first row of the full list whose function is `function`, or ~0u.
    uint32_t FindListRow(const ResolvedAddress& function) const;

    double GetTotalTime() const { return mTotalTime; }
    const std::vector<FunctionListViewItem>& GetRows() const { return mRows; }
    const std::vector<uint32_t>& GetVisibleRows() const { return mVisibleRows; }
    static const FunctionListViewItem* GetViewItem(const QModelIndex& index)
    {
        return static_cast<const FunctionListViewItem*>(index.internalPointer());
    }
    /// The text that column `column` of `row` shows.
    QString GetDisplayText(const FunctionListViewItem& row, int column) const;

private:
    void ShowAllRows();
    /// Sorts mVisibleRows by the current sort column and indexes where each list row is shown.
    void OrderVisibleRows();
    const FunctionNameKeys& GetNameKeys();

    std::shared_ptr<const BuildListData> mData;
    std::vector<FunctionListViewItem> mRows;
    double mTotalTime;
    std::vector<uint32_t> mVisibleRows; ///< the rows of mRows that are shown, in shown order
    std::vector<uint32_t> mShownRowOf;  ///< per row of mRows: where it is shown, or ~0u
    FunctionNameKeys mNameKeys;         ///< per row of mRows; given, or made when first needed
    int mSortColumn = -1;               ///< -1: the list's own order
    Qt::SortOrder mSortOrder = Qt::AscendingOrder;
    EFunctionListTimeDisplayMode mTimeDisplayMode;
};

} // namespace Profiler
