// The documentation pane txtDoc: the one place that knows which text control shows the
// descriptions. The main window only adds lines, replaces the text and reads it back.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

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

private:
    void Show();

    TColorMemo* FEdit;
    QStringList FLines;
};
