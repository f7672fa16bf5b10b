#include "memocore.h"

#include <algorithm>

namespace {

// Shows the caret again however the pass ends.
class TCaretHidden {
public:
    explicit TCaretHidden(TMemoCanvas& canvas) : FCanvas(canvas) { FCanvas.HideCaret(); }
    ~TCaretHidden() { FCanvas.ShowCaret(); }
    TCaretHidden(const TCaretHidden&) = delete;
    TCaretHidden& operator=(const TCaretHidden&) = delete;

private:
    TMemoCanvas& FCanvas;
};

bool IsLineBreak(QChar c) { return c == u'\r' || c == u'\n'; }

}   // namespace

TColorMemoCore::TColorMemoCore() : FColorRules(this), FKeyList(100)
{
    FTextBuffer.reserve(2048);
}

void TColorMemoCore::SetColorLimMax(int value)
{
    if (value == FColorLimMax)
        return;
    FColorLimBuffer.clear();
    FColorLimBuffer.shrink_to_fit();
    if (value > 0)
        FColorLimBuffer.resize(size_t(value));
    FColorLimMax = value;
}

int TColorMemoCore::AppendSegment(TKeyDescrList& keyList, int index, const TKeyDescr& segment)
{
    keyList.Slot(index) = segment;
    const int begPos = std::max(segment.BegPos, 0);   // -1 means unset
    if (FMinPos < 0 || begPos < FMinPos)
        FMinPos = begPos;
    if (FMaxPos < 0 || segment.EndPos > FMaxPos)
        FMaxPos = segment.EndPos;
    return index + 1;
}

bool TColorMemoCore::PassEnabled(const TMemoEdit& edit) const
{
    return ColorsSupported && edit.CanPaint() && (FColorRules.Count() > 0 || FHotSpot.Active);
}

// ---------------------------------------------------------------------------------------------
// Paint pass

void TColorMemoCore::PaintColors(TMemoEdit& edit, TMemoCanvas& canvas, bool currentLineOnly)
{
    if (!PassEnabled(edit))
        return;

    const int selStart = edit.SelStart();
    const int selLength = edit.SelLength();
    TCaretHidden caretHidden(canvas);
    const TColor background = edit.Color();
    canvas.SetFontColor(background);
    canvas.SetBrushColor(background);
    const int lineHeight = edit.LineHeight();
    FColorRules.CompileRules();

    FTextBuffer = edit.Text();
    const int textLength = int(FTextBuffer.size());

    // Lines to cover, and where scanning starts: rules may reach back over earlier lines so that
    // spans begun there are found.
    int first = 0;
    int count = 0;
    if (currentLineOnly) {
        first = edit.LineFromChar(selStart);
        count = 1;
    } else {
        first = edit.FirstVisibleLine();
        count = edit.LineCount() - first;
    }
    int scanLine = first;
    if (FColorRules.Count() > 0 && first > 0)
        scanLine = first - (FColorRules.Items(0).KeyMaxHeight - 1);
    scanLine = std::clamp(scanLine, 0, std::max(first, 0));
    const int scanStart = std::clamp(edit.LineIndex(scanLine), 0, textLength);

    // The end of the wholly visible text: a line reaching the bottom of the client area is
    // left alone. The first visible line counts as visible even when the layout places its
    // top a little above the client area (a wrapped line scrolled to the top can start a
    // pixel above it); only a caret line scrolled out of view stops the pass there.
    int end = scanStart;
    bool stopped = false;
    const int bottom = edit.ClientRect().Bottom;
    for (int line = first; line < first + count; ++line) {
        end = edit.LineIndex(line);
        if (end < 0) {
            end = textLength;
            stopped = true;
            break;
        }
        const int y = edit.PosFromChar(end).Y;
        const bool aboveView = currentLineOnly || line > first ? y < 0 : y + lineHeight <= 0;
        if (aboveView || y + lineHeight >= bottom) {
            stopped = true;
            break;
        }
    }
    if (!stopped)
        end += edit.LineLength(end);
    end = std::clamp(end, scanStart, textLength);
    const QStringView scanned = QStringView(FTextBuffer).left(end);

    for (TKeyDescr& rec : FKeyList)
        rec.BegPos = MaxInt;
    FMinPos = -1;
    FMaxPos = -1;

    // Hot spots pair their markers from the start of the paragraph holding the first scanned
    // line, so that a phrase opened above the view is still painted where it shows; what lies
    // above the view is cut off by the merge.
    const qsizetype lastBreak = scanStart > 0 ? scanned.lastIndexOf(u'\n', scanStart - 1) : -1;
    int index = ScanHotSpots(0, scanned, int(lastBreak + 1));
    if (edit.WantTabs())
        index = ScanTabs(index, scanned, scanStart, background);
    if (RedrawAlways) {
        const int caretColumn = selStart - edit.LineIndex(edit.LineFromChar(selStart));
        index = AppendSegment(FKeyList, index,
                              {selStart - caretColumn, selStart, edit.FontColor(), 0, 0});
    }
    for (int i = 0; i < FColorRules.Count(); ++i) {
        TColorRule& rule = FColorRules.Items(i);
        if (rule.Enabled)
            index = rule.FindKeys(index, FTextBuffer, FKeyList, end, scanStart);
    }
    if (selLength > 0)
        index = AppendSegment(FKeyList, index,
                              {selStart, selStart + selLength - 1, background, zoSelectionMask, 0});

    // Only the scanned text is merged and painted: segments reaching outside it (a selection
    // running on below the view, a handler's stray positions) are cut to it.
    const int lo = std::max(FMinPos, scanStart);
    const int hi = std::min(FMaxPos, end - 1);
    const int runs = (FMinPos >= 0 && FMaxPos >= FMinPos && hi >= lo) ? MergeIntoRuns(lo, hi) : 0;
    if (runs < FKeyList.Count())
        FKeyList[runs].BegPos = MaxInt;

    PaintRuns(edit, canvas, lineHeight);
}

int TColorMemoCore::ScanHotSpots(int index, QStringView text, int scanStart)
{
    if (!FHotSpot.Active || FHotSpot.BeginChar.isNull() || FHotSpot.EndChar.isNull())
        return index;
    qsizetype p = scanStart;
    for (;;) {
        const qsizetype b = text.indexOf(FHotSpot.BeginChar, p);
        if (b < 0)
            break;
        const qsizetype e = text.indexOf(FHotSpot.EndChar, b + 1);
        if (e < 0)
            break;   // unclosed: the rest stays ordinary text
        index = AppendSegment(FKeyList, index, {int(b), int(b), FHotSpot.MarkerColor, zoMarker, 0});
        index = AppendSegment(FKeyList, index, {int(b + 1), int(e - 1), FHotSpot.Color, zoPhrase, 0});
        index = AppendSegment(FKeyList, index, {int(e), int(e), FHotSpot.MarkerColor, zoMarker, 0});
        p = e + 1;
    }
    return index;
}

int TColorMemoCore::ScanTabs(int index, QStringView text, int scanStart, TColor color)
{
    for (qsizetype p = text.indexOf(u'\t', scanStart); p >= 0; p = text.indexOf(u'\t', p + 1))
        index = AppendSegment(FKeyList, index, {int(p), int(p), color, zoTabMask, 0});
    return index;
}

// Gives each character of [lo, hi] to the segment of highest priority covering it (the later
// one among equals), then rewrites KeyList from its start with the runs of equal cells.
// Returns the number of runs.
int TColorMemoCore::MergeIntoRuns(int lo, int hi)
{
    const size_t cells = size_t(hi - lo) + 1;
    if (FCellBuffer.size() < cells)
        FCellBuffer.resize(cells + 1);
    std::fill_n(FCellBuffer.begin(), cells, TCell{});

    for (const TKeyDescr& rec : FKeyList) {
        if (rec.BegPos == MaxInt || rec.EndPos == MaxInt || rec.EndPos < rec.BegPos)
            continue;
        const int from = std::max(rec.BegPos, lo);
        const int to = std::min(rec.EndPos, hi);
        for (int p = from; p <= to; ++p) {
            TCell& cell = FCellBuffer[size_t(p - lo)];
            if (rec.ZOrder >= cell.ZOrder)
                cell = {rec.Color, rec.ZOrder, rec.IsKey, 1};
        }
    }

    int runs = 0;
    size_t start = 0;
    while (start < cells) {
        size_t stop = start;
        while (stop + 1 < cells && FCellBuffer[stop + 1] == FCellBuffer[start])
            ++stop;
        const TCell& cell = FCellBuffer[start];
        if (cell.Used)
            FKeyList.Slot(runs++) = {lo + int(start), lo + int(stop), cell.Color, cell.ZOrder,
                                     cell.IsKey};
        start = stop + 1;
    }
    return runs;
}

QString TColorMemoCore::PieceText(int from, int to) const
{
    from = std::max(from, 0);
    to = std::min(to, int(FTextBuffer.size()) - 1);
    if (to < from)
        return {};
    QString text = FTextBuffer.mid(from, to - from + 1);
    // Line-break characters have no glyph of their own: never paint them.
    while (!text.isEmpty() && IsLineBreak(text.back()))
        text.chop(1);
    return text;
}

void TColorMemoCore::PaintPiece(TMemoCanvas& canvas, TPoint at, int from, int to)
{
    const QString text = PieceText(from, to);
    if (!text.isEmpty())
        canvas.TextOut(at.X, at.Y, text);
}

void TColorMemoCore::PaintRuns(TMemoEdit& edit, TMemoCanvas& canvas, int lineHeight)
{
    const TColor background = edit.Color();
    for (int i = 0; i < FKeyList.Count() && FKeyList[i].BegPos != MaxInt; ++i) {
        const TKeyDescr run = FKeyList[i];
        if (run.BegPos < 0)
            continue;
        const TPoint at = edit.PosFromChar(run.BegPos);
        canvas.SetFontColor(run.Color);
        if (run.EndPos != MaxInt && run.ZOrder < zoSelectionMask) {
            const TPoint last = edit.PosFromChar(run.EndPos);
            if (last.Y > at.Y) {
                PaintMultiLine(edit, canvas, run, at, last.Y);
            } else {
                const QString text = PieceText(run.BegPos, run.EndPos);
                if (run.IsKey && OnDrawKey) {
                    const TRect rect{at.X, at.Y, at.X + canvas.TextWidth(text), at.Y + lineHeight};
                    OnDrawKey(canvas, text, rect, edit.FontColor());
                } else if (text.isEmpty()) {
                    // nothing visible to paint
                } else if (run.ZOrder == zoMarker) {
                    canvas.SetBrushColor(run.Color);
                    canvas.TextOut(at.X, at.Y, text);
                    canvas.SetBrushColor(background);
                } else if (run.ZOrder == zoPhrase && FHotSpot.Underlined) {
                    const bool underline = canvas.Underline();
                    canvas.SetUnderline(true);
                    canvas.TextOut(at.X, at.Y, text);
                    canvas.SetUnderline(underline);
                } else {
                    canvas.TextOut(at.X, at.Y, text);
                }
            }
        }
        canvas.SetFontColor(background);
    }
}

// A run crossing lines is painted line by line in plain style: the rest of its first line,
// the whole lines between, and the start of its last line.
void TColorMemoCore::PaintMultiLine(TMemoEdit& edit, TMemoCanvas& canvas, const TKeyDescr& run,
                                    TPoint start, int endY)
{
    const int firstLine = edit.LineFromChar(run.BegPos);
    const int firstStart = edit.LineIndex(firstLine);
    PaintPiece(canvas, start, run.BegPos, firstStart + edit.LineLength(firstStart) - 1);

    int line = firstLine + 1;
    for (;; ++line) {
        const int p = edit.LineIndex(line);
        if (p < 0)
            break;
        const TPoint at = edit.PosFromChar(p);
        if (at.Y >= endY)
            break;
        if (at.Y < 0)
            continue;   // above the view: the lines below it still belong to the run
        PaintPiece(canvas, at, p, p + edit.LineLength(p) - 1);
    }
    const int p = edit.LineIndex(line);
    if (p >= 0 && p <= run.EndPos)
        PaintPiece(canvas, edit.PosFromChar(p), p, run.EndPos);
}

// ---------------------------------------------------------------------------------------------
// Hot-spot test and click

TColorMemoCore::THit TColorMemoCore::HotSpotTest(const TMemoEdit& edit, int x, int y) const
{
    THit hit;
    const TMemoEdit::TCharPos at = edit.CharFromPos(x, y);
    const QString line = edit.LineText(at.Line);
    const int lineStart = edit.LineIndex(at.Line);
    if (lineStart < 0)
        return hit;
    const int column = std::clamp(at.Pos - lineStart, 0, int(line.size()));
    hit.Tail = line.mid(column);
    hit.Head = line.left(column);
    const QChar beginChar = FHotSpot.BeginChar;
    const QChar endChar = FHotSpot.EndChar;
    const int e = endChar.isNull() ? 0 : int(hit.Tail.indexOf(endChar)) + 1;
    const int b = beginChar.isNull() ? 0 : int(hit.Tail.indexOf(beginChar)) + 1;
    hit.EndAt = e;
    hit.OnHotSpot = e > 0 && (b == 0 || b > e || beginChar == endChar);
    return hit;
}

bool TColorMemoCore::IsOnHotSpot(const TMemoEdit& edit, int x, int y) const
{
    return HotSpotTest(edit, x, y).OnHotSpot;
}

std::optional<QString> TColorMemoCore::HotSpotPhrase(const TMemoEdit& edit, int x, int y) const
{
    const THit hit = HotSpotTest(edit, x, y);
    if (!hit.OnHotSpot)
        return std::nullopt;
    const QString inner = hit.Tail.left(hit.EndAt - 1);
    const qsizetype begin =
        FHotSpot.BeginChar.isNull() ? -1 : hit.Head.lastIndexOf(FHotSpot.BeginChar);
    const QString left = begin >= 0 ? hit.Head.mid(begin + 1) : hit.Head;
    return left + inner;
}

// ---------------------------------------------------------------------------------------------
// Changes and keys

bool TColorMemoCore::CurrentLineOnlyAfterChange(const TMemoEdit& edit)
{
    if (RedrawAlways)
        return false;
    const int lineCount = edit.LineCount();
    const int lastStart = edit.LineIndex(lineCount - 1);
    const int textEnd = lastStart + edit.LineLength(std::max(lastStart, 0));
    const bool oneCharAdded = lineCount == FLastLineCount && FLastTextEnd + 1 == textEnd;
    FLastLineCount = lineCount;
    FLastTextEnd = textEnd;
    return oneCharAdded;
}

bool TColorMemoCore::CollapseSelectionForKey(TMemoEdit& edit, int virtualKey, bool noModifiers)
{
    if (!noModifiers || virtualKey < VK_PRIOR || virtualKey > VK_DOWN || edit.SelLength() <= 0)
        return false;
    const int selEnd = edit.SelStart() + edit.SelLength();
    edit.SetSelLength(0);
    edit.SetSelStart(selEnd);
    return true;
}
