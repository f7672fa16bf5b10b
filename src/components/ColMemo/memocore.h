// The colour memo's logic, free of any widget toolkit: the paint pass (segment scanning,
// priority merge, runs, painting through a canvas), the hot-spot test and click phrase, and the
// reactions to text changes and keys. It reaches the edit control only through TMemoEdit.
#pragma once

#include "colorrules.h"
#include "memotypes.h"

#include <optional>

// Draws a keyword run instead of the memo: Canvas has the run's colour as font colour, PKey is
// the run's text, Rect its box, KColor the memo's text colour.
using TKeyDrawEvent =
    std::function<void(TMemoCanvas& Canvas, const QString& PKey, const TRect& Rect, TColor KColor)>;

// Virtual key codes of the navigation keys (Page Up to Down).
constexpr int VK_PRIOR = 33;
constexpr int VK_DOWN = 40;

class TColorMemoCore {
public:
    TColorMemoCore();
    TColorMemoCore(const TColorMemoCore&) = delete;
    TColorMemoCore& operator=(const TColorMemoCore&) = delete;

    THotSpot& HotSpot() { return FHotSpot; }
    const THotSpot& HotSpot() const { return FHotSpot; }
    void SetHotSpot(const THotSpot& value) { FHotSpot.Assign(value); }

    TDrawRules& ColorRules() { return FColorRules; }
    const TDrawRules& ColorRules() const { return FColorRules; }
    void SetColorRules(const TDrawRules& value) { FColorRules.Assign(value); }

    int ColorLimMax() const { return FColorLimMax; }
    void SetColorLimMax(int value);
    std::span<TKeyDescr> ColorLimBuffer() { return FColorLimBuffer; }

    bool RedrawAlways = false;
    // False where the platform cannot overpaint; the memo then only tracks hot spots.
    bool ColorsSupported = true;

    TDrawEvent OnDraw;
    TKeyDrawEvent OnDrawKey;

    // The paint pass: paints the segments of the wholly visible lines (or of the caret's line
    // only) over the edit control's own painting.
    void PaintColors(TMemoEdit& edit, TMemoCanvas& canvas, bool currentLineOnly);

    // Whether a paint pass would do anything.
    bool PassEnabled(const TMemoEdit& edit) const;

    // Whether the client point lies on a hot spot; and the phrase a click there reports.
    bool IsOnHotSpot(const TMemoEdit& edit, int x, int y) const;
    std::optional<QString> HotSpotPhrase(const TMemoEdit& edit, int x, int y) const;

    // After a text change: the kind of repaint the change needs (true: the caret's line only).
    bool CurrentLineOnlyAfterChange(const TMemoEdit& edit);

    // Before a key is handled: collapses a selection to its end for the navigation keys
    // pressed without modifiers; true when it did (the memo then repaints).
    bool CollapseSelectionForKey(TMemoEdit& edit, int virtualKey, bool noModifiers);

    // State of the last pass, for the owner and for tests. After a pass KeyList holds the
    // painted runs, ended by a record with BegPos MaxInt or by the end of the list.
    const TKeyDescrList& KeyList() const { return FKeyList; }
    int MinPos() const { return FMinPos; }
    int MaxPos() const { return FMaxPos; }
    int LastLineCount() const { return FLastLineCount; }
    int LastTextEnd() const { return FLastTextEnd; }

    // Appends a segment at index of keyList, widens MinPos/MaxPos over it and returns the
    // next index. Used by the scanners and the rules.
    int AppendSegment(TKeyDescrList& keyList, int index, const TKeyDescr& segment);

private:
    struct TCell {
        TColor Color = 0;
        std::uint8_t ZOrder = 0;
        std::uint8_t IsKey = 0;
        std::uint8_t Used = 0;
        bool operator==(const TCell&) const = default;
    };
    struct THit {
        bool OnHotSpot = false;
        QString Head;
        QString Tail;
        int EndAt = 0;   // 1-based index of the end marker in Tail
    };

    THit HotSpotTest(const TMemoEdit& edit, int x, int y) const;
    int ScanHotSpots(int index, QStringView text, int scanStart);
    int ScanTabs(int index, QStringView text, int scanStart, TColor color);
    int MergeIntoRuns(int lo, int hi);
    void PaintRuns(TMemoEdit& edit, TMemoCanvas& canvas, int lineHeight);
    void PaintMultiLine(TMemoEdit& edit, TMemoCanvas& canvas, const TKeyDescr& run, TPoint start,
                        int endY);
    void PaintPiece(TMemoCanvas& canvas, TPoint at, int from, int to);
    QString PieceText(int from, int to) const;

    THotSpot FHotSpot;
    TDrawRules FColorRules;
    int FColorLimMax = 0;
    std::vector<TKeyDescr> FColorLimBuffer;
    TKeyDescrList FKeyList;
    QString FTextBuffer;
    std::vector<TCell> FCellBuffer;
    int FMinPos = -1;
    int FMaxPos = -1;
    int FLastLineCount = 0;
    int FLastTextEnd = 0;
};
