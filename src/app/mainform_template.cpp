// TMainForm: saving the event template of the selected event interface.
#include "app/application.h"
#include "writers/events.h"
#include "app/mainform.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>

namespace {

// The save dialog's filter entries, counted from 1: 1 with line numbers, 2 without.
int FilterIndex(const QFileDialog* dialog) {
    return int(dialog->nameFilters().indexOf(dialog->selectedNameFilter())) + 1;
}

}  // namespace

void TMainForm::SaveEventTemplate(const QString& interfaceName, ITypeInfo* typeInfo) {
    // Like the platform's dialog, it opens where the last template of this run went.
    if (!FLastSaveFolder.isEmpty()) dlgSave->setDirectory(FLastSaveFolder);
    dlgSave->selectFile(interfaceName + QStringLiteral(".qbc"));
    if (dlgSave->exec() != QDialog::Accepted) return;
    const QString fileName = dlgSave->selectedFiles().value(0);
    if (fileName.isEmpty()) return;

    THourglass hourglass;
    QStringList checkedEvents;
    for (int i = 0; i < lvMembers->topLevelItemCount(); ++i) {
        const TMemberRow* row = MemberRow(i);
        if (row && row->Checked()) checkedEvents << row->Caption();
    }
    const TEventTemplate eventTemplate(ClassNameFromFileName(fileName), checkedEvents, typeInfo,
                                       FilterIndex(dlgSave) != 2);
    const QByteArray text = ClassFileText(eventTemplate.Lines());
    // The clipboard changes only once the file is written; a failure throws past it.
    WriteClassFile(fileName, text);
    FLastSaveFolder = QFileInfo(fileName).absolutePath();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text));
}
