#include "ProfilerLibUI/SymbolResolveWidget.h"

#include "Theming/Icons.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace Profiler {

namespace {

constexpr int kValueColumn = 2;

QPushButton* MakeButton(QWidget* parent, const char* objectName, const char* icon, const QString& text,
                        const QString& tooltip = {})
{
    auto* button = new QPushButton(GetThemedIcon(QLatin1String(icon)), text, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setProperty("iconResource", QLatin1String(icon));
    if (!tooltip.isEmpty())
        button->setToolTip(tooltip);
    return button;
}

QIcon OutcomeIcon(EResolveStepOutcome outcome)
{
    switch (outcome) {
    case EResolveStepOutcome::Found:
        return GetThemedIcon(QStringLiteral(":/ProfilerLibUI/Checkmark.png"));
    case EResolveStepOutcome::Mismatch:
    case EResolveStepOutcome::Failed:
        return GetThemedIcon(QStringLiteral(":/ProfilerLibUI/Cancel.png"));
    case EResolveStepOutcome::NotFound:
    case EResolveStepOutcome::Info:
        break;
    }
    return {};
}

void Copy(const QString& text)
{
    QApplication::clipboard()->setText(text);
}

} // namespace

ResolveLogTreeWidget::ResolveLogTreeWidget(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    header()->setStretchLastSection(true);
    connect(this, &QWidget::customContextMenuRequested, this, &ResolveLogTreeWidget::ShowContextMenu);
}

QString ResolveLogTreeWidget::GetSelectionText() const
{
    QString text;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        if (!item->isSelected())
            continue;
        QStringList cells;
        for (int column = 0; column < columnCount(); ++column)
            cells << item->text(column);
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void ResolveLogTreeWidget::ShowContextMenu(const QPoint& position)
{
    QTreeWidgetItem* item = itemAt(position);
    if (item == nullptr)
        return;
    const int column = columnAt(position.x());
    const QString text = item->text(column);
    const bool isPath = item->data(column, kIsPathRole).toBool() && !text.isEmpty();
    QMenu menu(this);
    if (isPath) {
        QAction* open = menu.addAction(GetThemedIcon(QStringLiteral(":/ProfilerLibUI/FolderOpen_256x.png")),
                                       QStringLiteral("Open Location"), this,
                                       [this, text] { emit OpenLocationRequested(text); });
        open->setToolTip(QStringLiteral("Open the currently selected path"));
        menu.addAction(QStringLiteral("Copy Path"), this, [text] { Copy(text); })
            ->setToolTip(QStringLiteral("Copy the currently selected path"));
        menu.addAction(QStringLiteral("Copy Filename"), this, [text] { Copy(QFileInfo(text).fileName()); })
            ->setToolTip(QStringLiteral("Copy the currently selected filename"));
    } else if (!text.isEmpty()) {
        menu.addAction(QStringLiteral("Copy Value"), this, [text] { Copy(text); })
            ->setToolTip(QStringLiteral("Copy the currently selected value"));
    }
    menu.addAction(GetThemedIcon(QStringLiteral(":/ProfilerLibUI/CopyToClipboard_256x.png")),
                   QStringLiteral("Copy Selection"), this, [this] { Copy(GetSelectionText()); })
        ->setToolTip(QStringLiteral("Copy the current selection"));
    menu.setToolTipsVisible(true);
    menu.exec(viewport()->mapToGlobal(position));
}

SymbolResolveWidget::SymbolResolveWidget(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Resolve log"));
    setObjectName(QStringLiteral("SymbolResolveWidget"));
    mTabWidget = new QTabWidget(this);
    mTabWidget->setObjectName(QStringLiteral("mTabWidget"));
    mTabWidget->setStyleSheet(QStringLiteral("QTabWidget::pane { border: 0; }"));

    auto* logTab = new QWidget(mTabWidget);
    logTab->setObjectName(QStringLiteral("mResolveLogTab"));
    mStepTree = new ResolveLogTreeWidget(logTab);
    mStepTree->setObjectName(QStringLiteral("mStepTree"));
    mStepTree->setHeaderLabels(
        {QStringLiteral("Step"), QStringLiteral("Outcome"), QStringLiteral("Path or value")});
    auto* logLayout = new QVBoxLayout(logTab);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->addWidget(mStepTree);
    mTabWidget->addTab(logTab, QStringLiteral("Resolve Log"));

    auto* advancedTab = new QWidget(mTabWidget);
    advancedTab->setObjectName(QStringLiteral("mAdvancedTab"));
    mAdvancedTree = new ResolveLogTreeWidget(advancedTab);
    mAdvancedTree->setObjectName(QStringLiteral("mAdvancedTree"));
    mAdvancedTree->setHeaderLabels({QStringLiteral("Property"), QStringLiteral("Value")});
    auto* advancedLayout = new QVBoxLayout(advancedTab);
    advancedLayout->setContentsMargins(0, 0, 0, 0);
    advancedLayout->addWidget(mAdvancedTree);
    mTabWidget->addTab(advancedTab, QStringLiteral("Advanced"));

    mCopyToClipboard = MakeButton(this, "mCopyToClipboard", ":/ProfilerLibUI/CopyToClipboard_256x.png",
                                  QStringLiteral("Copy to clipboard"));
    mCopyLogToClipboard = MakeButton(
        this, "mCopyLogToClipboard", ":/ProfilerLibUI/CopyLongTextToClipboard.png",
        QStringLiteral("Copy all Resolve information"), QStringLiteral("Copy all resolve information"));
    mOpenPath =
        MakeButton(this, "mOpenPath", ":/ProfilerLibUI/FolderOpen_256x.png", QStringLiteral("Open Path"),
                   QStringLiteral("Open the currently selected module path"));
    mShowDetails =
        MakeButton(this, "mShowDetails", ":/ProfilerLibUI/Info.png", QStringLiteral("Show detailed result"));

    // Two rows of two: the view sits in docks a third of the window wide.
    auto* buttons = new QGridLayout();
    buttons->addWidget(mCopyToClipboard, 0, 0);
    buttons->addWidget(mCopyLogToClipboard, 0, 1);
    buttons->addWidget(mOpenPath, 1, 0);
    buttons->addWidget(mShowDetails, 1, 1);
    buttons->setColumnStretch(2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mTabWidget, 1);
    layout->addLayout(buttons);

    connect(mCopyToClipboard, &QPushButton::clicked, this,
            [this] { Copy(CurrentTree()->GetSelectionText()); });
    connect(mCopyLogToClipboard, &QPushButton::clicked, this, [this] { Copy(GetResolveText()); });
    connect(mOpenPath, &QPushButton::clicked, this, [this] { OpenWithMessage(CurrentPath()); });
    connect(mShowDetails, &QPushButton::clicked, this, &SymbolResolveWidget::ShowDetails);
    for (ResolveLogTreeWidget* tree : {mStepTree, mAdvancedTree}) {
        connect(tree, &ResolveLogTreeWidget::OpenLocationRequested, this,
                &SymbolResolveWidget::OpenWithMessage);
        connect(tree, &QTreeWidget::currentItemChanged, this, &SymbolResolveWidget::UpdateButtons);
    }
    connect(mTabWidget, &QTabWidget::currentChanged, this, &SymbolResolveWidget::UpdateButtons);
    UpdateButtons();
}

void SymbolResolveWidget::SetResolveInfo(SymbolResolveInfo info)
{
    mInfo = std::move(info);
    mStepTree->clear();
    mAdvancedTree->clear();
    if (mInfo.Missing != EMissingResolveLog::None) {
        auto* item = new QTreeWidgetItem(mStepTree);
        item->setText(0, QString::fromLatin1(GetMissingResolveLogText(mInfo.Missing)));
        item->setFirstColumnSpanned(true);
    }
    for (const ResolveLogEntry& entry : mInfo.Log) {
        auto* item = new QTreeWidgetItem(mStepTree);
        item->setText(0, QString::fromStdString(entry.Label));
        item->setText(1, entry.Detail.empty() ? QString::fromLatin1(GetResolveStepOutcomeText(entry.Outcome))
                                              : QString::fromStdString(entry.Detail));
        item->setIcon(1, OutcomeIcon(entry.Outcome));
        item->setText(kValueColumn, QString::fromStdString(GetShownValue(entry)));
        item->setData(kValueColumn, ResolveLogTreeWidget::kIsPathRole, !entry.Path.empty());
        item->setToolTip(kValueColumn, item->text(kValueColumn));
    }
    for (const auto& [key, value] : mInfo.Module) {
        auto* item = new QTreeWidgetItem(mAdvancedTree);
        item->setText(0, QString::fromStdString(key));
        item->setText(1, QString::fromStdString(value));
        item->setData(1, ResolveLogTreeWidget::kIsPathRole, !value.empty() && value.front() == '/');
    }
    for (ResolveLogTreeWidget* tree : {mStepTree, mAdvancedTree})
        tree->resizeColumnToContents(0);
    mStepTree->resizeColumnToContents(1);
    UpdateButtons();
}

void SymbolResolveWidget::SetPending()
{
    SetResolveInfo({});
    auto* item = new QTreeWidgetItem(mStepTree);
    item->setText(0, QStringLiteral("Searching for debug information..."));
    item->setFirstColumnSpanned(true);
}

QString SymbolResolveWidget::GetResolveText() const
{
    return QString::fromStdString(FormatResolveLogText(mInfo.Log, mInfo.Missing, mInfo.Module));
}

ResolveLogTreeWidget* SymbolResolveWidget::CurrentTree() const
{
    return mTabWidget->currentIndex() == 0 ? mStepTree : mAdvancedTree;
}

QString SymbolResolveWidget::CurrentPath() const
{
    ResolveLogTreeWidget* tree = CurrentTree();
    QTreeWidgetItem* item = tree->currentItem();
    const int column = tree == mStepTree ? kValueColumn : 1;
    if (item != nullptr && item->data(column, ResolveLogTreeWidget::kIsPathRole).toBool())
        return item->text(column);
    // Without a path selected, the module's own.
    for (const auto& [key, value] : mInfo.Module)
        if (key == "Path")
            return QString::fromStdString(value);
    return {};
}

void SymbolResolveWidget::UpdateButtons()
{
    const bool hasInfo = !mInfo.Log.empty() || !mInfo.Module.empty();
    mCopyLogToClipboard->setEnabled(hasInfo || mInfo.Missing != EMissingResolveLog::None);
    mOpenPath->setEnabled(!CurrentPath().isEmpty());
    mShowDetails->setEnabled(mTabWidget->currentIndex() == 0 && mStepTree->currentItem() != nullptr);
}

bool SymbolResolveWidget::OpenLocation(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void SymbolResolveWidget::OpenWithMessage(const QString& path)
{
    if (!OpenLocation(path))
        QMessageBox::warning(this, QStringLiteral("Quasarix"),
                             QStringLiteral("The filepath could not be opened."));
}

void SymbolResolveWidget::ShowDetails()
{
    const int row = mStepTree->indexOfTopLevelItem(mStepTree->currentItem());
    const int first = mInfo.Missing != EMissingResolveLog::None ? 1 : 0;
    if (row < first || row - first >= static_cast<int>(mInfo.Log.size()))
        return;
    const ResolveLogEntry& entry = mInfo.Log[row - first];
    QMessageBox::information(
        this, QStringLiteral("Resolve log"),
        QStringLiteral("Step: %1\nOutcome: %2\nDetail: %3\nPath: %4\nValue: %5")
            .arg(QString::fromStdString(entry.Label), QLatin1String(GetResolveStepOutcomeText(entry.Outcome)),
                 QString::fromStdString(entry.Detail), QString::fromStdString(entry.Path),
                 QString::fromStdString(entry.Value)));
}

} // namespace Profiler
