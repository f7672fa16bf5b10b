// TColorMemo: a multi-line text control that paints coloured segments over its own text.
// Phrases between two marker characters become hot spots: painted underlined in their own
// colour, with the markers hidden in MarkerColor, shown with a pointing hand and reported by
// OnHotSpotClick (and hotSpotClicked) when clicked. Colour rules colour text by keyword,
// begin/end strings, line ends or owner-supplied segments.
#pragma once

#include "colorrules.h"
#include "memocore.h"
#include "memotypes.h"

#include <QPlainTextEdit>

#include <functional>
#include <memory>

class QPainter;
class QPalette;
class TColorMemo;

// The canvas a TColorMemo paints with and hands to OnDrawKey; Painter() draws on the memo.
class TColorMemoCanvas : public TMemoCanvas {
public:
    virtual QPainter& Painter() = 0;
};

using THotSpotClickEvent = std::function<void(TColorMemo* Sender, const QString& SRC)>;
using TNotifyEvent = std::function<void(TColorMemo* Sender)>;

// The colour for painting: palette colours (clWindow, clBtnFace, ...) are taken from palette.
QColor ColorToQColor(TColor color, const QPalette& palette);
TColor ColorFromQColor(const QColor& color);

class TColorMemo : public QPlainTextEdit {
    Q_OBJECT

    TColorMemoCore FCore;   // first: the event references below bind to it

public:
    // The pointer shown over hot spots.
    static constexpr Qt::CursorShape crHotSpot = Qt::PointingHandCursor;

    explicit TColorMemo(QWidget* parent = nullptr);
    ~TColorMemo() override;

    // The whole text, lines joined by CR LF. setText accepts LF or CR LF line breaks.
    QString text() const;
    void setText(const QString& text);

    THotSpot& HotSpot() { return FCore.HotSpot(); }
    void SetHotSpot(const THotSpot& value) { FCore.SetHotSpot(value); }
    TDrawRules& ColorRules() { return FCore.ColorRules(); }
    void SetColorRules(const TDrawRules& value) { FCore.SetColorRules(value); }
    int ColorLimMax() const { return FCore.ColorLimMax(); }
    void SetColorLimMax(int value) { FCore.SetColorLimMax(value); }
    bool RedrawAlways() const { return FCore.RedrawAlways; }
    void SetRedrawAlways(bool value) { FCore.RedrawAlways = value; }
    bool ColorsSupported() const { return FCore.ColorsSupported; }
    void SetColorsSupported(bool value) { FCore.ColorsSupported = value; }

    // Background and text colour; palette colours follow the widget's palette.
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);
    // Whether the Tab key types a tab (otherwise it moves the focus).
    bool WantTabs() const { return !tabChangesFocus(); }
    void SetWantTabs(bool value) { setTabChangesFocus(!value); }

    THotSpotClickEvent OnHotSpotClick;
    TNotifyEvent OnVScroll;
    TNotifyEvent OnHScroll;
    TDrawEvent& OnDraw = FCore.OnDraw;
    TKeyDrawEvent& OnDrawKey = FCore.OnDrawKey;

    // Asks for the coloured segments to be painted again: the caret's line only, or all of
    // the visible text. The painting itself happens with the widget's next paint.
    virtual void PaintColors(QObject* Sender, bool CurrentLineOnly);

    // The control as the colour logic sees it: positions count every line break as CR LF.
    TMemoEdit& EditControl();
    TColorMemoCore& Core() { return FCore; }

signals:
    // A hot spot was clicked; phrase is its text without the markers.
    void hotSpotClicked(const QString& phrase);

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    class TEdit;
    class TCanvas;
    friend class TEdit;

    void Change();
    void UpdateCursor(const QPoint& pos);

    std::unique_ptr<TEdit> FEdit;
    TColor FColor = clWindow;
    TColor FFontColor = clWindowText;
    QCursor FNormalCursor;
};
