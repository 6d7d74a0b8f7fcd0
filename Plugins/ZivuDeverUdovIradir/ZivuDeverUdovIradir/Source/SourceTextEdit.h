#pragma once

#include "CallGraphModel/FunctionTiming.h"
#include "Theming/ThemeType.h"
#include "ZivuDeverUdovIradir/Source/Highlighter.h"
#include "ZivuDeverUdovIradir/Source/SourceDocument.h"
#include "ZivuDeverUdovIradir/Source/SourceTiming.h"

#include <QPlainTextEdit>

#include <functional>
#include <memory>

class QAction;

namespace Profiler {

class SourceTextEdit;

/// The gutter with the line numbers (source lines; instruction lines stay blank).
class LineNumbersWidget final : public QWidget {
public:
    explicit LineNumbersWidget(SourceTextEdit& editor);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SourceTextEdit& mEditor;
};

/// The gutter with each line's share of the function's time and its thread-state bar.
class LineInfoWidget final : public QWidget {
public:
    explicit LineInfoWidget(SourceTextEdit& editor);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    SourceTextEdit& mEditor;
};

/// The read-only editor of the source view: the text of one mode, its two gutters, the heat
/// colour of each timed line, tooltips with the split by thread state, find and copying.
/// Everything it paints per frame is proportional to the visible lines.
class SourceTextEdit final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit SourceTextEdit(QWidget* parent = nullptr);

    /// Replaces the text; `spans` come from a scan of the same text (made off the UI thread).
    void SetSourceDocument(SourceDocument document, std::vector<SourceSpan> spans, const QString& filePath);
    const SourceDocument& GetSourceDocument() const { return mDocument; }
    ESourceViewMode GetViewMode() const { return mDocument.Mode; }

    /// The timing to show; null clears it.
    void SetTiming(std::shared_ptr<const FunctionTimingInfo> timing, const FunctionData* data);
    const SourceTimingTable& GetTimingTable() const { return mTiming; }
    bool HasTiming() const { return mTimingInfo != nullptr; }

    void GoToBlock(int block, bool center);
    /// Puts the cursor on the hottest line; false when no line has time.
    bool GoToHottestLine();

    /// Searches from the cursor, wrapping once. Returns the message to show the user, if any.
    QString Find(const QString& text, bool backward);
    void SetFindText(const QString& text);

    /// The selected lines with their timing, for "Copy with timing info".
    QString GetSelectionWithTiming() const;
    /// The tooltip at a point of the viewport; empty where there is nothing to say.
    QString GetTooltipAt(const QPoint& viewportPoint) const;
    QString GetLineInfoTooltipAt(int y) const;

    void SetTheme(EThemeType theme);
    EThemeType GetTheme() const { return mTheme; }
    Highlighter& GetHighlighter() { return *mHighlighter; }
    QAction* GetCopyWithTimingAction() const { return mCopyWithTimingAction; }

    // Painting of the gutters, which they forward here because the layout is the editor's.
    int GetLineNumbersWidth() const;
    int GetLineInfoWidth() const;
    void PaintLineNumbers(QPaintEvent* event, QWidget& gutter);
    void PaintLineInfo(QPaintEvent* event, QWidget& gutter);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void UpdateMargins();
    void OnUpdateRequest(const QRect& rect, int dy);
    void HighlightVisible();
    int GetBlockAt(int y) const;
    int GetLastVisibleBlock() const;
    QString GetLineLabel(int block) const;
    QColor GetHotColour() const;
    QColor GetBorderColour() const;
    QColor HeatColour(double share) const;

    SourceDocument mDocument;
    std::shared_ptr<const FunctionTimingInfo> mTimingInfo;
    SourceTimingTable mTiming;
    Highlighter* mHighlighter;
    LineNumbersWidget* mLineNumbers;
    LineInfoWidget* mLineInfo;
    QAction* mCopyWithTimingAction;
    EThemeType mTheme = EThemeType::Light;
    bool mSettingText = false;
    bool mCenterWhenShown = false;
    int mLargestLineNumber = 1;
    int mFindStart = -1;
    QString mFindTextOfStart;
};

} // namespace Profiler
