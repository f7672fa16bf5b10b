// The paint pass, hot spots and the memo's reactions, driven through the grid stand-in.
#include "grid.h"

#include <gtest/gtest.h>

namespace {

class HotSpotTest : public ::testing::Test {
protected:
    TColorMemoCore Memo;
    GridEdit Edit;
    RecordingCanvas Canvas;

    void SetUp() override
    {
        THotSpot& hs = Memo.HotSpot();
        hs.BeginChar = u'[';
        hs.EndChar = u']';
        hs.Color = clGreen;
        hs.MarkerColor = clBtnFace;
        hs.Active = true;
    }

    void Paint(const QString& text, bool currentLineOnly = false)
    {
        Edit.SetText(text);
        Canvas.Painted.clear();
        Memo.PaintColors(Edit, Canvas, currentLineOnly);
    }

    // The runs of the last pass.
    std::vector<TKeyDescr> Runs() const
    {
        std::vector<TKeyDescr> runs;
        for (const TKeyDescr& r : Memo.KeyList()) {
            if (r.BegPos == MaxInt)
                break;
            runs.push_back(r);
        }
        return runs;
    }

    // The phrase a click on the character at pos reports, or "-" when it reports nothing.
    QString ClickAt(int pos) const
    {
        const TPoint c = Edit.Centre(pos);
        return Memo.HotSpotPhrase(Edit, c.X, c.Y).value_or(QStringLiteral("-"));
    }
    bool OnHotSpot(int pos) const
    {
        const TPoint c = Edit.Centre(pos);
        return Memo.IsOnHotSpot(Edit, c.X, c.Y);
    }
};

TEST_F(HotSpotTest, DocumentationLinePaintsHiddenMarkersAndUnderlinedPhrase)
{
    Memo.HotSpot().BeginChar = u'<';
    Memo.HotSpot().EndChar = u'>';
    const QString line = QStringLiteral("Create an<Event Template>based on this interface ");
    Paint(line);

    ASSERT_EQ(Canvas.Painted.size(), 3u);
    const PaintedText& open = Canvas.Painted[0];
    EXPECT_EQ(open.Text, "<");
    EXPECT_EQ(open.X, 9 * GridEdit::CellW);
    EXPECT_EQ(open.Font, clBtnFace);
    EXPECT_EQ(open.Brush, clBtnFace);
    const PaintedText& phrase = Canvas.Painted[1];
    EXPECT_EQ(phrase.Text, "Event Template");
    EXPECT_EQ(phrase.X, 10 * GridEdit::CellW);
    EXPECT_EQ(phrase.Font, clGreen);
    EXPECT_EQ(phrase.Brush, clWindow) << "the memo's background";
    EXPECT_TRUE(phrase.Underline);
    EXPECT_EQ(Canvas.Painted[2].Text, ">");
    EXPECT_EQ(Canvas.Painted[2].Brush, clBtnFace);
    EXPECT_FALSE(Canvas.Underline()) << "the underline is only for the phrase";
    EXPECT_EQ(Canvas.Hidden, 1);
    EXPECT_EQ(Canvas.Shown, 1);

    const int open_at = int(line.indexOf(u'<'));
    const int close_at = int(line.indexOf(u'>'));
    for (int pos = open_at + 1; pos <= close_at; ++pos)
        EXPECT_EQ(ClickAt(pos), "Event Template") << "at " << pos;
    EXPECT_FALSE(OnHotSpot(open_at));
    EXPECT_EQ(ClickAt(open_at), "-");
    EXPECT_EQ(ClickAt(0), "-");
    EXPECT_EQ(ClickAt(close_at + 1), "-");
}

TEST_F(HotSpotTest, OnlyTextBetweenMarkersIsAHotSpot)
{
    Paint(QStringLiteral("[A] and [B]"));
    for (int pos = 3; pos <= 7; ++pos)
        EXPECT_FALSE(OnHotSpot(pos)) << "at " << pos;
    EXPECT_EQ(ClickAt(9), "B");
    EXPECT_EQ(ClickAt(1), "A");
}

TEST_F(HotSpotTest, AdjacentMarkersPaintBothMarkersAndReportEmptyPhrase)
{
    Paint(QStringLiteral("x[]y"));
    ASSERT_EQ(Canvas.Painted.size(), 1u) << "the two markers are one run";
    EXPECT_EQ(Canvas.Painted[0].Text, "[]");
    EXPECT_EQ(Canvas.Painted[0].Brush, clBtnFace);
    EXPECT_EQ(ClickAt(2), "");
}

TEST_F(HotSpotTest, UnclosedMarkerAddsNothing)
{
    Paint(QStringLiteral("[A] then [abc"));
    ASSERT_EQ(Runs().size(), 3u) << "only the closed hot spot";
    EXPECT_EQ(Runs().back().EndPos, 2);
    EXPECT_FALSE(OnHotSpot(10));
}

TEST_F(HotSpotTest, StrayEndMarkerMakesTheLineStartClickable)
{
    Paint(QStringLiteral("x ] y"));
    EXPECT_TRUE(Canvas.Painted.empty());
    EXPECT_TRUE(OnHotSpot(0));
    EXPECT_EQ(ClickAt(0), "x ");
    EXPECT_FALSE(OnHotSpot(4));
}

TEST_F(HotSpotTest, MarkersDoNotNest)
{
    Paint(QStringLiteral("[a[b]c]"));
    ASSERT_EQ(Canvas.Painted.size(), 3u);
    EXPECT_EQ(Canvas.Painted[1].Text, "a[b");
    EXPECT_EQ(Canvas.Painted[2].Text, "]");
    EXPECT_EQ(Canvas.Painted[2].X, 4 * GridEdit::CellW) << "the first ] closes; c] stay plain";
    EXPECT_FALSE(OnHotSpot(1));
    EXPECT_EQ(ClickAt(3), "b");
}

TEST_F(HotSpotTest, EqualMarkersPairInOrder)
{
    Memo.HotSpot().BeginChar = u'|';
    Memo.HotSpot().EndChar = u'|';
    Paint(QStringLiteral("|A| x |B|"));
    EXPECT_EQ(Canvas.Find("A").size(), 1u);
    EXPECT_EQ(Canvas.Find("B").size(), 1u);
    EXPECT_TRUE(Canvas.Find("x").empty());
    EXPECT_EQ(ClickAt(4), " x ");
    EXPECT_EQ(ClickAt(1), "A");
}

TEST_F(HotSpotTest, HotSpotAcrossLineBreakIsPaintedPlainAndOnlyItsSecondLineClicks)
{
    Paint(QStringLiteral("go [Event\r\nTemplate] now"));
    const auto first = Canvas.Find("Event");
    const auto second = Canvas.Find("Template");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(first[0].Y, 0);
    EXPECT_EQ(second[0].Y, GridEdit::CellH);
    EXPECT_EQ(second[0].X, 0);
    EXPECT_FALSE(first[0].Underline);
    EXPECT_FALSE(second[0].Underline);
    EXPECT_EQ(first[0].Font, clGreen);

    EXPECT_FALSE(OnHotSpot(5));
    const int t = int(Edit.Text().indexOf(u'T'));
    EXPECT_EQ(ClickAt(t + 2), "Template");
}

TEST_F(HotSpotTest, SelectionKeepsTheControlsOwnPainting)
{
    Edit.Start = 3;    // "[Lin" of "ab [Link] cd"
    Edit.Length = 4;
    Paint(QStringLiteral("ab [Link] cd"));
    ASSERT_EQ(Canvas.Painted.size(), 2u);
    EXPECT_EQ(Canvas.Painted[0].Text, "k");
    EXPECT_EQ(Canvas.Painted[0].X, 7 * GridEdit::CellW);
    EXPECT_EQ(Canvas.Painted[1].Text, "]");
}

TEST_F(HotSpotTest, PartlyVisibleLastLineIsNotOverpainted)
{
    Edit.Height = 2 * GridEdit::CellH + 5;   // line 2 shows only its top
    Paint(QStringLiteral("[a]\r\n[b]\r\n[c]\r\n[d]"));
    EXPECT_EQ(Canvas.Find("a").size(), 1u);
    EXPECT_EQ(Canvas.Find("b").size(), 1u);
    EXPECT_TRUE(Canvas.Find("c").empty());

    Edit.FirstLine = 1;   // scrolled: c is wholly visible now
    Canvas.Painted.clear();
    Memo.PaintColors(Edit, Canvas, false);
    EXPECT_TRUE(Canvas.Find("a").empty());
    ASSERT_EQ(Canvas.Find("c").size(), 1u);
    EXPECT_EQ(Canvas.Find("c")[0].Y, GridEdit::CellH);
}

TEST_F(HotSpotTest, GateStopsPaintingButNotTheHotSpotTest)
{
    Memo.ColorsSupported = false;
    Paint(QStringLiteral("[abc]"));
    EXPECT_TRUE(Canvas.Painted.empty());
    EXPECT_EQ(Canvas.Hidden, 0);
    EXPECT_EQ(ClickAt(2), "abc");

    Memo.ColorsSupported = true;
    Edit.Paintable = false;
    Paint(QStringLiteral("[abc]"));
    EXPECT_TRUE(Canvas.Painted.empty());

    Edit.Paintable = true;
    Memo.HotSpot().Active = false;
    Paint(QStringLiteral("[abc]"));
    EXPECT_TRUE(Canvas.Painted.empty());
    EXPECT_FALSE(Memo.PassEnabled(Edit));
}

TEST_F(HotSpotTest, PositionsBeyondSixteenBitsWork)
{
    QStringList lines;
    for (int i = 0; i < 800; ++i)
        lines << QString(60, u'.');
    lines << QStringLiteral("see [Far Away] here");
    Edit.SetText(lines.join(QStringLiteral("\r\n")));
    Edit.FirstLine = 795;
    const int start = Edit.LineIndex(800);
    ASSERT_GT(start, 40000);

    Canvas.Painted.clear();
    Memo.PaintColors(Edit, Canvas, false);
    ASSERT_EQ(Canvas.Find("Far Away").size(), 1u);
    EXPECT_EQ(Canvas.Find("Far Away")[0].Y, 5 * GridEdit::CellH);
    EXPECT_EQ(ClickAt(start + 6), "Far Away");
    EXPECT_FALSE(OnHotSpot(start + 1));
}

TEST_F(HotSpotTest, MergeGivesEachCharacterToTheHighestPriority)
{
    // A rule at the phrase's priority covers the whole line. Between equals the later segment
    // wins, so the rule takes the phrase's characters; the markers (253) and the tab mask
    // (255) keep theirs.
    TColorRule* rule = Memo.ColorRules().Add();
    rule->KeyDrawingType = dtBeginLineEnd;
    rule->ZOrder = zoPhrase;
    rule->SetKeyLineEndLst({QStringLiteral("a;navy")});
    Edit.Tabs = true;
    Paint(QStringLiteral("a[b]c\td"));

    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 7u);
    for (int i : {0, 2, 4, 6}) {
        EXPECT_EQ(runs[i].Color, clNavy) << "run " << i;
        EXPECT_EQ(runs[i].BegPos, runs[i].EndPos);
    }
    EXPECT_EQ(runs[1].ZOrder, zoMarker);
    EXPECT_EQ(runs[3].ZOrder, zoMarker);
    EXPECT_EQ(runs[5].ZOrder, zoTabMask);
    EXPECT_EQ(runs[5].BegPos, 5);
    EXPECT_TRUE(Canvas.Find("\t").empty());
    EXPECT_EQ(Canvas.Painted.size(), 6u);
    EXPECT_EQ(Canvas.Find("b")[0].Font, clNavy);

    // Without tab masks the tab goes to the rule like any other character.
    Edit.Tabs = false;
    Paint(QStringLiteral("a[b]c\td"));
    EXPECT_EQ(Canvas.Find("c\td").size(), 1u);
}

TEST_F(HotSpotTest, CaretLineSegmentOfRedrawAlways)
{
    Memo.RedrawAlways = true;
    Edit.Foreground = clBlack;
    Edit.Start = 9;   // after "ab" on the second line
    Paint(QStringLiteral("first\r\nab[x]yz"));
    ASSERT_FALSE(Canvas.Painted.empty());
    EXPECT_EQ(Canvas.Painted[0].Text, "ab");
    EXPECT_EQ(Canvas.Painted[0].Font, clBlack);
    EXPECT_EQ(Canvas.Painted[0].Y, GridEdit::CellH);
    EXPECT_EQ(Canvas.Painted[1].Text, "[") << "the marker outranks the caret line";
}

TEST_F(HotSpotTest, CurrentLineOnlyCoversTheCaretsLine)
{
    Edit.Start = 6;
    Paint(QStringLiteral("[a]\r\n[b]\r\n[c]"), true);
    EXPECT_TRUE(Canvas.Find("a").empty());
    EXPECT_EQ(Canvas.Find("b").size(), 1u);
    EXPECT_TRUE(Canvas.Find("c").empty());
}

TEST_F(HotSpotTest, ChangeHandlingRepaintsOneLineAfterOneTypedCharacter)
{
    Edit.SetText(QStringLiteral("ab\r\ncd"));
    EXPECT_FALSE(Memo.CurrentLineOnlyAfterChange(Edit));
    EXPECT_EQ(Memo.LastLineCount(), 2);
    EXPECT_EQ(Memo.LastTextEnd(), 6);
    Edit.SetText(QStringLiteral("ab\r\ncde"));
    EXPECT_TRUE(Memo.CurrentLineOnlyAfterChange(Edit));
    Edit.SetText(QStringLiteral("ab\r\ncde\r\n"));
    EXPECT_FALSE(Memo.CurrentLineOnlyAfterChange(Edit)) << "a new line";
    Edit.SetText(QStringLiteral("ab\r\ncd"));
    EXPECT_FALSE(Memo.CurrentLineOnlyAfterChange(Edit)) << "a deletion";

    Memo.RedrawAlways = true;
    Edit.SetText(QStringLiteral("ab\r\ncde"));
    EXPECT_FALSE(Memo.CurrentLineOnlyAfterChange(Edit));
    EXPECT_EQ(Memo.LastTextEnd(), 6) << "not tracked while everything is redrawn";
}

TEST_F(HotSpotTest, NavigationKeyCollapsesSelectionToItsEnd)
{
    Edit.SetText(QStringLiteral("abcdefgh"));
    Edit.Start = 2;
    Edit.Length = 3;
    EXPECT_FALSE(Memo.CollapseSelectionForKey(Edit, 37, false)) << "Shift+Left extends";
    EXPECT_FALSE(Memo.CollapseSelectionForKey(Edit, 65, true)) << "not a navigation key";
    EXPECT_EQ(Edit.Length, 3);
    EXPECT_TRUE(Memo.CollapseSelectionForKey(Edit, 37, true));
    EXPECT_EQ(Edit.Start, 5);
    EXPECT_EQ(Edit.Length, 0);
    EXPECT_FALSE(Memo.CollapseSelectionForKey(Edit, 37, true)) << "nothing selected now";
}

TEST_F(HotSpotTest, KeywordRunsGoToOnDrawKey)
{
    TColorRule* rule = Memo.ColorRules().Add();
    rule->KeyDrawingType = dtKeyShow;
    rule->SetKeywords({QStringLiteral("end;teal")});
    Edit.Foreground = clBlack;
    std::vector<std::pair<QString, TRect>> drawn;
    Memo.OnDrawKey = [&](TMemoCanvas&, const QString& key, const TRect& rect, TColor kcolor) {
        EXPECT_EQ(kcolor, clBlack);
        drawn.emplace_back(key, rect);
    };
    Paint(QStringLiteral("x\r\n  end [a]"));
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].first, "end");
    EXPECT_EQ(drawn[0].second.Left, 2 * GridEdit::CellW);
    EXPECT_EQ(drawn[0].second.Top, GridEdit::CellH);
    EXPECT_EQ(drawn[0].second.Right, 5 * GridEdit::CellW);
    EXPECT_EQ(drawn[0].second.Bottom, 2 * GridEdit::CellH);
    EXPECT_TRUE(Canvas.Find("end").empty());
    EXPECT_EQ(Canvas.Find("a").size(), 1u) << "other runs are painted as usual";
}

TEST_F(HotSpotTest, SpanBegunAboveTheViewIsPaintedOnEveryVisibleLine)
{
    TColorRule* rule = Memo.ColorRules().Add();
    rule->KeyMaxHeight = 4;
    rule->SetKeyBegEndLst({QStringLiteral("{;};gray")});
    Edit.FirstLine = 2;
    Paint(QStringLiteral("a {\r\nbb\r\ncc\r\ndd }\r\nee"));
    EXPECT_EQ(Canvas.Find("{").size(), 1u) << "scanning reaches back to the opening brace";
    ASSERT_EQ(Canvas.Find("cc").size(), 1u);
    EXPECT_EQ(Canvas.Find("cc")[0].Y, 0);
    ASSERT_EQ(Canvas.Find("dd }").size(), 1u);
    EXPECT_EQ(Canvas.Find("dd }")[0].Y, GridEdit::CellH);
    EXPECT_TRUE(Canvas.Find("ee").empty());
    for (const PaintedText& p : Canvas.Painted)
        EXPECT_FALSE(p.Text.contains(u'\r') || p.Text.contains(u'\n'));
}

}   // namespace
