// TCompareForm: the "Compare" tool window. It shows what changed from the library open in the
// main window to a second one, one line per change as `quibrel-tlb diff` prints them:
// breaking changes in red, compatible ones in green, information changes (grey) only while
// the check box asks for them. Each type name of the open library is a hot spot that selects
// that class in the main window. Copy puts the lines shown on the clipboard, Save writes them
// to a file. Made on first use; closing it only hides it.
#pragma once

#include "writers/diff.h"

#include <QString>
#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class TColorMemo;
class TMainForm;

namespace Ui {
class TCompareForm;
}

class TCompareForm : public QWidget {
    Q_OBJECT

public:
    explicit TCompareForm(TMainForm* mainForm);
    ~TCompareForm() override;

    TColorMemo* memChanges;
    QLabel* lblSummary;
    QCheckBox* chkInfo;
    QPushButton *btnCopy, *btnSave, *btnClose;

    // Compares Old (the open library) with the library at NewPath; throws EBrowserError when
    // that one cannot be loaded.
    void Compare(ITypeLib* Old, const QString& NewPath);

    // The lines shown, without hot-spot markers, each ending in LF.
    const std::string& ChangesText() const { return FText; }
    const TDiffResult& Result() const { return FResult; }

    void chkInfoClick();
    void btnCopyClick();
    void btnSaveClick();
    // Writes the lines shown to FileName; false (with a message box) when it cannot.
    bool SaveTo(const QString& FileName);

private:
    void Refresh();
    void HotSpotClick(const QString& phrase);

    std::unique_ptr<Ui::TCompareForm> ui;
    TMainForm* FMainForm;
    TDiffResult FResult;
    QString FNewPath;
    std::string FText;
};

// The Compare window, once it exists.
extern TCompareForm* CompareForm;
