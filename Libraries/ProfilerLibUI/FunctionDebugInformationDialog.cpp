#include "ProfilerLibUI/FunctionDebugInformationDialog.h"

#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/ResolveReport.h"
#include "SymbolResolution/SymbolResolver.h"
#include "System/JobScheduler.h"
#include "Theming/Icons.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace Profiler {

FunctionDebugInformationDialog::FunctionDebugInformationDialog(const ModuleDatabase& modules,
                                                               std::shared_ptr<SymbolResolver> symbols,
                                                               System::JobScheduler& scheduler,
                                                               const ResolvedAddress& function,
                                                               QWidget* parent)
    : QDialog(parent), mScheduler(scheduler)
{
    setWindowTitle(QStringLiteral("Function information"));
    setObjectName(QStringLiteral("FunctionDebugInformationDialog"));
    mText = new QPlainTextEdit(this);
    mText->setObjectName(QStringLiteral("mInformationText"));
    mText->setReadOnly(true);
    mText->setLineWrapMode(QPlainTextEdit::NoWrap);
    mText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    mText->setPlainText(QStringLiteral("Reading the debug information of %1...")
                            .arg(QString::fromStdString(modules.GetModuleName(function))));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(QStringLiteral("Copy to clipboard"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("mCopyToClipboard"));
    copy->setIcon(GetThemedIcon(QStringLiteral(":/ProfilerLibUI/CopyToClipboard_256x.png")));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mText, 1);
    layout->addWidget(buttons);
    resize(720, 420);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(GetText()); });

    System::JobDescription description;
    // The destructor waits for the job, so the dialog outlives the work; a call queued for a
    // dialog destroyed since is dropped with the dialog's posted events.
    description.work = [this, modules = &modules, symbols = std::move(symbols),
                        function](System::Job&, const std::atomic<bool>& canceled) {
        if (canceled.load())
            return;
        const FunctionInformation information = BuildFunctionInformation(*modules, *symbols, function);
        QString text =
            QString::fromStdString(FormatFunctionInformationText(information.Function, information.Module));
        QMetaObject::invokeMethod(
            this,
            [this, text = std::move(text)] {
                mJob = {};
                mText->setPlainText(text);
                emit Ready();
            },
            Qt::QueuedConnection);
    };
    mJob = mScheduler.Schedule(std::move(description));
}

FunctionDebugInformationDialog::~FunctionDebugInformationDialog()
{
    if (mJob.IsValid())
        mScheduler.CancelAndWait(System::ECancelMode::Chain, mJob);
}

FunctionDebugInformationDialog* FunctionDebugInformationDialog::Show(const ModuleDatabase& modules,
                                                                     std::shared_ptr<SymbolResolver> symbols,
                                                                     System::JobScheduler& scheduler,
                                                                     const ResolvedAddress& function,
                                                                     QWidget* parent)
{
    auto* dialog =
        new FunctionDebugInformationDialog(modules, std::move(symbols), scheduler, function, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

QString FunctionDebugInformationDialog::GetText() const
{
    return mText->toPlainText();
}

} // namespace Profiler
