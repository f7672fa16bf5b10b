// THistoryForm: the "History Window", a small stay-on-top tool window listing the places the
// user left while following hot spots, newest first. A double click or Enter on a line goes
// back to that place; StepBack walks the list from newest to oldest, also while the window
// is hidden. The main window writes the list (TMainForm::RecordHistory); this window only
// reads it and moves its selection.
#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QKeyEvent;
class QListWidget;
class QListWidgetItem;
class TMainForm;

namespace Ui {
class THistoryForm;
}

// One line of the history list. The data word packs ClassIndex (low 16 bits) and MemberIndex
// (high 16 bits); the full indexes are kept beside it, so that rows past 65535 are still
// found again.
struct HistoryEntry {
    QString Text;         // class caption, or class caption "." member caption
    int ClassIndex = 0;   // row in lvClasses
    int MemberIndex = 0;  // row in lvMembers; 0 when no member row was selected

    quint32 DataWord() const { return quint32(ClassIndex & 0xFFFF) | (quint32(MemberIndex & 0xFFFF) << 16); }
};

class THistoryForm : public QWidget {
    Q_OBJECT

public:
    // The window belongs to the main window, whose lists it navigates.
    explicit THistoryForm(TMainForm* mainForm);
    ~THistoryForm() override;

    QListWidget* lbHistory;

    // ---- the list, as the main window writes it -------------------------------------------
    int Count() const;
    HistoryEntry Entry(int row) const;
    // The row of the first line whose text equals text ignoring letter case, or -1.
    int Find(const QString& text) const;
    void Insert(int row, const HistoryEntry& entry);
    void Move(int from, int to);
    void Clear();
    // The selected line, or -1; -1 also removes the selection.
    int SelectedRow() const;
    void SetSelectedRow(int row);

    // ---- commands -------------------------------------------------------------------------
    // Goes back to the place of the selected line.
    void lbHistoryDblClick();
    // Enter is handled as a double click; true when the key was consumed.
    bool lbHistoryKeyPress(QKeyEvent* event);
    // Goes back to the selected line (the newest when none is selected), then selects the next
    // older line, staying at the oldest.
    void StepBack();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Navigate(const HistoryEntry& entry);

    std::unique_ptr<Ui::THistoryForm> ui;
    TMainForm* FMainForm;
    bool FSized = false;
};

// The history window, once it exists.
extern THistoryForm* HistoryForm;
