#include "ZivuDeverUdovIradir/CallGraphPanels.h"

#include "CallGraphModel/CallGraphModel.h"
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
    // No node count here: counting walks the whole graph, too slow for the user interface thread
    // on large graphs; the call graph panel publishes the count its job made.
    PublishGraphProperties(parameters, mGraph ? mGraph->GetTotalTime() : 0.0);
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
    mSummaryLabel->setText(QStringLiteral("%1 threads, %2\nThread time: %3")
                               .arg(mParameters.ThreadIDs.size())
                               .arg(range)
                               .arg(QString::fromStdString(System::FormatDuration(mGraph->GetTotalTime()))));
}

void CallGraphPanel::focusInEvent(QFocusEvent* event)
{
    mView.SetActiveWidget(this);
    ViewWidget::focusInEvent(event);
}

void CallGraphPanel::PublishGraphProperties(const CallGraphInputParameters& parameters, double totalTime)
{
    QVariantList threads;
    for (ThreadID thread : parameters.ThreadIDs)
        threads.push_back(static_cast<uint>(thread));
    setProperty("graphStartTime", parameters.StartTime);
    setProperty("graphEndTime", parameters.EndTime);
    setProperty("graphThreadIds", threads);
    setProperty("graphTotalTime", totalTime);
}

} // namespace Profiler
