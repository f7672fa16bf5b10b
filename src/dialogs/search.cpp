#include "dialogs/search.h"

#include "app/application.h"
#include "app/mainform.h"
#include "app/placement.h"
#include "ui_search.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <unordered_set>

TSearchForm* SearchForm = nullptr;

namespace {

constexpr int kClientWidth = 394;
constexpr int kClientHeight = 212;

QChar AsciiUpper(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? QChar(char16_t(u - 32)) : c;
}

// Whether s begins with prefix, the ASCII letters compared without case.
bool StartsWithAsciiFolded(QStringView s, QStringView prefix) {
    if (prefix.size() > s.size()) return false;
    for (qsizetype i = 0; i < prefix.size(); ++i)
        if (AsciiUpper(s[i]) != AsciiUpper(prefix[i])) return false;
    return true;
}

// The arrow-with-hourglass cursor for the length of a scope.
class TAppStartingCursor {
public:
    TAppStartingCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor)); }
    ~TAppStartingCursor() { QGuiApplication::restoreOverrideCursor(); }
    TAppStartingCursor(const TAppStartingCursor&) = delete;
    TAppStartingCursor& operator=(const TAppStartingCursor&) = delete;
};

struct QStringHash {
    size_t operator()(const QString& s) const { return qHash(s); }
};

}  // namespace

// ---- the result model ------------------------------------------------------------------------

TSearchResultModel::TSearchResultModel(TSearchForm* form) : QAbstractTableModel(form), FForm(form) {}

void TSearchResultModel::SetRowCount(int count) {
    beginResetModel();
    FRowCount = count;
    endResetModel();
}

int TSearchResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRowCount; }

int TSearchResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TSearchResultModel::data(const QModelIndex& index, int role) const {
    // lvSearchData: rows past the results are left blank.
    if (!index.isValid() || index.row() >= FRowCount) return QVariant();
    const std::vector<TSearchResult>& results = FForm->Results();
    if (size_t(index.row()) >= results.size()) return QVariant();
    const TSearchResult& r = results[size_t(index.row())];
    const bool classColumn = index.column() == 0;
    if (role == Qt::DisplayRole) return classColumn ? r.ClassCaption : r.MemberCaption;
    if (role == Qt::DecorationRole) {
        const int icon = classColumn ? r.ClassIcon : r.MemberIcon;
        if (icon < 0 || icon >= EntityIconCount || !MainForm) return QVariant();
        return MainForm->ilMain[size_t(icon)];
    }
    return QVariant();
}

QVariant TSearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
    if (section == 0) return QStringLiteral("Class");
    if (section == 1) return QStringLiteral("Member");
    return QVariant();
}

Qt::ItemFlags TSearchResultModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QModelIndexList TSearchResultModel::match(const QModelIndex& start, int role, const QVariant& value, int,
                                          Qt::MatchFlags flags) const {
    // Only the partial-string and exact-string finds are answered, both as a prefix test.
    const int kind = int(flags & Qt::MatchTypeMask);
    if (role != Qt::DisplayRole ||
        (kind != Qt::MatchStartsWith && kind != Qt::MatchFixedString && kind != Qt::MatchExactly))
        return {};
    const int row = FForm->lvSearchDataFind(value.toString(), start.isValid() ? start.row() : 0,
                                            flags.testFlag(Qt::MatchWrap));
    if (row < 0) return {};
    return {index(row, start.isValid() ? start.column() : 0)};
}

// ---- the dialog -------------------------------------------------------------------------------

struct TSearchForm::ClassEntry {
    QString Caption;
    int Icon;
    ComPtr<ITypeInfo> TypeInfo;
    bool EventInterface;
};

TSearchForm::TSearchForm(TMainForm* mainForm)
    : QDialog(mainForm, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TSearchForm>()), FMainForm(mainForm) {
    if (!SearchForm) SearchForm = this;
    ui->setupUi(this);
    txtSearch = ui->txtSearch;
    btnSearch = ui->btnSearch;
    btnCancel = ui->btnCancel;
    lvSearch = ui->lvSearch;
    setFixedSize(kClientWidth, kClientHeight);

    FModel = new TSearchResultModel(this);
    lvSearch->setModel(FModel);
    QHeaderView* header = lvSearch->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setMinimumSectionSize(1);
    lvSearch->setColumnWidth(0, 140);
    lvSearch->setColumnWidth(1, 215);
    // The selection stays visible when the focus is elsewhere.
    QPalette p = lvSearch->palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    lvSearch->setPalette(p);

    connect(txtSearch, &QLineEdit::textChanged, this, [this] { RunGuarded([this] { txtSearchChange(); }); });
    connect(btnSearch, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnSearchClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnCancelClick(); }); });
    connect(lvSearch->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                RunGuarded([&] {
                    for (const QModelIndex& i : deselected.indexes())
                        if (i.row() == FLastReportedRow) FLastReportedRow = -1;
                    for (const QModelIndex& i : selected.indexes())
                        if (i.column() == 0) lvSearchChange(i.row());
                });
            });
    connect(lvSearch->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { RunGuarded([&] { lvSearchChange(current.row()); }); });
    connect(FModel, &QAbstractItemModel::modelReset, this, [this] { FLastReportedRow = -1; });
    txtSearch->installEventFilter(this);
    new TWindowPlacer(this, mainForm, QStringLiteral("Search"), false);

    FormCreate();
}

TSearchForm::~TSearchForm() {
    // FormDestroy: no rows left for the list to ask about while the window goes.
    ClearResults();
    if (SearchForm == this) SearchForm = nullptr;
}

void TSearchForm::FormCreate() {
    FBusy = false;
    FCancelRequested = false;
    FResults.clear();
    SkipNames.clear();
    for (const char* name : {"QueryInterface", "AddRef", "Release", "GetTypeInfoCount", "GetTypeInfo",
                             "GetIDsOfNames", "Invoke"})
        SkipNames.push_back(AsciiLower(QLatin1String(name)));
    std::sort(SkipNames.begin(), SkipNames.end());
}

void TSearchForm::showEvent(QShowEvent* event) {
    // Its placer has put it beside the main window, so the lists it selects in stay in sight.
    QDialog::showEvent(event);
    FormShow();
}

void TSearchForm::FormShow() { txtSearch->setFocus(Qt::OtherFocusReason); }

void TSearchForm::txtSearchChange() { btnSearch->setEnabled(!txtSearch->text().isEmpty()); }

bool TSearchForm::txtSearchKeyPress(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
    if (txtSearch->text().isEmpty()) return false;
    RunSearch();
    return true;
}

bool TSearchForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtSearch && event->type() == QEvent::KeyPress) {
        bool swallowed = false;
        RunGuarded([&] { swallowed = txtSearchKeyPress(static_cast<QKeyEvent*>(event)); });
        if (swallowed) return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TSearchForm::btnSearchClick() { RunSearch(); }

void TSearchForm::btnCancelClick() {
    // During a search the dialog stays open and the search is asked to stop.
    if (FBusy) RequestCancel();
    else QDialog::reject();
}

void TSearchForm::reject() { btnCancelClick(); }

void TSearchForm::closeEvent(QCloseEvent* event) {
    if (FBusy) {
        // Closing the window stops the search too.
        RequestCancel();
        QDialog::done(QDialog::Rejected);
        event->accept();
        return;
    }
    QDialog::closeEvent(event);
}

void TSearchForm::RequestCancel() {
    if (FBusy) FCancelRequested = true;
}

void TSearchForm::ResetSearch() {
    txtSearch->clear();
    ClearResults();
    btnSearch->setEnabled(false);
    btnCancel->setEnabled(true);
    if (FBusy) {
        // A search of the previous library: stop it and keep nothing it finds.
        FCancelRequested = true;
        FResetDuringSearch = true;
    }
}

void TSearchForm::ClearResults() {
    FModel->SetRowCount(0);
    FResults.clear();
}

QString TSearchForm::AsciiLower(const QString& s) {
    QString lowered = s;
    // Only touch the string (and so copy it) when it has something to lower.
    const QChar* data = s.constData();
    for (qsizetype i = 0, n = s.size(); i < n; ++i) {
        const char16_t u = data[i].unicode();
        if (u >= u'A' && u <= u'Z') lowered[i] = QChar(char16_t(u + 32));
    }
    return lowered;
}

bool TSearchForm::IsSkipName(const QString& lowered) const {
    return std::binary_search(SkipNames.begin(), SkipNames.end(), lowered);
}

bool TSearchForm::Matches(const QString& lowered) const { return lowered.contains(FSearchText); }

void TSearchForm::AddResult(const ClassEntry& entry, const QString& member, int memberIcon) {
    FResults.push_back(TSearchResult{entry.Caption, entry.Icon, member, memberIcon});
}

void TSearchForm::RunSearch() {
    if (FBusy) return;
    btnSearch->setEnabled(false);
    FBusy = true;
    FCancelRequested = false;
    FResetDuringSearch = false;
    FSearchText = AsciiLower(txtSearch->text());
    txtSearch->setEnabled(false);
    ClearResults();

    // The classes to search, with a reference to each type of their own.
    std::vector<ClassEntry> classes;
    if (FMainForm) {
        QTreeWidget* list = FMainForm->lvClasses;
        classes.reserve(size_t(list->topLevelItemCount()));
        for (int i = 0, n = list->topLevelItemCount(); i < n; ++i) {
            TClassRow* row = FMainForm->ClassRow(i);
            if (!row || row->Icon == eiCoClass) continue;
            classes.push_back(ClassEntry{row->Caption(), row->Icon, row->TypeInfo,
                                         row->Icon == eiInterface && FMainForm->IsEventInterface(row->Caption())});
        }
    }

    // The cursor goes back last, after the completion below, on every path.
    TAppStartingCursor cursor;
    QPointer<TSearchForm> self(this);
    struct Completion {
        QPointer<TSearchForm>& form;
        ~Completion() {
            if (form) form->FinishSearch();
        }
    } completion{self};

    for (const ClassEntry& entry : classes) {
        if (Matches(AsciiLower(entry.Caption))) AddResult(entry, QString(), -1);
        SearchClass(entry);
        if (FCancelRequested) break;
        if (FProcessMessages) FProcessMessages();
        else QCoreApplication::processEvents();
        if (!self) return;
    }
}

void TSearchForm::FinishSearch() {
    if (FResetDuringSearch) FResults.clear();
    FResetDuringSearch = false;
    FModel->SetRowCount(int(FResults.size()));
    if (FResults.empty()) lvSearch->viewport()->update();
    FBusy = false;
    btnSearch->setEnabled(!txtSearch->text().isEmpty());
    txtSearch->setEnabled(true);
    if (!FCancelRequested) txtSearch->setFocus(Qt::OtherFocusReason);
}

void TSearchForm::SearchClass(const ClassEntry& entry) {
    if (!entry.TypeInfo) return;
    switch (entry.Icon) {
    case eiInterface:
        if (entry.EventInterface) SearchEvents(entry);
        else SearchInterfaceMembers(entry);
        break;
    case eiEnumeration: SearchVariables(entry, eiConstant); break;
    case eiRecord: SearchVariables(entry, eiField); break;
    default: break;
    }
}

void TSearchForm::SearchEvents(const ClassEntry& entry) {
    ITypeInfo* ti = entry.TypeInfo.Get();
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    const UINT count = attr->cFuncs;
    attr.Reset();
    for (UINT i = 0; i < count; ++i) {
        MEMBERID memid;
        {
            FuncDescPtr func;
            if (FAILED(ti->GetFuncDesc(i, func.Put(ti))) || !func) continue;
            if (func->invkind != INVOKE_FUNC) continue;
            memid = func->memid;
        }
        QString name;
        bool isNull = true;
        if (!GetMemberName(ti, memid, &name, &isNull) || isNull) continue;
        const QString lowered = AsciiLower(name);
        if (IsSkipName(lowered)) continue;
        if (Matches(lowered)) AddResult(entry, name, eiEvent);
    }
}

void TSearchForm::SearchInterfaceMembers(const ClassEntry& entry) {
    ITypeInfo* ti = entry.TypeInfo.Get();
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    const UINT funcCount = attr->cFuncs;
    attr.Reset();
    SearchVariables(entry, eiProperty);

    // Names already seen in this class: the accessors of one property give one result.
    std::unordered_set<QString, QStringHash> seen;
    seen.reserve(funcCount);
    for (UINT i = 0; i < funcCount; ++i) {
        MEMBERID memid;
        INVOKEKIND kind;
        {
            FuncDescPtr func;
            if (FAILED(ti->GetFuncDesc(i, func.Put(ti))) || !func) continue;
            memid = func->memid;
            kind = func->invkind;
        }
        QString name;
        bool isNull = true;
        if (!GetMemberName(ti, memid, &name, &isNull) || isNull) continue;
        QString lowered = AsciiLower(name);
        if (IsSkipName(lowered)) continue;
        if (seen.count(lowered)) continue;
        if (Matches(lowered)) AddResult(entry, name, kind == INVOKE_FUNC ? eiMethod : eiProperty);
        seen.insert(std::move(lowered));
    }
}

void TSearchForm::SearchVariables(const ClassEntry& entry, int memberIcon) {
    ITypeInfo* ti = entry.TypeInfo.Get();
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
    const UINT count = attr->cVars;
    attr.Reset();
    for (UINT i = 0; i < count; ++i) {
        MEMBERID memid;
        {
            VarDescPtr var;
            if (FAILED(ti->GetVarDesc(i, var.Put(ti))) || !var) continue;
            memid = var->memid;
        }
        QString name;
        bool isNull = true;
        if (!GetMemberName(ti, memid, &name, &isNull) || isNull) continue;
        if (Matches(AsciiLower(name))) AddResult(entry, name, memberIcon);
    }
}

int TSearchForm::lvSearchDataFind(const QString& text, int start, bool wrap) const {
    const int count = std::min(FModel->RowCount(), int(FResults.size()));
    if (start < 0) start = 0;
    for (int i = start; i < count; ++i)
        if (StartsWithAsciiFolded(FResults[size_t(i)].ClassCaption, text)) return i;
    if (wrap)
        for (int i = 0; i < std::min(start, count); ++i)
            if (StartsWithAsciiFolded(FResults[size_t(i)].ClassCaption, text)) return i;
    return -1;
}

void TSearchForm::lvSearchChange(int row) {
    if (row < 0 || row >= FModel->RowCount() || size_t(row) >= FResults.size()) return;
    const QModelIndex current = lvSearch->currentIndex();
    if (!current.isValid() || current.row() != row) return;
    if (!lvSearch->selectionModel()->isRowSelected(row, QModelIndex())) return;
    // Focus and selection arrive as two changes; the main window hears of the row once.
    if (row == FLastReportedRow) return;
    FLastReportedRow = row;
    if (!FMainForm) return;
    const TSearchResult& r = FResults[size_t(row)];
    FMainForm->SelectByNames(r.ClassCaption, r.MemberCaption);
}
