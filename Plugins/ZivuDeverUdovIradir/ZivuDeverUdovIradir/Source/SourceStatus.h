#pragma once

#include "CaptureModel/FunctionData.h"
#include "ZivuDeverUdovIradir/Source/SourceDocument.h"

#include <QString>

namespace Profiler {

/// What the source view has been asked to show.
enum class ESourceSelectionState : int { None = 0, OneFunction = 1, SeveralFunctions = 2, NothingToShow = 3 };

struct SourceStatusInput {
    ESourceSelectionState Selection = ESourceSelectionState::None;
    const FunctionData* Data = nullptr; ///< null while it is being retrieved
    ESourceViewMode Mode = ESourceViewMode::Source;
    bool HasLineData = false;
    QString ModuleName;
    QString FunctionName;
};

/// The actions, title, page and the two error lines for one state of the view.
struct SourceStatus {
    bool SourceActionsEnabled = false; ///< open file, show in file browser
    bool FindEnabled = false;
    bool DisassemblyToggleEnabled = false;
    QString Title;
    bool ShowEmptyPage = true;
    QString EmptyText;
    QString Error0;
    bool Browse0 = false;
    bool Resolve0 = false;
    QString Error1;
};

bool HasSourceFile(EResolveFunctionDataResult result);
bool HasDisassembly(EDisassemblyResult result);

SourceStatus ComputeSourceStatus(const SourceStatusInput& input);

} // namespace Profiler
