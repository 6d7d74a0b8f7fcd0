#pragma once

#include "SymbolResolution/ResolveReport.h"

#include <QTreeWidget>
#include <QWidget>

class QPushButton;
class QTabWidget;

namespace Profiler {

/// What the resolve view shows for one module.
struct SymbolResolveInfo {
    std::vector<ResolveLogEntry> Log;
    EMissingResolveLog Missing = EMissingResolveLog::None;
    std::vector<ResolveProperty> Module;
};

/// A tree of the resolve view whose context menu offers what applies to the clicked cell:
/// opening and copying a path, copying a value, copying the selection.
class ResolveLogTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    /// Item data role of a cell that holds a path (true) rather than a value.
    static constexpr int kIsPathRole = Qt::UserRole + 1;

    explicit ResolveLogTreeWidget(QWidget* parent = nullptr);

    /// The selected rows as tab-separated lines.
    QString GetSelectionText() const;

signals:
    void OpenLocationRequested(QString path);

private:
    void ShowContextMenu(const QPoint& position);
};

/// The resolve log of one module: every step of its symbol search with the outcome and the
/// path or value involved, the module's debug properties, copying as aligned text and opening
/// the folders the log names.
class SymbolResolveWidget : public QWidget {
    Q_OBJECT
public:
    explicit SymbolResolveWidget(QWidget* parent = nullptr);

    void SetResolveInfo(SymbolResolveInfo info);
    /// Shows that the module's search is still running.
    void SetPending();
    const SymbolResolveInfo& GetResolveInfo() const { return mInfo; }
    /// Everything as aligned plain text, as "Copy all Resolve information" puts it on the clipboard.
    QString GetResolveText() const;

    /// Opens a folder (or the folder of a file) with the desktop; false when that failed.
    static bool OpenLocation(const QString& path);

private:
    ResolveLogTreeWidget* CurrentTree() const;
    QString CurrentPath() const;
    void UpdateButtons();
    void OpenWithMessage(const QString& path);
    void ShowDetails();

    SymbolResolveInfo mInfo;
    QTabWidget* mTabWidget;
    ResolveLogTreeWidget* mStepTree;
    ResolveLogTreeWidget* mAdvancedTree;
    QPushButton* mCopyToClipboard;
    QPushButton* mCopyLogToClipboard;
    QPushButton* mOpenPath;
    QPushButton* mShowDetails;
};

} // namespace Profiler
