// TFindForm: the "Find in Libraries" tool window. It answers queries over every library the
// user has (the registered ones, a folder, or both) from the library index, which it builds or
// refreshes on a worker thread with a progress bar and a Cancel. Activating a result opens that
// library in the main window and selects the class and member.
#pragma once

#include "index/libindex.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QThread;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TMainForm;

namespace Ui {
class TFindForm;
}

class TFindForm : public QDialog {
    Q_OBJECT

public:
    explicit TFindForm(TMainForm* mainForm);
    ~TFindForm() override;

    QLineEdit* txtQuery;
    QPushButton* btnFind;
    QCheckBox* chkRegistered;
    QCheckBox* chkFolder;
    // The folder to look in, typed, pasted or picked from the folders used before.
    QComboBox* cbFolder;
    QLineEdit* txtFolder;  // cbFolder's edit field
    QPushButton* btnBrowse;
    QTabWidget* tabResults;
    QTreeWidget* lvResults;
    QTreeWidget* lvFailures;
    QLabel* lblStatus;
    QProgressBar* pbIndex;
    QPushButton* btnCancel;
    QPushButton* btnClose;

    // Most result rows listed.
    static constexpr size_t MaxRows = 5000;
    // Most folders kept in cbFolder's list.
    static constexpr int MaxFolders = 12;

    // ---- handlers and operations ----------------------------------------------------------
    void btnFindClick();
    void btnBrowseClick();
    void btnCancelClick();
    void ScopeChange();
    // A folder typed or picked in cbFolder: it becomes the folder looked in.
    void cbFolderAccept();
    // The folders of cbFolder's list, the last used first.
    QStringList Folders() const;
    // The files of the scope the index has not read because its build was cancelled (0: none).
    int MissingFiles() const { return FScopeFiles - FIndexedFiles; }
    // Opens the row's library in the main window and selects its class and member.
    void lvResultsActivated(QTreeWidgetItem* item);
    // Builds or refreshes the index of the chosen scope in the background.
    void StartIndex();
    bool Indexing() const { return FWorker != nullptr; }
    // Waits for a running build and takes its result (tests).
    void WaitForIndex();
    const std::shared_ptr<TLibraryIndex>& Index() const { return FIndex; }
    const std::vector<TIndexResult>& Results() const { return FResults; }

    // The cache file; empty means IndexCachePath().
    QString FCachePath;
    // Asks for a folder; empty means QFileDialog::getExistingDirectory (tests put an answer here).
    std::function<QString()> FChooseFolder;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TIndexSources ChosenSources() const;
    void IndexFinished();
    void ShowProgress();
    void RunQuery(QString text);
    void ListFailures();
    // The folder list: put first, kept under HKEY_CURRENT_USER.
    void RememberFolder(const QString& folder);
    void LoadFolders();
    void SaveFolders() const;
    // The status line's note on a cancelled build, or empty.
    QString IncompleteNote() const;

    std::unique_ptr<Ui::TFindForm> ui;
    TMainForm* FMainForm;
    std::shared_ptr<TLibraryIndex> FIndex;
    std::vector<TIndexResult> FResults;
    // The running build: its thread, progress and result.
    struct Job;
    std::shared_ptr<Job> FJob;
    QThread* FWorker = nullptr;
    QTimer* FProgressTimer;
    // Set when the scope changed during a build: a new build follows.
    bool FRestart = false;
    // A query asked for while the index was being built: it runs when the build ends.
    bool FQueryPending = false;
    // The query last run: it runs again over a new scope.
    QString FLastQuery;
    bool FRerun = false;
    // Of the scope the index was last built for: its files, and how many the index holds.
    int FScopeFiles = 0;
    int FIndexedFiles = 0;
};

// The window, once it exists.
extern TFindForm* FindForm;
