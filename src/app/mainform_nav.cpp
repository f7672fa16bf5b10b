// TMainForm: following hot spots in the documentation pane, the history of places left,
// opening types of other libraries in a second copy, selecting by name, and Backspace in the
// class and member lists.
#include "app/mainform.h"

#include "dialogs/history.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QTreeWidget>

void TMainForm::txtDocHotSpotClick(const QString& hotSpot) {
    if (hotSpot.compare(QLatin1String("Event Template"), Qt::CaseInsensitive) == 0) {
        if (TClassRow* row = SelectedClassRow()) SaveEventTemplate(row->Caption(), row->TypeInfo.Get());
        return;
    }
    if (hotSpot.contains(QLatin1Char('.'))) {
        OpenExternalType(hotSpot);
        return;
    }
    // A class of this library: remember the place being left, also when no such class exists.
    RecordHistory();
    struct ResumeUpdates {
        QTreeWidget* list;
        ~ResumeUpdates() { list->setUpdatesEnabled(true); }
    } resume{lvClasses};
    lvClasses->setUpdatesEnabled(false);
    for (int i = 0, n = lvClasses->topLevelItemCount(); i < n; ++i) {
        QTreeWidgetItem* row = lvClasses->topLevelItem(i);
        if (row->text(0) != hotSpot) continue;
        SelectRow(lvClasses, row);
        lvClasses->scrollToItem(row, QAbstractItemView::EnsureVisible);
        lvClasses->setFocus(Qt::OtherFocusReason);
        break;
    }
}

void TMainForm::RecordHistory() {
    TClassRow* classRow = SelectedClassRow();
    if (!HistoryForm || !classRow) return;
    HistoryEntry entry;
    entry.Text = classRow->Caption();
    entry.ClassIndex = lvClasses->indexOfTopLevelItem(classRow);
    if (TMemberRow* memberRow = SelectedMemberRow()) {
        entry.Text += QLatin1Char('.') + memberRow->Caption();
        entry.MemberIndex = lvMembers->indexOfTopLevelItem(memberRow);
    }
    // Newest first, no two lines that differ only in letter case; a line already in the list
    // moves to the top and keeps what it was first recorded with.
    const int found = HistoryForm->Find(entry.Text);
    if (found == 0) {
        HistoryForm->SetSelectedRow(0);
        return;
    }
    if (found < 0) HistoryForm->Insert(0, entry);
    else HistoryForm->Move(found, 0);
    HistoryForm->SetSelectedRow(-1);
}

void TMainForm::OpenExternalType(const QString& qualifiedName) {
    const auto it = FExternalTypes.find(qualifiedName);
    if (it == FExternalTypes.end()) return;
    if (it->second < 0 || it->second >= FExternalLibraries.size()) return;
    QString libraryPath = FExternalLibraries[it->second];
    // A path that starts with "-" would be read as an option by the second copy.
    if (libraryPath.startsWith(QLatin1Char('-'))) libraryPath.prepend(QLatin1String("./"));
    const QString typeName = qualifiedName.mid(qualifiedName.lastIndexOf(QLatin1Char('.')) + 1);
    const QString program = FProgramPath.isEmpty() ? QCoreApplication::applicationFilePath() : FProgramPath;
    const QStringList arguments{libraryPath, typeName};
    // The second copy opens the library and selects the type; a failure to start is not reported.
    if (FStartProgram) FStartProgram(program, arguments);
    else QProcess::startDetached(program, arguments);
}

void TMainForm::SelectByNames(const QString& className, const QString& memberName) {
    bool matched = false;
    for (int i = 0, n = lvClasses->topLevelItemCount(); i < n; ++i) {
        QTreeWidgetItem* row = lvClasses->topLevelItem(i);
        if (row->text(0).compare(className, Qt::CaseInsensitive) != 0) continue;
        lvClasses->scrollToItem(row, QAbstractItemView::EnsureVisible);
        SelectRow(lvClasses, row);
        matched = true;
    }
    if (!matched || memberName.isEmpty()) return;
    for (int i = 0, n = lvMembers->topLevelItemCount(); i < n; ++i) {
        QTreeWidgetItem* row = lvMembers->topLevelItem(i);
        if (row->text(0).compare(memberName, Qt::CaseInsensitive) != 0) continue;
        lvMembers->scrollToItem(row, QAbstractItemView::EnsureVisible);
        SelectRow(lvMembers, row);
    }
}

bool TMainForm::lvClassesKeyDown(QKeyEvent* event) {
    if (event->key() != Qt::Key_Backspace) return false;
    if (HistoryForm) HistoryForm->StepBack();
    return true;
}

void TMainForm::miHistoryClick() {
    if (!HistoryForm) return;
    HistoryForm->show();
    HistoryForm->raise();
    HistoryForm->activateWindow();
}

void TMainForm::ClearHistoryWindow() {
    if (HistoryForm) HistoryForm->Clear();
}
