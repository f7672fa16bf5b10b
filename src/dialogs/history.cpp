#include "dialogs/history.h"

#include "app/application.h"
#include "app/mainform.h"
#include "ui_history.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeWidget>

THistoryForm* HistoryForm = nullptr;

namespace {

constexpr int kOuterWidth = 233;
constexpr int kOuterHeight = 246;
constexpr int kRowHeight = 16;

// Where a line keeps its entry besides its text.
constexpr int kDataWordRole = Qt::UserRole;
constexpr int kClassIndexRole = Qt::UserRole + 1;
constexpr int kMemberIndexRole = Qt::UserRole + 2;

// Draws a line as the history list shows it: the background in the highlight or window
// colours, the text as it is ("&" included) on one line 2 pixels from the left, vertically
// centred, and a focus rectangle around the focused line.
class THistoryLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QPalette& palette = option.palette;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(option.rect, palette.color(QPalette::Active, selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(palette.color(QPalette::Active, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        const QRect textRect = option.rect.adjusted(2, 0, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = option.rect;
            focus.state |= QStyle::State_KeyboardFocusChange;
            focus.backgroundColor = palette.color(QPalette::Active, selected ? QPalette::Highlight : QPalette::Base);
            const QWidget* widget = option.widget;
            QStyle* style = widget ? widget->style() : nullptr;
            if (style) style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), kRowHeight);
    }
};

}  // namespace

THistoryForm::THistoryForm(TMainForm* mainForm)
    : QWidget(mainForm, Qt::Window), ui(std::make_unique<Ui::THistoryForm>()), FMainForm(mainForm) {
    if (!HistoryForm) HistoryForm = this;
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    lbHistory = ui->lbHistory;
    lbHistory->setItemDelegate(new THistoryLineDelegate(lbHistory));
    lbHistory->setTextElideMode(Qt::ElideNone);
    resize(kOuterWidth, kOuterHeight);

    connect(lbHistory, &QListWidget::itemDoubleClicked, this, [this] { RunGuarded([this] { lbHistoryDblClick(); }); });
    lbHistory->installEventFilter(this);
}

THistoryForm::~THistoryForm() {
    if (HistoryForm == this) HistoryForm = nullptr;
}

void THistoryForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The documented size is the outer size; the client area is what the frame leaves of it.
    if (FSized) return;
    FSized = true;
    const QSize frame = frameGeometry().size() - geometry().size();
    resize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
}

bool THistoryForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lbHistory && event->type() == QEvent::KeyPress) {
        bool consumed = false;
        RunGuarded([&] { consumed = lbHistoryKeyPress(static_cast<QKeyEvent*>(event)); });
        if (consumed) return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- the list ----------------------------------------------------------------------------------

int THistoryForm::Count() const { return lbHistory->count(); }

HistoryEntry THistoryForm::Entry(int row) const {
    HistoryEntry entry;
    if (QListWidgetItem* line = lbHistory->item(row)) {
        entry.Text = line->text();
        entry.ClassIndex = line->data(kClassIndexRole).toInt();
        entry.MemberIndex = line->data(kMemberIndexRole).toInt();
    }
    return entry;
}

int THistoryForm::Find(const QString& text) const {
    for (int i = 0, n = lbHistory->count(); i < n; ++i)
        if (lbHistory->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void THistoryForm::Insert(int row, const HistoryEntry& entry) {
    auto* line = new QListWidgetItem(entry.Text);
    line->setData(kDataWordRole, entry.DataWord());
    line->setData(kClassIndexRole, entry.ClassIndex);
    line->setData(kMemberIndexRole, entry.MemberIndex);
    lbHistory->insertItem(row, line);
}

void THistoryForm::Move(int from, int to) {
    if (from == to || from < 0 || from >= lbHistory->count()) return;
    QListWidgetItem* line = lbHistory->takeItem(from);
    lbHistory->insertItem(to, line);
}

void THistoryForm::Clear() { lbHistory->clear(); }

int THistoryForm::SelectedRow() const {
    const QList<QListWidgetItem*> selected = lbHistory->selectedItems();
    return selected.isEmpty() ? -1 : lbHistory->row(selected.first());
}

void THistoryForm::SetSelectedRow(int row) {
    if (row < 0 || row >= lbHistory->count()) {
        lbHistory->clearSelection();
        lbHistory->setCurrentItem(nullptr);
        return;
    }
    lbHistory->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    lbHistory->scrollToItem(lbHistory->item(row));
}

// ---- commands -----------------------------------------------------------------------------------

void THistoryForm::lbHistoryDblClick() {
    const int row = SelectedRow();
    if (row < 0) return;
    Navigate(Entry(row));
}

bool THistoryForm::lbHistoryKeyPress(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
    lbHistoryDblClick();
    return true;
}

void THistoryForm::StepBack() {
    if (Count() == 0) return;
    if (SelectedRow() < 0) SetSelectedRow(0);
    lbHistoryDblClick();
    const int row = SelectedRow();
    if (row < 0) SetSelectedRow(0);
    else if (row < Count() - 1) SetSelectedRow(row + 1);
}

void THistoryForm::Navigate(const HistoryEntry& entry) {
    TMainForm* main = FMainForm;
    if (!main) return;
    QTreeWidget* classes = main->lvClasses;
    if (entry.ClassIndex >= 0 && entry.ClassIndex < classes->topLevelItemCount()) {
        QTreeWidgetItem* row = classes->topLevelItem(entry.ClassIndex);
        classes->scrollToItem(row, QAbstractItemView::EnsureVisible);
        // Selecting runs the class list's change handling, which refills the member list.
        classes->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
    }
    QTreeWidget* members = main->lvMembers;
    if (entry.MemberIndex >= 0 && entry.MemberIndex < members->topLevelItemCount()) {
        QTreeWidgetItem* row = members->topLevelItem(entry.MemberIndex);
        members->scrollToItem(row, QAbstractItemView::EnsureVisible);
        members->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
        main->activateWindow();
        members->setFocus(Qt::OtherFocusReason);
    }
}

void THistoryForm::keyPressEvent(QKeyEvent* event) {
    // Esc closes the window, as it closes dialogs.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
