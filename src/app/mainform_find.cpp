// TMainForm: the Edit menu's "Find in Libraries..." command and its window.
#include "app/mainform.h"

#include "app/application.h"
#include "dialogs/find.h"

#include <QAction>
#include <QMenu>

void TMainForm::CreateFindCommand() {
    miFindInLibraries = new QAction(tr("Find in &Libraries..."), this);
    miFindInLibraries->setObjectName(QStringLiteral("miFindInLibraries"));
    miFindInLibraries->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    // Right after Search..., whatever follows it.
    const QList<QAction*> items = miEdit->actions();
    const qsizetype at = items.indexOf(miSearch);
    miEdit->insertAction(at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr, miFindInLibraries);
    connect(miFindInLibraries, &QAction::triggered, this, [this] { RunGuarded([this] { miFindInLibrariesClick(); }); });
}

void TMainForm::miFindInLibrariesClick() {
    if (!FindForm) new TFindForm(this);
    FindForm->show();
    FindForm->raise();
    FindForm->activateWindow();
}
