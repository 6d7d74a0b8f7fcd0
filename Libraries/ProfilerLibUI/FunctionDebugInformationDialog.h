#pragma once

#include "CaptureModel/ResolvedAddress.h"
#include "System/Job.h"

#include <QDialog>

#include <memory>

class QPlainTextEdit;

namespace System {
class JobScheduler;
}

namespace Profiler {

class ModuleDatabase;
class SymbolResolver;

/// "Function information": a function's properties from the capture and its module's debug
/// information, then its module's, as aligned text that can be copied. The module's symbols are
/// read on the scheduler; the text says so until they are there.
class FunctionDebugInformationDialog : public QDialog {
    Q_OBJECT
public:
    /// `modules` must outlive the dialog.
    FunctionDebugInformationDialog(const ModuleDatabase& modules, std::shared_ptr<SymbolResolver> symbols,
                                   System::JobScheduler& scheduler, const ResolvedAddress& function,
                                   QWidget* parent = nullptr);
    ~FunctionDebugInformationDialog() override;

    /// Opens a dialog that deletes itself when closed.
    static FunctionDebugInformationDialog* Show(const ModuleDatabase& modules,
                                                std::shared_ptr<SymbolResolver> symbols,
                                                System::JobScheduler& scheduler,
                                                const ResolvedAddress& function, QWidget* parent);

    QString GetText() const;

signals:
    /// The information is complete.
    void Ready();

private:
    System::JobScheduler& mScheduler;
    System::JobHandle mJob;
    QPlainTextEdit* mText;
};

} // namespace Profiler
