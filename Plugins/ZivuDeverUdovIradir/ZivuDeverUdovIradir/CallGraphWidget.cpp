#include "ZivuDeverUdovIradir/CallGraphWidget.h"

#include "ProfilerLibUI/ThreadSelectorWidget.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"

#include <QVBoxLayout>

namespace Profiler {

CallGraphWidget::CallGraphWidget(CallGraphView& view, std::vector<ThreadTreeProcess> processes,
                                 bool mergeProcesses)
    : CallGraphPanel(QStringLiteral("Call Graph"), QtWidgets::EDockPosition::BottomWide,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/callgraph.png"), view)
{
    mThreadSelector = new ThreadSelectorWidget(std::move(processes), false, mergeProcesses, this);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, mThreadSelector);
    mThreadSelector->SetMergeChangedCallback([this](bool merge) {
        CallGraphSettings& settings = mView.GetCallGraphSettings();
        settings.SetThreadSelectorProcessMode(merge ? ThreadOrganizationModel::EProcessMode::CombineProcesses
                                                    : ThreadOrganizationModel::EProcessMode::GroupByProcess);
    });
    mThreadSelector->SetSelectionChangedCallback([this] {
        std::vector<ThreadID> threads;
        for (int32_t id : mThreadSelector->selectedThreadIds())
            threads.push_back(static_cast<ThreadID>(static_cast<uint32_t>(id)));
        const CallGraphViewSelectionState* state = mView.GetSelectionState();
        mView.RequestCallGraph(threads, state ? state->mSelectionTimeRange : TimeRange{}, false,
                               ERequestReason::ThreadSelectionChanged);
    });
}

std::vector<ThreadID> CallGraphWidget::GetAllThreadIds() const
{
    std::vector<ThreadID> threads;
    for (int32_t id :
         mThreadSelector->GetCurrentTree().GetThreadIds(mThreadSelector->GetCurrentTree().GetRoot()))
        threads.push_back(static_cast<ThreadID>(static_cast<uint32_t>(id)));
    return threads;
}

void CallGraphWidget::SetCallGraph(const CallGraphInputParameters& parameters,
                                   std::shared_ptr<const CallGraph> graph)
{
    CallGraphPanel::SetCallGraph(parameters, std::move(graph));
}

void CallGraphWidget::Activate()
{
    // The panel re-announces its selection when it becomes active; with no rows yet there is
    // nothing to announce.
}

} // namespace Profiler
