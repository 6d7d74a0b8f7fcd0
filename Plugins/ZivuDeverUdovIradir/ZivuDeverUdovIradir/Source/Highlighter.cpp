#include "ZivuDeverUdovIradir/Source/Highlighter.h"

#include <QFileInfo>
#include <QTextDocument>

#include <algorithm>

namespace Profiler {

namespace {

QStringList Words(std::initializer_list<const char*> words)
{
    QStringList patterns;
    for (const char* word : words)
        patterns.push_back(QStringLiteral("(\\b%1\\b)").arg(QLatin1String(word)));
    return patterns;
}

QStringList Preprocessor()
{
    QStringList patterns;
    for (const char* word :
         {"include", "if", "ifdef", "ifndef", "elif", "define", "undef", "else", "endif", "warning", "error"})
        patterns.push_back(QStringLiteral("(#\\b%1\\b)").arg(QLatin1String(word)));
    patterns.push_back(QStringLiteral("(#\\bpragma.*\\b)"));
    return patterns;
}

QStringList Brackets()
{
    return {QStringLiteral("(\\[)"), QStringLiteral("(\\])")};
}

QStringList FunctionNames()
{
    return {QStringLiteral("\\b([A-Za-z0-9_]+)(?:<.*>)?(?=\\()"),
            QStringLiteral("\\b[A-Za-z0-9_]+::(?:~)?([A-Za-z0-9_]+)(?=\\()")};
}

LanguageDefinition MakeDefaultLanguage()
{
    LanguageDefinition language;
    language.Lists[0] = QStringList{
        QStringLiteral(
            R"(\b(?!goto)([a-zA-Z_0-9:<>*]+)(?:\s*)?(?:\**)?(?:&)?\s+(?:[a-zA-Z_][a-zA-Z0-9_]*)\s*[\[;,=)])"),
        QStringLiteral(R"(\b(?:[A-Za-z0-9_]+)(?:<(.*)>)?(?=\())"),
        QStringLiteral(R"(\b([A-Za-z0-9_]+)::(?:~)?[A-Za-z0-9_]+(?=\())"),
        QStringLiteral(R"(\bnamespace ([A-Za-z0-9_]+))"),
        QStringLiteral(R"(\b([A-Za-z0-9_]+)::([A-Za-z0-9_]+)?)"),
        QStringLiteral(
            R"(\b(?:class|typename|struct)\s*([a-zA-Z_0-9]+)\s*([a-zA-Z_0-9]+)?(?:\s*:\s*([a-zA-Z_0-9\h]+))?)"),
        QStringLiteral(R"(\busing\s*([a-zA-Z_0-9]+)\s*=\s*([a-zA-Z_0-9:<>*&]+))"),
        QStringLiteral(R"(\btypedef\s*([a-zA-Z_0-9:<>*&]+)\s*([a-zA-Z_0-9:<>*&]+))"),
        QStringLiteral(R"(\bfor\s*\(\s*([a-zA-Z_0-9:<>*&]+))"),
    };
    language.Lists[1] =
        Words({"class",     "const",    "enum",    "explicit",  "friend",   "inline",   "new",      "delete",
               "namespace", "operator", "private", "protected", "public",   "signals",  "switch",   "break",
               "continue",  "default",  "case",    "slots",     "static",   "struct",   "template", "typedef",
               "typename",  "union",    "virtual", "return",    "volatile", "if",       "else",     "while",
               "for",       "false",    "true",    "using",     "auto",     "constexpr"});
    language.Lists[2] =
        Words({"char",     "double",  "int",     "long",    "namespace", "short",    "signed",
               "unsigned", "bool",    "float",   "uint8_t", "uint16_t",  "uint32_t", "uint64_t",
               "int8_t",   "int16_t", "int32_t", "int64_t", "void",      "volatile", "nullptr"});
    language.Lists[3] = Preprocessor();
    language.Lists[4] = Brackets();
    language.Lists[5] = FunctionNames();
    return language;
}

LanguageDefinition MakeRustLanguage()
{
    LanguageDefinition language;
    language.Lists[0] = QStringList{
        QStringLiteral(R"(\b([A-Za-z0-9_]+)(?:<(.*)>))"),
        QStringLiteral(R"(\b([A-Za-z0-9_]+)::([A-Za-z0-9_]+)?)"),
        QStringLiteral(
            R"(\b(?:class|typename|struct|impl)\s*([a-zA-Z_0-9]+)\s*([a-zA-Z_0-9]+)?(?:\s*:\s*([a-zA-Z_0-9\h]+))?)"),
        QStringLiteral(R"(\b(?:[a-zA-Z0-9_]+):\s*(?:[~&@'\*])?(?:mut)?\s*([a-zA-Z0-9_]+)\b)"),
        QStringLiteral(R"(\bfor\s*\(\s*([a-zA-Z_0-9:<>*&]+))"),
    };
    language.Lists[1] =
        Words({"as",    "break",  "const",    "continue", "crate",  "else", "enum",  "extern", "false",
               "fn",    "for",    "if",       "impl",     "in",     "let",  "loop",  "match",  "mod",
               "move",  "mut",    "pub",      "ref",      "return", "self", "Self",  "static", "struct",
               "super", "trait",  "true",     "type",     "unsafe", "use",  "where", "while",  "async",
               "await", "dyn",    "abstract", "become",   "box",    "do",   "final", "macro",  "override",
               "priv",  "typeof", "unsized",  "virtual",  "yield",  "try",  "union", "'static"});
    language.Lists[2] =
        Words({"bool", "char",  "i8",     "i16",    "i32",   "i64",    "i128", "isize", "u8",
               "u16",  "u32",   "u64",    "u128",   "usize", "f32",    "f64",  "array", "slice",
               "str",  "tuple", "Option", "Result", "Box",   "String", "Vec",  "Path",  "PathBuf"});
    language.Lists[3] = Preprocessor();
    language.Lists[4] = Brackets();
    language.Lists[5] = FunctionNames();
    return language;
}

struct Rgb {
    int R, G, B, A = 255;
};

// Indexed by theme type, then slot.
constexpr Rgb kColours[kThemeTypeCount][14] = {
    {{0, 0, 0},
     {0, 0, 255},
     {0, 128, 128},
     {0, 0, 255},
     {111, 0, 138},
     {128, 128, 128},
     {0, 128, 128},
     {0, 0, 0},
     {163, 21, 21},
     {163, 21, 21},
     {136, 0, 0},
     {0, 128, 0},
     {240, 180, 66},
     {85, 85, 85}},
    {{181, 206, 168},
     {86, 156, 214},
     {78, 201, 176},
     {86, 156, 214},
     {189, 99, 197},
     {155, 155, 155},
     {218, 218, 218},
     {180, 180, 180},
     {214, 157, 133},
     {214, 157, 133},
     {255, 128, 0},
     {87, 166, 74},
     {240, 180, 66, 75},
     {155, 155, 155}},
};

} // namespace

const LanguageDefinition& GetDefaultLanguage()
{
    static const LanguageDefinition language = MakeDefaultLanguage();
    return language;
}

const LanguageDefinition& GetRustLanguage()
{
    static const LanguageDefinition language = MakeRustLanguage();
    return language;
}

const LanguageDefinition& GetLanguageForFile(const QString& path)
{
    // Exactly "rs": a file named X.RS is taken for C, as the user's tools would not call it Rust.
    return QFileInfo(path).suffix() == QLatin1String("rs") ? GetRustLanguage() : GetDefaultLanguage();
}

std::vector<SourceSpan> ScanSourceSpans(const QString& text)
{
    enum class EState { None, String, LineComment, BlockComment };
    std::vector<SourceSpan> spans;
    EState state = EState::None;
    SourceSpan open;
    int line = 0;
    int column = 0;
    QChar previous;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (state == EState::String || state == EState::LineComment) {
                open.EndLine = line;
                open.EndColumn = column - 1;
                spans.push_back(open);
                state = EState::None;
            }
            if (c == QLatin1Char('\n')) {
                ++line;
                column = 0;
                previous = c;
                continue;
            }
        } else if (c == QLatin1Char('"') && previous != QLatin1Char('\\')) {
            if (state == EState::None) {
                state = EState::String;
                open = {line, column, line, column, SourceSpan::String};
            } else if (state == EState::String) {
                open.EndLine = line;
                open.EndColumn = column;
                spans.push_back(open);
                state = EState::None;
            }
        } else if (c == QLatin1Char('/') && previous == QLatin1Char('/') && state == EState::None) {
            state = EState::LineComment;
            open = {line, column - 1, line, column, SourceSpan::LineComment};
        } else if (c == QLatin1Char('*') && previous == QLatin1Char('/') && state == EState::None) {
            state = EState::BlockComment;
            open = {line, column - 1, line, column, SourceSpan::BlockComment};
        } else if (c == QLatin1Char('/') && previous == QLatin1Char('*') && state == EState::BlockComment &&
                   !(open.StartLine == line && open.StartColumn + 2 > column - 1)) {
            open.EndLine = line;
            open.EndColumn = column;
            spans.push_back(open);
            state = EState::None;
            // "*/" followed by "/" must not start a comment.
            previous = QChar();
            ++column;
            continue;
        }
        previous = c;
        ++column;
    }
    if (state != EState::None) {
        open.EndLine = line;
        open.EndColumn = std::max(0, column - 1);
        spans.push_back(open);
    }
    return spans;
}

QColor Highlighter::GetColour(EThemeType theme, int slot)
{
    const int type = static_cast<int>(theme);
    if (type < 0 || type >= kThemeTypeCount || slot < 0 || slot >= 14)
        return {};
    const Rgb& rgb = kColours[type][slot];
    return QColor(rgb.R, rgb.G, rgb.B, rgb.A);
}

Highlighter::Highlighter(QTextDocument* document, EThemeType theme, QObject* parent)
    : QSyntaxHighlighter(parent), mTheme(theme), mLanguage(GetDefaultLanguage())
{
    BuildRules();
    setDocument(document);
}

void Highlighter::SetTheme(EThemeType theme)
{
    if (theme == mTheme)
        return;
    mTheme = theme;
    BuildRules();
    ResetHighlighted();
}

void Highlighter::setLanguage(const LanguageDefinition& language)
{
    mLanguage = language;
    BuildRules();
    ResetHighlighted();
}

void Highlighter::setFindText(const QString& text)
{
    mFindText = text;
    // Only the find rule changes; compiling every rule again would cost each keystroke.
    if (!mRules.empty())
        mRules.back() = MakeFindRule();
    ResetHighlighted();
}

void Highlighter::SetSpans(std::vector<SourceSpan> spans)
{
    mSpans = std::move(spans);
    ResetHighlighted();
}

QTextCharFormat Highlighter::Foreground(int slot) const
{
    QTextCharFormat format;
    format.setForeground(GetColour(mTheme, slot));
    return format;
}

Highlighter::Rule Highlighter::MakeFindRule() const
{
    QTextCharFormat find;
    find.setBackground(GetColour(mTheme, 12));
    // The user types text, not a pattern: "a(b" finds itself.
    const QString pattern =
        mFindText.isEmpty() ? QString() : QStringLiteral("(%1)").arg(QRegularExpression::escape(mFindText));
    return {QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption), find};
}

void Highlighter::BuildRules()
{
    mRules.clear();
    auto add = [this](const QString& pattern, int slot) {
        mRules.push_back({QRegularExpression(pattern), Foreground(slot)});
    };
    auto addList = [&](int list, int slot) {
        for (const QString& pattern : mLanguage.Lists[static_cast<std::size_t>(list)])
            add(pattern, slot);
    };
    add(QStringLiteral(R"(([0-9]+)(\.)?([0-9]+)?(f)?)"), 0);
    addList(0, 2);
    addList(1, 3);
    addList(2, 1);
    add(QStringLiteral("(#.*)"), 4);
    addList(3, 5);
    addList(4, 6);
    add(QStringLiteral(R"(([!%^&*\-+=\.;:\(\)\{\}<>]))"), 7);
    add(QStringLiteral("#include.*(<.*>)"), 9);
    addList(5, 10);
    mRules.push_back(MakeFindRule());
    for (Rule& rule : mRules)
        rule.Expression.optimize();
    mStringFormat = Foreground(8);
    mCommentFormat = Foreground(11);
    mInstructionFormat = Foreground(13);
}

void Highlighter::PrepareForText(std::vector<SourceSpan> spans, const LanguageDefinition& language)
{
    mSpans = std::move(spans);
    if (language.Lists != mLanguage.Lists) {
        mLanguage = language;
        BuildRules();
    }
    mHighlighted.clear();
    mRangeFirst = 0;
    mRangeLast = -1;
}

void Highlighter::ResetHighlighted()
{
    std::fill(mHighlighted.begin(), mHighlighted.end(), false);
    const int first = mRangeFirst;
    const int last = mRangeLast;
    mRangeLast = -1;
    if (last >= first)
        EnsureHighlighted(first, last);
}

void Highlighter::EnsureHighlighted(int first, int last)
{
    QTextDocument* doc = document();
    if (doc == nullptr)
        return;
    const int count = doc->blockCount();
    mHighlighted.resize(static_cast<std::size_t>(count), false);
    first = std::max(0, first);
    last = std::min(count - 1, last);
    mRangeFirst = first;
    mRangeLast = last;
    for (QTextBlock block = doc->findBlockByNumber(first); block.isValid() && block.blockNumber() <= last;
         block = block.next())
        if (!mHighlighted[static_cast<std::size_t>(block.blockNumber())])
            rehighlightBlock(block);
}

void Highlighter::highlightBlock(const QString& text)
{
    const int block = currentBlock().blockNumber();
    if (block < mRangeFirst || block > mRangeLast)
        return;
    if (static_cast<std::size_t>(block) >= mHighlighted.size())
        mHighlighted.resize(static_cast<std::size_t>(block) + 1, false);
    mHighlighted[static_cast<std::size_t>(block)] = true;

    if (mIsInstructionLine && mIsInstructionLine(block)) {
        setFormat(0, static_cast<int>(text.size()), mInstructionFormat);
        return;
    }
    for (const Rule& rule : mRules) {
        if (rule.Expression.pattern().isEmpty())
            continue;
        QRegularExpressionMatchIterator matches = rule.Expression.globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            for (int group = 1; group <= match.lastCapturedIndex(); ++group)
                if (match.capturedStart(group) >= 0)
                    setFormat(match.capturedStart(group), match.capturedLength(group), rule.Format);
        }
    }
    // Spans are ordered and do not overlap, so their end lines ascend as well.
    auto span = std::lower_bound(mSpans.begin(), mSpans.end(), block,
                                 [](const SourceSpan& s, int line) { return s.EndLine < line; });
    for (; span != mSpans.end() && span->StartLine <= block; ++span) {
        const int start = span->StartLine < block ? 0 : span->StartColumn;
        const int end = span->EndLine > block ? static_cast<int>(text.size()) : span->EndColumn + 1;
        setFormat(start, end - start, span->Kind == SourceSpan::String ? mStringFormat : mCommentFormat);
    }
}

} // namespace Profiler
