// The documentation pane txtDoc: the one place that knows which text control shows the
// descriptions. The main window only adds lines, replaces the text and reads it back.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

class QWidget;
class TColorMemo;

class TDocPane {
public:
    // Creates the control inside parent at the given geometry. The pane deletes itself when
    // the control goes with its parent.
    TDocPane(QWidget* parent, int left, int top, int width, int height);

    QWidget* Widget() const;
    void Clear();
    void Add(const QString& line);       // appends one line
    void SetText(const QString& text);   // replaces everything with text
    QString Text() const;                 // the lines joined by "\n", no final line break
    const QStringList& Lines() const { return FLines; }

    // Reported with the text of a clicked hot spot (a phrase between "<" and ">").
    std::function<void(const QString&)> OnHotSpotClick;

    // The keyboard: Tab moves into the pane and from hot spot to hot spot (Shift+Tab back),
    // then on out of the pane; Enter follows the hot spot reached. Its phrase, or empty.
    QString CurrentHotSpot() const;
    // Moves to the next (or previous) hot spot; false when there is none that way.
    bool StepHotSpot(bool forward);
    // Follows the hot spot reached; false when none is.
    bool FollowCurrentHotSpot();

private:
    friend class TDocPaneKeys;
    void Show();
    void ShowCurrent();

    // The hot spots of the text: where each phrase starts (after "<") and its length.
    std::vector<std::pair<int, int>> FHotSpots;
    int FCurrent = -1;
    QString FShown;  // the text the control holds

    TColorMemo* FEdit;
    QStringList FLines;
};
