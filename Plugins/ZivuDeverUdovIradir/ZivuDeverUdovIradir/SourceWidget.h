#pragma once

#include "CallGraphModel/FunctionTiming.h"
#include "SymbolResolution/SymbolResolver.h"
#include "ZivuDeverUdovIradir/AdditionalSourceLocations.h"
#include "ZivuDeverUdovIradir/CallGraphPanels.h"
#include "ZivuDeverUdovIradir/Source/Highlighter.h"
#include "ZivuDeverUdovIradir/Source/SourceStatus.h"

#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace RTTI {
class Registry;
}

namespace Profiler {

class FindWidget;
class FunctionSourceContext;
class FunctionTimingProcessor;
class Message;
class SourceTextEdit;

/// A function's source file as read off the user interface thread: its lines and their strings
/// and comments.
struct RetrievedSource {
    std::shared_ptr<const FunctionData> Data;
    QStringList Lines;
    std::vector<SourceSpan> Spans;
};

/// The source panel: the source or disassembly of the function selected in another panel, with
/// the time spent on every line. Finding the function's data and computing its timing run as
/// jobs; a newer selection drops the results of the older one.
class SourceWidget final : public CallGraphPanel {
    Q_OBJECT
public:
    explicit SourceWidget(CallGraphView& view);
    ~SourceWidget() override;

    /// Writes the capture's source path mappings and the function data cache.
    void SaveState(const std::filesystem::path& directory);
    /// Reads the capture's source path mappings; without a registry nothing is read.
    void LoadState(const std::filesystem::path& directory, const RTTI::Registry* registry);

    /// Shows the source of `function` as seen in the view's current selection.
    void ShowFunction(ESourceOrigin origin, const ResolvedAddress& function);
    /// "StackFrameSelected": the frame a thread interaction points at.
    void OnStackFrameSelected(const Message& message);

    std::vector<QShortcut*> GetShortcuts() const override;
    /// A new selection's graph: the shown function's timing is computed again for it, keeping
    /// the text and where the user was in it.
    void SetCallGraph(const CallGraphInputParameters& parameters,
                      std::shared_ptr<const CallGraph> graph) override;

    /// Where images and debug files are looked for besides their recorded paths; takes effect
    /// with the next function shown.
    void SetSymbolSearchOptions(SymbolSearchOptions options);
    /// Replaces the message boxes (find results, failures) with `sink`.
    void SetMessageSink(std::function<void(const QString&)> sink) { mMessageSink = std::move(sink); }

    SourceTextEdit* GetTextEdit() const { return mSourceTextEdit; }
    ESourceViewMode GetViewMode() const;
    void SetViewMode(ESourceViewMode mode);
    const AdditionalSourceLocations& GetLocalSourceLocations() const { return mLocalLocations; }
    const std::shared_ptr<const FunctionData>& GetFunctionData() const { return mData; }
    void FindNext(bool backward);

public slots:
    void ClearForSelectionStateReceivedHandler(int inSelectionState);
    void FunctionDataReceivedHandler(std::shared_ptr<Profiler::RetrievedSource> inSource);
    void FunctionTimingInfoReceivedHandler(Profiler::FunctionTimingInfo* inFunctionTimingInfo,
                                           bool inCenterOnLine);

signals:
    /// The timing of the shown function arrived and is on screen.
    void TimingShown();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    void BuildActions();
    /// `refresh`: the same function under a new graph; the text stays where it is. `inSight`:
    /// the panel was just shown, so it is not held back.
    void StartRequest(bool refresh = false, bool inSight = false);
    void StartDeferredRequest();
    void OnDockVisibilityChanged(bool visible);
    void ShowDocument();
    void UpdateStatus();
    void ApplyTheme();
    void Browse();
    void OpenFile();
    void ShowInFileBrowser();
    void ShowMessage(const QString& text);
    QString GetShownFilePath() const;
    bool EnsureSources();

    // Widgets, owned through Qt parenthood.
    QFrame* mErrorFrame0 = nullptr;
    QLabel* mErrorLabel0 = nullptr;
    QPushButton* mBrowseButton0 = nullptr;
    QPushButton* mResolveButton0 = nullptr;
    QFrame* mErrorFrame1 = nullptr;
    QLabel* mErrorLabel1 = nullptr;
    QPushButton* mBrowseButton1 = nullptr;
    QPushButton* mResolveButton1 = nullptr;
    QLabel* mTitleLabel = nullptr;
    FindWidget* mFindWidget = nullptr;
    QStackedWidget* mWidgetStack = nullptr;
    QWidget* mSourceViewPage = nullptr;
    QWidget* mEmptyPage = nullptr;
    QLabel* mEmptySourceLabel = nullptr;
    SourceTextEdit* mSourceTextEdit = nullptr;
    QFrame* mProgressBarFrame = nullptr;
    QLabel* mProgressBarLabel = nullptr;
    QProgressBar* mProgressBar = nullptr;
    QAction* mActionShowDisassembly = nullptr;
    QAction* mActionOpenFolder = nullptr;
    QAction* mActionOpenFile = nullptr;
    QAction* mActionGoToHottestLine = nullptr;
    QAction* mActionIncludeSourceLines = nullptr;
    QAction* mFindAction = nullptr;
    QAction* mFindNextAction = nullptr;
    QAction* mFindPreviousAction = nullptr;
    QToolButton* mViewOptionsButton = nullptr;
    QAction* mViewOptionsAction = nullptr;
    QShortcut* mEscapeShortcut = nullptr;

    ESourceSelectionState mSelection = ESourceSelectionState::None;
    ESourceViewMode mMode = ESourceViewMode::Source;
    ResolvedAddress mFunction;
    uint64_t mRequest = 0;
    /// A request held back while the panel is hidden in a shown window (`refresh` as given).
    std::optional<bool> mDeferredRequest;
    std::shared_ptr<const FunctionData> mData;
    std::shared_ptr<const RetrievedSource> mSource;
    std::shared_ptr<const FunctionTimingInfo> mTiming;
    QString mFindText;

    SymbolSearchOptions mSearchOptions;
    AdditionalSourceLocations mLocalLocations;
    std::unique_ptr<FunctionSourceContext> mSources;
    std::unique_ptr<FunctionTimingProcessor> mProcessor;
    std::function<void(const QString&)> mMessageSink;
};

} // namespace Profiler

Q_DECLARE_METATYPE(std::shared_ptr<Profiler::RetrievedSource>)
