#pragma once

#include "SymbolResolution/SymbolLocationSettings.h"

#include <QDialog>

#include <filesystem>

class QListWidget;

namespace Profiler {

/// Edits the user's symbol locations: the local folders searched for images and debug files,
/// and the debug files picked by hand. Every change is saved at once.
class ModulesSymbolLocationsDialog : public QDialog {
    Q_OBJECT
public:
    /// `settings` is edited in place and saved to `path` after each change.
    ModulesSymbolLocationsDialog(SymbolLocationSettings& settings, std::filesystem::path path,
                                 QWidget* parent = nullptr);

    void AddFolder(const QString& folder);
    void RemoveFolder(int row);
    void RemoveLocatedFile(int row);
    /// Whether anything was changed (and saved) since the dialog opened.
    bool WasChanged() const { return mChanged; }

private:
    void Refresh();
    void Save();

    SymbolLocationSettings& mSettings;
    std::filesystem::path mPath;
    bool mChanged = false;
    QListWidget* mFolderList;
    QListWidget* mLocatedList;
};

} // namespace Profiler
