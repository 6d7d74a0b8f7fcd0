#pragma once

#include "ProfilerLibUI/ModuleTreeModel.h"
#include "SymbolResolution/SymbolLocationSettings.h"
#include "System/Job.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QToolButton;

namespace QtWidgets {
class TreeView;
}

namespace System {
class JobScheduler;
}

namespace Profiler {

class FindLineEdit;
class ModuleDatabase;
class ModulesAddressLookupWidget;
class Session;
class SymbolResolveWidget;
class SymbolResolver;

/// What the modules view needs of a capture.
struct ModulesViewContext {
    const ModuleDatabase* Modules = nullptr;         ///< must outlive the view
    System::JobScheduler* Scheduler = nullptr;       ///< runs the symbol searches and lookups
    std::function<std::string(int32_t)> ProcessName; ///< a process's name; empty when unknown
    double CaptureStartMs = 0.0;
    double CaptureEndMs = 0.0;
    std::filesystem::path SettingsPath = SymbolLocationSettings::kFileName;
};

/// The context of an opened capture.
ModulesViewContext MakeModulesViewContext(const Session& session, System::JobScheduler& scheduler);

/// The modules of a capture with their type and symbol resolve status, the details and resolve
/// log of the selected module, locating a debug file by hand, address lookup, the symbol
/// locations, and the request to reprocess the session after they changed. Every module's
/// symbol search runs on the scheduler; the rows' statuses follow as searches finish.
class ModulesWidget : public QWidget {
    Q_OBJECT
public:
    explicit ModulesWidget(ModulesViewContext context, QWidget* parent = nullptr);
    ~ModulesWidget() override;

    /// The resolver the view searches with (from the symbol locations); other views may share it.
    const std::shared_ptr<SymbolResolver>& GetSymbolResolver() const { return mSymbols; }
    ModuleTreeModel* GetModel() const { return mModel; }
    ModulesFilterProxyModel* GetFilterModel() const { return mProxy; }
    QtWidgets::TreeView* GetTree() const { return mTree; }
    ModulesAddressLookupWidget* GetAddressLookup() const { return mAddressLookup; }
    SymbolResolveWidget* GetResolveWidget() const { return mResolveWidget; }
    const SymbolLocationSettings& GetSettings() const { return *mSettings; }
    /// Whether symbol searches are still running.
    bool IsResolving() const { return mResolveJob.IsValid(); }

    /// Selects the top-level row of a native module (clears the find text and filter when they hide it).
    void SelectNativeModule(uint32_t moduleIndex);
    /// Selects the first native module called `name`; false when there is none.
    bool SelectNativeModule(const QString& name);
    /// The details of the selected module as plain text, and the message shown instead of its
    /// resolve information (empty when none is shown).
    QString GetDetailsText() const;
    QString GetMessageText() const;

    void SetStatusFilter(int status);
    void SetFindText(const QString& text);
    /// The selected rows as tab-separated lines of name, type and status.
    QString GetSelectionText() const;

    void Reprocess();
    void OpenSettings();
    void LocateSymbolFile();

signals:
    /// The user asked to reprocess the session with the current symbol settings.
    void ReprocessRequested();
    /// Every module's symbol search has finished.
    void ResolvingFinished();

protected:
    // The interactive parts, replaced by tests.
    virtual bool Ask(const QString& title, const QString& text, const QString& acceptText);
    virtual QString ChooseSymbolFile(const QString& title, const QString& filter);
    virtual void ShowMessage(const QString& text);
    /// Shows the symbol locations; true when they were changed (and saved).
    virtual bool EditSettings();

    void changeEvent(QEvent* event) override;

private:
    void CreateActions();
    void StartResolving();
    void OnModuleResolved(uint32_t moduleIndex, std::shared_ptr<const ModuleSymbols> symbols);
    const ModuleTreeModel::Row* GetSelectedRow() const;
    void UpdateDetails();
    void ShowMessageFrame(const QString& text);
    void ApplyTheme();

    ModulesViewContext mContext;
    std::unique_ptr<SymbolLocationSettings> mSettings;
    std::shared_ptr<SymbolResolver> mSymbols;
    std::map<uint32_t, std::shared_ptr<const ModuleSymbols>> mResolved;
    System::JobHandle mResolveJob;

    ModuleTreeModel* mModel;
    ModulesFilterProxyModel* mProxy;
    QtWidgets::TreeView* mTree;
    FindLineEdit* mFindLineEdit;
    QToolButton* mFilterButton;
    QActionGroup* mFilterGroup;
    QAction* mActionMoreInfo = nullptr;
    QFrame* mMessageFrame;
    QLabel* mMessageLabel;
    QLabel* mDetailsLabel;
    SymbolResolveWidget* mResolveWidget;
    ModulesAddressLookupWidget* mAddressLookup;
};

} // namespace Profiler
