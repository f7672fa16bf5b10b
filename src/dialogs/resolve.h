// TResolveForm: the "Resolve ProgID" dialog. It creates the object a ProgID names, asks it for
// its type information, shows the library that describes it, and can open that library.
#pragma once

#include "platform/com/classindex.h"
#include "platform/oleauto/oleauto.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class TResolveForm;
}

class TResolveForm : public QDialog {
    Q_OBJECT
public:
    // openTypeLib opens a library in the main window; what it throws goes to the caller.
    TResolveForm(QWidget* owner, std::function<void(const QString&)> openTypeLib);
    ~TResolveForm() override;

    QLineEdit* txtProgID;
    QPushButton* btnResolve;
    QGroupBox* gbTypeLib;
    QLabel* lblLocation;
    QPushButton* btnOpen;
    QPushButton* btnCancel;

    // The library found by the last successful resolution; empty after a reset or a failure.
    QString LibraryPath;

    void ResetResult();
    void txtProgIDChange();
    // True when the key was taken (Enter with a ProgID typed).
    bool txtProgIDKeyPress(int key);
    void btnResolveClick();
    void btnOpenClick();
    // Asks an automation object to shut down through its "Quit" method, if it has one.
    static void QuitServer(IDispatch* object);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TResolveForm> ui;
    std::function<void(const QString&)> FOpenTypeLib;
    // The registered libraries are read at most once while the dialog is open.
    TClassIndexScope FClassIndex;
};
