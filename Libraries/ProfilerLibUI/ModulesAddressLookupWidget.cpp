#include "ProfilerLibUI/ModulesAddressLookupWidget.h"

#include "SymbolResolution/SymbolResolver.h"
#include "System/JobScheduler.h"
#include "Theming/Icons.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

namespace Profiler {

namespace {

QString Bold(const QString& text)
{
    return QStringLiteral("<b>") + text.toHtmlEscaped() + QStringLiteral("</b>");
}

QString HexText(uint64_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

} // namespace

QString FormatAddressRange(uint64_t start, uint64_t end)
{
    return QString::asprintf("[0x%llX-0X%llX]", static_cast<unsigned long long>(start),
                             static_cast<unsigned long long>(end));
}

std::optional<uint64_t> ParseAddress(const QString& text)
{
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const uint64_t value = digits.toULongLong(&ok, 16);
    return ok && !digits.isEmpty() ? std::optional(value) : std::nullopt;
}

QString FormatAddressLookupText(const AddressLookupResult& result)
{
    using EOutcome = AddressLookupResult::EOutcome;
    const QString address = Bold(HexText(result.Address));
    const QString module = QString::fromStdString(result.ModuleName);
    switch (result.Outcome) {
    case EOutcome::NotFound:
        return address + QStringLiteral(" could not be resolved");
    case EOutcome::Ambiguous:
        return QStringLiteral("Ambiguous: multiple modules found");
    case EOutcome::JIT:
        return address + QStringLiteral(": JIT code in module ") + Bold(module) +
               QStringLiteral(", function ") + Bold(QString::fromStdString(result.FunctionName));
    case EOutcome::NoFunction: {
        QString text = address + QStringLiteral(" in module ") + Bold(module) +
                       QStringLiteral(" could not be resolved to a function name");
        if (!result.StableName.empty())
            text += QStringLiteral(" (the code is known as ") +
                    Bold(QString::fromStdString(result.StableName)) + QStringLiteral(")");
        return text;
    }
    case EOutcome::Resolved:
        break;
    }
    QString text = address + QStringLiteral(" in module ") + Bold(module) +
                   QStringLiteral(" was resolved to function ") +
                   Bold(QString::fromStdString(result.FunctionName));
    if (!result.IsRelative)
        text += QStringLiteral(" at offset ") + HexText(result.RelativeAddress);
    if (!result.InlinedFunction.empty())
        text +=
            QStringLiteral(", inside the inlined ") + Bold(QString::fromStdString(result.InlinedFunction));
    if (!result.SourceFile.empty())
        text += QStringLiteral("<br>") + QString::fromStdString(result.SourceFile).toHtmlEscaped() +
                QStringLiteral(":%1").arg(result.Line);
    return text;
}

ModulesAddressLookupWidget::ModulesAddressLookupWidget(const ModuleDatabase& modules,
                                                       std::shared_ptr<SymbolResolver> symbols,
                                                       System::JobScheduler& scheduler, QWidget* parent)
    : QWidget(parent), mModules(modules), mSymbols(std::move(symbols)), mScheduler(scheduler)
{
    setObjectName(QStringLiteral("mAddressLookup"));
    mAddressTypeCombo = new QComboBox(this);
    mAddressTypeCombo->setObjectName(QStringLiteral("mAddressTypeCombo"));
    mAddressTypeCombo->addItems(
        {QStringLiteral("Absolute Address"), QStringLiteral("Relative Address (RVA)")});
    mAddressLineEdit = new QLineEdit(this);
    mAddressLineEdit->setObjectName(QStringLiteral("mAddressLineEdit"));
    mAddressLineEdit->setPlaceholderText(QStringLiteral("Address in hex, e.g. 0x7f3a1c2d1139"));
    auto* lookUp = new QPushButton(QStringLiteral("Look Up"), this);
    lookUp->setObjectName(QStringLiteral("mLookUpButton"));
    mResultIcon = new QLabel(this);
    mResultLabel = new QLabel(this);
    mResultLabel->setObjectName(QStringLiteral("mLookupResultLabel"));
    mResultLabel->setTextFormat(Qt::RichText);
    mResultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    mResultLabel->setWordWrap(true);
    mAmbiguousTable = new QTableWidget(0, 3, this);
    mAmbiguousTable->setObjectName(QStringLiteral("mAmbiguousTable"));
    mAmbiguousTable->setHorizontalHeaderLabels({QStringLiteral("Name"),
                                                QStringLiteral("Relative Address Range"),
                                                QStringLiteral("Absolute Address Range")});
    mAmbiguousTable->horizontalHeader()->setStretchLastSection(true);
    mAmbiguousTable->verticalHeader()->hide();
    mAmbiguousTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mAmbiguousTable->hide();

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mAddressTypeCombo, 0, 0);
    layout->addWidget(mAddressLineEdit, 0, 1);
    layout->addWidget(lookUp, 0, 2);
    layout->addWidget(mResultIcon, 1, 0, Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(mResultLabel, 1, 1, 1, 2);
    layout->addWidget(mAmbiguousTable, 2, 0, 1, 3);
    layout->setColumnStretch(1, 1);

    auto start = [this] { LookUp(mAddressLineEdit->text(), mAddressTypeCombo->currentIndex() == 1); };
    connect(lookUp, &QPushButton::clicked, this, start);
    connect(mAddressLineEdit, &QLineEdit::returnPressed, this, start);
}

ModulesAddressLookupWidget::~ModulesAddressLookupWidget()
{
    // The job posts its answer to this widget: it must be done before the widget goes.
    if (mJob.IsValid())
        mScheduler.CancelAndWait(System::ECancelMode::Chain, mJob);
}

void ModulesAddressLookupWidget::SetRelativeModule(std::optional<uint32_t> moduleIndex)
{
    mRelativeModule = moduleIndex;
}

QString ModulesAddressLookupWidget::GetResultText() const
{
    return mResultLabel->text();
}

void ModulesAddressLookupWidget::CancelLookup()
{
    if (mJob.IsValid())
        mScheduler.Cancel(System::ECancelMode::Chain, mJob);
    mJob = {};
    ++mGeneration; // a late answer of the old lookup is dropped
}

void ModulesAddressLookupWidget::LookUp(const QString& text, bool relative)
{
    CancelLookup();
    const std::optional<uint64_t> address = ParseAddress(text);
    if (!address) {
        ShowFailure(QStringLiteral("%1 is not a hexadecimal address").arg(Bold(text.trimmed())));
        return;
    }
    if (relative && !mRelativeModule) {
        ShowFailure(QStringLiteral("Select a module to look up a relative address in."));
        return;
    }
    mResultIcon->clear();
    mResultLabel->setText(QStringLiteral("Looking up %1...").arg(Bold(HexText(*address))));
    mAmbiguousTable->hide();

    System::JobDescription description;
    description.work =
        [this, modules = &mModules, symbols = mSymbols, address = *address, relative,
         module = mRelativeModule.value_or(0), generation = mGeneration,
         self = QPointer<ModulesAddressLookupWidget>(this)](System::Job&, const std::atomic<bool>& canceled) {
            if (canceled.load())
                return;
            AddressLookupResult result = relative ? LookupRelativeAddress(*modules, *symbols, module, address)
                                                  : LookupAbsoluteAddress(*modules, *symbols, address);
            QMetaObject::invokeMethod(
                self.data(),
                [this, self, result = std::move(result), generation] {
                    if (self && generation == mGeneration) {
                        mJob = {};
                        Show(result);
                    }
                },
                Qt::QueuedConnection);
        };
    mJob = mScheduler.Schedule(std::move(description));
}

void ModulesAddressLookupWidget::ShowFailure(const QString& text)
{
    mResultIcon->setPixmap(GetThemedIcon(QStringLiteral(":/ProfilerLibUI/Cancel.png")).pixmap(16, 16));
    mResultLabel->setText(text);
    mAmbiguousTable->hide();
    emit LookupFinished();
}

void ModulesAddressLookupWidget::Show(const AddressLookupResult& result)
{
    using EOutcome = AddressLookupResult::EOutcome;
    const bool success = result.Outcome == EOutcome::Resolved || result.Outcome == EOutcome::JIT;
    mResultIcon->setPixmap(GetThemedIcon(success ? QStringLiteral(":/ProfilerLibUI/Checkmark.png")
                                                 : QStringLiteral(":/ProfilerLibUI/Cancel.png"))
                               .pixmap(16, 16));
    mResultLabel->setText(FormatAddressLookupText(result));
    mAmbiguousTable->setRowCount(static_cast<int>(result.Candidates.size()));
    for (int row = 0; row < static_cast<int>(result.Candidates.size()); ++row) {
        const AddressLookupCandidate& candidate = result.Candidates[row];
        mAmbiguousTable->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(candidate.ModuleName)));
        mAmbiguousTable->setItem(
            row, 1, new QTableWidgetItem(FormatAddressRange(candidate.RelativeStart, candidate.RelativeEnd)));
        mAmbiguousTable->setItem(
            row, 2, new QTableWidgetItem(FormatAddressRange(candidate.AbsoluteStart, candidate.AbsoluteEnd)));
    }
    mAmbiguousTable->setVisible(result.Outcome == EOutcome::Ambiguous);
    emit LookupFinished();
}

} // namespace Profiler
