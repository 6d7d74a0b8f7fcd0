#pragma once

#include "Theming/ThemeType.h"

#include <QRegularExpression>
#include <QStringList>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <array>
#include <functional>
#include <vector>

namespace Profiler {

/// A language's patterns: type names, keywords, built-in types, preprocessor, brackets and
/// function names, in this order.
struct LanguageDefinition {
    std::array<QStringList, 6> Lists;
};

/// The C-family definition, used for every file but those whose extension is exactly "rs".
const LanguageDefinition& GetDefaultLanguage();
const LanguageDefinition& GetRustLanguage();
const LanguageDefinition& GetLanguageForFile(const QString& path);

/// A string or comment, which the line-by-line rules cannot see across lines.
struct SourceSpan {
    enum EKind : uint8_t { String = 1, LineComment = 2, BlockComment = 3 };
    int StartLine = 0;
    int StartColumn = 0;
    int EndLine = 0;
    int EndColumn = 0; ///< inclusive
    EKind Kind = String;

    bool operator==(const SourceSpan&) const = default;
};

/// The strings and comments of a whole text, in order; lines and columns from 0.
std::vector<SourceSpan> ScanSourceSpans(const QString& text);

/// Colours the source view's text: regular-expression rules per line, the strings and comments
/// of the span scan, the find text, and one plain colour for instruction lines. Only blocks in
/// the highlighted range are coloured, so a large file costs what is on screen.
class Highlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    using InstructionLineQuery = std::function<bool(int block)>;

    Highlighter(QTextDocument* document, EThemeType theme, QObject* parent = nullptr);

    void SetTheme(EThemeType theme);
    EThemeType GetTheme() const { return mTheme; }
    void setLanguage(const LanguageDefinition& language);
    void setFindText(const QString& text);
    void SetSpans(std::vector<SourceSpan> spans);
    void SetInstructionLineQuery(InstructionLineQuery query) { mIsInstructionLine = std::move(query); }

    /// Takes a new text's spans and language before the text is set, without colouring anything:
    /// colouring starts with the next EnsureHighlighted.
    void PrepareForText(std::vector<SourceSpan> spans, const LanguageDefinition& language);
    /// Colours the blocks [first, last] that are not coloured yet; blocks outside stay as they are.
    void EnsureHighlighted(int first, int last);
    /// Forgets what was coloured (after the text, the rules or the spans changed).
    void ResetHighlighted();

    /// The colour of one slot of the table (0..13) in a theme.
    static QColor GetColour(EThemeType theme, int slot);

protected:
    void highlightBlock(const QString& text) override;

private:
    struct Rule {
        QRegularExpression Expression;
        QTextCharFormat Format;
    };

    void BuildRules();
    Rule MakeFindRule() const;
    QTextCharFormat Foreground(int slot) const;

    EThemeType mTheme;
    LanguageDefinition mLanguage;
    QString mFindText;
    std::vector<Rule> mRules;
    QTextCharFormat mStringFormat;
    QTextCharFormat mCommentFormat;
    QTextCharFormat mInstructionFormat;
    std::vector<SourceSpan> mSpans;
    InstructionLineQuery mIsInstructionLine;
    std::vector<bool> mHighlighted;
    int mRangeFirst = 0;
    int mRangeLast = -1;
};

} // namespace Profiler
