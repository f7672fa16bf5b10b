// The memo widget on the offscreen screen: its view of the text as edit-control positions,
// what it paints, the pointer over hot spots and the clicks it reports.
#include "components/ColMemo/colmemo.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "colmemo_widget_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = nullptr;
    if (app)
        return;
    app = new QApplication(argc, argv);
    const QString tahoma = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    if (QFile::exists(tahoma))
        QFontDatabase::addApplicationFont(tahoma);
}

const QString DocLine = QStringLiteral("Create an<Event Template>based on this interface ");

class MemoWidgetTest : public ::testing::Test {
protected:
    std::unique_ptr<QWidget> Parent;
    TColorMemo* Memo = nullptr;
    QStringList Clicks;
    QStringList Signalled;

    void SetUp() override
    {
        EnsureApplication();
        Parent = std::make_unique<QWidget>();
        Parent->resize(489, 89);
        Memo = new TColorMemo(Parent.get());
        Memo->setGeometry(12, 24, 465, 57);
        Memo->setFont(QFont(QStringLiteral("Tahoma"), 8));
        Memo->setFrameShape(QFrame::NoFrame);
        Memo->setReadOnly(true);
        Memo->SetColor(clBtnFace);
        THotSpot& hs = Memo->HotSpot();
        hs.BeginChar = u'<';
        hs.EndChar = u'>';
        hs.Color = clGreen;
        hs.MarkerColor = clBtnFace;
        hs.Active = true;
        Memo->OnHotSpotClick = [this](TColorMemo* sender, const QString& phrase) {
            EXPECT_EQ(sender, Memo);
            Clicks << phrase;
        };
        QObject::connect(Memo, &TColorMemo::hotSpotClicked,
                         [this](const QString& phrase) { Signalled << phrase; });
        Parent->show();
    }

    QWidget* View() const { return Memo->viewport(); }

    // The box of the characters from..to (inclusive) on one line.
    QRect Box(int from, int to) const
    {
        const TPoint a = Memo->EditControl().PosFromChar(from);
        const TPoint b = Memo->EditControl().PosFromChar(to + 1);
        return QRect(QPoint(a.X, a.Y), QPoint(b.X - 1, a.Y + Memo->EditControl().LineHeight() - 1));
    }
    QPoint Centre(int pos) const { return Box(pos, pos).center(); }

    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton)
    {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons();
        QMouseEvent event(type, QPointF(at), QPointF(View()->mapToGlobal(at)), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(View(), &event);
    }
    void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        Mouse(QEvent::MouseMove, at);
        Mouse(QEvent::MouseButtonPress, at, button);
        Mouse(QEvent::MouseButtonRelease, at, button);
    }

    QImage Grab() const { return View()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST_F(MemoWidgetTest, PositionsCountLineBreaksAsCrLf)
{
    Memo->setText(QStringLiteral("ab\ncd"));
    EXPECT_EQ(Memo->text(), "ab\r\ncd");
    TMemoEdit& edit = Memo->EditControl();
    EXPECT_EQ(edit.LineCount(), 2);
    EXPECT_EQ(edit.LineIndex(1), 4);
    EXPECT_EQ(edit.LineIndex(2), -1);
    EXPECT_EQ(edit.LineFromChar(3), 0);
    EXPECT_EQ(edit.LineFromChar(4), 1);
    EXPECT_EQ(edit.LineLength(5), 2);
    EXPECT_EQ(edit.LineText(1), "cd");
    EXPECT_GT(edit.PosFromChar(4).Y, edit.PosFromChar(1).Y);
    EXPECT_EQ(edit.PosFromChar(3).X, edit.PosFromChar(2).X) << "LF sits at the line's end";

    const QPoint d = Centre(5);
    EXPECT_EQ(edit.CharFromPos(d.x(), d.y()).Pos, 5);
    EXPECT_EQ(edit.CharFromPos(d.x(), d.y()).Line, 1);
    EXPECT_EQ(edit.CharFromPos(400, d.y()).Pos, 6) << "past the end: the line's end";

    edit.SetSelStart(4);
    edit.SetSelLength(2);
    EXPECT_EQ(Memo->textCursor().selectedText(), "cd");
    EXPECT_EQ(edit.SelStart(), 4);
    edit.SetSelStart(1);
    edit.SetSelLength(4);
    EXPECT_EQ(edit.SelLength(), 4) << "the line break counts twice";
}

TEST_F(MemoWidgetTest, WrappedLinesAreLinesOfTheirOwn)
{
    Memo->setText(QStringLiteral("word ").repeated(40).trimmed() + QStringLiteral("\nnext"));
    QApplication::processEvents();
    TMemoEdit& edit = Memo->EditControl();
    ASSERT_GT(edit.LineCount(), 2);
    const int second = edit.LineIndex(1);
    EXPECT_GT(second, 0);
    EXPECT_EQ(edit.LineFromChar(second), 1);
    EXPECT_EQ(edit.LineText(0) + edit.LineText(1), Memo->text().left(second + edit.LineLength(second)));
    EXPECT_EQ(edit.LineText(edit.LineCount() - 1), "next");
}

TEST_F(MemoWidgetTest, HotSpotIsPaintedGreenUnderlinedWithHiddenMarkers)
{
    Memo->setText(DocLine);
    const int lt = int(DocLine.indexOf(u'<'));
    const int gt = int(DocLine.indexOf(u'>'));
    const QImage image = Grab();
    const QRgb background = ColorToQColor(clBtnFace, Memo->palette()).rgb();

    for (int pos : {lt, gt}) {
        const QRect marker = Box(pos, pos);
        ASSERT_GT(marker.width(), 0);
        for (int y = marker.top(); y <= marker.bottom(); ++y)
            for (int x = marker.left(); x <= marker.right(); ++x)
                ASSERT_EQ(image.pixel(x, y), background) << "marker at " << pos << ": " << x << "," << y;
    }

    // The phrase holds only green over the background: no pixel of the dark text colour.
    const QRect phrase = Box(lt + 1, gt - 1);
    int green = 0;
    int underlineRows = 0;
    for (int y = phrase.top(); y <= phrase.bottom(); ++y) {
        int rowGreen = 0;
        for (int x = phrase.left(); x <= phrase.right(); ++x) {
            const QColor c(image.pixel(x, y));
            ASSERT_LE(std::abs(c.red() - c.blue()), 12) << x << "," << y;
            ASSERT_GE(c.green() + 12, c.red()) << x << "," << y;
            if (c.green() - c.red() > 60)
                ++rowGreen;
        }
        green += rowGreen;
        if (rowGreen >= phrase.width() * 9 / 10)
            ++underlineRows;
    }
    EXPECT_GT(green, 40);
    EXPECT_GE(underlineRows, 1) << "an underline runs under the phrase";

    // The plain text keeps the control's dark text colour.
    const QRect plain = Box(0, lt - 1);
    int dark = 0;
    for (int y = plain.top(); y <= plain.bottom(); ++y)
        for (int x = plain.left(); x <= plain.right(); ++x)
            if (qGray(image.pixel(x, y)) < 100)
                ++dark;
    EXPECT_GT(dark, 20);
}

TEST_F(MemoWidgetTest, MarkersArePaintedAsBoxesOfMarkerColour)
{
    Memo->HotSpot().MarkerColor = clFuchsia;
    Memo->setText(DocLine);
    const QImage image = Grab();
    const QRect marker = Box(int(DocLine.indexOf(u'>')), int(DocLine.indexOf(u'>')));
    for (int y = marker.top(); y <= marker.bottom(); ++y)
        for (int x = marker.left(); x <= marker.right(); ++x)
            ASSERT_EQ(image.pixel(x, y), qRgb(255, 0, 255)) << x << "," << y;
}

TEST_F(MemoWidgetTest, SelectedCharactersKeepTheSelectionHighlight)
{
    Memo->setText(DocLine);
    const int lt = int(DocLine.indexOf(u'<'));
    Memo->EditControl().SetSelStart(lt);
    Memo->EditControl().SetSelLength(7);   // "<Event "
    const QImage image = Grab();
    const QRgb background = ColorToQColor(clBtnFace, Memo->palette()).rgb();

    int greenSelected = 0;
    const QRect selected = Box(lt, lt + 6);
    for (int y = selected.top(); y <= selected.bottom(); ++y)
        for (int x = selected.left(); x <= selected.right(); ++x) {
            const QColor c(image.pixel(x, y));
            if (c.green() - c.red() > 60 && c.green() - c.blue() > 60)
                ++greenSelected;
        }
    EXPECT_EQ(greenSelected, 0) << "the selection is not overpainted";
    EXPECT_NE(image.pixel(Centre(lt)), background) << "the begin marker shows, highlighted";

    int green = 0;
    const QRect rest = Box(lt + 7, lt + 14);   // "Template"
    for (int y = rest.top(); y <= rest.bottom(); ++y)
        for (int x = rest.left(); x <= rest.right(); ++x)
            if (QColor(image.pixel(x, y)).green() - QColor(image.pixel(x, y)).red() > 60)
                ++green;
    EXPECT_GT(green, 20) << "the unselected rest of the phrase is still a link";
}

TEST_F(MemoWidgetTest, ClickOnThePhraseReportsIt)
{
    Memo->setText(DocLine);
    const int lt = int(DocLine.indexOf(u'<'));

    Click(Centre(lt + 3));
    EXPECT_EQ(View()->cursor().shape(), TColorMemo::crHotSpot);
    EXPECT_EQ(Clicks, QStringList{"Event Template"});
    EXPECT_EQ(Signalled, QStringList{"Event Template"});

    Click(Centre(lt));   // the begin marker
    EXPECT_NE(View()->cursor().shape(), TColorMemo::crHotSpot);
    Click(Centre(2));
    EXPECT_EQ(Clicks.size(), 1);

    Click(Centre(lt + 8), Qt::RightButton);
    EXPECT_EQ(Clicks, QStringList({"Event Template", "Event Template"}));

    // Where the button went down plays no part; the pointer must be on the phrase when it
    // comes up.
    Mouse(QEvent::MouseMove, Centre(1));
    Mouse(QEvent::MouseButtonPress, Centre(1), Qt::LeftButton);
    Mouse(QEvent::MouseMove, Centre(lt + 1));
    Mouse(QEvent::MouseButtonRelease, Centre(lt + 1), Qt::LeftButton);
    EXPECT_EQ(Clicks.size(), 3);
}

TEST_F(MemoWidgetTest, InactiveHotSpotsLeaveThePointerAlone)
{
    Memo->HotSpot().Active = false;
    Memo->setText(DocLine);
    const QPoint phrase = Centre(int(DocLine.indexOf(u'<')) + 2);
    Click(phrase);
    EXPECT_NE(View()->cursor().shape(), TColorMemo::crHotSpot);
    EXPECT_TRUE(Clicks.isEmpty());

    View()->setCursor(TColorMemo::crHotSpot);   // set from outside: clicks are reported
    Mouse(QEvent::MouseButtonRelease, phrase, Qt::LeftButton);
    EXPECT_EQ(Clicks, QStringList{"Event Template"});
}

TEST_F(MemoWidgetTest, HotSpotsWorkFarBeyondSixteenBitPositions)
{
    QStringList lines;
    for (int i = 0; i < 900; ++i)
        lines << QStringLiteral("line %1 of filler text .........................").arg(i);
    lines << QStringLiteral("go to <Far Away> now") << QString();
    Memo->setText(lines.join(u'\n'));
    int scrolled = 0;
    Memo->OnVScroll = [&](TColorMemo*) { ++scrolled; };
    Memo->verticalScrollBar()->setValue(Memo->verticalScrollBar()->maximum());
    QApplication::processEvents();
    EXPECT_GT(scrolled, 0);

    const int start = Memo->EditControl().LineIndex(900);
    ASSERT_GT(start, 40000);
    Click(Centre(start + 8));
    EXPECT_EQ(Clicks, QStringList{"Far Away"});

    const QImage image = Grab();
    const QRect marker = Box(start + 6, start + 6);
    for (int y = marker.top(); y <= marker.bottom(); ++y)
        for (int x = marker.left(); x <= marker.right(); ++x)
            ASSERT_EQ(image.pixel(x, y), ColorToQColor(clBtnFace, Memo->palette()).rgb());
}

// Pixels of the hot-spot colour (clGreen) in a box of the grabbed view.
int GreenPixels(const QImage& image, const QRect& box)
{
    int green = 0;
    for (int y = std::max(box.top(), 0); y <= std::min(box.bottom(), image.height() - 1); ++y)
        for (int x = std::max(box.left(), 0); x <= std::min(box.right(), image.width() - 1); ++x) {
            const QColor c(image.pixel(x, y));
            if (c.green() - c.red() > 60 && c.green() - c.blue() > 60)
                ++green;
        }
    return green;
}

TEST_F(MemoWidgetTest, HotSpotsStayPaintedWhenAWrappedParagraphIsScrolled)
{
    // One long paragraph that wraps over many lines, with a hot spot every few words, as a
    // long signature reads in the documentation pane.
    QString paragraph = QStringLiteral("Sub initDragEvent(");
    for (int i = 0; i < 24; ++i)
        paragraph += QStringLiteral("argument%1 As <IEventTarget%1>, flag%1 As Boolean, ").arg(i);
    paragraph += QStringLiteral("last As Long) ");
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setText(paragraph);
    QApplication::processEvents();
    TMemoEdit& edit = Memo->EditControl();
    ASSERT_GT(edit.LineCount(), 12) << "the paragraph wraps";
    QScrollBar* bar = Memo->verticalScrollBar();

    // Every wholly visible line holding a whole hot spot shows it in green.
    auto checkVisibleHotSpots = [&](const char* where) {
        QApplication::processEvents();
        const QImage image = Grab();
        const int first = edit.FirstVisibleLine();
        const int height = edit.LineHeight();
        const int bottom = edit.ClientRect().Bottom;
        int checked = 0;
        for (int line = first; line < edit.LineCount(); ++line) {
            const int start = edit.LineIndex(line);
            const TPoint at = edit.PosFromChar(start);
            if (line == first) {
                EXPECT_GT(at.Y, -height / 2) << where << ": the first visible line shows whole";
            }
            if (at.Y + height >= bottom)
                break;
            const QString text = edit.LineText(line);
            const int lt = int(text.indexOf(u'<'));
            const int gt = lt < 0 ? -1 : int(text.indexOf(u'>', lt));
            if (gt < 0)
                continue;
            ++checked;
            EXPECT_GT(GreenPixels(image, Box(start + lt + 1, start + gt - 1)), 10)
                << where << ": line " << line << " '" << text.toStdString() << "'";
        }
        EXPECT_GT(checked, 0) << where << ": no hot spot in view";
    };

    checkVisibleHotSpots("top");
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    ASSERT_GT(bar->value(), 0);
    checkVisibleHotSpots("one line down");
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    checkVisibleHotSpots("one page down");
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    ASSERT_EQ(bar->value(), bar->maximum());
    checkVisibleHotSpots("at the end");
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    checkVisibleHotSpots("back at the top");
}

TEST_F(MemoWidgetTest, APhraseOpenedAboveTheViewIsPaintedWhereItShows)
{
    // A phrase long enough to wrap over several lines, inside one paragraph.
    const QString phrase = QStringLiteral("long phrase ").repeated(30).trimmed();
    Memo->setText(QStringLiteral("Start of the paragraph <") + phrase + QStringLiteral("> end."));
    QApplication::processEvents();
    TMemoEdit& edit = Memo->EditControl();
    ASSERT_GT(edit.LineCount(), 4);
    Memo->verticalScrollBar()->setValue(2);   // the view starts inside the phrase
    QApplication::processEvents();
    const int start = edit.LineIndex(edit.FirstVisibleLine());
    ASSERT_GT(start, int(Memo->text().indexOf(u'<')));
    const QImage image = Grab();
    EXPECT_GT(GreenPixels(image, Box(start, start + edit.LineLength(start) - 2)), 40)
        << "the phrase's first visible line is painted in the hot-spot colour";
}

TEST_F(MemoWidgetTest, LeftKeyStartsFromTheEndOfTheSelection)
{
    Memo->setReadOnly(false);
    Memo->setText(QStringLiteral("abcdefgh"));
    Memo->setFocus();
    Memo->EditControl().SetSelStart(2);
    Memo->EditControl().SetSelLength(3);
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(Memo, &left);
    EXPECT_EQ(Memo->EditControl().SelLength(), 0);
    EXPECT_EQ(Memo->EditControl().SelStart(), 4);
}

}   // namespace
