// TMainForm: commands and hooks whose behaviour comes with other windows and commands. Each
// body here is a placeholder; whoever builds the feature moves the function into its own file.
#include "app/mainform.h"

#include <QKeyEvent>

// History window.
void TMainForm::miHistoryClick() {}
// Legend window.
void TMainForm::miLegendClick() {}
// Search window.
void TMainForm::miSearchClick() {}

// Hot-spot navigation and history.
void TMainForm::txtDocHotSpotClick(const QString&) {}
void TMainForm::RecordHistory() {}
void TMainForm::OpenExternalType(const QString&) {}

// Edit, clipboard and check commands.
void TMainForm::miEditClick() {}
void TMainForm::miCopyClick() {}
void TMainForm::miCopyAllClick() {}
void TMainForm::miCheckAllClick() {}
void TMainForm::miUncheckAllClick() {}
bool TMainForm::lvClassesKeyDown(QKeyEvent*) { return false; }
bool TMainForm::lvMembersKeyPress(QKeyEvent*) { return false; }
void TMainForm::lvMembersDblClick() {}

// The search window forgets its text and results.
void TMainForm::ResetSearchWindow() {}
// The history window's list is emptied.
void TMainForm::ClearHistoryWindow() {}
