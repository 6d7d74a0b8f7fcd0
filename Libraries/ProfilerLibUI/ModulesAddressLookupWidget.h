#pragma once

#include "SymbolResolution/AddressLookup.h"
#include "System/Job.h"

#include <QWidget>

#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace System {
class JobScheduler;
}

namespace Profiler {

class ModuleDatabase;
class SymbolResolver;

/// The answer to an address lookup as rich text ("<b>0x1139</b> in module <b>app</b> was
/// resolved to function <b>main</b>"); names are escaped.
QString FormatAddressLookupText(const AddressLookupResult& result);
/// "[0x1000-0X2000]": how the ambiguity table shows a range.
QString FormatAddressRange(uint64_t start, uint64_t end);
/// An address as the user typed it: hexadecimal, with or without "0x" (addresses are always
/// read and written in hex here); nullopt when it is none.
std::optional<uint64_t> ParseAddress(const QString& text);

/// Looks an address up in the capture's modules, in memory ("Absolute Address") or within the
/// selected module ("Relative Address (RVA)"). The lookup runs on the scheduler: it may have to
/// load a module's symbols first.
class ModulesAddressLookupWidget : public QWidget {
    Q_OBJECT
public:
    ModulesAddressLookupWidget(const ModuleDatabase& modules, std::shared_ptr<SymbolResolver> symbols,
                               System::JobScheduler& scheduler, QWidget* parent = nullptr);
    ~ModulesAddressLookupWidget() override;

    /// The module that relative addresses belong to; none when no native module is selected.
    void SetRelativeModule(std::optional<uint32_t> moduleIndex);
    /// Starts a lookup of the text; a lookup still running is canceled.
    void LookUp(const QString& text, bool relative);
    /// The answer shown (rich text), empty before the first lookup.
    QString GetResultText() const;

signals:
    /// A lookup finished and its answer is shown.
    void LookupFinished();

private:
    void Show(const AddressLookupResult& result);
    void ShowFailure(const QString& text);
    void CancelLookup();

    const ModuleDatabase& mModules;
    std::shared_ptr<SymbolResolver> mSymbols;
    System::JobScheduler& mScheduler;
    std::optional<uint32_t> mRelativeModule;
    System::JobHandle mJob;
    uint64_t mGeneration = 0;
    QComboBox* mAddressTypeCombo;
    QLineEdit* mAddressLineEdit;
    QLabel* mResultIcon;
    QLabel* mResultLabel;
    QTableWidget* mAmbiguousTable;
};

} // namespace Profiler
