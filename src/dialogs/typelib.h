// TTypeLibForm: the "Registered Type Libraries" dialog. It lists every type library registered
// under HKEY_CLASSES_ROOT\TypeLib with its description and file, and gives back the file of
// the row the user picks.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <vector>

class QTreeWidget;
class QPushButton;

namespace Ui {
class TTypeLibForm;
}

// One registered library as the dialog lists it.
struct TRegisteredLibrary {
    QString Description;  // default value of the library's last version key
    QString File;         // win32 (else win64) path below the version's first subkey
    bool HasFile = false; // false when the version key has no subkeys
};

// Walks HKEY_CLASSES_ROOT\TypeLib: per library the last version key, per version the first
// subkey. Libraries without version keys are left out. Sorted by description, case-sensitive
// and locale-aware; libraries with equal descriptions keep the registry's order.
std::vector<TRegisteredLibrary> ReadRegisteredLibraries();

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
