// TMainForm: the window's size option (View > Resizable Window) and the keys that jump to the
// ends of the lists.
#include "app/mainform.h"

#include "app/application.h"
#include "app/docpane.h"
#include "platform/registry/registry.h"

#include <QAction>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTreeWidget>

namespace {

// Where the option is kept, below HKEY_CURRENT_USER.
constexpr const char* kSettingsKey = "Software\\Quibrel Type Library Explorer";
constexpr const char* kResizableValue = "Resizable Window";

bool LoadResizable() {
    std::string value;
    return RegReadString(HKEY_CURRENT_USER, kSettingsKey, kResizableValue, &value) && value == "1";
}

void SaveResizable(bool resizable) {
    ScopedHKEY key;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                       key.Put(), nullptr) != ERROR_SUCCESS)
        return;
    RegWriteString(key.Get(), kResizableValue, resizable ? "1" : "0");
}

}  // namespace

void TMainForm::CreateWindowCommands() {
    // The designed geometry, which the grown layout starts from.
    FDesignedClient = centralWidget()->size();
    for (QWidget* w : std::initializer_list<QWidget*>{gbTypeLib, lvTypeLib, gbClasses, lvClasses, lvMembers, gbEntity,
                                                      txtDoc->Widget()})
        FDesigned.emplace_back(w, w->geometry());
    connect(miResizable, &QAction::triggered, this, [this] { RunGuarded([this] { miResizableClick(); }); });
    if (FRecentFiles == TRecentFiles::Kept && LoadResizable()) SetResizableWindow(true);
}

void TMainForm::miResizableClick() {
    SetResizableWindow(miResizable->isChecked());
    if (FRecentFiles == TRecentFiles::Kept) SaveResizable(FResizable);
}

void TMainForm::SetResizableWindow(bool resizable) {
    miResizable->setChecked(resizable);
    if (resizable == FResizable) return;
    FResizable = resizable;
    const bool shown = isVisible();
    const QPoint at = pos();
    const QSize designed = minimumSize();  // the fixed size while not resizable
    Qt::WindowFlags flags = windowFlags();
    if (resizable) {
        FFixedPos = pos();
        FFixedPosKnown = shown;
        flags |= Qt::WindowMaximizeButtonHint;
        setWindowFlags(flags);
        centralWidget()->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setMinimumSize(designed);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        if (isMaximized() || isFullScreen()) showNormal();
        flags &= ~Qt::WindowMaximizeButtonHint;
        setWindowFlags(flags);
        centralWidget()->setMaximumSize(FDesignedClient);
        setFixedSize(designed);
        // Back where it was before, else centred on the screen as when it first shows.
        if (FFixedPosKnown) {
            move(FFixedPos);
        } else if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    // Changing the flags hides the window; it shows again where it was (or was put back).
    if (shown) {
        if (resizable || !FFixedPosKnown) move(resizable ? at : pos());
        show();
    }
    LayOutPanes();
}

void TMainForm::LayOutPanes() {
    if (FDesigned.empty()) return;
    const QSize client = centralWidget()->size();
    const int dw = FResizable ? std::max(0, client.width() - FDesignedClient.width()) : 0;
    const int dh = FResizable ? std::max(0, client.height() - FDesignedClient.height()) : 0;
    // The library information keeps its height; the lists take two thirds of the height
    // gained, the documentation pane the rest; the two lists share the width gained.
    const int dhLists = dh * 2 / 3, dhDoc = dh - dhLists;
    const int dwLeft = dw / 2, dwRight = dw - dwLeft;
    auto grown = [&](QWidget* w, int dx, int dy, int dwidth, int dheight) {
        for (const auto& [widget, rect] : FDesigned)
            if (widget == w) w->setGeometry(rect.adjusted(dx, dy, dx + dwidth, dy + dheight));
    };
    grown(gbTypeLib, 0, 0, dw, 0);
    grown(lvTypeLib, 0, 0, dw, 0);
    grown(gbClasses, 0, 0, dw, dhLists);
    grown(lvClasses, 0, 0, dwLeft, dhLists);
    grown(lvMembers, dwLeft, 0, dwRight, dhLists);
    grown(gbEntity, 0, dhLists, dw, dhDoc);
    grown(txtDoc->Widget(), 0, 0, dw, dhDoc);
    lvTypeLib->setColumnWidth(1, 340 + dw);
    lvClasses->setColumnWidth(0, 208 + dwLeft);
    lvMembers->setColumnWidth(0, 208 + dwRight);
}

bool TMainForm::ListHomeEnd(QTreeWidget* list, QKeyEvent* event) {
    if (event->key() != Qt::Key_Home && event->key() != Qt::Key_End) return false;
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return false;
    const int n = list->topLevelItemCount();
    if (n == 0) return false;
    // The list alone moves the current row without selecting it when that row is already
    // current (the first member of a freshly listed class).
    QTreeWidgetItem* row = list->topLevelItem(event->key() == Qt::Key_Home ? 0 : n - 1);
    SelectRow(list, row);
    list->scrollToItem(row, QAbstractItemView::EnsureVisible);
    return true;
}
