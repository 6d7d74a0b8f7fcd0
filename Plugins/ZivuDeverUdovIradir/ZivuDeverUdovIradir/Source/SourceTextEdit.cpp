#include "ZivuDeverUdovIradir/Source/SourceTextEdit.h"

#include "Theming/ThreadStateColours.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace Profiler {

namespace {

// Blocks coloured beyond the visible ones, so that scrolling by a few lines shows them ready.
constexpr int kHighlightMargin = 40;

double Scale(const QWidget& widget)
{
    return std::max(1.0, widget.logicalDpiX() / 96.0);
}

} // namespace

LineNumbersWidget::LineNumbersWidget(SourceTextEdit& editor) : QWidget(&editor), mEditor(editor)
{
    setObjectName(QStringLiteral("LineNumbersWidget"));
}

QSize LineNumbersWidget::sizeHint() const
{
    return {mEditor.GetLineNumbersWidth(), 0};
}

void LineNumbersWidget::paintEvent(QPaintEvent* event)
{
    mEditor.PaintLineNumbers(event, *this);
}

LineInfoWidget::LineInfoWidget(SourceTextEdit& editor) : QWidget(&editor), mEditor(editor)
{
    setObjectName(QStringLiteral("LineInfoWidget"));
}

QSize LineInfoWidget::sizeHint() const
{
    return {mEditor.GetLineInfoWidth(), 0};
}

void LineInfoWidget::paintEvent(QPaintEvent* event)
{
    mEditor.PaintLineInfo(event, *this);
}

bool LineInfoWidget::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = mEditor.GetLineInfoTooltipAt(help->pos().y());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

SourceTextEdit::SourceTextEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("mSourceTextEdit"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    mHighlighter = new Highlighter(document(), mTheme, this);
    mHighlighter->SetInstructionLineQuery([this](int block) { return mDocument.IsInstruction(block); });
    mLineNumbers = new LineNumbersWidget(*this);
    mLineInfo = new LineInfoWidget(*this);
    connect(this, &QPlainTextEdit::updateRequest, this, &SourceTextEdit::OnUpdateRequest);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] {
        if (!mSettingText)
            UpdateMargins();
    });

    mCopyWithTimingAction = new QAction(QStringLiteral("Copy with timing info"), this);
    mCopyWithTimingAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    mCopyWithTimingAction->setShortcutContext(Qt::WidgetShortcut);
    connect(mCopyWithTimingAction, &QAction::triggered, this, [this] {
        if (QClipboard* clipboard = QGuiApplication::clipboard())
            clipboard->setText(GetSelectionWithTiming());
    });
    addAction(mCopyWithTimingAction);
    SetTheme(mTheme);
    UpdateMargins();
}

void SourceTextEdit::SetTheme(EThemeType theme)
{
    mTheme = theme;
    setStyleSheet(theme == EThemeType::Light ? QStringLiteral("QPlainTextEdit { color: #000080; }")
                                             : QStringLiteral("QPlainTextEdit { color: #BDB76B; }"));
    mHighlighter->SetTheme(theme);
    viewport()->update();
    mLineNumbers->update();
    mLineInfo->update();
}

void SourceTextEdit::SetSourceDocument(SourceDocument document, std::vector<SourceSpan> spans,
                                       const QString& filePath)
{
    mTimingInfo.reset();
    mTiming = SourceTimingTable();
    mDocument = std::move(document);
    // Instruction lines are coloured plainly; only source text gets the language's rules.
    mHighlighter->PrepareForText(std::move(spans), GetLanguageForFile(filePath));
    // The highlighter would visit every block of the new text only to skip it; the visible
    // ones are coloured below, the others when they scroll into view.
    // (The highlighter's slot is private to Qt, hence the connection by name.)
    QTextDocument* text = QPlainTextEdit::document();
    const bool detached = QObject::disconnect(text, SIGNAL(contentsChange(int, int, int)), mHighlighter,
                                              SLOT(_q_reformatBlocks(int, int, int)));
    mSettingText = true;
    setPlainText(mDocument.Text);
    mSettingText = false;
    if (detached)
        connect(text, SIGNAL(contentsChange(int, int, int)), mHighlighter,
                SLOT(_q_reformatBlocks(int, int, int)));
    mDocument.BlockCount = blockCount();
    // Interleaved source lines carry the file's numbers, which may be far larger than the count
    // of lines shown.
    mLargestLineNumber = blockCount();
    for (const SourceLineMapEntry& entry : mDocument.Map)
        if (entry.Kind == SourceLineMapEntry::SourceLine)
            mLargestLineNumber = std::max(mLargestLineNumber, static_cast<int>(entry.Line));
    UpdateMargins();
    HighlightVisible();
    // The update requests of the new text were skipped above.
    mLineNumbers->update();
    mLineInfo->update();
}

void SourceTextEdit::SetTiming(std::shared_ptr<const FunctionTimingInfo> timing, const FunctionData* data)
{
    mTimingInfo = std::move(timing);
    mTiming = mTimingInfo ? SourceTimingTable(*mTimingInfo, data, mDocument) : SourceTimingTable();
    viewport()->update();
    mLineInfo->update();
}

void SourceTextEdit::GoToBlock(int block, bool center)
{
    const QTextBlock target = document()->findBlockByNumber(std::max(0, block));
    if (!target.isValid())
        return;
    QTextCursor cursor(target);
    setTextCursor(cursor);
    if (center)
        centerCursor();
    else
        ensureCursorVisible();
    // A hidden editor (a dock behind another) has no real height yet: centre again once shown.
    mCenterWhenShown = center && !isVisible();
    HighlightVisible();
}

bool SourceTextEdit::GoToHottestLine()
{
    const int block = mTiming.GetHottestBlock();
    if (block < 0)
        return false;
    GoToBlock(block, true);
    return true;
}

void SourceTextEdit::SetFindText(const QString& text)
{
    mHighlighter->setFindText(text);
}

QString SourceTextEdit::Find(const QString& text, bool backward)
{
    if (text.isEmpty())
        return {};
    const QTextCursor before = textCursor();
    if (text != mFindTextOfStart || mFindStart < 0) {
        mFindTextOfStart = text;
        mFindStart = before.selectionStart();
    }
    const QTextDocument::FindFlags flags =
        backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    bool found = find(text, flags);
    bool wrapped = false;
    if (!found) {
        QTextCursor edge(document());
        edge.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        setTextCursor(edge);
        found = find(text, flags);
        wrapped = true;
        if (!found) {
            setTextCursor(before);
            mFindStart = -1;
            return QStringLiteral("The following text was not found:\n\n%1").arg(text);
        }
    }
    HighlightVisible();
    const int previous = before.selectionStart();
    const int position = textCursor().selectionStart();
    const bool passed =
        backward ? (wrapped ? position <= mFindStart : previous > mFindStart && position <= mFindStart)
                 : (wrapped ? position >= mFindStart : previous < mFindStart && position >= mFindStart);
    if (!passed)
        return {};
    mFindStart = position;
    return QStringLiteral("Find reached the starting point of the search");
}

QString SourceTextEdit::GetLineLabel(int block) const
{
    if (mDocument.IsInstruction(block))
        return QString::number(mDocument.Map[static_cast<std::size_t>(block)].Address, 16).toUpper();
    const int32_t line = mDocument.GetSourceLine(block);
    return line > 0 ? QString::number(line) : QString();
}

QString SourceTextEdit::GetSelectionWithTiming() const
{
    const QTextCursor cursor = textCursor();
    const int first = document()->findBlock(cursor.selectionStart()).blockNumber();
    const int last = document()->findBlock(cursor.selectionEnd()).blockNumber();
    std::vector<CopiedLine> lines;
    for (QTextBlock block = document()->findBlockByNumber(first);
         block.isValid() && block.blockNumber() <= last; block = block.next())
        lines.push_back(
            {mTiming.GetCost(block.blockNumber()), GetLineLabel(block.blockNumber()), block.text()});
    return BuildCopyWithTiming(lines, mTiming.GetFunctionTotal());
}

int SourceTextEdit::GetBlockAt(int y) const
{
    const QTextBlock block = cursorForPosition(QPoint(0, y)).block();
    if (!block.isValid())
        return -1;
    const QRectF rect = blockBoundingGeometry(block).translated(contentOffset());
    return y >= rect.top() && y <= rect.bottom() ? block.blockNumber() : -1;
}

QString SourceTextEdit::GetTooltipAt(const QPoint& viewportPoint) const
{
    const int block = GetBlockAt(viewportPoint.y());
    if (block < 0 || !mTimingInfo)
        return {};
    const QTextCursor cursor = textCursor();
    const int first = document()->findBlock(cursor.selectionStart()).blockNumber();
    const int last = document()->findBlock(cursor.selectionEnd()).blockNumber();
    if (cursor.hasSelection() && first != last && block >= first && block <= last) {
        const bool instructions = mDocument.IsInstruction(block);
        TimingEntry sum;
        for (int selected = first; selected <= last; ++selected) {
            const SourceCost* cost = mTiming.GetCost(selected);
            if (cost == nullptr || mDocument.IsInstruction(selected) != instructions)
                continue;
            for (int state = 0; state < kThreadStateCount; ++state)
                sum.Times[state] += cost->Entry.Times[state];
            sum.Total += cost->Entry.Total;
        }
        const bool sourceMode = mDocument.Mode == ESourceViewMode::Source;
        return BuildSelectionTooltip(sum, mTiming.GetFunctionTotal(), sourceMode ? first + 1 : 0,
                                     sourceMode ? last + 1 : 0, mTheme);
    }
    const SourceCost* cost = mTiming.GetCost(block);
    return cost ? BuildTimingTooltip(cost->Entry, mTiming.GetFunctionTotal(), mTheme) : QString();
}

QString SourceTextEdit::GetLineInfoTooltipAt(int y) const
{
    return GetTooltipAt(QPoint(0, y));
}

bool SourceTextEdit::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = GetTooltipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}

void SourceTextEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy =
        menu.addAction(QIcon(QStringLiteral(":/ZivuDeverUdovIradir/Resources/CopyToClipboard_256x.png")),
                       QStringLiteral("Copy"), this, &QPlainTextEdit::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(textCursor().hasSelection());
    mCopyWithTimingAction->setIcon(
        QIcon(QStringLiteral(":/ZivuDeverUdovIradir/Resources/Copy_Timings_256x.png")));
    menu.addAction(mCopyWithTimingAction);
    QAction* selectAll =
        menu.addAction(QIcon(QStringLiteral(":/ZivuDeverUdovIradir/Resources/SelectAll_256x.png")),
                       QStringLiteral("Select All"), this, &QPlainTextEdit::selectAll);
    selectAll->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

int SourceTextEdit::GetLineNumbersWidth() const
{
    int digits = 1;
    for (int count = std::max(1, mLargestLineNumber); count >= 10; count /= 10)
        ++digits;
    // Addresses of instruction lines are in the text; the gutter numbers source lines only.
    return static_cast<int>(8 * Scale(*this)) + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

int SourceTextEdit::GetLineInfoWidth() const
{
    const double scale = Scale(*this);
    return static_cast<int>(std::lround(5 * scale)) + 6 * fontMetrics().horizontalAdvance(QLatin1Char('9')) +
           static_cast<int>(std::lround(5 * scale)) + static_cast<int>(std::lround(8 * scale)) +
           static_cast<int>(std::lround(4 * scale));
}

void SourceTextEdit::UpdateMargins()
{
    // Setting the margins lays the viewport out again, and a viewport's resize comes back here
    // through resizeEvent: set them only when they change, or the two can chase each other.
    const int left = GetLineNumbersWidth() + GetLineInfoWidth();
    if (viewportMargins().left() != left)
        setViewportMargins(left, 0, 0, 0);
    const QRect contents = contentsRect();
    mLineNumbers->setGeometry(contents.left(), contents.top(), GetLineNumbersWidth(), contents.height());
    mLineInfo->setGeometry(contents.left() + GetLineNumbersWidth(), contents.top(), GetLineInfoWidth(),
                           contents.height());
}

void SourceTextEdit::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    UpdateMargins();
    if (mCenterWhenShown && isVisible()) {
        mCenterWhenShown = false;
        centerCursor();
    }
    HighlightVisible();
}

void SourceTextEdit::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    if (mCenterWhenShown) {
        mCenterWhenShown = false;
        centerCursor();
        HighlightVisible();
    }
}

void SourceTextEdit::OnUpdateRequest(const QRect& rect, int dy)
{
    // While a new text goes in, the blocks are not final; SetSourceDocument catches up after.
    if (mSettingText)
        return;
    if (dy != 0) {
        mLineNumbers->scroll(0, dy);
        mLineInfo->scroll(0, dy);
    } else {
        mLineNumbers->update(0, rect.y(), mLineNumbers->width(), rect.height());
        mLineInfo->update(0, rect.y(), mLineInfo->width(), rect.height());
    }
    HighlightVisible();
}

int SourceTextEdit::GetLastVisibleBlock() const
{
    // Lines never wrap, so every block is one line high; walking the blocks would lay out ones
    // that are not on screen yet.
    const int lines = viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 1;
    return firstVisibleBlock().blockNumber() + lines;
}

void SourceTextEdit::HighlightVisible()
{
    const int first = firstVisibleBlock().blockNumber();
    mHighlighter->EnsureHighlighted(first - kHighlightMargin, GetLastVisibleBlock() + kHighlightMargin);
}

QColor SourceTextEdit::GetHotColour() const
{
    if (mTheme == EThemeType::Light)
        return QColor(196, 223, 255);
    // A lighter, bluish step of the dark background, so hot lines stand out as in the light theme.
    const QColor background = palette().color(QPalette::Base);
    return QColor::fromHsv(212, 120, std::min(255, background.value() * 2 + 70));
}

QColor SourceTextEdit::GetBorderColour() const
{
    return palette().color(QPalette::Mid);
}

QColor SourceTextEdit::HeatColour(double share) const
{
    return BlendHeat(palette().color(QPalette::Base), GetHotColour(), share);
}

void SourceTextEdit::paintEvent(QPaintEvent* event)
{
    const QRect area = event->rect();
    const int width = viewport()->width();
    if (mTimingInfo) {
        QPainter painter(viewport());
        for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
            const QRectF rect = blockBoundingGeometry(block).translated(contentOffset());
            if (rect.top() > area.bottom())
                break;
            if (const SourceCost* cost = mTiming.GetCost(block.blockNumber()))
                painter.fillRect(QRectF(0, rect.top(), width, rect.height()),
                                 HeatColour(mTiming.GetShare(*cost)));
        }
    }
    QPlainTextEdit::paintEvent(event);
    if (!mTimingInfo)
        return;

    // What a line called and what it waited for, written after its text so that it reads at a
    // glance without hovering.
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int gap = fontMetrics().horizontalAdvance(QStringLiteral("    "));
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF rect = blockBoundingGeometry(block).translated(contentOffset());
        if (rect.top() > area.bottom())
            break;
        const SourceCost* cost = mTiming.GetCost(block.blockNumber());
        if (cost == nullptr)
            continue;
        QStringList notes;
        if (cost->CalleeTime > 0.0 && mTiming.GetFunctionTotal() > 0.0)
            notes.push_back(QStringLiteral("calls: ") +
                            FormatShare(cost->CalleeTime / mTiming.GetFunctionTotal()));
        const QString waits = BuildWaitSummary(cost->Entry);
        if (!waits.isEmpty())
            notes.push_back(waits);
        if (notes.isEmpty())
            continue;
        const double textWidth = block.layout() && block.layout()->lineCount() > 0
                                     ? block.layout()->lineAt(0).naturalTextWidth()
                                     : 0.0;
        const QRectF noteRect(contentOffset().x() + document()->documentMargin() + textWidth + gap,
                              rect.top(), width, rect.height());
        painter.drawText(noteRect, Qt::AlignLeft | Qt::AlignVCenter, notes.join(QStringLiteral("   ")));
    }
}

void SourceTextEdit::PaintLineNumbers(QPaintEvent* event, QWidget& gutter)
{
    QPainter painter(&gutter);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.setFont(font());
    const int right = gutter.width() - static_cast<int>(4 * Scale(*this));
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF rect = blockBoundingGeometry(block).translated(contentOffset());
        if (rect.top() > event->rect().bottom())
            break;
        const int32_t line = mDocument.GetSourceLine(block.blockNumber());
        if (line > 0 && rect.bottom() >= event->rect().top())
            painter.drawText(QRectF(0, rect.top(), right, fontMetrics().height()),
                             Qt::AlignRight | Qt::AlignVCenter, QString::number(line));
    }
}

void SourceTextEdit::PaintLineInfo(QPaintEvent* event, QWidget& gutter)
{
    QPainter painter(&gutter);
    painter.fillRect(event->rect(), palette().color(QPalette::Base));
    const QColor border = GetBorderColour();
    const double scale = Scale(*this);
    if (mTimingInfo) {
        painter.setFont(font());
        const QColor textColour = mTheme == EThemeType::Dark ? QColor(43, 145, 175) : QColor(0, 128, 128);
        const int boxWidth =
            static_cast<int>(std::lround(5 * scale)) + 6 * fontMetrics().horizontalAdvance(QLatin1Char('9'));
        const int barX = boxWidth + static_cast<int>(std::lround(5 * scale));
        const int barWidth = static_cast<int>(std::lround(8 * scale));
        for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
            const QRectF rect = blockBoundingGeometry(block).translated(contentOffset());
            if (rect.top() > event->rect().bottom())
                break;
            const SourceCost* cost = mTiming.GetCost(block.blockNumber());
            if (cost == nullptr || rect.bottom() < event->rect().top())
                continue;
            const int top = static_cast<int>(rect.top());
            const int height = static_cast<int>(rect.height());
            painter.setPen(textColour);
            painter.drawText(QRect(0, top, boxWidth, height), Qt::AlignRight | Qt::AlignVCenter,
                             FormatShare(mTiming.GetShare(*cost)));
            // The states stacked from the bottom, each as tall as its part of the line's time.
            int bottom = top + height;
            for (int state = 0; state < kThreadStateCount && cost->Entry.Total > 0.0; ++state) {
                const int part =
                    static_cast<int>(std::lround(cost->Entry.Times[state] / cost->Entry.Total * height));
                const int partTop = std::max(top, bottom - part);
                if (bottom > partTop)
                    painter.fillRect(QRect(barX, partTop, barWidth, bottom - partTop),
                                     GetThreadStateColour(mTheme, static_cast<EThreadState>(state)));
                bottom = partTop;
            }
            painter.setPen(border);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRect(barX, top, barWidth - 1, height - 1));
        }
    }
    painter.setPen(border);
    painter.drawLine(gutter.width() - 1, event->rect().top(), gutter.width() - 1, event->rect().bottom());
}

} // namespace Profiler
