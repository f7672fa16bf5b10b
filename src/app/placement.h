// Where the tool windows open (IDL, Find in Libraries, Search): beside the main window, never
// over it, and on screen; and the position and size each was last left at, kept under
// HKEY_CURRENT_USER with the program's other settings and restored only where it still fits.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <vector>

class QWidget;

// The frame for a window of frame size `size` next to the frame `anchor`, within `screen`: to
// its right, else below, else to its left, else above, level with the anchor. When it fits
// none of those whole, it is made smaller (not below `minimum`) to fit the one where it keeps
// the most of its size; when it cannot be, it goes where it covers the least of the anchor.
// Always inside `screen` when it fits the screen at all.
QRect PlaceBeside(const QRect& anchor, const QSize& size, const QSize& minimum, const QRect& screen);

// Whether a frame lies wholly on one of the screens (the rectangles given).
bool FitsScreens(const QRect& frame, const std::vector<QRect>& screens);

// The registry key the places are kept under (below HKEY_CURRENT_USER).
inline constexpr const char* WindowPlacesKey = "Software\\Quibrel Type Library Explorer\\Windows";

// A frame remembered under `name`; false when none is kept (or it cannot be read).
bool LoadWindowPlace(const QString& name, QRect* frame);
// Remembers a frame (position of the frame, size of the window).
bool SaveWindowPlace(const QString& name, const QRect& frame);

// Attached to a tool window: the first time it shows, it goes where it was last left (when that
// still fits the screen) or beside `anchor`; whenever it hides or closes, where it is is kept.
// `resizable` false keeps the window's own size and restores only the position.
class TWindowPlacer : public QObject {
    Q_OBJECT
public:
    TWindowPlacer(QWidget* window, QWidget* anchor, const QString& name, bool resizable = true);

    // Places the window now, as on its first showing (also again after it was placed).
    void Place();
    // Keeps the window's current frame.
    void Save();
    bool Placed() const { return FPlaced; }

    // Finds the placer of a window, if it has one.
    static TWindowPlacer* Of(const QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MoveFrameTo(const QPoint& at);

    QWidget* FWindow;
    QPointer<QWidget> FAnchor;
    QString FName;
    bool FResizable;
    bool FPlaced = false;
};
