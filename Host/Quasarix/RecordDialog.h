#pragma once

#include <QDialog>

#include <atomic>
#include <thread>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace Profiler {

/// Records a program under perf into a new capture directory with the same code as
/// `qx record`, showing perf's output; says plainly when perf is missing or not permitted.
class RecordDialog : public QDialog {
    Q_OBJECT
public:
    explicit RecordDialog(QWidget* parent = nullptr);
    ~RecordDialog() override;

    /// The capture made by the last successful recording; empty before.
    QString GetCapture() const { return mCapture; }

signals:
    void Output(QString text);
    void Finished(bool succeeded, QString capture);

protected:
    void reject() override;

private:
    void StartRecording();
    void StopRecording();
    void OnFinished(bool succeeded, const QString& capture);

    QLineEdit* mProgram;
    QLineEdit* mArguments;
    QLineEdit* mCaptureDirectory;
    QSpinBox* mFrequency;
    QComboBox* mCallGraph;
    QCheckBox* mSwitches;
    QPlainTextEdit* mLog;
    QPushButton* mRecordButton;
    QString mCapture;
    std::thread mWorker;
    bool mRecording = false;
    bool mCloseWhenFinished = false;
};

} // namespace Profiler
