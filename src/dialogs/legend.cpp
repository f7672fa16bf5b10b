#include "dialogs/legend.h"

#include "app/application.h"
#include "app/mainform.h"
#include "ui_legend.h"

#include <QPushButton>
#include <QTreeWidget>

TLegendForm* LegendForm = nullptr;

namespace {

constexpr int kClientWidth = 151;
constexpr int kClientHeight = 213;
constexpr int kLineHeight = 16;

// The tree, top to bottom: member kinds follow the class kind they are nested under.
struct LegendLine {
    const char* Text;
    EntityIcon Icon;
    bool Nested;
};
constexpr LegendLine kLines[] = {
    {"CoClass", eiCoClass, false},   {"Interface", eiInterface, false}, {"Property", eiProperty, true},
    {"Method", eiMethod, true},      {"Event", eiEvent, true},          {"Enumeration", eiEnumeration, false},
    {"Constant", eiConstant, true},  {"Record", eiRecord, false},       {"Field", eiField, true},
    {"Alias", eiAlias, false},
};

}  // namespace

TLegendForm::TLegendForm(TMainForm* mainForm)
    : QDialog(mainForm, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      ui(std::make_unique<Ui::TLegendForm>()), FMainForm(mainForm) {
    if (!LegendForm) LegendForm = this;
    ui->setupUi(this);
    tvLegend = ui->tvLegend;
    btnOK = ui->btnOK;
    setFixedSize(kClientWidth, kClientHeight);

    // The tree blends with the window.
    QPalette p = tvLegend->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::Base, p.color(group, QPalette::Button));
    tvLegend->setPalette(p);

    QTreeWidgetItem* parent = nullptr;
    for (const LegendLine& line : kLines) {
        auto* node = new QTreeWidgetItem(QStringList{QLatin1String(line.Text)});
        if (FMainForm) node->setIcon(0, FMainForm->ilMain[size_t(line.Icon)]);
        // Lines as high as an icon, so that all ten show without scrolling.
        node->setSizeHint(0, QSize(0, kLineHeight));
        if (line.Nested && parent) {
            parent->addChild(node);
        } else {
            tvLegend->addTopLevelItem(node);
            parent = node;
        }
    }

    connect(btnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnOKClick(); }); });
    FormCreate();
}

TLegendForm::~TLegendForm() {
    if (LegendForm == this) LegendForm = nullptr;
}

void TLegendForm::FormCreate() {
    btnOK->move((width() - btnOK->width()) / 2, btnOK->y());
    tvLegend->expandAll();
}

void TLegendForm::showEvent(QShowEvent* event) {
    // Centred on the main window.
    if (QWidget* owner = parentWidget()) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->frameGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void TLegendForm::btnOKClick() { hide(); }

void TLegendForm::reject() { btnOKClick(); }
