#include "MainWindow.h"

#include "CallGraphModel/Document/CaptureDocument.h"
#include "CaptureLoader.h"
#include "HostSession.h"
#include "ImportTask.h"
#include "PluginApi/MessageTypes.h"
#include "PluginApi/View.h"
#include "ProfilerLibUI/ModulesWidget.h"
#include "RecordDialog.h"
#include "Theming/ApplicationTheme.h"
#include "TimelineWidget.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QPointer>
#include <QTimer>

namespace Profiler {

namespace {

constexpr int kMaxRecent = 8;
constexpr double kEndOfCapture = std::numeric_limits<double>::max();

Qt::DockWidgetArea AreaOf(int position)
{
    switch (position) {
    case 0:
        return Qt::LeftDockWidgetArea;
    case 1:
        return Qt::RightDockWidgetArea;
    case 2:
        return Qt::TopDockWidgetArea;
    default: // the bottom and its two halves
        return Qt::BottomDockWidgetArea;
    }
}

} // namespace

MainWindow::MainWindow(ApplicationTheme& theme, const std::filesystem::path& pluginPath)
    : mTheme(theme), mLoader(new CaptureLoader(this))
{
    setWindowTitle(QStringLiteral("Quasarix"));
    setObjectName(QStringLiteral("QuasarixMainWindow"));
    setWindowIcon(mTheme.GetIcon(QStringLiteral(":/Quasarix/quasarix.png")));
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks |
                   QMainWindow::AllowNestedDocks);

    mTimeline = new TimelineWidget(this);
    mTimelineArea = new QScrollArea(this);
    mTimelineArea->setWidget(mTimeline);
    mTimelineArea->setWidgetResizable(true);
    mTimelineArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setCentralWidget(mTimelineArea);

    mStatusLabel = new QLabel(this);
    mProgress = new QProgressBar(this);
    mProgress->setRange(0, 1000);
    mProgress->setMaximumWidth(240);
    mProgress->hide();
    mCancelButton = new QPushButton(mTheme.GetIcon(QStringLiteral(":/ProfilerLibUI/Cancel.png")),
                                    QStringLiteral("Cancel"), this);
    mCancelButton->hide();
    statusBar()->addWidget(mStatusLabel, 1);
    statusBar()->addPermanentWidget(mProgress);
    statusBar()->addPermanentWidget(mCancelButton);

    mImportTask = new ImportTask(this);
    connect(mImportTask, &ImportTask::Finished, this, &MainWindow::OnImportFinished);
    connect(mCancelButton, &QPushButton::clicked, mLoader, &CaptureLoader::Cancel);
    connect(mLoader, &CaptureLoader::Progress, this, [this](const QString& stage, double fraction) {
        mStatusLabel->setText(stage + QStringLiteral("..."));
        mProgress->setValue(static_cast<int>(fraction * 1000));
    });
    connect(mLoader, &CaptureLoader::Loaded, this, &MainWindow::OnLoaded);
    auto stopProgress = [this] {
        mProgress->hide();
        mCancelButton->hide();
    };
    connect(mLoader, &CaptureLoader::Failed, this, [this, stopProgress](const QString& message) {
        stopProgress();
        mStatusLabel->setText(QStringLiteral("The capture could not be opened."));
        emit LoadFailed(message);
        ShowWarning(QStringLiteral("%1 could not be opened:\n%2").arg(mPendingCapture, message));
    });
    connect(mLoader, &CaptureLoader::Canceled, this, [this, stopProgress] {
        stopProgress();
        mStatusLabel->setText(QStringLiteral("Canceled."));
    });

    connect(mTimeline, &TimelineWidget::RangeSelected, this, [this](double from, double to) {
        if (mSession)
            mSession->SendFilterState(from, to, -1, static_cast<int32_t>(EFilterReason::RangeSelected));
    });
    connect(mTimeline, &TimelineWidget::ThreadClicked, this, [this](int32_t thread) {
        if (!mSession)
            return;
        const auto selection = mTimeline->GetSelection();
        mSession->SendFilterState(selection ? selection->first : -1.0,
                                  selection ? selection->second : kEndOfCapture, thread,
                                  static_cast<int32_t>(EFilterReason::ThreadSelected));
    });
    connect(mTimeline, &TimelineWidget::ThreadsSelected, this, [this](const QVector<int>& threads) {
        if (!mSession)
            return;
        // Several threads go to the views through the session's thread selection; taking the
        // last one out means every thread again.
        if (threads.empty()) {
            SelectAllThreads();
            return;
        }
        std::set<ThreadID> selection;
        for (int32_t thread : threads)
            selection.insert(static_cast<ThreadID>(static_cast<uint32_t>(thread)));
        mSession->GetThreadSelection().SetSelection(std::move(selection));
    });
    connect(mTimeline, &TimelineWidget::SelectionCleared, this, [this] {
        if (!mSession)
            return;
        // Back to the whole capture and every thread.
        SelectAllThreads();
        mSession->SendFilterState(-1.0, kEndOfCapture, -1,
                                  static_cast<int32_t>(EFilterReason::FilterCleared));
    });

    LoadPlugin(pluginPath);
    CreateMenus();
    mThemeRegistration = mTheme.ConnectThemeChanged([this](Theme&) { ApplyTheme(); });

    QSettings settings;
    restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
    if (!settings.contains(QStringLiteral("window/geometry")))
        resize(1400, 860);
    ApplyTheme();
}

MainWindow::~MainWindow()
{
    mLoader->Cancel();
    // Every view goes before the plugin that made it.
    CloseCapture();
    mPluginLoader.Unload();
}

bool MainWindow::IsLoading() const
{
    return mLoader->IsRunning();
}

void MainWindow::LoadPlugin(const std::filesystem::path& pluginPath)
{
    Serialization::ErrorList errors;
    if (!mPluginLoader.Load(pluginPath, errors) ||
        !mPluginLoader.CreatePlugin(mRegistry, "quasarix", QX_VERSION, 0, errors)) {
        mPluginError = QString::fromStdString(errors.ToString());
        mStatusLabel->setText(
            QStringLiteral("The call graph plugin could not be loaded: %1").arg(mPluginError));
        return;
    }
    mPluginLoader.InitializeTracing(System::GetLogSinks());
}

void MainWindow::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* open = file->addAction(mTheme.GetIcon(QStringLiteral(":/ProfilerLibUI/FolderOpen_256x.png")),
                                    QStringLiteral("&Open Capture..."), this, [this] {
                                        const QString directory = QFileDialog::getExistingDirectory(
                                            this, QStringLiteral("Open Capture"),
                                            QSettings().value("lastDirectory").toString());
                                        if (!directory.isEmpty())
                                            OpenCapture(directory);
                                    });
    open->setShortcut(QKeySequence::Open);
    open->setObjectName(QStringLiteral("mActionOpenCapture"));
    QAction* import = file->addAction(mTheme.GetIcon(QStringLiteral(":/Quasarix/import.png")),
                                      QStringLiteral("&Import..."), this, &MainWindow::ImportCapture);
    import->setShortcut(QKeySequence(QStringLiteral("Ctrl+I")));
    QAction* record = file->addAction(mTheme.GetIcon(QStringLiteral(":/Quasarix/record.png")),
                                      QStringLiteral("&Record..."), this, &MainWindow::RecordCapture);
    record->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    mRecentMenu = file->addMenu(QStringLiteral("Recent"));
    UpdateRecentMenu();
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QMenu* themeMenu = view->addMenu(QStringLiteral("Theme"));
    auto* group = new QActionGroup(this);
    for (EThemeChoice choice : {EThemeChoice::Light, EThemeChoice::Dark, EThemeChoice::FollowSystem}) {
        QAction* action = themeMenu->addAction(QString::fromLatin1(GetThemeChoiceName(choice)));
        action->setCheckable(true);
        action->setChecked(mTheme.GetChoice() == choice);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, choice] {
            mTheme.SetChoice(choice);
            QSettings().setValue(QStringLiteral("theme"), static_cast<int>(choice));
        });
    }
    mPanelsMenu = view->addMenu(QStringLiteral("Panels"));
    view->addSeparator();
    QAction* whole = view->addAction(QStringLiteral("Show Whole Capture"), this, [this] {
        if (const TimelineIndex* index = mTimeline->GetIndex())
            mTimeline->SetVisibleRange(index->GetStart(), index->GetEnd());
    });
    whole->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));
}

void MainWindow::ApplyTheme()
{
    mTimeline->SetThemeType(mTheme.GetType());
    for (QDockWidget* dock : mDocks)
        if (QWidget* widget = dock->widget())
            dock->toggleViewAction()->setIcon(mTheme.GetIcon(widget->property("iconResource").toString()));
}

void MainWindow::ShowWarning(const QString& text)
{
    // Tests and screenshots run without anyone to close a message box.
    if (qEnvironmentVariableIsSet("QX_NO_MESSAGE_BOXES"))
        return;
    QMessageBox::warning(this, QStringLiteral("Quasarix"), text);
}

void MainWindow::OpenCapture(const QString& path)
{
    if (!mPluginError.isEmpty()) {
        ShowWarning(QStringLiteral("The call graph plugin could not be loaded:\n%1").arg(mPluginError));
        return;
    }
    CloseCapture();
    mPendingCapture = path;
    QSettings().setValue(QStringLiteral("lastDirectory"), QFileInfo(path).absolutePath());
    mProgress->setValue(0);
    mProgress->show();
    mCancelButton->show();
    mStatusLabel->setText(QStringLiteral("Opening %1...").arg(path));
    mLoader->Start(path.toStdString());
}

void MainWindow::OnLoaded(std::shared_ptr<CaptureDocument> document,
                          std::shared_ptr<const TimelineIndex> timeline)
{
    mProgress->hide();
    mCancelButton->hide();
    mSession = std::make_unique<HostSession>(std::move(document), timeline);
    // The module's one plugin is a view plugin (its descriptor's kind 0); type information does
    // not cross the module's boundary, so the cast is static.
    if (Plugin* plugin = mPluginLoader.GetPlugin())
        mSession->CreateView(*static_cast<ViewPlugin*>(plugin));
    DockViewWidgets();
    DockModulesView();
    mTimeline->SetIndex(timeline);
    mSession->LoadViewState(mRegistry);
    mSession->SendSessionOpened();
    AddRecent(mPendingCapture);
    setWindowTitle(QStringLiteral("%1 - Quasarix").arg(QFileInfo(mPendingCapture).fileName()));
    mStatusLabel->setText(
        QStringLiteral("%1 threads. Drag on the timeline to select a range; click a lane to select its "
                       "thread, Ctrl+click for several; the wheel zooms, right-drag pans.")
            .arg(timeline->GetLaneCount()));
    emit SessionReady();
}

void MainWindow::DockViewWidgets()
{
    View* view = mSession ? mSession->GetView() : nullptr;
    if (!view)
        return;
    constexpr int kPositions = 6;
    constexpr int kBottomWide = 4;
    constexpr int kBottomNarrow = 5;
    QDockWidget* previousAt[kPositions] = {};
    mFrontDocks.clear();
    for (QWidget* widget : view->GetWidgets()) {
        auto* dock = new QDockWidget(widget->windowTitle(), this);
        dock->setObjectName(QStringLiteral("Dock") + widget->objectName().remove(' '));
        dock->setWidget(widget);
        const int position = std::clamp(widget->property("dockPosition").toInt(), 0, kPositions - 1);
        if (previousAt[position]) {
            tabifyDockWidget(previousAt[position], dock);
        } else {
            mFrontDocks.push_back(dock); // the first panel of each place is the one in front
            addDockWidget(AreaOf(position), dock);
            // The two bottom halves sit side by side, the wide one on the left.
            if (position == kBottomNarrow && previousAt[kBottomWide])
                splitDockWidget(previousAt[kBottomWide], dock, Qt::Horizontal);
            else if (position == kBottomWide && previousAt[kBottomNarrow])
                splitDockWidget(dock, previousAt[kBottomNarrow], Qt::Horizontal);
        }
        previousAt[position] = dock;
        dock->toggleViewAction()->setIcon(mTheme.GetIcon(widget->property("iconResource").toString()));
        mPanelsMenu->addAction(dock->toggleViewAction());
        mDocks.push_back(dock);
    }
    // First run: the panels get most of the height (the timeline needs a lane per thread), and
    // the narrow half enough width for function names beside its figures.
    // Once the docks are laid out in the shown window: sizes asked for before are lost.
    if (previousAt[kBottomWide] && !QSettings().contains(QStringLiteral("window/state"))) {
        QPointer<QDockWidget> wide = previousAt[kBottomWide];
        QPointer<QDockWidget> narrow = previousAt[kBottomNarrow];
        QTimer::singleShot(0, this, [this, wide, narrow] {
            if (!wide)
                return;
            resizeDocks({wide}, {height() * 3 / 5}, Qt::Vertical);
            if (narrow)
                resizeDocks({wide, narrow}, {width() * 3 / 5, width() * 2 / 5}, Qt::Horizontal);
        });
    }
    for (QDockWidget* dock : mFrontDocks)
        dock->raise();
    for (auto& [shortcut, owner] : view->GetShortcuts())
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    restoreState(QSettings().value(QStringLiteral("window/state")).toByteArray());
}

void MainWindow::DockModulesView()
{
    const CaptureDocument& document = mSession->GetDocument();
    auto* modules = new ModulesWidget(MakeModulesViewContext(document.GetSession(), document.GetScheduler()));
    mModulesDock = new QDockWidget(modules->windowTitle(), this);
    mModulesDock->setObjectName(QStringLiteral("DockModulesWidget"));
    mModulesDock->setWidget(modules);
    // A tab beside the panels; the user's own arrangement, once saved, wins.
    if (mDocks.isEmpty())
        addDockWidget(Qt::LeftDockWidgetArea, mModulesDock);
    else
        tabifyDockWidget(mDocks.back(), mModulesDock);
    for (QDockWidget* dock : mFrontDocks)
        dock->raise();
    restoreState(QSettings().value(QStringLiteral("window/state")).toByteArray());
    // The screenshot of the modules panel brings it in front, with the module it names selected.
    if (qEnvironmentVariableIsSet("QX_SHOW_MODULES")) {
        QTimer::singleShot(0, mModulesDock, &QDockWidget::raise);
        modules->SelectNativeModule(qEnvironmentVariable("QX_SHOW_MODULES"));
    }
    mModulesDock->toggleViewAction()->setIcon(mTheme.GetIcon(modules->property("iconResource").toString()));
    mPanelsMenu->addAction(mModulesDock->toggleViewAction());
    // Reopening runs the symbol search again with the new settings; the widget asking for it
    // goes with the capture, so the reopening waits for its signal to return.
    connect(modules, &ModulesWidget::ReprocessRequested, this,
            [this] { QTimer::singleShot(0, this, [this, path = mPendingCapture] { OpenCapture(path); }); });
}

void MainWindow::CloseCapture()
{
    if (!mSession)
        return;
    QSettings().setValue(QStringLiteral("window/state"), saveState());
    mSession->SaveViewState();
    mTimeline->SetIndex(nullptr);
    // The view owns its panels: they leave their docks before the view deletes them.
    for (QDockWidget* dock : mDocks) {
        mPanelsMenu->removeAction(dock->toggleViewAction());
        if (QWidget* widget = dock->widget())
            widget->setParent(nullptr);
    }
    mSession->DeleteView();
    qDeleteAll(mDocks);
    mDocks.clear();
    if (mModulesDock) {
        mPanelsMenu->removeAction(mModulesDock->toggleViewAction());
        delete mModulesDock; // its searches stop before the document goes
        mModulesDock = nullptr;
    }
    mSession.reset();
    setWindowTitle(QStringLiteral("Quasarix"));
}

void MainWindow::AddRecent(const QString& path)
{
    QSettings settings;
    QStringList recent = settings.value(QStringLiteral("recent")).toStringList();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    while (recent.size() > kMaxRecent)
        recent.removeLast();
    settings.setValue(QStringLiteral("recent"), recent);
    UpdateRecentMenu();
}

void MainWindow::UpdateRecentMenu()
{
    mRecentMenu->clear();
    const QStringList recent = QSettings().value(QStringLiteral("recent")).toStringList();
    for (const QString& path : recent)
        mRecentMenu->addAction(path, this, [this, path] { OpenCapture(path); });
    mRecentMenu->setEnabled(!recent.isEmpty());
}

void MainWindow::SelectAllThreads()
{
    std::set<ThreadID> all;
    for (const auto& group : mSession->GetTimeline()->GetGroups())
        for (const auto& lane : group.Lanes)
            all.insert(static_cast<ThreadID>(static_cast<uint32_t>(lane.ThreadId)));
    mSession->GetThreadSelection().SetSelection(std::move(all));
}

void MainWindow::ImportCapture()
{
    const QString input = QFileDialog::getOpenFileName(
        this, QStringLiteral("Import perf script text or perf.data"),
        QSettings().value("lastDirectory").toString(),
        QStringLiteral("perf recordings (*.txt *.gz *.data *.perf);;All files (*)"));
    if (input.isEmpty())
        return;
    const QString output = QFileDialog::getExistingDirectory(this, QStringLiteral("New capture directory"),
                                                             QFileInfo(input).absolutePath());
    if (output.isEmpty())
        return;
    QString message;
    if (!mImportTask->Start(input, output, message)) {
        ShowWarning(message);
        return;
    }
    mStatusLabel->setText(QStringLiteral("Importing %1...").arg(input));
    mProgress->setRange(0, 0);
    mProgress->show();
}

void MainWindow::OnImportFinished(bool imported, const QString& output, const QString& message)
{
    mProgress->setRange(0, 1000);
    mProgress->hide();
    if (!imported) {
        mStatusLabel->clear();
        ShowWarning(QStringLiteral("The import failed:\n%1").arg(message));
        return;
    }
    mStatusLabel->setText(message);
    OpenCapture(output);
}

void MainWindow::RecordCapture()
{
    RecordDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted && !dialog.GetCapture().isEmpty())
        OpenCapture(dialog.GetCapture());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    if (mSession)
        settings.setValue(QStringLiteral("window/state"), saveState());
    QMainWindow::closeEvent(event);
}

} // namespace Profiler
