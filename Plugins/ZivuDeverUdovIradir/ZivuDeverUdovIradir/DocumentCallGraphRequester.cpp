#include "CallGraphModel/CallGraphManager.h"
#include "CallGraphModel/Document/CaptureDocument.h"
#include "CallGraphModel/Document/CaptureQueries.h"
#include "CallGraphModel/Document/FunctionDisplayNames.h"
#include "ZivuDeverUdovIradir/CallGraphRequester.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <algorithm>

namespace Profiler {

namespace {

// Hands the view's requests to the document's queries; completions come back through the
// context object's event loop, and never after the context is gone.
class DocumentCallGraphRequester final : public ICallGraphRequester {
public:
    DocumentCallGraphRequester(CaptureDocument& document, QObject* context, CallGraphManager& manager)
        : mDocument(document),
          mManager(manager),
          mQueries(document, [context = QPointer<QObject>(context)](std::function<void()> task) {
              if (!context)
                  return;
              QMetaObject::invokeMethod(
                  context.data(), [task = std::move(task)] { task(); }, Qt::QueuedConnection);
          })
    {}

    void Submit(const CallGraphInputParameters& parameters,
                std::function<void(CallGraphAnswer)> completion) override
    {
        CallGraphRequest request;
        request.Threads = parameters.ThreadIDs;
        request.Reason = parameters.Reason;
        if (parameters.HasBar) {
            request.Bar = SelectedBar{parameters.Depth, parameters.StartTime, parameters.EndTime};
        } else if (parameters.StartTime <= 0.0 && parameters.EndTime == CallGraphModel::kEndOfCapture) {
            request.To = CallGraphModel::kEndOfCapture; // the whole capture
        } else {
            request.From = std::max(0.0, parameters.StartTime);
            request.To = parameters.EndTime;
        }
        mQueries.SubmitCallGraph(std::move(request), [this, parameters, completion = std::move(completion)](
                                                         CallGraphResult result) {
            CallGraphAnswer answer;
            answer.Parameters = parameters;
            answer.Canceled = result.Outcome == EQueryOutcome::Canceled;
            if (result.Outcome == EQueryOutcome::Graph)
                answer.Graph = mManager.Adopt(std::move(result.Graph)); // released off the UI thread
            else if (result.Outcome == EQueryOutcome::Error)
                answer.Error =
                    result.Errors.IsEmpty() ? "The call graph could not be built" : result.Errors.ToString();
            completion(std::move(answer));
        });
    }

    void CancelAll() override { mQueries.CancelAll(); }
    std::shared_ptr<const IFunctionInfoProvider> GetFunctionNames() const override
    {
        return mDocument.GetSharedFunctionNames();
    }
    System::JobScheduler* GetScheduler() const override { return &mDocument.GetScheduler(); }
    double GetSampleIntervalMs() const override { return mDocument.GetSampleIntervalMs(); }

private:
    CaptureDocument& mDocument; // not owned; outlives the view
    CallGraphManager& mManager; // not owned; the plugin's, which outlives its views
    CaptureQueries mQueries;
};

} // namespace

std::unique_ptr<ICallGraphRequester> MakeDocumentRequester(CaptureDocument& document, QObject* context,
                                                           CallGraphManager& manager)
{
    return std::make_unique<DocumentCallGraphRequester>(document, context, manager);
}

} // namespace Profiler
