// The documentation pane over the colour memo: read-only, borderless, in the button-face
// colour, with the phrases between "<" and ">" shown as green hot spots whose markers are
// painted in the background colour.
#include "app/docpane.h"

#include "components/ColMemo/colmemo.h"

#include <QFocusEvent>
#include <QKeyEvent>

// Tab, Shift+Tab and Enter in the pane, and where the keyboard enters it from.
class TDocPaneKeys : public QObject {
public:
    TDocPaneKeys(TDocPane* pane, QObject* parent) : QObject(parent), FPane(pane) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
            if (key->key() == Qt::Key_Tab && plain) return FPane->StepHotSpot(true) || Leave(true);
            if (key->key() == Qt::Key_Backtab && plain) return FPane->StepHotSpot(false) || Leave(false);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && plain)
                return FPane->FollowCurrentHotSpot();
            break;
        }
        case QEvent::FocusIn: {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Coming in by Tab lands on the first hot spot, by Shift+Tab on the last.
            if (reason == Qt::TabFocusReason) {
                FPane->FCurrent = -1;
                FPane->StepHotSpot(true);
            } else if (reason == Qt::BacktabFocusReason) {
                FPane->FCurrent = int(FPane->FHotSpots.size());
                FPane->StepHotSpot(false);
            }
            break;
        }
        case QEvent::FocusOut:
            if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
                FPane->FCurrent = -1;
                FPane->ShowCurrent();
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool Leave(bool forward) {
        FPane->FCurrent = -1;
        FPane->ShowCurrent();
        QWidget* edit = FPane->FEdit;
        QWidget* next = forward ? edit->nextInFocusChain() : edit->previousInFocusChain();
        // The next widget that takes the focus by Tab.
        while (next && next != edit && (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisible() || !next->isEnabled() ||
                                        next->window() != edit->window()))
            next = forward ? next->nextInFocusChain() : next->previousInFocusChain();
        if (next && next != edit) next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }

    TDocPane* FPane;
};

TDocPane::TDocPane(QWidget* parent, int left, int top, int width, int height)
    : FEdit(new TColorMemo(parent)) {
    FEdit->setObjectName(QStringLiteral("txtDoc"));
    FEdit->setGeometry(left, top, width, height);
    FEdit->setReadOnly(true);
    FEdit->setFrameShape(QFrame::NoFrame);
    // A tab stop, so that its hot spots can be reached from the keyboard.
    FEdit->setFocusPolicy(Qt::StrongFocus);
    FEdit->installEventFilter(new TDocPaneKeys(this, FEdit));
    FEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FEdit->SetColor(clBtnFace);
    THotSpot hotSpot;
    hotSpot.BeginChar = QLatin1Char('<');
    hotSpot.EndChar = QLatin1Char('>');
    hotSpot.Color = clGreen;
    hotSpot.MarkerColor = clBtnFace;
    hotSpot.Active = true;
    FEdit->SetHotSpot(hotSpot);
    FEdit->OnHotSpotClick = [this](TColorMemo*, const QString& phrase) {
        if (OnHotSpotClick) OnHotSpotClick(phrase);
    };
    // The pane lives exactly as long as its control, which its parent window owns.
    QObject::connect(FEdit, &QObject::destroyed, [this] { delete this; });
}

QWidget* TDocPane::Widget() const { return FEdit; }

void TDocPane::Clear() {
    FLines.clear();
    FShown.clear();
    FHotSpots.clear();
    FCurrent = -1;
    FEdit->clear();
}

void TDocPane::Add(const QString& line) {
    FLines << line;
    Show();
}

void TDocPane::SetText(const QString& text) {
    FLines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    Show();
}

QString TDocPane::Text() const { return FLines.join(QLatin1Char('\n')); }

void TDocPane::Show() {
    const QString text = FLines.join(QLatin1Char('\n'));
    // The same text again (the same place described anew) keeps the hot spot reached.
    if (text == FShown && !FShown.isEmpty()) return;
    FShown = text;
    FEdit->setText(text);
    // The phrases between "<" and ">", as the memo finds them.
    FHotSpots.clear();
    FCurrent = -1;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('<')) continue;
        int end = i + 1;
        while (end < text.size() && text[end] != QLatin1Char('>') && text[end] != QLatin1Char('\n')) ++end;
        if (end >= text.size() || text[end] != QLatin1Char('>')) continue;
        if (end > i + 1) FHotSpots.emplace_back(i + 1, end - i - 1);
        i = end;
    }
}

QString TDocPane::CurrentHotSpot() const {
    if (FCurrent < 0 || FCurrent >= int(FHotSpots.size())) return QString();
    const QString text = FLines.join(QLatin1Char('\n'));
    return text.mid(FHotSpots[size_t(FCurrent)].first, FHotSpots[size_t(FCurrent)].second);
}

bool TDocPane::StepHotSpot(bool forward) {
    const int next = FCurrent + (forward ? 1 : -1);
    if (next < 0 || next >= int(FHotSpots.size())) return false;
    FCurrent = next;
    ShowCurrent();
    return true;
}

bool TDocPane::FollowCurrentHotSpot() {
    const QString phrase = CurrentHotSpot();
    if (phrase.isEmpty()) return false;
    if (OnHotSpotClick) OnHotSpotClick(phrase);
    return true;
}

void TDocPane::ShowCurrent() {
    // The hot spot reached is selected, so it shows where the keyboard is.
    QTextCursor cursor = FEdit->textCursor();
    if (FCurrent >= 0 && FCurrent < int(FHotSpots.size())) {
        cursor.setPosition(FHotSpots[size_t(FCurrent)].first);
        cursor.setPosition(FHotSpots[size_t(FCurrent)].first + FHotSpots[size_t(FCurrent)].second, QTextCursor::KeepAnchor);
        FEdit->setTextCursor(cursor);
        FEdit->ensureCursorVisible();
    } else if (cursor.hasSelection()) {
        cursor.clearSelection();
        FEdit->setTextCursor(cursor);
    }
    FEdit->viewport()->update();
}
