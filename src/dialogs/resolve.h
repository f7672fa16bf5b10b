// TResolveForm: the "Resolve ProgID" dialog. It creates the object a ProgID names, asks it for
// its type information, shows the library that describes it, and can open that library.
#pragma once

#include "platform/com/classindex.h"
#include "platform/oleauto/oleauto.h"

#include <QDialog>
#include <QString>

#include <string>

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
    // The same, also given the name of the coclass the ProgID names (empty when unknown), to
    // select once the library is open.
    TResolveForm(QWidget* owner, std::function<void(const QString& path, const QString& className)> openTypeLib);
    ~TResolveForm() override;

    QLineEdit* txtProgID;
    QPushButton* btnResolve;
    QGroupBox* gbTypeLib;
    QLabel* lblLocation;
    QPushButton* btnOpen;
    QPushButton* btnCancel;

    // The library found by the last successful resolution; empty after a reset or a failure.
    QString LibraryPath;
    // The coclass of that library the ProgID names; empty when it is not found there.
    QString ClassName;

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
    void Setup();

    std::unique_ptr<Ui::TResolveForm> ui;
    std::function<void(const QString&, const QString&)> FOpenTypeLib;
    // The registered libraries are read at most once while the dialog is open.
    TClassIndexScope FClassIndex;

public:
    // Which library declares each class, taken from the library index once, on first need,
    // and kept while the dialog is open.
    struct TClassMap;

private:
    std::unique_ptr<TClassMap> FClassMap;
    TClassMap* FOuterMap = nullptr;
};

// The library declaring a class, for the ProgID resolution's class locator: from the open
// dialog's map (built on first use), else from the library index; empty when none declares it.
std::string LocateClassLibrary(const CLSID& clsid);
