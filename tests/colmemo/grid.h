// A fixed-pitch stand-in for the edit control and a canvas that records what is painted, for
// driving the colour memo's logic without a window.
#pragma once

#include "components/ColMemo/memocore.h"

#include <QStringList>

#include <algorithm>
#include <ostream>
#include <vector>

// Readable strings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

// Every character is CellW pixels wide and every line CellH pixels high; the first visible
// line is drawn at y 0. Lines end with CR LF and never wrap.
class GridEdit : public TMemoEdit {
public:
    static constexpr int CellW = 10;
    static constexpr int CellH = 20;

    explicit GridEdit(const QString& text = {}) { SetText(text); }

    void SetText(const QString& text) { Lines = text.split(QStringLiteral("\r\n")); }

    QStringList Lines;
    int FirstLine = 0;
    int Width = 800;
    int Height = 10 * CellH + 1;   // ten whole lines
    int Start = 0;
    int Length = 0;
    bool Tabs = false;
    bool Paintable = true;
    TColor Background = clWindow;
    TColor Foreground = clWindowText;

    QString Text() const override { return Lines.join(QStringLiteral("\r\n")); }
    int LineCount() const override { return int(Lines.size()); }
    QString LineText(int line) const override
    {
        return line >= 0 && line < LineCount() ? Lines[line] : QString();
    }
    int FirstVisibleLine() const override { return FirstLine; }
    int LineIndex(int line) const override
    {
        if (line < 0 || line >= LineCount())
            return -1;
        int pos = 0;
        for (int i = 0; i < line; ++i)
            pos += int(Lines[i].size()) + 2;
        return pos;
    }
    int LineFromChar(int pos) const override
    {
        int start = 0;
        for (int i = 0; i < LineCount(); ++i) {
            const int next = start + int(Lines[i].size()) + 2;
            if (pos < next)
                return i;
            start = next;
        }
        return LineCount() - 1;
    }
    int LineLength(int pos) const override { return int(Lines[LineFromChar(pos)].size()); }
    TPoint PosFromChar(int pos) const override
    {
        const int line = LineFromChar(pos);
        const int column = std::min(pos - LineIndex(line), int(Lines[line].size()));
        return {column * CellW, (line - FirstLine) * CellH};
    }
    TCharPos CharFromPos(int x, int y) const override
    {
        const int line = std::clamp(FirstLine + y / CellH, 0, LineCount() - 1);
        const int column = std::clamp(x / CellW, 0, int(Lines[line].size()));
        return {LineIndex(line) + column, line};
    }
    TRect ClientRect() const override { return {0, 0, Width, Height}; }
    int LineHeight() const override { return CellH; }
    int SelStart() const override { return Start; }
    int SelLength() const override { return Length; }
    void SetSelStart(int pos) override
    {
        Start = pos;
        Length = 0;
    }
    void SetSelLength(int length) override { Length = length; }
    bool WantTabs() const override { return Tabs; }
    TColor Color() const override { return Background; }
    TColor FontColor() const override { return Foreground; }
    bool CanPaint() const override { return Paintable; }

    // The centre of the cell of the character at pos.
    TPoint Centre(int pos) const
    {
        const TPoint p = PosFromChar(pos);
        return {p.X + CellW / 2, p.Y + CellH / 2};
    }
};

struct PaintedText {
    int X;
    int Y;
    QString Text;
    TColor Font;
    TColor Brush;
    bool Underline;
};

class RecordingCanvas : public TMemoCanvas {
public:
    std::vector<PaintedText> Painted;
    int Hidden = 0;
    int Shown = 0;

    void HideCaret() override { ++Hidden; }
    void ShowCaret() override { ++Shown; }
    void SetFontColor(TColor color) override { FFont = color; }
    void SetBrushColor(TColor color) override { FBrush = color; }
    bool Underline() const override { return FUnderline; }
    void SetUnderline(bool on) override { FUnderline = on; }
    void TextOut(int x, int y, const QString& text) override
    {
        Painted.push_back({x, y, text, FFont, FBrush, FUnderline});
    }
    int TextWidth(const QString& text) override { return int(text.size()) * GridEdit::CellW; }

    // The painted pieces whose text is text.
    std::vector<PaintedText> Find(const QString& text) const
    {
        std::vector<PaintedText> found;
        for (const PaintedText& p : Painted)
            if (p.Text == text)
                found.push_back(p);
        return found;
    }

private:
    TColor FFont = 0;
    TColor FBrush = 0;
    bool FUnderline = false;
};
