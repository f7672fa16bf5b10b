// TSearchForm: the "Search Type Library" dialog. It finds the classes of the open library whose
// names contain the search text, and the members of those classes whose names contain it, and
// lists them in a virtual result list. Selecting a result selects that class and member in the
// main window while the dialog stays open. The dialog lives for the whole run and keeps its
// text and results until the next library is opened.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;
class QLineEdit;
class QPushButton;
class QTreeView;
class TMainForm;

namespace Ui {
class TSearchForm;
}

// One result row: a class whose name matched (MemberCaption empty, MemberIcon -1), or a member
// of a class. The icons are EntityIcon values, indexes into the main window's ilMain.
struct TSearchResult {
    QString ClassCaption;
    int ClassIcon = 0;
    QString MemberCaption;
    int MemberIcon = -1;
};

class TSearchForm;

// The rows of lvSearch, read from the dialog's results on demand. The row count is set
// explicitly, once a search has ended, not whenever a result is added.
class TSearchResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TSearchResultModel(TSearchForm* form);

    void SetRowCount(int count);
    int RowCount() const { return FRowCount; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Typed-prefix search of the list: answered by TSearchForm::lvSearchDataFind.
    QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits,
                          Qt::MatchFlags flags) const override;

private:
    TSearchForm* FForm;
    int FRowCount = 0;
};

class TSearchForm : public QDialog {
    Q_OBJECT

public:
    // The dialog belongs to the main window, whose class list it searches.
    explicit TSearchForm(TMainForm* mainForm);
    ~TSearchForm() override;

    QLineEdit* txtSearch;
    QPushButton* btnSearch;
    QPushButton* btnCancel;
    QTreeView* lvSearch;

    // ---- state ----------------------------------------------------------------------------
    const std::vector<TSearchResult>& Results() const { return FResults; }
    bool Busy() const { return FBusy; }
    bool CancelRequested() const { return FCancelRequested; }
    TSearchResultModel* Model() const { return FModel; }

    // ---- handlers and operations ----------------------------------------------------------
    void FormCreate();
    void FormShow();
    void txtSearchChange();
    // True when the key was swallowed (Enter with text typed).
    bool txtSearchKeyPress(QKeyEvent* event);
    void btnSearchClick();
    void btnCancelClick();
    // Searches the main window's class list for txtSearch's text.
    void RunSearch();
    // Asks a running search to stop after the class it is searching.
    void RequestCancel();
    // Forgets the text and the results; the main window calls this whenever it opens a library.
    void ResetSearch();
    void ClearResults();
    // The row found by typing text into lvSearch: the first row from start (and, with wrap,
    // from row 0 up to start) whose class name begins with text, ASCII letters compared
    // without case; -1 when none.
    int lvSearchDataFind(const QString& text, int start, bool wrap) const;
    // A row that has become focused and selected: the main window selects its class and member.
    void lvSearchChange(int row);

    // Lower-cases the ASCII letters A to Z only; the matching rule of the search.
    static QString AsciiLower(const QString& s);

    // Runs in place of letting the application process its pending messages between classes
    // (tests and benchmarks watch the search from here); empty means processEvents.
    std::function<void()> FProcessMessages;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the search needs of one class row, held for the whole search so that rows going
    // away meanwhile cannot leave it with a dangling type.
    struct ClassEntry;
    void SearchClass(const ClassEntry& entry);
    void SearchEvents(const ClassEntry& entry);
    void SearchInterfaceMembers(const ClassEntry& entry);
    void SearchVariables(const ClassEntry& entry, int memberIcon);
    // Whether a lower-cased name is one of the IUnknown and IDispatch method names.
    bool IsSkipName(const QString& lowered) const;
    bool Matches(const QString& lowered) const;
    void AddResult(const ClassEntry& entry, const QString& member, int memberIcon);
    void FinishSearch();

    std::unique_ptr<Ui::TSearchForm> ui;
    TMainForm* FMainForm;
    TSearchResultModel* FModel;
    std::vector<TSearchResult> FResults;
    // The seven IUnknown and IDispatch method names, lower-cased (ASCII), sorted.
    std::vector<QString> SkipNames;
    QString FSearchText;   // lower-cased copy of txtSearch's text, taken when a search starts
    bool FBusy = false;
    bool FCancelRequested = false;
    // Set when ResetSearch runs during a search: what that search still finds is dropped.
    bool FResetDuringSearch = false;
    // The row the main window was last told about, so that it hears of a row once.
    int FLastReportedRow = -1;
};

// The search window, once it exists.
extern TSearchForm* SearchForm;
