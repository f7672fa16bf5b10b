// TMainForm: the File menu's "Compare With..." command and its window.
#include "app/mainform.h"

#include "app/application.h"
#include "dialogs/compare.h"

#include <QFileDialog>

void TMainForm::miCompareClick() {
    if (!ClassRow(0)) throw EBrowserError(QStringLiteral("No library is open"));
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Compare With"), QString(),
        QStringLiteral("Type Library (*.tlb, *.dll, *.ocx, *.exe, *.olb) (*.tlb *.dll *.ocx *.exe *.olb);;All files (*)"));
    if (!path.isEmpty()) CompareWith(path);
}

void TMainForm::CompareWith(const QString& path) {
    // The open library, reached through any of its classes.
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    TClassRow* row = ClassRow(0);
    if (!row || !row->TypeInfo || FAILED(row->TypeInfo->GetContainingTypeLib(lib.Put(), &index)) || !lib)
        throw EBrowserError(QStringLiteral("No library is open"));
    if (!CompareForm) new TCompareForm(this);
    CompareForm->Compare(lib.Get(), path);
    CompareForm->show();
    CompareForm->raise();
    CompareForm->activateWindow();
}
