// TMainForm: choosing a library — the registered-library dialog, the ProgID dialog and the
// recent-file list.
#include "app/mainform.h"

#include "app/application.h"
#include "components/MRUList/mrulist.h"
#include "dialogs/resolve.h"
#include "dialogs/typelib.h"

#include <memory>

void TMainForm::CreateRecentFileList() {
    mruTypeLib = new TMRUFileList(this);
    mruTypeLib->setObjectName(QStringLiteral("mruTypeLib"));
    mruTypeLib->SetMaximum(8);
    mruTypeLib->SetRemoveOnClick(false);
    mruTypeLib->SetUseSubmenu(true);
    mruTypeLib->SetSubmenuName(QStringLiteral("&Reopen"));
    mruTypeLib->SetFileMenu(miOpenFile);
    mruTypeLib->SetAutoSave(FRecentFiles == TRecentFiles::Kept);
    mruTypeLib->SetAutoSaveName(QStringLiteral("\\Software\\Quibrel Type Library Explorer"));
    mruTypeLib->SetAutoSaveKey(QStringLiteral("MRU Items"));
    mruTypeLib->OnMRUItemClick = [this](QAction* sender, const QString& fileName) {
        RunGuarded([&] { mruTypeLibMRUItemClick(sender, fileName); });
    };
    mruTypeLib->Loaded();
}

void TMainForm::AddRecentFile(const QString& path) {
    if (mruTypeLib) mruTypeLib->AddItem(path);
}

void TMainForm::miOpenClick() {
    QString fileName;
    {
        std::unique_ptr<TTypeLibForm> form;
        {
            THourglass hourglass;
            form = std::make_unique<TTypeLibForm>(this);
        }
        if (form->exec() == QDialog::Accepted) fileName = form->SelectedFileName();
    }
    if (!fileName.isEmpty()) OpenTypeLibWithHourglass(fileName);
}

void TMainForm::miResolveClick() {
    // The dialog opens what it found itself, at the class the ProgID names; its result is not
    // needed here.
    TResolveForm form(this, [this](const QString& path, const QString& className) {
        RunGuarded([&] {
            OpenTypeLib(path);
            if (!className.isEmpty()) SelectByNames(className, QString());
        });
    });
    form.exec();
}
