#include "dialogs/typelib.h"

#include "ui_typelib.h"

#include <QHeaderView>
#include <QTreeWidget>


TTypeLibForm::TTypeLibForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TTypeLibForm>()) {
    ui->setupUi(this);
    lvTypeLib = ui->lvTypeLib;
    btnOK = ui->btnOK;
    btnCancel = ui->btnCancel;
    setFixedSize(459, 222);

    lvTypeLib->setColumnWidth(0, 240);
    lvTypeLib->setColumnWidth(1, 300);
    lvTypeLib->header()->setSectionsClickable(false);
    lvTypeLib->header()->setSectionsMovable(false);
    // The selection stays visible when the focus is elsewhere.
    QPalette p = lvTypeLib->palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    lvTypeLib->setPalette(p);

    connect(lvTypeLib, &QTreeWidget::itemSelectionChanged, this, &TTypeLibForm::lvTypeLibChange);
    connect(lvTypeLib, &QTreeWidget::currentItemChanged, this, &TTypeLibForm::lvTypeLibChange);
    connect(lvTypeLib, &QTreeWidget::itemDoubleClicked, this, &TTypeLibForm::lvTypeLibDblClick);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    LoadRegisteredLibraries();
}

TTypeLibForm::~TTypeLibForm() = default;

void TTypeLibForm::LoadRegisteredLibraries() {
    lvTypeLib->setUpdatesEnabled(false);
    lvTypeLib->clear();
    QList<QTreeWidgetItem*> items;
    for (const TRegisteredLibrary& library : ReadRegisteredLibraries()) {
        QStringList texts{library.Description};
        if (library.HasFile) texts << library.File;
        items << new QTreeWidgetItem(texts);
    }
    lvTypeLib->addTopLevelItems(items);
    lvTypeLib->setUpdatesEnabled(true);
    if (!items.isEmpty()) lvTypeLib->setCurrentItem(items.first());
    lvTypeLibChange();
}

QString TTypeLibForm::SelectedFileName() const {
    const QList<QTreeWidgetItem*> selected = lvTypeLib->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text(1);
}

void TTypeLibForm::lvTypeLibChange() { btnOK->setEnabled(!lvTypeLib->selectedItems().isEmpty()); }

void TTypeLibForm::lvTypeLibDblClick() {
    if (!lvTypeLib->selectedItems().isEmpty()) btnOK->click();
}

void TTypeLibForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    lvTypeLib->setFocus();
}
