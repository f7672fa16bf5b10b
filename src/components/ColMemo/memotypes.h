// Basic types of the colour memo: colours, segment records, hot-spot settings, and the two
// small interfaces through which the memo's logic reaches its edit control and its canvas.
// Nothing here depends on a widget toolkit, so the logic can be driven by a test double.
#pragma once

#include <QChar>
#include <QString>

#include <climits>
#include <cstdint>
#include <vector>

// A colour in the platform's form: red in the lowest byte, blue in the third. Values with all
// bits of clSystemColor set name a colour of the widget's palette instead (clWindow, ...).
using TColor = std::uint32_t;

constexpr TColor clSystemColor = 0xFF000000u;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr bool IsSystemColor(TColor c) { return (c & clSystemColor) == clSystemColor; }

// Marks a record that holds no segment, and in a run list the end of the list.
constexpr std::int32_t MaxInt = INT_MAX;

struct TPoint {
    int X = 0;
    int Y = 0;
};

// Right and Bottom are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// One coloured segment: the characters BegPos to EndPos (inclusive) of the control text, in
// which every line break counts as its two characters CR LF.
struct TKeyDescr {
    std::int32_t BegPos = MaxInt;
    std::int32_t EndPos = 0;
    TColor Color = 0;
    std::uint8_t ZOrder = 0;
    std::uint8_t IsKey = 0;
};

// Priorities of the memo's own segments.
constexpr std::uint8_t zoTabMask = 255;
constexpr std::uint8_t zoSelectionMask = 254;
constexpr std::uint8_t zoMarker = 253;
constexpr std::uint8_t zoPhrase = 252;

// The segment records of a paint pass. Records are reused from pass to pass; the list only
// grows.
class TKeyDescrList {
public:
    explicit TKeyDescrList(int capacity = 0) { FItems.reserve(capacity); }

    int Count() const { return int(FItems.size()); }
    TKeyDescr& operator[](int index) { return FItems[size_t(index)]; }
    const TKeyDescr& operator[](int index) const { return FItems[size_t(index)]; }

    // The record at index, adding one when index is the end of the list.
    TKeyDescr& Slot(int index)
    {
        if (index >= Count())
            FItems.resize(size_t(index) + 1);
        return FItems[size_t(index)];
    }

    auto begin() { return FItems.begin(); }
    auto end() { return FItems.end(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TKeyDescr> FItems;
};

// Hot-spot settings: phrases between BeginChar and EndChar are painted in Color (underlined
// when Underlined), their two markers in MarkerColor, and report clicks. Changing a setting
// repaints nothing by itself.
class THotSpot {
public:
    QChar BeginChar = QChar(30);   // QChar(0) turns hot-spot painting off
    QChar EndChar = QChar(31);     // QChar(0): no hot spot ever closes
    TColor Color = clBlue;
    TColor MarkerColor = clWindow;
    bool Active = false;
    bool Underlined = true;

    void Assign(const THotSpot& source) { *this = source; }
};

// What the memo's logic asks of the edit control it paints over. Positions are 0-based
// character offsets in which every line break counts as CR LF; lines are the control's lines
// as displayed; coordinates are client coordinates of the text area.
class TMemoEdit {
public:
    virtual ~TMemoEdit() = default;

    virtual QString Text() const = 0;               // the whole text, lines joined by CR LF
    virtual int LineCount() const = 0;              // at least 1
    virtual QString LineText(int line) const = 0;   // line break excluded
    virtual int FirstVisibleLine() const = 0;
    virtual int LineFromChar(int pos) const = 0;
    virtual int LineIndex(int line) const = 0;      // first character of a line; -1 when none
    virtual int LineLength(int pos) const = 0;      // of the line holding pos, break excluded
    virtual TPoint PosFromChar(int pos) const = 0;  // top left of the character's cell
    // The character whose cell holds the point, and the line the point is on. Past the end of
    // a line the character is that line's end.
    struct TCharPos {
        int Pos = 0;
        int Line = 0;
    };
    virtual TCharPos CharFromPos(int x, int y) const = 0;
    virtual TRect ClientRect() const = 0;
    virtual int LineHeight() const = 0;

    virtual int SelStart() const = 0;
    virtual int SelLength() const = 0;
    virtual void SetSelStart(int pos) = 0;          // collapses the selection at pos
    virtual void SetSelLength(int length) = 0;      // extends from SelStart

    virtual bool WantTabs() const = 0;
    virtual TColor Color() const = 0;               // background
    virtual TColor FontColor() const = 0;
    // Enabled, visible, and placed in a parent: the conditions for overpainting.
    virtual bool CanPaint() const = 0;
};

// The canvas the memo overpaints with. TextOut draws opaque: the text in the font colour on a
// box of the brush colour one line high.
class TMemoCanvas {
public:
    virtual ~TMemoCanvas() = default;

    virtual void HideCaret() {}
    virtual void ShowCaret() {}
    virtual void SetFontColor(TColor color) = 0;
    virtual void SetBrushColor(TColor color) = 0;
    virtual bool Underline() const = 0;
    virtual void SetUnderline(bool on) = 0;
    virtual void TextOut(int x, int y, const QString& text) = 0;
    virtual int TextWidth(const QString& text) = 0;
};
