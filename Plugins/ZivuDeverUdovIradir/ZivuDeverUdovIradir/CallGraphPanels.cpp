#include "ZivuDeverUdovIradir/CallGraphPanels.h"

#include "CallGraphModel/CallGraphModel.h"
#include "ProfilerLibUI/ThreadSelectorWidget.h"
#include "System/FormatDuration.h"
#include "ZivuDeverUdovIradir/CallGraphSettings.h"
#include "ZivuDeverUdovIradir/CallGraphView.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QVariant>

namespace Profiler {

CallGraphPanel::CallGraphPanel(const QString& name, QtWidgets::EDockPosition position, const QString& icon,
                               CallGraphView& view, QWidget* parent)
    : ViewWidget(name, position, icon, parent), mView(view)
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    mStatusLabel = new QLabel(this);
    mStatusLabel->setObjectName(QStringLiteral("mStatusLabel"));
    mSummaryLabel = new QLabel(QStringLiteral("Select a time range on the timeline."), this);
    mSummaryLabel->setObjectName(QStringLiteral("mSummaryLabel"));
    mSummaryLabel->setWordWrap(true);
    mSummaryLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    mSummaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(mStatusLabel);
    layout->addWidget(mSummaryLabel, 1);
}

void CallGraphPanel::OnRebuildStarted()
{
    mStatusLabel->setText(QStringLiteral("Building call graph..."));
}
void CallGraphPanel::OnRebuildCanceled()
{
    mStatusLabel->clear();
}
void CallGraphPanel::OnRebuildFailed(const QString& error)
{
    mStatusLabel->setText(error);
}

void CallGraphPanel::SetCallGraph(const CallGraphInputParameters& parameters,
                                  std::shared_ptr<const CallGraph> graph)
{
    mParameters = parameters;
    mGraph = std::move(graph);
    mStatusLabel->clear();
    // What the panel shows, readable through the meta-object by a host (and its tests) that
    // cannot see this module's classes.
    QVariantList threads;
    for (ThreadID thread : parameters.ThreadIDs)
        threads.push_back(static_cast<uint>(thread));
    setProperty("graphStartTime", parameters.StartTime);
    setProperty("graphEndTime", parameters.EndTime);
    setProperty("graphThreadIds", threads);
    setProperty("graphTotalTime", mGraph ? mGraph->GetTotalTime() : 0.0);
    setProperty("graphNodeCount", mGraph ? static_cast<qulonglong>(mGraph->CountNodes()) : 0ull);
    UpdateSummary();
}

void CallGraphPanel::UpdateSummary()
{
    if (!mGraph) {
        mSummaryLabel->setText(QStringLiteral("No call graph."));
        return;
    }
    const bool whole = mParameters.EndTime >= CallGraphModel::kEndOfCapture;
    const QString range =
        whole ? QStringLiteral("the whole capture")
              : QString::fromStdString(System::FormatDuration(mParameters.EndTime - mParameters.StartTime));
    mSummaryLabel->setText(QStringLiteral("%1 threads, %2\nThread time: %3\nNodes: %4")
                               .arg(mParameters.ThreadIDs.size())
                               .arg(range)
                               .arg(QString::fromStdString(System::FormatDuration(mGraph->GetTotalTime())))
                               .arg(mGraph->CountNodes()));
}

void CallGraphPanel::focusInEvent(QFocusEvent* event)
{
    mView.SetActiveWidget(this);
    ViewWidget::focusInEvent(event);
}

CallGraphWidget::CallGraphWidget(CallGraphView& view, std::vector<ThreadTreeProcess> processes,
                                 bool mergeProcesses)
    : CallGraphPanel(QStringLiteral("Call Graph"), QtWidgets::EDockPosition::Left,
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

TopExclusiveWidget::TopExclusiveWidget(CallGraphView& view)
    : CallGraphPanel(QStringLiteral("Function List"), QtWidgets::EDockPosition::Right,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/Flat_view_256.png"), view)
{}

SourceWidget::SourceWidget(CallGraphView& view)
    : CallGraphPanel(QStringLiteral("Source"), QtWidgets::EDockPosition::Bottom,
                     QStringLiteral(":/ZivuDeverUdovIradir/Resources/source.png"), view)
{
    // The source follows the function selected in the other panels, not the timeline's range.
    mSummaryLabel->setText(QStringLiteral("Select a function in the call graph or the function list to see "
                                          "its source with the time spent on each line."));
}

} // namespace Profiler
