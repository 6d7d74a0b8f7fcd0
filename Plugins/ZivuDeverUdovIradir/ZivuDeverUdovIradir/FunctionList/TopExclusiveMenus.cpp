// The context menus and the copy commands of the function list panel: what the user can do with
// the selected rows.

#include "CallGraphModel/CallGraphNode.h"
#include "PluginApi/MessageTypes.h"
#include "ProfilerLibUI/FunctionList/TextTable.h"
#include "QtWidgets/ScrollableTreeView.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"
#include "ZivuDeverUdovIradir/FunctionList/ButterflyTreeModel.h"
#include "ZivuDeverUdovIradir/FunctionList/TopExclusiveViewModel.h"
#include "ZivuDeverUdovIradir/TopExclusiveWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSortFilterProxyModel>

namespace Profiler {

namespace {

const QString kCopyIcon = QStringLiteral(":/ZivuDeverUdovIradir/Resources/CopyToClipboard_256x.png");
const QString kCallGraphIcon = QStringLiteral(":/ZivuDeverUdovIradir/Resources/callgraph.png");
const QString kStatisticsIcon = QStringLiteral(":/ZivuDeverUdovIradir/Resources/FunctionStatistics256.png");
const QString kSymbolIcon = QStringLiteral(":/ZivuDeverUdovIradir/Resources/module_2_256x.png");
const QString kExpandIcon = QStringLiteral(":/ZivuDeverUdovIradir/Resources/expand_children.png");
const QString kListIcon = QStringLiteral(":/ZivuDeverUdovIradir/Resources/Flat_view_256.png");

/// Symbol information exists only for code that a module's symbols describe.
bool HasSymbolInfo(const ResolvedAddress& function)
{
    return !function.IsUnrootedStacks() && !function.HasInstrumentationFlag();
}

} // namespace

QMenu* TopExclusiveWidget::CreateListContextMenu()
{
    const std::vector<uint32_t> rows = GetSelectedListRows();
    if (rows.empty() || mListModel == nullptr)
        return nullptr;
    auto* menu = new QMenu(this);
    menu->addAction(QIcon(kCopyIcon), QStringLiteral("Copy"), this, [this] { CopyText(GetSelectionText()); });
    const FunctionListViewItem& first = mListModel->GetRows()[rows.front()];
    const ResolvedAddress function = first.Item->Function;
    if (rows.size() == 1) {
        QMenu* advanced = menu->addMenu(QStringLiteral("Copy Advanced"));
        const std::pair<const char*, int> entries[] = {
            {"Copy Name", 0}, {"Copy Module", 1}, {"Copy Inclusive Time", 2}, {"Copy Exclusive Time", 3}};
        for (const auto& [title, column] : entries) {
            if (column == 0 && function.IsUnrootedStacks())
                continue;
            const uint32_t row = rows.front();
            advanced->addAction(QString::fromUtf8(title), this, [this, row, column = column] {
                if (mListModel)
                    CopyText(mListModel->GetDisplayText(mListModel->GetRows()[row], column));
            });
        }
    }
    menu->addSeparator();
    menu->addAction(QIcon(kCallGraphIcon), QStringLiteral("Find in Call Graph"), this,
                    [this, function] { emit FindInCallGraphRequested(function); });
    menu->addAction(QIcon(kStatisticsIcon), QStringLiteral("View Statistics"), this, [this] {
        if (MessageListenerList* listeners = mView.GetListenerList())
            SendMessage(*listeners, mView.listenerId,
                        Message(MessageTypes::ShowFunctionStatsFromFunctionList()));
    });
    if (HasSymbolInfo(function)) {
        menu->addSeparator();
        menu->addAction(QIcon(kSymbolIcon), QStringLiteral("Show Symbol Info"), this,
                        [this, function] { emit ShowSymbolInfoRequested(function); });
    }
    return menu;
}

QMenu* TopExclusiveWidget::CreateButterflyContextMenu(QtWidgets::ScrollableTreeView* pane)
{
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(pane->model());
    auto* model = proxy ? qobject_cast<ButterflyTreeModel*>(proxy->sourceModel()) : nullptr;
    if (model == nullptr || !pane->selectionModel()->hasSelection())
        return nullptr;
    const QModelIndexList selected = pane->selectionModel()->selectedRows(0);
    const QModelIndex current = selected.front();
    const CallGraphNode* node = ButterflyTreeModel::GetNode(proxy->mapToSource(current));
    if (node == nullptr)
        return nullptr;
    auto* menu = new QMenu(this);
    menu->addAction(QIcon(kCopyIcon), QStringLiteral("Copy"), this,
                    [this, pane] { CopyText(GetPaneSelectionText(pane)); });
    QMenu* advanced = menu->addMenu(QStringLiteral("Copy Advanced"));
    const std::pair<const char*, int> entries[] = {
        {"Copy Name", 0}, {"Copy Module", 1}, {"Copy Inclusive Time", 2}, {"Copy Exclusive Time", 3}};
    for (const auto& [title, column] : entries)
        advanced->addAction(QString::fromUtf8(title), this, [this, model, node, column = column] {
            CopyText(model->GetDisplayText(*node, column));
        });
    advanced->addAction(QStringLiteral("Copy Callstack"), this, [this, model, node] {
        // Outermost first, down to the clicked row; the graph's root is no frame.
        QStringList names;
        for (const CallGraphNode* at = node; at && !at->IsRoot(); at = at->Parent)
            names.prepend(model->GetFunctionName(*at));
        CopyText(names.join(QLatin1Char('\n')));
    });
    menu->addAction(QIcon(kExpandIcon), QStringLiteral("Expand all children"), this, [pane, selected] {
        for (const QModelIndex& index : selected) {
            pane->expand(index);
            for (int row = 0; row < pane->model()->rowCount(index); ++row)
                pane->expand(pane->model()->index(row, 0, index));
        }
    });
    menu->addAction(QIcon(kListIcon), QStringLiteral("Select in Function List"), this,
                    [this, pane, current] { SelectFromButterfly(pane, current); });
    const ResolvedAddress function = node->GetFunction();
    if (HasSymbolInfo(function))
        menu->addAction(QIcon(kSymbolIcon), QStringLiteral("Show Symbol Info"), this,
                        [this, function] { emit ShowSymbolInfoRequested(function); });
    return menu;
}

void TopExclusiveWidget::CopyText(const QString& text)
{
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

QString TopExclusiveWidget::GetSelectionText() const
{
    if (mListModel == nullptr)
        return {};
    std::vector<int> columns;
    for (int column = 0; column < TopExclusiveViewModel::kColumnCount - 1; ++column)
        if (mFlatListTreeView->GetVisibleColumns().contains(column))
            columns.push_back(column);
    std::vector<std::string> headers;
    for (int column : columns)
        headers.push_back(
            mListModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
    std::vector<std::vector<std::string>> cells;
    for (const QModelIndex& index : SelectedRows(mFlatListTreeView)) {
        const FunctionListViewItem* item = TopExclusiveViewModel::GetViewItem(index);
        std::vector<std::string> row;
        for (int column : columns)
            row.push_back(mListModel->GetDisplayText(*item, column).toStdString());
        cells.push_back(std::move(row));
    }
    if (cells.empty())
        return {};
    return QString::fromStdString(FormatTextTable(headers, cells));
}

QString TopExclusiveWidget::GetPaneSelectionText(QtWidgets::ScrollableTreeView* pane) const
{
    auto* proxy = qobject_cast<QSortFilterProxyModel*>(pane->model());
    auto* model = proxy ? qobject_cast<ButterflyTreeModel*>(proxy->sourceModel()) : nullptr;
    if (model == nullptr)
        return {};
    std::vector<int> columns;
    for (int column = 0; column < TopExclusiveViewModel::kColumnCount - 1; ++column)
        if (pane->GetVisibleColumns().contains(column))
            columns.push_back(column);
    std::vector<std::string> headers;
    for (int column : columns)
        headers.push_back(
            model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
    const QModelIndexList rows = SelectedRows(pane);
    std::vector<std::vector<std::string>> cells;
    for (const QModelIndex& index : rows) {
        // A row inside the subtree of another selected row is indented one level per such row.
        int level = 0;
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
            if (rows.contains(up))
                ++level;
        const CallGraphNode* node = ButterflyTreeModel::GetNode(proxy->mapToSource(index));
        std::vector<std::string> row;
        for (int column : columns) {
            std::string text = model->GetDisplayText(*node, column).toStdString();
            if (column == 0)
                text.insert(0, static_cast<std::size_t>(level) * 3, ' ');
            row.push_back(std::move(text));
        }
        cells.push_back(std::move(row));
    }
    if (cells.empty())
        return {};
    return QString::fromStdString(FormatTextTable(headers, cells));
}

} // namespace Profiler
