#pragma once

#include "CallGraphModel/CallGraph.h"
#include "ProfilerLibUI/CallGraph/CallGraphFigures.h"
#include "Theming/ThemeType.h"
#include "ZivuDeverUdovIradir/CallGraphDisplayOptions.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <memory>
#include <string>
#include <vector>

namespace Profiler {

class FunctionNameCache;

/// Item data roles that the call graph models and their proxies share.
namespace CallGraphRoles {
enum : int {
    Inclusive = Qt::UserRole + 1,   ///< double: sort key of "Inclusive", scale of the state bar
    Exclusive = Qt::UserRole + 2,   ///< double: exclusive plus self instrumentation time
    ModulePath = Qt::UserRole + 3,  ///< string
    Node = Qt::UserRole + 4,        ///< void*: the graph node
    NodeAlias = Qt::UserRole + 100, ///< void*: the same node, for views that read this role
    RootIcon = Qt::UserRole + 101,  ///< icon of the custom root row (column 0)
    RecursionIcon = Qt::UserRole + 200,
    HoverPart = Qt::UserRole + 201,
};
}

/// One shown node. Child items are created when the view first asks for them, so the
/// children of collapsed rows are never wrapped.
class CallGraphTreeItem {
public:
    CallGraphTreeItem(const CallGraphNode& node, double timeScale, FunctionNameCache& names,
                      CallGraphTreeItem* parent, int row);

    const CallGraphNode& GetNode() const { return mNode; }
    CallGraphTreeItem* GetParent() const { return mParent; }
    CallGraphTreeItem* GetRootItem() { return mParent ? mParent->GetRootItem() : this; }
    int GetRow() const { return mRow; }
    int GetChildCount() const { return static_cast<int>(mChildItems.size()); }
    /// The item of child `row`, created on first use.
    CallGraphTreeItem* GetChild(int row, double timeScale, FunctionNameCache& names);
    /// The child's item when it exists already.
    CallGraphTreeItem* PeekChild(int row) const { return mChildItems[row].get(); }

    const std::string& GetFunctionName() const { return mFunctionName; }
    const std::string& GetModulePath() const { return mModulePath; }
    const NodeFigures& GetFigures() const { return mFigures; }
    double GetExclusiveTotal() const { return mFigures.Exclusive + mFigures.SelfInstrumentation; }

private:
    const CallGraphNode& mNode; // not owned; the graph outlives the model
    CallGraphTreeItem* mParent; // not owned; null for top-level items
    int mRow;
    std::vector<std::unique_ptr<CallGraphTreeItem>> mChildItems;
    std::string mFunctionName;
    std::string mModulePath;
    NodeFigures mFigures;
};

/// One call graph as a six-column tree: function, module, inclusive, exclusive, samples and
/// thread states. The model keeps the graph alive through its shared pointer and never changes
/// it; a new graph gets a new model.
class CallGraphTreeModel : public QAbstractItemModel {
public:
    static constexpr int kColumnCount = 6;

    CallGraphTreeModel(std::shared_ptr<const CallGraph> graph, FunctionNameCache& names, EThemeType theme,
                       const std::vector<const CallGraphNode*>& roots, ECallGraphTimeDisplayMode mode,
                       double timeScale, QObject* parent = nullptr);
    ~CallGraphTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    ECallGraphTimeDisplayMode GetTimeDisplayMode() const { return mTimeDisplayMode; }
    /// Changes how times read; views hear of it as a layout change.
    void SetTimeDisplayMode(ECallGraphTimeDisplayMode mode);
    void SetFirstColumnHeader(const QString& header);
    const CallGraphNode* GetCustomRootNode() const { return mCustomRootNode; }
    void SetCustomRootNode(const CallGraphNode* node) { mCustomRootNode = node; }
    /// Re-reads the icons and colours after a theme change.
    virtual void SetThemeType(EThemeType theme);
    EThemeType GetThemeType() const { return mTheme; }

    double GetTotalTime() const { return mTotalTime; }
    double GetTimeScale() const { return mTimeScale; }
    const std::shared_ptr<const CallGraph>& GetGraph() const { return mGraph; }
    std::vector<const CallGraphNode*> GetRootNodes() const;
    static const CallGraphNode* NodeOf(const QModelIndex& index);
    CallGraphTreeItem* ItemOf(const QModelIndex& index) const;
    /// The index (column 0) of `node`, creating the items on its path; invalid when the node is
    /// not below one of the model's roots.
    QModelIndex IndexOfNode(const CallGraphNode* node) const;
    /// The text of a cell, as shown.
    QString DisplayText(const CallGraphTreeItem& item, int column) const;
    static QString ColumnName(int column);

protected:
    QString Tooltip(const CallGraphTreeItem& item, int column) const;

    std::shared_ptr<const CallGraph> mGraph;
    FunctionNameCache& mNames; // not owned; the widget's, outlives the model
    double mTimeScale;
    double mTotalTime = 0.0;
    EThemeType mTheme;
    ECallGraphTimeDisplayMode mTimeDisplayMode;
    std::vector<std::unique_ptr<CallGraphTreeItem>> mRootItems;
    QString mFirstColumnHeader;
    const CallGraphNode* mCustomRootNode = nullptr; // not owned
    QIcon mRootIcon;
};

/// The tree of a merged graph: rows of recursive functions carry an icon that folds or
/// unfolds their recursion.
class MergedCallGraphTreeModel final : public CallGraphTreeModel {
public:
    enum EHoverPart : uint8_t { None = 0, Hovered = 1, Pressed = 2 };

    using CallGraphTreeModel::CallGraphTreeModel;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    void SetThemeType(EThemeType theme) override;
    /// The icon under the mouse; an invalid index clears the hover.
    void SetHover(const QModelIndex& index, uint8_t part);
    const QPersistentModelIndex& GetHoveredIndex() const { return mHoveredIndex; }
    uint8_t GetHoveredPart() const { return mHoveredPart; }

    /// Whether the merged node holds a folded recursion (one of its folded sources is folded).
    static bool IsFolded(const CallGraphNode& node);
    static bool IsRecursive(const CallGraphNode& node);

private:
    void LoadIcons() const;

    QPersistentModelIndex mHoveredIndex;
    uint8_t mHoveredPart = None;
    mutable QIcon mRecursionIcon;
    mutable QIcon mRecursionUnfoldIcon;
};

} // namespace Profiler
