#pragma once

#include "RTTI/Registry.h"
#include "Runtime/PluginLoader.h"
#include "Utility/SignalRegistration.h"

#include <QMainWindow>
#include <QStringList>

#include <filesystem>
#include <memory>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace Profiler {

class ApplicationTheme;
class CaptureDocument;
class CaptureLoader;
class ImportTask;
class HostSession;
class TimelineIndex;
class TimelineWidget;

/// The desktop application's window: the timeline in the middle, the plugin's panels docked
/// around it, menus for captures, recording and the theme, and processing in the status bar.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    /// `pluginPath`: the call graph plugin module to load.
    MainWindow(ApplicationTheme& theme, const std::filesystem::path& pluginPath);
    ~MainWindow() override;

    /// Opens (and processes when needed) a capture directory in the background.
    void OpenCapture(const QString& path);
    /// Closes the open capture: saves its view state, deletes the view and its docks.
    void CloseCapture();

    TimelineWidget* GetTimeline() const { return mTimeline; }
    HostSession* GetSession() const { return mSession.get(); }
    bool IsLoading() const;
    const QString& GetPluginError() const { return mPluginError; }

signals:
    /// The capture is open, its view created and "SessionOpened" sent.
    void SessionReady();
    void LoadFailed(QString message);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void LoadPlugin(const std::filesystem::path& pluginPath);
    void OnLoaded(std::shared_ptr<CaptureDocument> document, std::shared_ptr<const TimelineIndex> timeline);
    void DockViewWidgets();
    void DockModulesView();
    void AddRecent(const QString& path);
    void UpdateRecentMenu();
    void ApplyTheme();
    void ImportCapture();
    void SelectAllThreads();
    void OnImportFinished(bool imported, const QString& output, const QString& message);
    void RecordCapture();
    void ShowWarning(const QString& text);

    ApplicationTheme& mTheme;
    Utility::SignalRegistration mThemeRegistration;
    RTTI::Registry mRegistry;
    PluginLoader mPluginLoader;
    QString mPluginError;
    std::unique_ptr<HostSession> mSession;
    CaptureLoader* mLoader;
    ImportTask* mImportTask;
    TimelineWidget* mTimeline;
    QScrollArea* mTimelineArea;
    QList<QDockWidget*> mDocks;
    QList<QDockWidget*> mFrontDocks;     ///< the panel in front in each dock place
    QDockWidget* mModulesDock = nullptr; ///< owns its ModulesWidget, unlike the view's docks
    QMenu* mRecentMenu = nullptr;
    QMenu* mPanelsMenu = nullptr;
    QLabel* mStatusLabel;
    QProgressBar* mProgress;
    QPushButton* mCancelButton;
    QString mPendingCapture;
};

} // namespace Profiler
