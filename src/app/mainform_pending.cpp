// TMainForm: commands and hooks whose behaviour comes with other windows and commands. Each
// body here is a placeholder; whoever builds the feature moves the function into its own file.
#include "app/mainform.h"

#include <QKeyEvent>

// Legend window.
void TMainForm::miLegendClick() {}
// Search window.
void TMainForm::miSearchClick() {}

// Edit, clipboard and check commands.
void TMainForm::miEditClick() {}
void TMainForm::miCopyClick() {}
void TMainForm::miCopyAllClick() {}
void TMainForm::miCheckAllClick() {}
void TMainForm::miUncheckAllClick() {}
bool TMainForm::lvMembersKeyPress(QKeyEvent*) { return false; }
void TMainForm::lvMembersDblClick() {}

// The search window forgets its text and results.
void TMainForm::ResetSearchWindow() {}
