#include "ProfilerLibUI/ModulesSymbolLocationsDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace Profiler {

ModulesSymbolLocationsDialog::ModulesSymbolLocationsDialog(SymbolLocationSettings& settings,
                                                           std::filesystem::path path, QWidget* parent)
    : QDialog(parent), mSettings(settings), mPath(std::move(path))
{
    setWindowTitle(QStringLiteral("Symbol Locations"));
    setObjectName(QStringLiteral("ModulesSymbolLocationsDialog"));
    auto* intro = new QLabel(
        QStringLiteral(
            "Besides each module's own file, /usr/lib/debug (by build id and by debug link) and the "
            "folder of the module, these folders are searched, in order, for modules and their debug "
            "files. Changes are saved at once."),
        this);
    intro->setWordWrap(true);
    mFolderList = new QListWidget(this);
    mFolderList->setObjectName(QStringLiteral("mFolderList"));
    auto* add = new QPushButton(QStringLiteral("Add Folder..."), this);
    add->setObjectName(QStringLiteral("mAddFolderButton"));
    auto* remove = new QPushButton(QStringLiteral("Remove"), this);
    remove->setObjectName(QStringLiteral("mRemoveFolderButton"));
    mLocatedList = new QListWidget(this);
    mLocatedList->setObjectName(QStringLiteral("mLocatedList"));
    auto* forget = new QPushButton(QStringLiteral("Forget"), this);
    forget->setObjectName(QStringLiteral("mForgetLocatedButton"));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* folderButtons = new QHBoxLayout();
    folderButtons->addWidget(add);
    folderButtons->addWidget(remove);
    folderButtons->addStretch(1);
    auto* locatedButtons = new QHBoxLayout();
    locatedButtons->addWidget(forget);
    locatedButtons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(new QLabel(QStringLiteral("Local folders:"), this));
    layout->addWidget(mFolderList, 2);
    layout->addLayout(folderButtons);
    layout->addWidget(new QLabel(QStringLiteral("Debug files located by hand (build id: file):"), this));
    layout->addWidget(mLocatedList, 1);
    layout->addLayout(locatedButtons);
    layout->addWidget(close);
    resize(560, 420);

    connect(add, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Add Symbol Folder"));
        if (!folder.isEmpty())
            AddFolder(folder);
    });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveFolder(mFolderList->currentRow()); });
    connect(forget, &QPushButton::clicked, this, [this] { RemoveLocatedFile(mLocatedList->currentRow()); });
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Refresh();
}

void ModulesSymbolLocationsDialog::AddFolder(const QString& folder)
{
    const std::string path = folder.toStdString();
    auto& folders = mSettings.mLocalFolders;
    if (path.empty() || std::find(folders.begin(), folders.end(), path) != folders.end())
        return;
    folders.push_back(path);
    Save();
}

void ModulesSymbolLocationsDialog::RemoveFolder(int row)
{
    auto& folders = mSettings.mLocalFolders;
    if (row < 0 || row >= static_cast<int>(folders.size()))
        return;
    folders.erase(folders.begin() + row);
    Save();
}

void ModulesSymbolLocationsDialog::RemoveLocatedFile(int row)
{
    auto& located = mSettings.mLocatedDebugFiles;
    if (row < 0 || row >= static_cast<int>(located.size()))
        return;
    located.erase(std::next(located.begin(), row));
    Save();
}

void ModulesSymbolLocationsDialog::Save()
{
    mChanged = true;
    Refresh();
    Serialization::ErrorList errors;
    if (!SaveSymbolLocationSettings(mPath, mSettings, errors))
        QMessageBox::warning(this, QStringLiteral("Quasarix"),
                             QStringLiteral("The symbol locations could not be saved:\n%1")
                                 .arg(QString::fromStdString(errors.ToString())));
}

void ModulesSymbolLocationsDialog::Refresh()
{
    mFolderList->clear();
    for (const std::string& folder : mSettings.mLocalFolders)
        mFolderList->addItem(QString::fromStdString(folder));
    mLocatedList->clear();
    for (const auto& [key, file] : mSettings.mLocatedDebugFiles)
        mLocatedList->addItem(QString::fromStdString(key + ": " + file));
}

} // namespace Profiler
