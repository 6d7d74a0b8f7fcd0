#include "ProfilerLibUI/ModulesWidget.h"

#include "CaptureModel/ModuleDatabase.h"
#include "CaptureModel/ProcessDisplay.h"
#include "CaptureModel/Session.h"
#include "ProfilerLibUI/FindLineEdit.h"
#include "ProfilerLibUI/ModulesAddressLookupWidget.h"
#include "ProfilerLibUI/ModulesSymbolLocationsDialog.h"
#include "ProfilerLibUI/SymbolResolveWidget.h"
#include "QtWidgets/TreeView.h"
#include "SymbolResolution/DebugFileLocator.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/ResolveReport.h"
#include "SymbolResolution/SymbolResolver.h"
#include "System/JobScheduler.h"
#include "Theming/Icons.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>

namespace Profiler {

namespace {

constexpr const char* kNoSelectionText = "Select a module to view resolve information.";
constexpr const char* kNoSignatureText =
    "Symbol resolve was not attempted because the module does not contain a symbol signature.";
/// Searching symbols may take long; queries of the panels come first.
constexpr uint8_t kResolvePriority = 2;

QString TimeText(double timeMs, double boundaryMs, bool atStart)
{
    // Loads before the capture began (or without a time) count from its start, unloads after
    // it ended (or never) up to its end.
    const bool beyond = !std::isfinite(timeMs) || (atStart ? timeMs <= boundaryMs : timeMs >= boundaryMs);
    if (beyond)
        return atStart ? QStringLiteral("Capture start") : QStringLiteral("Capture end");
    return QString::number(timeMs, 'f', 3) + QStringLiteral(" ms");
}

QString HexUpper(uint64_t value)
{
    return QString::asprintf("0x%llX", static_cast<unsigned long long>(value));
}

bool IsDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

ModulesViewContext MakeModulesViewContext(const Session& session, System::JobScheduler& scheduler)
{
    ModulesViewContext context;
    context.Modules = &session.GetModuleDatabase();
    context.Scheduler = &scheduler;
    context.ProcessName = [&session](int32_t process) {
        const Process* found = session.FindProcess(process);
        return found ? found->mName : std::string();
    };
    context.CaptureStartMs = session.GetStartTimeMs();
    context.CaptureEndMs = session.GetEndTimeMs();
    return context;
}

ModulesWidget::ModulesWidget(ModulesViewContext context, QWidget* parent)
    : QWidget(parent), mContext(std::move(context))
{
    setWindowTitle(QStringLiteral("Modules"));
    setObjectName(QStringLiteral("ModulesWidget"));
    setProperty("iconResource", QStringLiteral(":/ProfilerLibUI/module_locate_256x.png"));

    // A missing or damaged settings file means no extra places, as on a first start.
    Serialization::ErrorList errors;
    mSettings = LoadSymbolLocationSettingsOrDefaults(mContext.SettingsPath, errors);
    mSymbols = std::make_shared<SymbolResolver>(mSettings->MakeOptions());

    mModel = new ModuleTreeModel(this);
    mModel->SetModules(*mContext.Modules);
    mProxy = new ModulesFilterProxyModel(this);
    mProxy->setSourceModel(mModel);

    mTree = new QtWidgets::TreeView(this);
    mTree->setObjectName(QStringLiteral("mModuleTree"));
    mTree->setModel(mProxy);
    mTree->setSortingEnabled(true);
    mTree->sortByColumn(ModuleTreeModel::ModuleColumn, Qt::AscendingOrder);
    mTree->setUniformRowHeights(true);
    mTree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mTree->setColumnHidden(ModuleTreeModel::PointerColumn, true);
    mTree->setColumnHidden(ModuleTreeModel::StatusValueColumn, true);
    mTree->header()->setSectionResizeMode(ModuleTreeModel::ModuleColumn, QHeaderView::Stretch);
    mTree->header()->setStretchLastSection(false);

    mFindLineEdit = new FindLineEdit(this);
    mFindLineEdit->setObjectName(QStringLiteral("mFindLineEdit"));
    mFindLineEdit->setPlaceholderText(QStringLiteral("Find..."));
    mFindLineEdit->EnableEscape();
    mFindLineEdit->SetClearCallback([this] { mFindLineEdit->clear(); });

    mMessageFrame = new QFrame(this);
    mMessageFrame->setObjectName(QStringLiteral("mMessageFrame"));
    mMessageLabel = new QLabel(mMessageFrame);
    mMessageLabel->setWordWrap(true);
    auto* messageLayout = new QVBoxLayout(mMessageFrame);
    messageLayout->addWidget(mMessageLabel);
    mDetailsLabel = new QLabel(this);
    mDetailsLabel->setObjectName(QStringLiteral("mDetailsLabel"));
    mDetailsLabel->setTextFormat(Qt::RichText);
    mDetailsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    mDetailsLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    mResolveWidget = new SymbolResolveWidget(this);
    mAddressLookup = new ModulesAddressLookupWidget(*mContext.Modules, mSymbols, *mContext.Scheduler, this);
    auto* lookupBox = new QGroupBox(QStringLiteral("Address Lookup"), this);
    auto* lookupLayout = new QVBoxLayout(lookupBox);
    lookupLayout->addWidget(mAddressLookup);

    auto* details = new QWidget(this);
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(4, 0, 0, 0);
    detailsLayout->addWidget(mMessageFrame);
    detailsLayout->addWidget(mDetailsLabel);
    detailsLayout->addWidget(mResolveWidget, 1);
    detailsLayout->addWidget(lookupBox);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(mTree);
    splitter->addWidget(details);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    mTree->setMinimumWidth(fontMetrics().averageCharWidth() * 18); // room for a library's name

    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("mToolBar"));
    toolBar->setIconSize(QSize(16, 16));
    mFilterButton = new QToolButton(this);
    mFilterButton->setObjectName(QStringLiteral("mFilterButton"));
    mFilterButton->setToolTip(QStringLiteral("Filter modules"));
    mFilterButton->setPopupMode(QToolButton::InstantPopup);
    mFilterGroup = new QActionGroup(this);
    mFilterGroup->setExclusive(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(toolBar);
    layout->addWidget(splitter, 1);
    CreateActions();
    for (QAction* action : actions())
        if (action->property("iconResource").isValid() || action == mActionMoreInfo)
            toolBar->addAction(action);
    toolBar->addWidget(mFilterButton);
    toolBar->addWidget(mFindLineEdit);

    connect(mFindLineEdit, &QLineEdit::textChanged, this, &ModulesWidget::SetFindText);
    connect(mTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ModulesWidget::UpdateDetails);
    connect(mTree, &QtWidgets::TreeView::OnCopyToClipboard, this,
            [this] { QApplication::clipboard()->setText(GetSelectionText()); });
    // The row's own actions where the user points, besides the toolbar.
    mTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(mTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        QMenu menu(this);
        menu.addAction(findChild<QAction*>(QStringLiteral("mActionBrowse")));
        menu.addAction(GetThemedIcon(QStringLiteral(":/ProfilerLibUI/CopyToClipboard_256x.png")),
                       QStringLiteral("Copy"), this,
                       [this] { QApplication::clipboard()->setText(GetSelectionText()); });
        menu.addSeparator();
        menu.addAction(findChild<QAction*>(QStringLiteral("mActionReprocess")));
        menu.exec(mTree->viewport()->mapToGlobal(position));
    });
    ApplyTheme();
    UpdateDetails();
    StartResolving();
}

ModulesWidget::~ModulesWidget()
{
    // The search posts to this widget: it must have stopped before the widget goes.
    if (mResolveJob.IsValid())
        mContext.Scheduler->CancelAndWait(System::ECancelMode::Chain, mResolveJob);
}

void ModulesWidget::CreateActions()
{
    auto add = [this](const char* name, const QString& text, const QString& tooltip, const char* icon) {
        auto* action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        if (!tooltip.isEmpty())
            action->setToolTip(tooltip);
        if (icon != nullptr)
            action->setProperty("iconResource", QLatin1String(icon));
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
        return action;
    };
    connect(add("mActionReprocess", QStringLiteral("Reprocess"), QStringLiteral("Reprocess current session"),
                ":/ProfilerLibUI/Refresh.png"),
            &QAction::triggered, this, &ModulesWidget::Reprocess);
    connect(add("mActionBrowse", QStringLiteral("Browse"), QStringLiteral("Locate Symbol File"),
                ":/ProfilerLibUI/module_locate_256x.png"),
            &QAction::triggered, this, &ModulesWidget::LocateSymbolFile);
    connect(add("mActionSettings", QStringLiteral("Settings"), QStringLiteral("Open Settings"),
                ":/ProfilerLibUI/settings.png"),
            &QAction::triggered, this, &ModulesWidget::OpenSettings);
    mActionMoreInfo = add("mActionMoreInfo", QStringLiteral("More Info"),
                          QStringLiteral("Show the resolve log of the selected module"), nullptr);
    mActionMoreInfo->setCheckable(true);
    mActionMoreInfo->setChecked(true);
    connect(mActionMoreInfo, &QAction::toggled, this, &ModulesWidget::UpdateDetails);
    QAction* find = add("mActionFind", QStringLiteral("Find..."), {}, nullptr);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        mFindLineEdit->setFocus();
        mFindLineEdit->selectAll();
    });
    QAction* close = add("mActionClose", QStringLiteral("Close"), {}, nullptr);
    connect(close, &QAction::triggered, this, [this] {
        mFindLineEdit->clear();
        mTree->setFocus();
    });

    auto* menu = new QMenu(mFilterButton);
    struct Choice {
        const char* Text;
        int Status;
    };
    const Choice choices[] = {{"Show All", kAllModuleStatuses},
                              {"Unresolved", 0},
                              {"Resolved", 1},
                              {"Unused", 3},
                              {"N/A", 2},
                              {"JIT", 4}};
    for (const Choice& choice : choices) {
        if (choice.Status == static_cast<int>(EModuleStatus::JITCompiled) && !mModel->HasJITModules())
            continue;
        QAction* action = menu->addAction(QLatin1String(choice.Text));
        action->setCheckable(true);
        action->setChecked(choice.Status == mProxy->GetStatusFilter());
        action->setData(choice.Status);
        mFilterGroup->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, status = choice.Status] { SetStatusFilter(status); });
    }
    mFilterButton->setMenu(menu);
}

void ModulesWidget::ApplyTheme()
{
    for (QAction* action : actions()) {
        const QString icon = action->property("iconResource").toString();
        if (!icon.isEmpty())
            action->setIcon(GetThemedIcon(icon));
    }
    mFilterButton->setIcon(GetThemedIcon(QStringLiteral(":/ProfilerLibUI/Filter.png")));
    // The same look as the source view's notes.
    mMessageFrame->setStyleSheet(IsDarkPalette(palette())
                                     ? QStringLiteral("QFrame { background-color: palette(highlight); } "
                                                      "QLabel { color: palette(highlighted-text); }")
                                     : QStringLiteral("QFrame { background-color: rgb(196, 223, 255); } "
                                                      "QLabel { color: rgb(0, 0, 0); }"));
}

void ModulesWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        ApplyTheme();
    QWidget::changeEvent(event);
}

void ModulesWidget::StartResolving()
{
    std::vector<std::pair<uint32_t, std::string>> work;
    mContext.Modules->Read([&work](const ModuleDatabase& database) {
        const auto& natives = database.GetNativeModules();
        for (uint32_t i = 0; i < natives.size(); ++i) {
            const NativeModule* module = natives[i].get();
            if (module == nullptr)
                continue;
            const NativeModule::EResolveStatus recorded = GetRecordedResolveStatus(*module);
            if (recorded != NativeModule::EResolveStatus::Unused &&
                recorded != NativeModule::EResolveStatus::OldCapture)
                work.emplace_back(i, GetModuleImagePath(*module));
        }
    });
    if (work.empty()) {
        QMetaObject::invokeMethod(this, &ModulesWidget::ResolvingFinished, Qt::QueuedConnection);
        return;
    }
    System::JobDescription description;
    description.priority = kResolvePriority;
    description.work = [this, work = std::move(work), symbols = mSymbols,
                        self = QPointer<ModulesWidget>(this)](System::Job&,
                                                              const std::atomic<bool>& canceled) {
        for (const auto& [index, path] : work) {
            if (canceled.load())
                return;
            std::shared_ptr<const ModuleSymbols> module = symbols->GetModule(path);
            QMetaObject::invokeMethod(
                self.data(), [this, index = index, module] { OnModuleResolved(index, module); },
                Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            self.data(),
            [this] {
                mResolveJob = {};
                emit ResolvingFinished();
            },
            Qt::QueuedConnection);
    };
    mResolveJob = mContext.Scheduler->Schedule(std::move(description));
}

void ModulesWidget::OnModuleResolved(uint32_t moduleIndex, std::shared_ptr<const ModuleSymbols> symbols)
{
    const NativeModule* module = mContext.Modules->Read([moduleIndex](const ModuleDatabase& database) {
        return database.GetNativeModules()[moduleIndex].get();
    });
    const EModuleStatus status = MapModuleStatus(GetRecordedResolveStatus(*module), symbols.get());
    mModel->SetNativeStatus(moduleIndex, status, DescribeModuleStatus(status, symbols.get()));
    mResolved[moduleIndex] = std::move(symbols);
    const ModuleTreeModel::Row* row = GetSelectedRow();
    if (row != nullptr && !row->IsJIT && row->ModuleIndex == moduleIndex)
        UpdateDetails();
}

const ModuleTreeModel::Row* ModulesWidget::GetSelectedRow() const
{
    const QModelIndex current = mTree->selectionModel()->currentIndex();
    return current.isValid() ? mModel->GetRow(mProxy->mapToSource(current)) : nullptr;
}

void ModulesWidget::SelectNativeModule(uint32_t moduleIndex)
{
    QModelIndex index = mProxy->mapFromSource(mModel->FindNativeModule(moduleIndex));
    if (!index.isValid()) {
        mFindLineEdit->clear();
        SetStatusFilter(kAllModuleStatuses);
        index = mProxy->mapFromSource(mModel->FindNativeModule(moduleIndex));
    }
    mTree->selectionModel()->setCurrentIndex(index,
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    mTree->scrollTo(index);
}

bool ModulesWidget::SelectNativeModule(const QString& name)
{
    for (int row = 0; row < mModel->rowCount(); ++row) {
        const QModelIndex index = mModel->index(row, ModuleTreeModel::ModuleColumn);
        const ModuleTreeModel::Row* found = mModel->GetRow(index);
        if (!found->IsJIT && found->Name == name) {
            SelectNativeModule(found->ModuleIndex);
            return true;
        }
    }
    return false;
}

void ModulesWidget::SetStatusFilter(int status)
{
    mProxy->SetStatusFilter(status);
    for (QAction* action : mFilterGroup->actions())
        action->setChecked(action->data().toInt() == status);
}

void ModulesWidget::SetFindText(const QString& text)
{
    if (mFindLineEdit->text() != text)
        mFindLineEdit->setText(text); // comes back here through textChanged
    else
        mProxy->SetFindText(text);
}

QString ModulesWidget::GetSelectionText() const
{
    QString text;
    QModelIndexList rows = mTree->selectionModel()->selectedRows(ModuleTreeModel::ModuleColumn);
    std::sort(rows.begin(), rows.end(), [this](const QModelIndex& a, const QModelIndex& b) {
        return mTree->visualRect(a).top() < mTree->visualRect(b).top();
    });
    for (const QModelIndex& row : rows) {
        QStringList cells;
        for (int column :
             {ModuleTreeModel::ModuleColumn, ModuleTreeModel::TypeColumn, ModuleTreeModel::StatusColumn})
            cells << row.siblingAtColumn(column).data().toString();
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

QString ModulesWidget::GetDetailsText() const
{
    QTextDocument document;
    document.setHtml(mDetailsLabel->text());
    return document.toPlainText();
}

QString ModulesWidget::GetMessageText() const
{
    return mMessageFrame->isHidden() ? QString() : mMessageLabel->text();
}

void ModulesWidget::ShowMessageFrame(const QString& text)
{
    mMessageLabel->setText(text);
    mMessageFrame->setVisible(!text.isEmpty());
}

void ModulesWidget::UpdateDetails()
{
    const ModuleTreeModel::Row* row = GetSelectedRow();
    mAddressLookup->SetRelativeModule(row != nullptr && !row->IsJIT ? std::optional(row->ModuleIndex)
                                                                    : std::nullopt);
    mResolveWidget->setVisible(false);
    if (row == nullptr) {
        mDetailsLabel->clear();
        ShowMessageFrame(QLatin1String(kNoSelectionText));
        return;
    }

    QString html = QStringLiteral("<table>");
    auto line = [&html](const QString& key, const QString& value) {
        html += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                    .arg(key.toHtmlEscaped(), value.toHtmlEscaped());
    };
    const NativeModuleInstance* nativeInstance = nullptr;
    mContext.Modules->Read([&](const ModuleDatabase& database) {
        if (row->InstanceIndex < 0) {
            line(QStringLiteral("Instances"),
                 QStringLiteral("%1 (select one for its details)").arg(row->Children.size()));
            return;
        }
        int32_t process = 0;
        uint64_t base = 0;
        double load = 0.0;
        double unload = 0.0;
        QString moduleId;
        if (row->IsJIT) {
            const JITModuleInstance& instance = database.GetJITModuleInstances()[row->InstanceIndex];
            process = instance.mProcessID;
            base = instance.mModuleID;
            load = instance.mLoadTimeMs;
            unload = instance.mUnloadTimeMs;
            moduleId = HexUpper(instance.mModuleID);
        } else {
            nativeInstance = &database.GetNativeModuleInstances()[row->InstanceIndex];
            process = nativeInstance->mProcessID;
            base = nativeInstance->mImageBase;
            load = nativeInstance->mLoadTimeMs;
            unload = nativeInstance->mUnloadTimeMs;
            moduleId = QString::number(row->ModuleIndex);
        }
        line(QStringLiteral("Process ID"), QString::fromStdString(ProcessIdText(process)));
        line(QStringLiteral("Process Name"),
             mContext.ProcessName ? QString::fromStdString(mContext.ProcessName(process)) : QString());
        line(QStringLiteral("Image base"), HexUpper(base));
        line(QStringLiteral("Loaded at"), TimeText(load, mContext.CaptureStartMs, true));
        line(QStringLiteral("Unloaded at"), TimeText(unload, mContext.CaptureEndMs, false));
        line(QStringLiteral("Module ID"), moduleId);
    });
    for (const auto& [key, value] : row->ModulePointer->GetDetailLines()) {
        // Recorders that see only stack frames leave the size at 0; a size of 0 would mislead.
        const bool unknownSize = key == "Image size" && value == "0";
        line(QString::fromStdString(key),
             unknownSize ? QStringLiteral("not recorded") : QString::fromStdString(value));
    }
    line(QStringLiteral("Status"), row->StatusDescription);
    mDetailsLabel->setText(html + QStringLiteral("</table>"));

    SymbolResolveInfo info;
    switch (row->Status) {
    case EModuleStatus::NotAvailable:
        ShowMessageFrame(QLatin1String(GetMissingResolveLogText(EMissingResolveLog::OldCapture)));
        return;
    case EModuleStatus::Unused:
        ShowMessageFrame(QLatin1String(GetMissingResolveLogText(EMissingResolveLog::Unused)));
        return;
    case EModuleStatus::JITCompiled:
        ShowMessageFrame(QLatin1String(GetMissingResolveLogText(EMissingResolveLog::JIT)));
        return;
    case EModuleStatus::Resolved:
    case EModuleStatus::Unresolved:
        break;
    }
    mResolveWidget->setVisible(mActionMoreInfo->isChecked());
    auto found = mResolved.find(row->ModuleIndex);
    if (found == mResolved.end()) {
        ShowMessageFrame({});
        mResolveWidget->SetPending();
        return;
    }
    const ModuleSymbols& symbols = *found->second;
    const bool unsigned_ =
        !symbols.GetImagePath().empty() && !symbols.HasSymbolSignature() && !symbols.HasMatchingDebugInfo();
    ShowMessageFrame(unsigned_ ? QLatin1String(kNoSignatureText) : QString());
    info.Log = symbols.GetLog();
    info.Module = DescribeModule(*static_cast<const NativeModule*>(row->ModulePointer), nativeInstance,
                                 found->second.get());
    mResolveWidget->SetResolveInfo(std::move(info));
}

void ModulesWidget::Reprocess()
{
    if (Ask(QStringLiteral("Quasarix"),
            QStringLiteral(
                "This will reevaluate all symbols in this session based on your current settings. If "
                "you choose to continue, the current session will be closed and all data will be "
                "reprocessed.\n\nDo you want to continue?"),
            QStringLiteral("Reprocess")))
        emit ReprocessRequested();
}

void ModulesWidget::OpenSettings()
{
    if (!EditSettings())
        return;
    if (Ask(QStringLiteral("Quasarix"),
            QStringLiteral(
                "Symbol settings have been changed. Would you like to reprocess the session to try to "
                "resolve previously unresolved symbols?"),
            QStringLiteral("Reprocess")))
        emit ReprocessRequested();
}

void ModulesWidget::LocateSymbolFile()
{
    const ModuleTreeModel::Row* row = GetSelectedRow();
    if (row == nullptr || row->IsJIT) {
        ShowMessage(QStringLiteral("Select a native module to locate its symbol file."));
        return;
    }
    auto found = mResolved.find(row->ModuleIndex);
    if (found == mResolved.end()) {
        ShowMessage(QStringLiteral("The module's symbols are still being searched; try again in a moment."));
        return;
    }
    const ModuleSymbols& symbols = *found->second;
    if (symbols.GetImagePath().empty()) {
        // Nothing to check a debug file against: the module's own file is needed first.
        ShowMessage(QStringLiteral("The module's file could not be found, so a symbol file cannot be checked "
                                   "against it. Add the folder that holds it under Settings."));
        return;
    }
    if (!symbols.HasSymbolSignature()) {
        ShowMessage(QLatin1String(kNoSignatureText));
        return;
    }
    const QString expected =
        symbols.GetDebugLinkName().empty()
            ? QFileInfo(QString::fromStdString(symbols.GetImagePath())).fileName() + QStringLiteral(".debug")
            : QString::fromStdString(symbols.GetDebugLinkName());
    QString filter = QStringLiteral("Symbol Files (");
    for (const char* extension : {".debug", ".dbg", ".sym"})
        filter += QString::asprintf("*%s ", extension);
    filter += QStringLiteral(");;All Files (*)");
    const QString chosen = ChooseSymbolFile(QStringLiteral("Browse for ") + expected, filter);
    if (chosen.isEmpty())
        return;

    ElfImage image;
    ElfImage candidate;
    std::string reason;
    if (!image.Open(symbols.GetImagePath(), reason) || !candidate.Open(chosen.toStdString(), reason) ||
        !DebugFileMatchesImage(image, candidate, reason)) {
        ShowMessage(QStringLiteral("The file does not match the module's symbol signature:\n%1")
                        .arg(QString::fromStdString(reason)));
        return;
    }
    const auto* module = static_cast<const NativeModule*>(row->ModulePointer);
    const std::string key = symbols.GetBuildId().empty() ? GetModuleImagePath(*module) : symbols.GetBuildId();
    mSettings->mLocatedDebugFiles[key] = std::filesystem::absolute(chosen.toStdString()).string();
    Serialization::ErrorList errors;
    if (!SaveSymbolLocationSettings(mContext.SettingsPath, *mSettings, errors)) {
        ShowMessage(QStringLiteral("The symbol locations could not be saved:\n%1")
                        .arg(QString::fromStdString(errors.ToString())));
        return;
    }
    if (Ask(QStringLiteral("Symbol Resolve Result"),
            QStringLiteral(
                "The symbol matches the expected symbol signature. Would you like to reprocess the "
                "session to reflect the changes now?"),
            QStringLiteral("Reprocess")))
        emit ReprocessRequested();
}

bool ModulesWidget::Ask(const QString& title, const QString& text, const QString& acceptText)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Cancel, this);
    QPushButton* accept = box.addButton(acceptText, QMessageBox::AcceptRole);
    box.setDefaultButton(accept);
    box.exec();
    return box.clickedButton() == static_cast<QAbstractButton*>(accept);
}

QString ModulesWidget::ChooseSymbolFile(const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(this, title, QString(), filter);
}

void ModulesWidget::ShowMessage(const QString& text)
{
    QMessageBox::warning(this, QStringLiteral("Quasarix"), text);
}

bool ModulesWidget::EditSettings()
{
    ModulesSymbolLocationsDialog dialog(*mSettings, mContext.SettingsPath, this);
    dialog.exec();
    return dialog.WasChanged();
}

} // namespace Profiler
