#include "ZivuDeverUdovIradir/Source/SourceStatus.h"

namespace Profiler {

namespace {

const QString kFromCache = QStringLiteral(" <b>[from cache]</b>");

void SetError0(SourceStatus& status, const FunctionData& data)
{
    using R = EResolveFunctionDataResult;
    switch (data.mResult) {
    case R::PDBNotFound:
        status.Error0 =
            QStringLiteral("No matching symbol file was found - no source information available.");
        status.Resolve0 = true;
        break;
    case R::PDBCouldNotBeLoaded:
        status.Error0 =
            QStringLiteral("The symbol file could not be loaded - no source information available.");
        status.Resolve0 = true;
        break;
    case R::SourceNotFound:
        status.Browse0 = true;
        // An image that could be read (even without disassembly) says only the source is missing.
        if (data.mDisassemblyResult >= EDisassemblyResult::DisassemblyNotAvailable) {
            status.Error0 =
                data.mOriginalSourcePath.empty()
                    ? QStringLiteral("Unable to determine the source file path - the debug data does "
                                     "not contain the source file for this function.")
                    : QStringLiteral("The source file does not exist on disk - no source information "
                                     "available.");
        } else {
            status.Error0 = QStringLiteral("The source and module file could not be found.");
            status.Resolve0 = true;
        }
        break;
    case R::SourceUnmatched:
        status.Error0 =
            QStringLiteral("The source file on disk does not match the source file used to build the "
                           "module. Timing information may be inaccurate.");
        status.Browse0 = true;
        break;
    case R::SourceFoundNoChecksum:
        status.Error0 =
            QStringLiteral("The debug data does not contain checksum information. If this is not the "
                           "correct source file, browse to the correct file manually.");
        status.Browse0 = true;
        break;
    case R::CriticalError:
        status.Error0 = QStringLiteral("An unknown error occurred while loading the source file.");
        break;
    case R::SourceFound:
    case R::SourceFoundInCache:
        break;
    }
}

} // namespace

bool HasSourceFile(EResolveFunctionDataResult result)
{
    return result >= EResolveFunctionDataResult::SourceUnmatched &&
           result <= EResolveFunctionDataResult::SourceFoundInCache;
}

bool HasDisassembly(EDisassemblyResult result)
{
    return result == EDisassemblyResult::Success || result == EDisassemblyResult::SuccessFromCache;
}

SourceStatus ComputeSourceStatus(const SourceStatusInput& input)
{
    SourceStatus status;
    if (input.Selection != ESourceSelectionState::OneFunction) {
        status.EmptyText = input.Selection == ESourceSelectionState::SeveralFunctions
                               ? QStringLiteral("Multiple functions selected")
                           : input.Selection == ESourceSelectionState::NothingToShow
                               ? QStringLiteral("No source or disassembly available for selection")
                               : QStringLiteral("Select a function to view source");
        return status;
    }
    if (input.Data == nullptr) {
        status.EmptyText = QStringLiteral("Retrieving source file");
        return status;
    }
    const FunctionData& data = *input.Data;
    const bool disassemblyMode = IsDisassemblyMode(input.Mode);
    const bool hasSource = HasSourceFile(data.mResult);
    const bool hasDisassembly = HasDisassembly(data.mDisassemblyResult);

    status.SourceActionsEnabled = data.mResult == EResolveFunctionDataResult::SourceUnmatched ||
                                  data.mResult == EResolveFunctionDataResult::SourceFound ||
                                  data.mResult == EResolveFunctionDataResult::SourceFoundNoChecksum;
    status.FindEnabled = hasSource || hasDisassembly;
    status.DisassemblyToggleEnabled = true;

    if (disassemblyMode) {
        status.Title = QStringLiteral("Disassembly for %1!%2").arg(input.ModuleName, input.FunctionName);
        if (data.mDisassemblyResult == EDisassemblyResult::SuccessFromCache)
            status.Title += kFromCache;
    } else if (!data.mResolvedSourcePath.empty() || !data.mOriginalSourcePath.empty()) {
        status.Title = QString::fromStdString(data.mResolvedSourcePath.empty() ? data.mOriginalSourcePath
                                                                               : data.mResolvedSourcePath);
        if (data.mResult == EResolveFunctionDataResult::SourceFoundInCache)
            status.Title += kFromCache;
    }

    status.ShowEmptyPage = false;
    if (disassemblyMode && !hasSource && !hasDisassembly) {
        status.ShowEmptyPage = true;
        status.EmptyText = QStringLiteral("No source or disassembly available for selection");
    } else if (disassemblyMode && !hasDisassembly) {
        status.ShowEmptyPage = true;
        status.EmptyText = QStringLiteral("No disassembly available for selection");
    }

    SetError0(status, data);
    if (hasSource) {
        if (disassemblyMode) {
            if (data.mDisassemblyResult == EDisassemblyResult::ImageNotFound)
                status.Error1 =
                    QStringLiteral("No matching Image file was found - disassembly not available");
            else if (!hasDisassembly)
                status.Error1 =
                    QStringLiteral("The image file could not be read - disassembly not available");
        } else if (!input.HasLineData) {
            status.Error1 =
                QStringLiteral("The debug data is missing line information - no line timings available");
        }
    }
    return status;
}

} // namespace Profiler
