// TLegendForm: the small stay-on-top "Legend" window. It names the ten list icons in a fixed,
// fully expanded tree: one line per class kind, the member kinds under the class kind they
// belong to. It lives for the whole run; closing it only hides it.
#pragma once

#include <QDialog>

#include <memory>

class QPushButton;
class QTreeWidget;
class TMainForm;

namespace Ui {
class TLegendForm;
}

class TLegendForm : public QDialog {
    Q_OBJECT

public:
    // The icons are the main window's ilMain.
    explicit TLegendForm(TMainForm* mainForm);
    ~TLegendForm() override;

    QTreeWidget* tvLegend;
    QPushButton* btnOK;

    void FormCreate();
    void btnOKClick();

protected:
    // Esc and the close box hide the window, as OK does.
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TLegendForm> ui;
    TMainForm* FMainForm;
};

// The legend window, once it exists.
extern TLegendForm* LegendForm;
