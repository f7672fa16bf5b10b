#include "colmemo.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

QColor ColorToQColor(TColor color, const QPalette& palette)
{
    if (IsSystemColor(color)) {
        switch (color) {
        case clWindow: return palette.color(QPalette::Base);
        case clWindowText: return palette.color(QPalette::Text);
        case clBtnFace: return palette.color(QPalette::Button);
        case clHighlight: return palette.color(QPalette::Highlight);
        case clHighlightText: return palette.color(QPalette::HighlightedText);
        default: return palette.color(QPalette::Text);
        }
    }
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

TColor ColorFromQColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return TColor(rgb.red()) | (TColor(rgb.green()) << 8) | (TColor(rgb.blue()) << 16);
}

// ---------------------------------------------------------------------------------------------
// The edit control as the colour logic sees it. The document keeps one block per line of text
// and counts a line break as one character; here every break counts as CR LF, so a block's
// first character lies as many positions further on as there are blocks before it. Lines are
// the lines as laid out on screen, wrapped lines included.

class TColorMemo::TEdit : public TMemoEdit {
public:
    explicit TEdit(TColorMemo& memo) : M(memo) {}

    QString Text() const override
    {
        QString text;
        text.reserve(Doc()->characterCount() + Doc()->blockCount());
        for (QTextBlock b = Doc()->firstBlock(); b.isValid(); b = b.next()) {
            if (b != Doc()->firstBlock())
                text += QStringLiteral("\r\n");
            text += b.text();
        }
        return text;
    }

    int LineCount() const override { return std::max(Doc()->lineCount(), 1); }

    QString LineText(int line) const override
    {
        QTextBlock block;
        const QTextLine tl = LineAt(line, &block);
        if (!tl.isValid())
            return {};
        return block.text().mid(tl.textStart(), tl.textLength());
    }

    int FirstVisibleLine() const override { return M.verticalScrollBar()->value(); }

    int LineFromChar(int pos) const override
    {
        const int qt = ToQt(pos);
        const QTextBlock block = BlockAtQt(qt);
        const QTextLine tl = LineInBlock(block, qt - block.position());
        return block.firstLineNumber() + (tl.isValid() ? tl.lineNumber() : 0);
    }

    int LineIndex(int line) const override
    {
        QTextBlock block;
        const QTextLine tl = LineAt(line, &block);
        if (!tl.isValid())
            return -1;
        return WinStart(block) + tl.textStart();
    }

    int LineLength(int pos) const override
    {
        const int qt = ToQt(pos);
        const QTextBlock block = BlockAtQt(qt);
        const QTextLine tl = LineInBlock(block, qt - block.position());
        return tl.isValid() ? tl.textLength() : 0;
    }

    TPoint PosFromChar(int pos) const override
    {
        const int qt = ToQt(pos);
        const QTextBlock block = BlockAtQt(qt);
        const int rel = qt - block.position();
        const QTextLine tl = LineInBlock(block, rel);
        if (!tl.isValid())
            return {};
        const QPointF origin = BlockOrigin(block) + block.layout()->position();
        return {int(std::lround(origin.x() + tl.cursorToX(rel))),
                int(std::lround(origin.y() + tl.y()))};
    }

    TCharPos CharFromPos(int x, int y) const override
    {
        // The block holding y, walking from the first visible one; above or below the text
        // the first or last line counts.
        QTextBlock block = M.firstVisibleBlock();
        if (!block.isValid())
            return {};
        QPointF origin = BlockOrigin(block);
        while (y < origin.y() && block.previous().isValid()) {
            block = block.previous();
            origin.ry() -= Height(block);
        }
        while (y >= origin.y() + Height(block) && block.next().isValid()) {
            origin.ry() += Height(block);
            block = block.next();
        }
        QTextLayout* layout = LaidOut(block);
        const QPointF local = QPointF(x, y) - origin - layout->position();
        QTextLine tl = layout->lineAt(layout->lineCount() - 1);
        for (int i = 0; i < layout->lineCount(); ++i)
            if (local.y() < layout->lineAt(i).y() + layout->lineAt(i).height()) {
                tl = layout->lineAt(i);
                break;
            }
        if (!tl.isValid())
            return {WinStart(block), block.firstLineNumber()};
        int rel = tl.xToCursor(local.x(), QTextLine::CursorOnCharacter);
        rel = std::clamp(rel, tl.textStart(), tl.textStart() + tl.textLength());
        return {WinStart(block) + rel, block.firstLineNumber() + tl.lineNumber()};
    }

    TRect ClientRect() const override
    {
        const QRect r = M.viewport()->rect();
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }

    int LineHeight() const override
    {
        return int(std::ceil(QFontMetricsF(M.document()->defaultFont()).height()));
    }

    int SelStart() const override
    {
        const QTextCursor c = M.textCursor();
        return ToWin(c.selectionStart());
    }

    int SelLength() const override
    {
        const QTextCursor c = M.textCursor();
        return ToWin(c.selectionEnd()) - ToWin(c.selectionStart());
    }

    void SetSelStart(int pos) override
    {
        QTextCursor c = M.textCursor();
        c.setPosition(ToQt(pos));
        M.setTextCursor(c);
    }

    void SetSelLength(int length) override
    {
        const int start = SelStart();
        QTextCursor c = M.textCursor();
        c.setPosition(ToQt(start));
        c.setPosition(ToQt(start + std::max(length, 0)), QTextCursor::KeepAnchor);
        M.setTextCursor(c);
    }

    bool WantTabs() const override { return M.WantTabs(); }
    TColor Color() const override { return M.FColor; }
    TColor FontColor() const override { return M.FFontColor; }
    bool CanPaint() const override
    {
        return M.isEnabled() && M.isVisible() && M.parentWidget() != nullptr;
    }

    // Document position of a control position: a position on a line break is the end of
    // its line.
    int ToQt(int pos) const
    {
        pos = std::max(pos, 0);
        // The last block whose first character is at or before pos.
        int lo = 0;
        int hi = Doc()->blockCount() - 1;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (WinStart(Doc()->findBlockByNumber(mid)) <= pos)
                lo = mid;
            else
                hi = mid - 1;
        }
        const QTextBlock block = Doc()->findBlockByNumber(lo);
        return block.position() + std::min(pos - WinStart(block), block.length() - 1);
    }

    int ToWin(int qt) const { return qt + BlockAtQt(qt).blockNumber(); }

private:
    QTextDocument* Doc() const { return M.document(); }
    static int WinStart(const QTextBlock& b) { return b.position() + b.blockNumber(); }

    QTextBlock BlockAtQt(int qt) const
    {
        QTextBlock block = Doc()->findBlock(qt);
        return block.isValid() ? block : Doc()->lastBlock();
    }

    // The block's layout, laid out first when it has not been yet.
    QTextLayout* LaidOut(const QTextBlock& block) const
    {
        if (block.layout()->lineCount() == 0)
            Doc()->documentLayout()->blockBoundingRect(block);
        return block.layout();
    }

    qreal Height(const QTextBlock& block) const
    {
        return Doc()->documentLayout()->blockBoundingRect(block).height();
    }

    QTextLine LineInBlock(const QTextBlock& block, int rel) const
    {
        QTextLayout* layout = LaidOut(block);
        QTextLine tl = layout->lineForTextPosition(rel);
        if (!tl.isValid() && layout->lineCount() > 0)
            tl = layout->lineAt(layout->lineCount() - 1);
        return tl;
    }

    QTextLine LineAt(int line, QTextBlock* blockOut) const
    {
        if (line < 0)
            return {};
        const QTextBlock block = Doc()->findBlockByLineNumber(line);
        if (!block.isValid())
            return {};
        QTextLayout* layout = LaidOut(block);
        const int inner = line - block.firstLineNumber();
        if (inner < 0 || inner >= layout->lineCount())
            return {};
        *blockOut = block;
        return layout->lineAt(inner);
    }

    // Top left of a block in viewport coordinates, reached from the first visible block.
    QPointF BlockOrigin(const QTextBlock& block) const
    {
        QTextBlock b = M.firstVisibleBlock();
        QPointF origin = M.contentOffset();
        if (!b.isValid())
            return origin;
        while (b.blockNumber() < block.blockNumber() && b.next().isValid()) {
            origin.ry() += Height(b);
            b = b.next();
        }
        while (b.blockNumber() > block.blockNumber() && b.previous().isValid()) {
            b = b.previous();
            origin.ry() -= Height(b);
        }
        return origin;
    }

    TColorMemo& M;
};

// ---------------------------------------------------------------------------------------------
// The canvas over the viewport's painter.

class TColorMemo::TCanvas : public TColorMemoCanvas {
public:
    TCanvas(TColorMemo& memo, QPainter& painter)
        : M(memo), P(painter), FFont(memo.document()->defaultFont()), FMetrics(FFont),
          FPalette(QApplication::palette(&memo)), FLineHeight(memo.FEdit->LineHeight())
    {
        P.setFont(FFont);
    }

    // The caret's box keeps the control's own painting, so the caret stays visible.
    void HideCaret() override
    {
        const bool caretShown =
            M.hasFocus()
            && (M.textInteractionFlags() & (Qt::TextEditable | Qt::TextSelectableByKeyboard));
        if (!caretShown)
            return;
        const QRect caret = M.cursorRect().adjusted(-1, 0, 1, 0);
        P.setClipRegion(QRegion(M.viewport()->rect()).subtracted(caret));
    }
    void ShowCaret() override { P.setClipping(false); }

    void SetFontColor(TColor color) override { FPen = Resolve(color); }
    void SetBrushColor(TColor color) override { FBrush = Resolve(color); }
    bool Underline() const override { return FFont.underline(); }
    void SetUnderline(bool on) override
    {
        FFont.setUnderline(on);
        P.setFont(FFont);
    }

    void TextOut(int x, int y, const QString& text) override
    {
        P.fillRect(QRectF(x, y, FMetrics.horizontalAdvance(text), FLineHeight), FBrush);
        P.setPen(FPen);
        P.drawText(QPointF(x, y + FMetrics.ascent()), text);
    }

    int TextWidth(const QString& text) override
    {
        return int(std::ceil(FMetrics.horizontalAdvance(text)));
    }

    QPainter& Painter() override { return P; }

private:
    // The memo's own background and text colours are what the viewport shows, whatever the
    // palette was set by; other palette colours are the application's.
    QColor Resolve(TColor color) const
    {
        if (color == M.FColor)
            return M.palette().color(QPalette::Base);
        if (color == M.FFontColor)
            return M.palette().color(QPalette::Text);
        return ColorToQColor(color, FPalette);
    }

    TColorMemo& M;
    QPainter& P;
    QFont FFont;
    QFontMetricsF FMetrics;
    QPalette FPalette;
    int FLineHeight;
    QColor FPen;
    QColor FBrush;
};

// ---------------------------------------------------------------------------------------------

TColorMemo::TColorMemo(QWidget* parent) : QPlainTextEdit(parent), FEdit(new TEdit(*this))
{
    viewport()->setMouseTracking(true);
    setTabChangesFocus(true);
    FNormalCursor = viewport()->cursor();
    connect(this, &QPlainTextEdit::textChanged, this, &TColorMemo::Change);
}

TColorMemo::~TColorMemo() = default;

TMemoEdit& TColorMemo::EditControl() { return *FEdit; }

QString TColorMemo::text() const { return FEdit->Text(); }

void TColorMemo::setText(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(plain);
}

void TColorMemo::SetColor(TColor value)
{
    FColor = value;
    QPalette p = palette();
    p.setColor(QPalette::Base, ColorToQColor(value, QApplication::palette(this)));
    setPalette(p);
}

void TColorMemo::SetFontColor(TColor value)
{
    FFontColor = value;
    QPalette p = palette();
    p.setColor(QPalette::Text, ColorToQColor(value, QApplication::palette(this)));
    setPalette(p);
}

void TColorMemo::PaintColors(QObject* /*Sender*/, bool CurrentLineOnly)
{
    if (!FCore.PassEnabled(*FEdit))
        return;
    if (CurrentLineOnly) {
        const QRect caret = cursorRect();
        viewport()->update(QRect(0, caret.top(), viewport()->width(), caret.height()));
    } else {
        viewport()->update();
    }
}

void TColorMemo::paintEvent(QPaintEvent* event)
{
    QPlainTextEdit::paintEvent(event);
    if (!FCore.PassEnabled(*FEdit))
        return;
    // The base painting covers the whole paint region, so the overpainting does too.
    QPainter painter(viewport());
    TCanvas canvas(*this, painter);
    FCore.PaintColors(*FEdit, canvas, false);
}

void TColorMemo::scrollContentsBy(int dx, int dy)
{
    QPlainTextEdit::scrollContentsBy(dx, dy);
    if (dy != 0 && OnVScroll)
        OnVScroll(this);
    if (dx != 0 && OnHScroll)
        OnHScroll(this);
    PaintColors(this, false);
}

void TColorMemo::Change()
{
    PaintColors(this, FCore.CurrentLineOnlyAfterChange(*FEdit));
}

namespace {

// The platform's virtual key code of a navigation key, 0 for other keys.
int NavigationKey(int key)
{
    switch (key) {
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    default: return 0;
    }
}

}   // namespace

void TColorMemo::keyPressEvent(QKeyEvent* event)
{
    const bool noModifiers = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (FCore.CollapseSelectionForKey(*FEdit, NavigationKey(event->key()), noModifiers))
        PaintColors(this, false);
    QPlainTextEdit::keyPressEvent(event);
}

void TColorMemo::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Shift && event->modifiers() == Qt::NoModifier)
        PaintColors(this, false);
    QPlainTextEdit::keyReleaseEvent(event);
}

void TColorMemo::mousePressEvent(QMouseEvent* event)
{
    QPlainTextEdit::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton
        && event->modifiers() == Qt::NoModifier)
        PaintColors(this, false);
}

void TColorMemo::mouseReleaseEvent(QMouseEvent* event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        PaintColors(this, false);
    if (viewport()->cursor().shape() != crHotSpot)
        return;
    const QPoint pos = event->position().toPoint();
    if (const auto phrase = FCore.HotSpotPhrase(*FEdit, pos.x(), pos.y())) {
        const QPointer<TColorMemo> alive(this);   // a handler may close the memo's window
        if (OnHotSpotClick)
            OnHotSpotClick(this, *phrase);
        if (alive)
            emit hotSpotClicked(*phrase);
    }
}

void TColorMemo::mouseMoveEvent(QMouseEvent* event)
{
    QPlainTextEdit::mouseMoveEvent(event);
    if (HotSpot().Active)
        UpdateCursor(event->position().toPoint());
}

void TColorMemo::UpdateCursor(const QPoint& pos)
{
    const bool onHotSpot = FCore.IsOnHotSpot(*FEdit, pos.x(), pos.y());
    const bool showsHand = viewport()->cursor().shape() == crHotSpot;
    if (onHotSpot && !showsHand) {
        FNormalCursor = viewport()->cursor();
        viewport()->setCursor(crHotSpot);
    } else if (!onHotSpot && showsHand) {
        viewport()->setCursor(FNormalCursor.shape() == crHotSpot ? QCursor(Qt::IBeamCursor)
                                                                 : FNormalCursor);
    }
}
