#include "ProfilerLibUI/ModuleTreeModel.h"

#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/ResolveReport.h"

#include <QRegularExpression>

namespace Profiler {

QString GetModuleStatusText(EModuleStatus status)
{
    switch (status) {
    case EModuleStatus::Unresolved:
        return QStringLiteral("Unresolved");
    case EModuleStatus::Resolved:
        return QStringLiteral("Resolved");
    case EModuleStatus::NotAvailable:
        return QStringLiteral("N/A");
    case EModuleStatus::Unused:
        return QStringLiteral("Unused");
    case EModuleStatus::JITCompiled:
        return QStringLiteral("JIT Compiled");
    }
    return {};
}

EModuleStatus MapModuleStatus(NativeModule::EResolveStatus stored, const ModuleSymbols* symbols)
{
    if (stored == NativeModule::EResolveStatus::OldCapture)
        return EModuleStatus::NotAvailable;
    if (stored == NativeModule::EResolveStatus::Unused)
        return EModuleStatus::Unused;
    if (symbols != nullptr)
        return symbols->HasMatchingDebugInfo() ? EModuleStatus::Resolved : EModuleStatus::Unresolved;
    return stored == NativeModule::EResolveStatus::Resolved ? EModuleStatus::Resolved
                                                            : EModuleStatus::Unresolved;
}

QString DescribeModuleStatus(EModuleStatus status, const ModuleSymbols* symbols)
{
    switch (status) {
    case EModuleStatus::NotAvailable:
        return QStringLiteral("The capture holds no resolve information for this module.");
    case EModuleStatus::Unused:
        return QStringLiteral("No call stack used this module.");
    case EModuleStatus::JITCompiled:
        return QStringLiteral("Code compiled at run time.");
    case EModuleStatus::Resolved:
    case EModuleStatus::Unresolved:
        break;
    }
    if (symbols == nullptr)
        return QStringLiteral("Searching for debug information...");
    if (symbols->HasMatchingDebugInfo())
        return QStringLiteral("Debug information found %1.")
            .arg(QLatin1String(GetDebugInfoSourceText(symbols->GetDebugSource())));
    return QString::fromLatin1(GetModuleResolveStatusText(symbols->GetStatus())) + QLatin1Char('.');
}

ModuleTreeModel::ModuleTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

int ModuleTreeModel::AddRow(Row row, std::vector<int>& siblings)
{
    row.Position = static_cast<int>(siblings.size());
    const int number = static_cast<int>(mRows.size());
    mRows.push_back(std::move(row));
    siblings.push_back(number);
    return number;
}

void ModuleTreeModel::SetModules(const ModuleDatabase& modules)
{
    beginResetModel();
    mRows.clear();
    mTopRows.clear();
    mHasJITModules = false;
    modules.Read([this](const ModuleDatabase& database) {
        // Instances in the database's order, grouped by module; a module loaded once needs no
        // child row, its one instance is the module's own.
        auto addModule = [this](Row top, const std::vector<int>& instances) {
            if (instances.size() == 1)
                top.InstanceIndex = instances.front();
            const int number = AddRow(top, mTopRows);
            if (instances.size() < 2)
                return;
            std::vector<int> children;
            for (int instance : instances) {
                Row child = top;
                child.Type.clear();
                child.InstanceIndex = instance;
                child.Parent = number;
                AddRow(child, children);
            }
            mRows[number].Children = std::move(children);
        };
        const auto& natives = database.GetNativeModules();
        std::vector<std::vector<int>> nativeInstances(natives.size());
        const auto& loads = database.GetNativeModuleInstances();
        for (std::size_t i = 0; i < loads.size(); ++i)
            if (loads[i].mNativeModuleIndex < natives.size())
                nativeInstances[loads[i].mNativeModuleIndex].push_back(static_cast<int>(i));
        for (std::size_t i = 0; i < natives.size(); ++i) {
            if (natives[i] == nullptr)
                continue;
            Row row;
            row.Name = QString::fromStdString(natives[i]->mName);
            row.Type = QString::fromStdString(natives[i]->GetKindText());
            row.Status = MapModuleStatus(GetRecordedResolveStatus(*natives[i]), nullptr);
            row.StatusDescription = DescribeModuleStatus(row.Status, nullptr);
            row.ModulePointer = natives[i].get();
            row.ModuleIndex = static_cast<uint32_t>(i);
            addModule(std::move(row), nativeInstances[i]);
        }
        const auto& jits = database.GetJITModules();
        std::vector<std::vector<int>> jitInstances(jits.size());
        const auto& jitLoads = database.GetJITModuleInstances();
        for (std::size_t i = 0; i < jitLoads.size(); ++i)
            if (jitLoads[i].mJITModuleIndex < jits.size())
                jitInstances[jitLoads[i].mJITModuleIndex].push_back(static_cast<int>(i));
        for (std::size_t i = 0; i < jits.size(); ++i) {
            if (jits[i] == nullptr)
                continue;
            Row row;
            row.Name = QString::fromStdString(jits[i]->mName);
            row.Type = QString::fromStdString(jits[i]->GetKindText());
            row.Status = EModuleStatus::JITCompiled;
            row.StatusDescription = DescribeModuleStatus(row.Status, nullptr);
            row.ModulePointer = jits[i].get();
            row.IsJIT = true;
            row.ModuleIndex = static_cast<uint32_t>(i);
            addModule(std::move(row), jitInstances[i]);
            mHasJITModules = true;
        }
    });
    endResetModel();
}

void ModuleTreeModel::SetNativeStatus(uint32_t moduleIndex, EModuleStatus status, const QString& description)
{
    const QModelIndex top = FindNativeModule(moduleIndex);
    if (!top.isValid())
        return;
    Row& row = mRows[top.internalId()];
    row.Status = status;
    row.StatusDescription = description;
    for (int child : row.Children) {
        mRows[child].Status = status;
        mRows[child].StatusDescription = description;
    }
    emit dataChanged(index(top.row(), StatusColumn), index(top.row(), StatusValueColumn));
    if (!row.Children.empty()) {
        const int last = static_cast<int>(row.Children.size()) - 1;
        emit dataChanged(index(0, StatusColumn, top), index(last, StatusValueColumn, top));
    }
}

const ModuleTreeModel::Row* ModuleTreeModel::GetRow(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.internalId() >= mRows.size())
        return nullptr;
    return &mRows[index.internalId()];
}

QModelIndex ModuleTreeModel::FindNativeModule(uint32_t moduleIndex) const
{
    for (int number : mTopRows)
        if (!mRows[number].IsJIT && mRows[number].ModuleIndex == moduleIndex)
            return createIndex(mRows[number].Position, 0, static_cast<quintptr>(number));
    return {};
}

QModelIndex ModuleTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0))
        return {};
    const std::vector<int>& siblings = parent.isValid() ? mRows[parent.internalId()].Children : mTopRows;
    if (row >= static_cast<int>(siblings.size()))
        return {};
    return createIndex(row, column, static_cast<quintptr>(siblings[row]));
}

QModelIndex ModuleTreeModel::parent(const QModelIndex& child) const
{
    const Row* row = GetRow(child);
    if (row == nullptr || row->Parent < 0)
        return {};
    return createIndex(mRows[row->Parent].Position, 0, static_cast<quintptr>(row->Parent));
}

int ModuleTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(mTopRows.size());
    if (parent.column() != 0)
        return 0;
    const Row* row = GetRow(parent);
    return row ? static_cast<int>(row->Children.size()) : 0;
}

int ModuleTreeModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant ModuleTreeModel::data(const QModelIndex& index, int role) const
{
    const Row* row = GetRow(index);
    if (row == nullptr)
        return {};
    const bool child = row->Parent >= 0;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case ModuleColumn:
            return child ? QStringLiteral("%1 (%2)").arg(row->Name).arg(row->Position + 1) : row->Name;
        case TypeColumn:
            return child ? QString() : row->Type;
        case StatusColumn:
            return child ? QString() : GetModuleStatusText(row->Status);
        case PointerColumn:
            return QVariant::fromValue(reinterpret_cast<quintptr>(row->ModulePointer));
        case StatusValueColumn:
            return static_cast<int>(row->Status);
        default:
            return {};
        }
    }
    if (role == Qt::ToolTipRole && !child) {
        if (index.column() == StatusColumn)
            return row->StatusDescription;
        if (index.column() == ModuleColumn && !row->IsJIT)
            return QString::fromStdString(static_cast<const NativeModule*>(row->ModulePointer)->mPath);
    }
    return {};
}

QVariant ModuleTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ModuleColumn:
        return QStringLiteral("Module");
    case TypeColumn:
        return QStringLiteral("Module Type");
    case StatusColumn:
        return QStringLiteral("Resolve Status");
    default:
        return {};
    }
}

ModulesFilterProxyModel::ModulesFilterProxyModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    // A matching instance keeps its module visible.
    setRecursiveFilteringEnabled(true);
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

void ModulesFilterProxyModel::SetStatusFilter(int status)
{
    mStatusFilter = status;
    invalidateFilter();
}

void ModulesFilterProxyModel::SetFindText(const QString& text)
{
    QRegularExpression expression(text, QRegularExpression::CaseInsensitiveOption);
    if (!expression.isValid())
        expression =
            QRegularExpression(QRegularExpression::escape(text), QRegularExpression::CaseInsensitiveOption);
    mFind = expression;
    invalidateFilter();
}

bool ModulesFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QAbstractItemModel* model = sourceModel();
    const QString name =
        model->index(sourceRow, ModuleTreeModel::ModuleColumn, sourceParent).data().toString();
    if (!mFind.pattern().isEmpty() && !mFind.match(name).hasMatch())
        return false;
    return mStatusFilter == kAllModuleStatuses ||
           model->index(sourceRow, ModuleTreeModel::StatusValueColumn, sourceParent).data().toInt() ==
               mStatusFilter;
}

bool ModulesFilterProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    // Instances keep the order in which they were loaded.
    if (left.parent().isValid())
        return left.row() < right.row();
    return QSortFilterProxyModel::lessThan(left, right);
}

} // namespace Profiler
