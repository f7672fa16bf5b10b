// Colour rules: compiling the lists, colour texts, and the segments each kind of rule finds.
#include "grid.h"

#include <gtest/gtest.h>

namespace {

class RulesTest : public ::testing::Test {
protected:
    TColorMemoCore Memo;

    TColorRule& NewRule(TKeyDrawingType kind)
    {
        TColorRule* rule = Memo.ColorRules().Add();
        rule->KeyDrawingType = kind;
        return *rule;
    }

    static std::vector<TKeyDescr> Find(TColorRule& rule, const QString& text, int scanStart = 0)
    {
        TKeyDescrList list;
        const int n = rule.FindKeys(0, text, list, int(text.size()), scanStart);
        return {list.begin(), list.begin() + n};
    }

    // The text with every character no segment covers replaced by a dot.
    static QString Covered(const QString& text, const std::vector<TKeyDescr>& segments)
    {
        QString out(text.size(), u'.');
        for (const TKeyDescr& s : segments)
            for (int p = s.BegPos; p <= s.EndPos && p < text.size(); ++p)
                out[p] = text[p];
        return out;
    }
};

TEST(ParseColorTest, NamesAndHexadecimalValues)
{
    EXPECT_EQ(ParseColor("#FF0000"), 0x0000FFu);
    EXPECT_EQ(ParseColor("0000FF"), 0xFF0000u);
    EXPECT_EQ(ParseColor("  lime \t"), 0x00FF00u);
    EXPECT_EQ(ParseColor("Navy"), clNavy);
    EXPECT_EQ(ParseColor("12$34"), clWhite);
    EXPECT_EQ(ParseColor("255"), 0x550200u) << "numbers are always hexadecimal";
    EXPECT_EQ(ParseColor("$123456"), 0x563412u);
    EXPECT_EQ(ParseColor("#12ab56"), 0x56AB12u);
    EXPECT_EQ(ParseColor("#AB123456"), 0x563412u) << "the highest byte is dropped";
    EXPECT_EQ(ParseColor("0000000000FF"), 0u) << "only the first ten characters count";
    EXPECT_EQ(ParseColor("grey"), clWhite);
    EXPECT_EQ(ParseColor("-FF"), clWhite);
    EXPECT_EQ(ParseColor("#"), clWhite);
    EXPECT_EQ(ParseColor("FFFFFFFFFF"), clWhite) << "more than 32 bits";
}

TEST_F(RulesTest, KeywordsMatchWholeWordsWithoutRegardToCase)
{
    TColorRule& rule = NewRule(dtKeyShow);
    rule.SetKeywords({QStringLiteral("begin;navy")});
    const QString text = QStringLiteral("begin Begin BEGIN beginning begin1 _begin @begin");
    const auto found = Find(rule, text);
    EXPECT_EQ(Covered(text, found), "begin.Begin.BEGIN...........begin...begin.......");
    for (const TKeyDescr& s : found) {
        EXPECT_EQ(s.Color, clNavy);
        EXPECT_EQ(s.IsKey, 1);
    }

    rule.PartWord = true;
    EXPECT_EQ(Covered(text, Find(rule, text)), "begin.Begin.BEGIN.begin.....begin...begin..begin");
}

TEST_F(RulesTest, KeywordOptions)
{
    TColorRule& rule = NewRule(dtKeyShow);
    rule.ZOrder = 7;
    rule.SetKeywords({QStringLiteral("end"), QStringLiteral("  "), QStringLiteral(";blue")});
    const auto found = Find(rule, QStringLiteral("the end"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Color, clRed) << "no colour given: DefKeyColor";
    EXPECT_EQ(found[0].ZOrder, 7);

    rule.KeyCase = true;
    rule.SetKeywords({QStringLiteral("End;olive")});
    EXPECT_EQ(Covered(QStringLiteral("end End END"), Find(rule, QStringLiteral("end End END"))),
              "....End....");

    // The scan start bounds the search; positions stay those of the whole text.
    const auto late = Find(rule, QStringLiteral("End; End"), 4);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].BegPos, 5);
}

TEST_F(RulesTest, KeyStringAndColourIndexes)
{
    TColorRule& rule = NewRule(dtKeyShow);
    rule.SetKeywords({QStringLiteral("if;navy"), QStringLiteral("Then;red"),
                      QStringLiteral("else;navy")});
    EXPECT_EQ(rule.KeyString(),
              QStringLiteral("*IF*+") + QChar(1) + "*THEN*+" + QChar(2) + "*ELSE*+" + QChar(1)
                  + "*");

    // 42 keywords kw-aa, kw-ab, ... in the colours #000001 to #00002A.
    auto word = [](int i) { return QStringLiteral("kw-%1%2").arg(QChar(u'a' + i / 26)).arg(QChar(u'a' + i % 26)); };
    QStringList many;
    for (int i = 0; i < 42; ++i)
        many << word(i) + QStringLiteral(";#%1").arg(i + 1, 6, 16, QChar(u'0'));
    rule.SetKeywords(many);
    EXPECT_EQ(rule.KeyColors().size(), 41u);
    const auto found = Find(rule, word(40) + " " + word(41));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Color, ParseColor("#000029"));
    EXPECT_EQ(found[1].Color, found[0].Color) << "the 42nd colour falls back to the 41st";
}

TEST_F(RulesTest, LaterKeywordTakesSharedCharacters)
{
    TColorRule& rule = NewRule(dtKeyShow);
    rule.PartWord = true;
    rule.SetKeywords({QStringLiteral("abc;navy"), QStringLiteral("cd;teal")});
    GridEdit edit(QStringLiteral("abcd"));
    RecordingCanvas canvas;
    Memo.PaintColors(edit, canvas, false);
    ASSERT_EQ(canvas.Painted.size(), 2u);
    EXPECT_EQ(canvas.Painted[0].Text, "ab");
    EXPECT_EQ(canvas.Painted[0].Font, clNavy);
    EXPECT_EQ(canvas.Painted[1].Text, "cd");
    EXPECT_EQ(canvas.Painted[1].Font, clTeal);
}

TEST_F(RulesTest, LongKeywordsMatchWholeAndStarKeywordsAreLeftOut)
{
    TColorRule& rule = NewRule(dtKeyShow);
    const QString longWord = QStringLiteral("a_keyword_that_is_longer_than_thirty_one_chars");
    rule.SetKeywords({longWord + ";navy", QStringLiteral("x*y;red"), QStringLiteral("b;teal")});
    EXPECT_FALSE(rule.KeyString().contains(QStringLiteral("X*Y")));
    EXPECT_EQ(rule.KeyColors().size(), 2u) << "a left-out keyword takes no colour";

    const QString text = longWord + QStringLiteral(" x*y b");
    const auto found = Find(rule, text);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].EndPos - found[0].BegPos + 1, longWord.size());
    EXPECT_EQ(found[1].BegPos, text.size() - 1);
    EXPECT_EQ(found[1].Color, clTeal);
}

TEST_F(RulesTest, BeginEndSpans)
{
    TColorRule& rule = NewRule(dtBeginEnd);
    rule.ZOrder = 3;
    rule.SetKeyBegEndLst({QStringLiteral("{;};gray"), QStringLiteral("(*;*)")});
    const QString text = QStringLiteral("a {b\r\nc} (*) d {e");
    const auto found = Find(rule, text);
    EXPECT_EQ(Covered(text, found), "..{b\r\nc}.(*).....") << "the unclosed { adds nothing";
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Color, clGray);
    EXPECT_EQ(found[0].ZOrder, 3);
    EXPECT_EQ(found[0].IsKey, 0);
    EXPECT_EQ(found[1].Color, clRed);

    // The unclosed span stops the rule: the later (*) is not found.
    EXPECT_EQ(Covered(QStringLiteral("{x (*) y"), Find(rule, QStringLiteral("{x (*) y"))),
              "........");

    // An earlier begin wins; at equal positions the earlier line wins.
    rule.SetKeyBegEndLst({QStringLiteral("<;>;navy"), QStringLiteral("<<;>>;teal")});
    const auto tie = Find(rule, QStringLiteral("<<x>>"));
    ASSERT_EQ(tie.size(), 1u);
    EXPECT_EQ(tie[0].Color, clNavy);
    EXPECT_EQ(tie[0].EndPos, 3);
}

TEST_F(RulesTest, BeginEndLineFormats)
{
    TColorRule& rule = NewRule(dtBeginEnd);
    rule.SetKeyBegEndLst({QStringLiteral("{;}"), QStringLiteral("no separator"),
                          QStringLiteral("(;)")});
    const QString text = QStringLiteral("{a} (b)");
    EXPECT_EQ(Covered(text, Find(rule, text)), "{a}....") << "an empty entry ends the table";

    rule.SetKeyBegEndLst({QStringLiteral("BEGINNING;ENDING_;lime")});
    ASSERT_NE(rule.KeyTable(), nullptr);
    EXPECT_EQ((*rule.KeyTable())[0].BegStr, "BEGINN");
    EXPECT_EQ((*rule.KeyTable())[0].EndStr, "ENDING");
    EXPECT_EQ((*rule.KeyTable())[0].Color, clLime);

    QStringList many;
    for (int i = 0; i < 45; ++i)
        many << QStringLiteral("%1;%1;navy").arg(QChar(u'A' + i % 26));
    rule.SetKeyBegEndLst(many);
    EXPECT_FALSE((*rule.KeyTable())[39].BegStr.isEmpty());
}

TEST_F(RulesTest, LineEndSpans)
{
    TColorRule& rule = NewRule(dtBeginLineEnd);
    rule.SetKeyLineEndLst({QStringLiteral("//;green"), QStringLiteral(";rem"),
                           QStringLiteral(";;blue")});
    const QString text = QStringLiteral("x = 1 // one\r\ny; z\r\n;rem note");
    const auto found = Find(rule, text);
    EXPECT_EQ(Covered(text, found), "......// one...; z..;rem note");
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].Color, clGreen);
    EXPECT_EQ(found[0].EndPos, text.indexOf(u'\r') - 1) << "the line break is not coloured";
    EXPECT_EQ(found[1].Color, clBlue);
    EXPECT_EQ(found[2].Color, clRed) << "one leading ';': the whole line, default colour";
}

TEST_F(RulesTest, WrittenKeywordsShowAtTheNextPaint)
{
    TColorRule& rule = NewRule(dtKeyShow);
    rule.SetKeywords({QStringLiteral("old;navy")});
    GridEdit edit(QStringLiteral("old new"));
    RecordingCanvas canvas;
    Memo.PaintColors(edit, canvas, false);   // compiles; the next pass will not
    ASSERT_EQ(canvas.Painted.size(), 1u);
    EXPECT_FALSE(Memo.ColorRules().NeedCompile);

    rule.SetKeywords({QStringLiteral("new;teal")});
    canvas.Painted.clear();
    Memo.PaintColors(edit, canvas, false);
    ASSERT_EQ(canvas.Painted.size(), 1u);
    EXPECT_EQ(canvas.Painted[0].Text, "new");
}

TEST_F(RulesTest, CompileRulesRhythm)
{
    TDrawRules& rules = Memo.ColorRules();
    TColorRule& rule = NewRule(dtKeyShow);
    rule.Enabled = false;   // disabled rules are compiled all the same

    // A list edited in place takes effect at the next compile.
    rule.Keywords() << QStringLiteral("x");
    rules.CompileRules();
    EXPECT_EQ(rule.KeyString(), QStringLiteral("*X*+") + QChar(1) + "*");
    EXPECT_FALSE(rules.NeedCompile);
    rule.Keywords() << QStringLiteral("y");
    rules.CompileRules();
    EXPECT_FALSE(rule.KeyString().contains(u'Y')) << "skipped every second pass";
    EXPECT_TRUE(rules.NeedCompile);
    rules.CompileRules();
    EXPECT_TRUE(rule.KeyString().contains(u'Y'));

    // Without entries every pass compiles.
    rule.Keywords().clear();
    rules.CompileRules();   // skipped
    rules.CompileRules();
    EXPECT_TRUE(rules.NeedCompile);
    rule.KeyCase = true;
    rule.Keywords() << QStringLiteral("z");
    rules.CompileRules();
    EXPECT_EQ(rule.KeyString(), QStringLiteral("*z*+") + QChar(1) + "*");
}

TEST_F(RulesTest, EventDrawRecordsCountFromTheScanStart)
{
    TColorRule& rule = NewRule(dtEventDraw);
    rule.ZOrder = 9;
    int calls = 0;
    QString seen;
    Memo.OnDraw = [&](TColorRule* sender, QStringView from, std::span<TKeyDescr> a, int& count) {
        ++calls;
        EXPECT_EQ(sender, &rule);
        EXPECT_EQ(count, 0);
        seen = from.toString();
        a[0] = {0, 3, clPurple, 0, 0};
        a[1] = {5, 5, clTeal, 200, 0};
        count = 5;   // more than the buffer holds
    };
    EXPECT_TRUE(Find(rule, QStringLiteral("abc")).empty()) << "no buffer yet";
    EXPECT_EQ(calls, 0);

    Memo.SetColorLimMax(2);
    const auto found = Find(rule, QStringLiteral("xx\r\nabcdefg"), 4);
    EXPECT_EQ(seen, "abcdefg");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].BegPos, 4);
    EXPECT_EQ(found[0].EndPos, 7);
    EXPECT_EQ(found[0].ZOrder, 9) << "0 takes the rule's";
    EXPECT_EQ(found[1].ZOrder, 200);

    Memo.OnDraw = nullptr;
    EXPECT_TRUE(Find(rule, QStringLiteral("abc")).empty());
}

TEST_F(RulesTest, EventDrawStrayPositionsAreCutToTheText)
{
    NewRule(dtEventDraw);
    Memo.SetColorLimMax(2);
    Memo.OnDraw = [](TColorRule*, QStringView, std::span<TKeyDescr> a, int& count) {
        a[0] = {-50, 1, clNavy, 0, 0};
        a[1] = {MaxInt - 1, MaxInt - 1, clTeal, 0, 0};
        count = 2;
    };
    Memo.HotSpot().Active = true;
    Memo.HotSpot().BeginChar = u'[';
    Memo.HotSpot().EndChar = u']';
    GridEdit edit(QStringLiteral("abc [d]"));
    RecordingCanvas canvas;
    Memo.PaintColors(edit, canvas, false);
    ASSERT_EQ(canvas.Painted.size(), 4u);
    EXPECT_EQ(canvas.Painted[0].Text, "ab");
    EXPECT_EQ(canvas.Painted[2].Text, "d");
}

TEST_F(RulesTest, AssignCopiesSettingsAndCompiledLists)
{
    TDrawRules source;
    TColorRule& from = *source.Add();
    from.KeyDrawingType = dtKeyShow;
    from.ZOrder = 4;
    from.KeyMaxHeight = 3;
    from.KeyCase = true;
    from.Enabled = false;
    from.PartWord = true;
    from.DefKeyColor = clOlive;
    from.KeyBrushColor = clAqua;
    from.KeySelColor = clNavy;
    from.IntChar = QStringLiteral("_");
    from.Keywords() << QStringLiteral("Key");
    from.KeyBegEndLst() << QStringLiteral("{;}");
    from.KeyLineEndLst() << QStringLiteral("--;navy");

    Memo.SetColorRules(source);
    ASSERT_EQ(Memo.ColorRules().Count(), 1);
    TColorRule& to = Memo.ColorRules()[0];
    EXPECT_EQ(to.Memo(), &Memo);
    EXPECT_EQ(to.KeyDrawingType, dtKeyShow);
    EXPECT_EQ(to.ZOrder, 4);
    EXPECT_EQ(to.KeyMaxHeight, 3);
    EXPECT_TRUE(to.KeyCase);
    EXPECT_FALSE(to.Enabled);
    EXPECT_TRUE(to.PartWord);
    EXPECT_EQ(to.DefKeyColor, clOlive);
    EXPECT_EQ(to.KeyBrushColor, clAqua);
    EXPECT_EQ(to.KeySelColor, clYellow) << "not copied";
    EXPECT_TRUE(to.IntChar.isEmpty()) << "not copied";
    EXPECT_EQ(to.Keywords(), QStringList{"Key"});
    EXPECT_EQ(to.KeyString(), QStringLiteral("*Key*+") + QChar(1) + "*")
        << "compiled with the copied case setting";
    ASSERT_NE(to.KeyTable(), nullptr);
    EXPECT_EQ((*to.KeyTable())[0].BegStr, "{") << "begin/end list written last";

    Memo.SetColorRules(TDrawRules());
    EXPECT_EQ(Memo.ColorRules().Count(), 0);
}

}   // namespace
