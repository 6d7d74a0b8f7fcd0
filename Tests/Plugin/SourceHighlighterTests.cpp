#include "Support/Paths.h"
#include "ZivuDeverUdovIradir/Source/Highlighter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

using namespace Profiler;

namespace {

QString Fixture(const char* name)
{
    QFile file(QString::fromStdString(
        (TestSupport::SourceDirectory() / "Tests" / "Data" / "Source" / name).string()));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return QString::fromUtf8(file.readAll()).trimmed();
}

/// A fixture file in a document with its highlighter, coloured completely.
struct HighlightedFile {
    explicit HighlightedFile(const char* name, EThemeType theme = EThemeType::Light)
        : Text(Fixture(name)), Document(Text), Colours(&Document, theme)
    {
        Colours.PrepareForText(ScanSourceSpans(Text), GetLanguageForFile(QString::fromLatin1(name)));
        Colours.EnsureHighlighted(0, Document.blockCount() - 1);
    }

    QTextCharFormat FormatAt(int block, int column) const
    {
        for (const QTextLayout::FormatRange& range : Document.findBlockByNumber(block).layout()->formats())
            if (column >= range.start && column < range.start + range.length)
                return range.format;
        return {};
    }
    QColor ColourAt(int block, int column) const { return FormatAt(block, column).foreground().color(); }

    QString Text;
    QTextDocument Document;
    Highlighter Colours;
};

QColor Slot(int slot, EThemeType theme = EThemeType::Light)
{
    return Highlighter::GetColour(theme, slot);
}

} // namespace

TEST(Highlighter, FindsStringsAndCommentsAcrossTheWholeFile)
{
    using S = SourceSpan;
    EXPECT_EQ(ScanSourceSpans(Fixture("highlight.cpp")),
              (std::vector<SourceSpan>{{3, 0, 5, 14, S::BlockComment},
                                       {6, 19, 6, 34, S::String}, // the escaped quotes do not end it
                                       {6, 37, 6, 55, S::LineComment}}));
    EXPECT_EQ(ScanSourceSpans(Fixture("highlight.rs")),
              (std::vector<SourceSpan>{{2, 28, 2, 33, S::LineComment}, {3, 15, 3, 33, S::String}}));
    // A string left open ends with its line; "/*/" does not close the comment it opens.
    EXPECT_EQ(ScanSourceSpans(QStringLiteral("a = \"open\nb /*/ c */")),
              (std::vector<SourceSpan>{{0, 4, 0, 8, S::String}, {1, 2, 1, 9, S::BlockComment}}));
}

TEST(Highlighter, LaterRulesAndSpansWinOverEarlierOnes)
{
    const HighlightedFile file("highlight.cpp");
    // 3.14f: digits and suffix are a number, the point is punctuation.
    EXPECT_EQ(file.ColourAt(1, 22), Slot(0));
    EXPECT_EQ(file.ColourAt(1, 23), Slot(7));
    // A built-in template argument keeps its colour although a type-name pattern matched first.
    EXPECT_EQ(file.ColourAt(2, 12), Slot(1));
    // All three lines of the block comment, keywords inside included; code after it is code.
    for (const auto& [block, column] : {std::pair{3, 0}, {4, 3}, {4, 10}, {5, 14}})
        EXPECT_EQ(file.ColourAt(block, column), Slot(11)) << block << ":" << column;
    EXPECT_EQ(file.ColourAt(5, 16), Slot(1));
    EXPECT_EQ(file.ColourAt(6, 34), Slot(8)); // the escaped quote stays inside the string
    EXPECT_EQ(file.ColourAt(6, 40), Slot(11));

    // The Rust rules apply to lower-case ".rs" files only.
    EXPECT_EQ(&GetLanguageForFile(QStringLiteral("/src/main.rs")), &GetRustLanguage());
    EXPECT_EQ(&GetLanguageForFile(QStringLiteral("/src/MAIN.RS")), &GetDefaultLanguage());
    const HighlightedFile rust("highlight.rs");
    EXPECT_EQ(rust.ColourAt(2, 8), Slot(3));  // mut
    EXPECT_EQ(rust.ColourAt(4, 19), Slot(1)); // i32
}

TEST(Highlighter, FindTextInstructionLinesAndOnlyTheRangeAskedFor)
{
    HighlightedFile file("highlight.cpp");
    file.Colours.setFindText(QStringLiteral("find"));
    for (int column : {4, 20, 27})
        EXPECT_EQ(file.FormatAt(7, column).background().color(), Slot(12)) << column;
    EXPECT_EQ(file.FormatAt(7, 0).background().style(), Qt::NoBrush);
    file.Colours.setFindText({});
    EXPECT_EQ(file.FormatAt(7, 4).background().style(), Qt::NoBrush);

    // Instruction lines get one plain colour whatever they hold.
    QTextDocument disassembly(QStringLiteral("int x = 1;\n401000  mov          eax, 1"));
    Highlighter instructions(&disassembly, EThemeType::Light);
    instructions.SetInstructionLineQuery([](int block) { return block == 1; });
    instructions.EnsureHighlighted(0, 1);
    for (const QTextLayout::FormatRange& range : disassembly.findBlockByNumber(1).layout()->formats())
        EXPECT_EQ(range.format.foreground().color(), Slot(13));
    EXPECT_FALSE(disassembly.findBlockByNumber(1).layout()->formats().isEmpty());

    // Blocks outside the range asked for stay plain until they are asked for.
    QTextDocument large(Fixture("highlight.cpp"));
    Highlighter lazy(&large, EThemeType::Light);
    lazy.PrepareForText({}, GetDefaultLanguage());
    large.setPlainText(Fixture("highlight.cpp"));
    lazy.EnsureHighlighted(0, 1);
    EXPECT_FALSE(large.findBlockByNumber(1).layout()->formats().isEmpty());
    EXPECT_TRUE(large.findBlockByNumber(7).layout()->formats().isEmpty());
    lazy.EnsureHighlighted(6, 7);
    EXPECT_FALSE(large.findBlockByNumber(7).layout()->formats().isEmpty());
}
