#pragma once

#include "CaptureModel/Module.h"

#include <QAbstractItemModel>
#include <QSortFilterProxyModel>

#include <cstdint>
#include <vector>

namespace Profiler {

class ModuleDatabase;
class ModuleSymbols;

/// A module's resolve status as the modules view shows and filters it.
enum class EModuleStatus : int {
    Unresolved = 0,
    Resolved = 1,
    NotAvailable = 2,
    Unused = 3,
    JITCompiled = 4
};
/// The status filter value that shows every module.
inline constexpr int kAllModuleStatuses = 5;

/// "Unresolved", "Resolved", "N/A", "Unused", "JIT Compiled".
QString GetModuleStatusText(EModuleStatus status);

/// The status of a native module: the capture's own mark, and once its symbol search ran (a
/// non-null `symbols`), Resolved only when debug information of its very build was found.
EModuleStatus MapModuleStatus(NativeModule::EResolveStatus stored, const ModuleSymbols* symbols);

/// One sentence on where the symbol search ended ("Debug information found by build id"), for
/// the status's tooltip and the details; `symbols` null while the search is still running.
QString DescribeModuleStatus(EModuleStatus status, const ModuleSymbols* symbols);

/// The modules of a capture: one top-level row per module with its type and status, and one
/// child row per instance for modules loaded more than once (in several processes, say).
class ModuleTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum EColumn : int {
        ModuleColumn = 0,
        TypeColumn = 1,
        StatusColumn = 2,
        PointerColumn = 3,     ///< the `const Module*` of the row, for the view itself
        StatusValueColumn = 4, ///< the status as an integer, for filtering
        ColumnCount = 5,
    };

    struct Row {
        QString Name;
        QString Type;
        EModuleStatus Status = EModuleStatus::Unresolved;
        QString StatusDescription;
        const Module* ModulePointer = nullptr;
        bool IsJIT = false;
        uint32_t ModuleIndex = 0;  ///< into the database's native or JIT modules
        int InstanceIndex = -1;    ///< into the database's native or JIT instances; -1 when not one
        int Parent = -1;           ///< row number in the model's list; -1 for top-level rows
        int Position = 0;          ///< among its siblings
        std::vector<int> Children; ///< row numbers
    };

    explicit ModuleTreeModel(QObject* parent = nullptr);

    /// Replaces the rows by the database's modules (read under its lock).
    void SetModules(const ModuleDatabase& modules);
    /// Sets a native module's status after its symbol search.
    void SetNativeStatus(uint32_t moduleIndex, EModuleStatus status, const QString& description);

    /// The row of an index of this model; null for the invalid index.
    const Row* GetRow(const QModelIndex& index) const;
    /// The top-level index of a native module; invalid when the capture has no such module.
    QModelIndex FindNativeModule(uint32_t moduleIndex) const;
    bool HasJITModules() const { return mHasJITModules; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    int AddRow(Row row, std::vector<int>& siblings);

    std::vector<Row> mRows;
    std::vector<int> mTopRows;
    bool mHasJITModules = false;
};

/// Shows the rows whose name matches the find text (a regular expression, case-insensitive; a
/// text that is no valid expression is taken literally) and whose status is the filter's.
class ModulesFilterProxyModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ModulesFilterProxyModel(QObject* parent = nullptr);

    void SetStatusFilter(int status);
    int GetStatusFilter() const { return mStatusFilter; }
    void SetFindText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    int mStatusFilter = kAllModuleStatuses;
    QRegularExpression mFind;
};

} // namespace Profiler
