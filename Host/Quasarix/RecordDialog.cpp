#include "RecordDialog.h"

#include "Importers/NewCaptureDirectory.h"
#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfRecordCommand.h"
#include "Importers/PerfRecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <filesystem>

namespace Profiler {

namespace {

QString ErrorsText(const Serialization::ErrorList& errors)
{
    QStringList lines;
    for (const Serialization::ErrorRecord& error : errors.GetErrors())
        lines << QString::fromStdString(error.context.empty() ? error.message
                                                              : error.context + ": " + error.message);
    return lines.join('\n');
}

} // namespace

RecordDialog::RecordDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Record"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    mProgram = new QLineEdit(this);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    auto* programRow = new QHBoxLayout();
    programRow->addWidget(mProgram, 1);
    programRow->addWidget(browse);
    form->addRow(QStringLiteral("Program:"), programRow);
    mArguments = new QLineEdit(this);
    form->addRow(QStringLiteral("Arguments:"), mArguments);
    mCaptureDirectory = new QLineEdit(QDir::home().filePath(QStringLiteral("capture")), this);
    form->addRow(QStringLiteral("Capture directory:"), mCaptureDirectory);
    mFrequency = new QSpinBox(this);
    mFrequency->setRange(1, 100000);
    mFrequency->setValue(static_cast<int>(PerfRecordOptions::kDefaultFrequencyHz));
    mFrequency->setSuffix(QStringLiteral(" Hz"));
    form->addRow(QStringLiteral("Frequency:"), mFrequency);
    mCallGraph = new QComboBox(this);
    mCallGraph->addItem(QStringLiteral("DWARF (complete stacks)"), static_cast<int>(ECallGraphMode::Dwarf));
    mCallGraph->addItem(QStringLiteral("Frame pointers (cheaper; stops at code built without them)"),
                        static_cast<int>(ECallGraphMode::FramePointer));
    mCallGraph->setCurrentIndex(mCallGraph->findData(static_cast<int>(PerfRecordOptions{}.callGraph)));
    form->addRow(QStringLiteral("Call graphs:"), mCallGraph);
    mSwitches = new QCheckBox(QStringLiteral("Record context switches (thread states)"), this);
    mSwitches->setChecked(true);
    form->addRow(QString(), mSwitches);
    layout->addLayout(form);
    mLog = new QPlainTextEdit(this);
    mLog->setReadOnly(true);
    mLog->setMinimumHeight(160);
    layout->addWidget(mLog, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    mRecordButton = buttons->addButton(QStringLiteral("Record"), QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    resize(620, 420);

    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Program"));
        if (!file.isEmpty())
            mProgram->setText(file);
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(mRecordButton, &QPushButton::clicked, this, [this] {
        if (mRecording)
            StopRecording();
        else
            StartRecording();
    });
    connect(this, &RecordDialog::Output, mLog, &QPlainTextEdit::appendPlainText);
    connect(this, &RecordDialog::Finished, this, &RecordDialog::OnFinished);
}

RecordDialog::~RecordDialog()
{
    if (mWorker.joinable())
        mWorker.join();
}

void RecordDialog::StartRecording()
{
    if (mWorker.joinable())
        mWorker.join();
    PerfRecordOptions options;
    options.captureDirectory = mCaptureDirectory->text().toStdString();
    options.frequencyHz = static_cast<uint32_t>(mFrequency->value());
    options.contextSwitches = mSwitches->isChecked();
    options.callGraph = static_cast<ECallGraphMode>(mCallGraph->currentData().toInt());
    if (mProgram->text().trimmed().isEmpty()) {
        mLog->appendPlainText(QStringLiteral("Choose the program to record."));
        return;
    }
    options.program.push_back(mProgram->text().trimmed().toStdString());
    for (const QString& argument : QProcess::splitCommand(mArguments->text()))
        options.program.push_back(argument.toStdString());

    std::error_code error;
    const std::filesystem::path capture = options.captureDirectory;
    if (std::filesystem::exists(capture, error) &&
        (!std::filesystem::is_directory(capture, error) || !std::filesystem::is_empty(capture, error))) {
        mLog->appendPlainText(
            QStringLiteral("%1 exists and is not an empty directory; choose a new capture directory.")
                .arg(mCaptureDirectory->text()));
        return;
    }
    const std::string problem =
        PerfRecordCommand::DescribeAccessProblem(PerfRecordCommand::ProbeAccess(), options.contextSwitches);
    if (!problem.empty()) {
        mLog->appendPlainText(QString::fromStdString(problem));
        return;
    }
    // The capture directory is made and write-locked now, as `qx import` does, so that another
    // writer cannot start there while perf runs.
    NewCaptureDirectory directory;
    if (directory.Prepare(capture) != NewCaptureDirectory::EResult::Ready) {
        mLog->appendPlainText(QStringLiteral("%1: %2").arg(mCaptureDirectory->text(),
                                                           QString::fromStdString(directory.GetMessage())));
        return;
    }
    mRecording = true;
    mRecordButton->setText(QStringLiteral("Stop"));
    mLog->appendPlainText(
        QStringLiteral("Recording %1 ... (Stop ends the program and keeps what was recorded)")
            .arg(mProgram->text()));
    mWorker = std::thread([this, options, directory = std::move(directory)]() mutable {
        QTemporaryDir work(QDir::temp().filePath(QStringLiteral("qx-record-XXXXXX")));
        if (!work.isValid()) {
            directory.Abandon();
            emit Finished(false, QStringLiteral("Cannot create a work directory."));
            return;
        }
        const PerfRecordPlan plan = PerfRecordCommand::BuildPlan(options, work.path().toStdString());
        Serialization::ErrorList errors;
        if (!PerfRecorder::Record(plan, errors)) {
            directory.Abandon();
            emit Finished(false, ErrorsText(errors));
            return;
        }
        emit Output(QStringLiteral("Importing perf's samples ..."));
        PerfImportStats stats;
        std::string problems;
        const bool imported =
            PerfRecorder::Import(plan, options.captureDirectory, {}, stats, problems, errors);
        if (!problems.empty())
            emit Output(QString::fromStdString("perf script output: " + problems));
        if (!imported) {
            directory.Abandon();
            emit Finished(false, ErrorsText(errors));
            return;
        }
        emit Output(QString::fromStdString("Recorded: " + PerfCaptureImporter::DescribeStats(stats)));
        emit Finished(true, QString::fromStdString(options.captureDirectory));
    });
}

void RecordDialog::StopRecording()
{
    mRecordButton->setEnabled(false);
    mLog->appendPlainText(QStringLiteral("Stopping the recording..."));
    PerfRecorder::RequestStop();
}

void RecordDialog::reject()
{
    // Closing while perf runs stops it like the Stop button; the dialog closes once what was
    // recorded is imported, so that neither perf nor the program is left running.
    if (mRecording) {
        mCloseWhenFinished = true;
        StopRecording();
        return;
    }
    QDialog::reject();
}

void RecordDialog::OnFinished(bool succeeded, const QString& text)
{
    mRecording = false;
    mRecordButton->setText(QStringLiteral("Record"));
    mRecordButton->setEnabled(true);
    if (!succeeded) {
        mLog->appendPlainText(text);
        if (mCloseWhenFinished)
            QDialog::reject();
        return;
    }
    mCapture = text;
    accept();
}

} // namespace Profiler
