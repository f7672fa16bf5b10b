// TMainForm: the Edit menu and the lists' pop-up menu (copying rows, checking all events),
// Enter and double click in the member list, and the commands that show the search and
// legend windows.
#include "app/mainform.h"
#include "dialogs/idl.h"

#include "app/application.h"
#include "dialogs/legend.h"
#include "dialogs/search.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTreeWidget>

namespace {

// Ctrl+C in one of the lists: the Edit menu's states are brought up to date before the
// shortcut is looked up, so that it copies exactly when Copy is enabled; and the list's own
// copying of its current cell never runs.
class TCopyShortcutFilter : public QObject {
public:
    explicit TCopyShortcutFilter(TMainForm* form) : QObject(form), FForm(form) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->keyCombination() != FForm->miCopy->shortcut()[0]) return QObject::eventFilter(watched, event);
        if (event->type() == QEvent::ShortcutOverride) {
            RunGuarded([this] { FForm->miEditClick(); });
            return false;  // not taken: the shortcut goes to Copy when it is enabled
        }
        return true;  // Copy was disabled: nothing is copied
    }

private:
    TMainForm* FForm;
};

}  // namespace

void TMainForm::ConnectEditCommands() {
    auto* filter = new TCopyShortcutFilter(this);
    for (QTreeWidget* list : {lvTypeLib, lvClasses, lvMembers}) list->installEventFilter(filter);
}

QTreeWidget* TMainForm::FocusedList() const {
    QWidget* active = focusWidget();
    for (QTreeWidget* list : {lvTypeLib, lvClasses, lvMembers})
        if (active == list) return list;
    return nullptr;
}

void TMainForm::miEditClick() {
    QTreeWidget* list = FocusedList();
    const bool canCopy = list && !list->selectedItems().isEmpty();
    const bool canCopyAll = list && list->topLevelItemCount() > 0;
    const bool checks = list == lvMembers && MembersHaveCheckBoxes();
    miCopy->setEnabled(canCopy);
    miCopy1->setEnabled(canCopy);
    miCopyAll->setEnabled(canCopyAll);
    miCopyAll1->setEnabled(canCopyAll);
    miSpace->setVisible(checks);
    miCheckAll->setVisible(checks);
    miUncheckAll->setVisible(checks);
}

void TMainForm::miCopyClick() {
    QTreeWidget* list = FocusedList();
    if (!list) return;
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty()) return;
    const QTreeWidgetItem* row = selected.first();
    const QString text = list == lvTypeLib ? row->text(0) + QLatin1Char('\t') + row->text(1) : row->text(0);
    QGuiApplication::clipboard()->setText(text);
}

void TMainForm::miCopyAllClick() {
    QTreeWidget* list = FocusedList();
    if (!list) return;
    QString text;
    for (int i = 0, n = list->topLevelItemCount(); i < n; ++i) {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        text += row->text(0);
        if (list == lvTypeLib) text += QLatin1Char('\t') + row->text(1);
        text += QLatin1String("\r\n");
    }
    QGuiApplication::clipboard()->setText(text);
}

// Sets the check mark of every event in the member list, whichever list the menu was opened on.
static void CheckAllMembers(TMainForm* form, Qt::CheckState state) {
    // Only the events of an event interface have check marks; other rows never get one.
    if (!form->MembersHaveCheckBoxes()) return;
    QTreeWidget* list = form->lvMembers;
    list->setUpdatesEnabled(false);
    for (int i = 0, n = list->topLevelItemCount(); i < n; ++i) list->topLevelItem(i)->setCheckState(0, state);
    list->setUpdatesEnabled(true);
}

void TMainForm::miCheckAllClick() { CheckAllMembers(this, Qt::Checked); }

void TMainForm::miUncheckAllClick() { CheckAllMembers(this, Qt::Unchecked); }

bool TMainForm::lvMembersKeyPress(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
    lvMembersDblClick();
    return true;
}

void TMainForm::lvMembersDblClick() {
    // An interface of a coclass: go to that interface, as its hot spot would.
    TMemberRow* row = SelectedMemberRow();
    if (row && row->Icon == eiInterface) txtDocHotSpotClick(row->Caption());
}

void TMainForm::miSearchClick() {
    // The dialog selects what the user picks itself; how it closes does not matter here.
    if (SearchForm) SearchForm->exec();
}

void TMainForm::miIdlClick() {
    if (!IdlForm) return;
    IdlForm->show();
    IdlForm->raise();
    IdlForm->activateWindow();
}

void TMainForm::miLegendClick() {
    if (!LegendForm) return;
    LegendForm->show();
    LegendForm->raise();
    LegendForm->activateWindow();
}

void TMainForm::ResetSearchWindow() {
    if (SearchForm) SearchForm->ResetSearch();
}
