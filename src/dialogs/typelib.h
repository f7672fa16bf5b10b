// dialogs/: the secondary windows, one module per window. They drive the main window
// (app/mainform.h) to show what the user picked; the main window opens them.
//
// TTypeLibForm: the "Registered Type Libraries" dialog. It lists every type library registered
// under HKEY_CLASSES_ROOT\TypeLib with its description and file, and gives back the file of
// the row the user picks.
#pragma once

#include "index/registered.h"

#include <QDialog>
#include <QString>

#include <memory>

class QTreeWidget;
class QPushButton;

namespace Ui {
class TTypeLibForm;
}

class TTypeLibForm : public QDialog {
    Q_OBJECT
public:
    // Reads the registry.
    explicit TTypeLibForm(QWidget* owner);
    ~TTypeLibForm() override;

    QTreeWidget* lvTypeLib;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    void LoadRegisteredLibraries();
    // The File text of the selected row; empty when no row is selected or it has no file.
    QString SelectedFileName() const;

    void lvTypeLibChange();
    void lvTypeLibDblClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TTypeLibForm> ui;
};
