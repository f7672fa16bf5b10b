#include "dialogs/find.h"

#include "app/application.h"
#include "app/mainform.h"
#include "app/placement.h"
#include "platform/registry/registry.h"
#include "ui_find.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QStyledItemDelegate>
#include <QKeyEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

TFindForm* FindForm = nullptr;

namespace {

// Roles of a result row's first column: where its answer is in Results().
constexpr int kResultRole = Qt::UserRole;

// A signature as the documentation pane shows it: the hot-spot marks "<" and ">" become blanks.
QString DisplayedSignature(const QString& signature) {
    static const QRegularExpression marks(QStringLiteral("<([^<>]*)>(?=\\w)"));
    QString text = signature;
    text.replace(marks, QStringLiteral(" \\1 "));
    text.replace(QLatin1Char('<'), QLatin1Char(' ')).remove(QLatin1Char('>'));
    return text;
}

// Where the folder list is kept, below HKEY_CURRENT_USER.
constexpr const char* kFoldersKey = "Software\\Quibrel Type Library Explorer\\Find in Libraries";
constexpr const char* kFoldersSubkey = "Folders";

// Long paths lose their middle, so that the file name stays in sight.
class TElideMiddleDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

QString StatusText(HRESULT hr) {
    const QString code = QStringLiteral("%1").arg(quint32(hr), 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("%1 (0x%2)").arg(LoadErrorText(hr), code);
}

}  // namespace

// What the worker thread reads and writes; the window reads the result after the thread ends.
struct TFindForm::Job {
    TIndexSources Sources;
    QString CachePath;
    std::shared_ptr<TLibraryIndex> Previous;
    TIndexProgress Progress;
    TIndexBuildStats Stats;
    std::shared_ptr<TLibraryIndex> Result;
};

TFindForm::TFindForm(TMainForm* mainForm)
    : QDialog(mainForm, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                            Qt::WindowMinMaxButtonsHint),
      ui(std::make_unique<Ui::TFindForm>()), FMainForm(mainForm) {
    ui->setupUi(this);
    txtQuery = ui->txtQuery;
    btnFind = ui->btnFind;
    chkRegistered = ui->chkRegistered;
    chkFolder = ui->chkFolder;
    cbFolder = ui->cbFolder;
    txtFolder = cbFolder->lineEdit();
    btnBrowse = ui->btnBrowse;
    tabResults = ui->tabResults;
    lvResults = ui->lvResults;
    lvFailures = ui->lvFailures;
    lblStatus = ui->lblStatus;
    pbIndex = ui->pbIndex;
    btnCancel = ui->btnCancel;
    btnClose = ui->btnClose;
    FindForm = this;

    lvResults->setColumnWidth(0, 160);
    lvResults->setColumnWidth(1, 130);
    lvResults->setColumnWidth(2, 300);
    lvFailures->setColumnWidth(0, 360);
    lvResults->setItemDelegateForColumn(3, new TElideMiddleDelegate(lvResults));
    lvFailures->setItemDelegateForColumn(0, new TElideMiddleDelegate(lvFailures));
    txtFolder->setPlaceholderText(tr("a folder to look in"));
    LoadFolders();
    chkFolder->setEnabled(!txtFolder->text().isEmpty());
    pbIndex->setVisible(false);
    btnCancel->setEnabled(false);

    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(100);
    connect(FProgressTimer, &QTimer::timeout, this, [this] { ShowProgress(); });

    connect(btnFind, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnFindClick(); }); });
    connect(txtQuery, &QLineEdit::returnPressed, this, [this] { RunGuarded([this] { btnFindClick(); }); });
    connect(btnBrowse, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnBrowseClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(chkRegistered, &QCheckBox::toggled, this, [this] { ScopeChange(); });
    connect(chkFolder, &QCheckBox::toggled, this, [this] { ScopeChange(); });
    connect(txtFolder, &QLineEdit::returnPressed, this, [this] { RunGuarded([this] { cbFolderAccept(); }); });
    connect(cbFolder, &QComboBox::activated, this, [this] { RunGuarded([this] { cbFolderAccept(); }); });
    connect(txtFolder, &QLineEdit::textEdited, this,
            [this](const QString& text) { chkFolder->setEnabled(!text.isEmpty() || chkFolder->isChecked()); });
    // Beside the main window, where it was last left.
    new TWindowPlacer(this, mainForm, QStringLiteral("Find in Libraries"));
    txtQuery->installEventFilter(this);
    connect(lvResults, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { RunGuarded([this, item] { lvResultsActivated(item); }); });
}

TFindForm::~TFindForm() {
    if (FJob) FJob->Progress.Cancel = true;
    if (FWorker) {
        FWorker->wait();
        delete FWorker;
    }
    if (FindForm == this) FindForm = nullptr;
}

TIndexSources TFindForm::ChosenSources() const {
    TIndexSources sources;
    sources.Registered = chkRegistered->isChecked();
    if (chkFolder->isChecked() && !txtFolder->text().trimmed().isEmpty())
        sources.Folders << QDir::fromNativeSeparators(txtFolder->text().trimmed());
    return sources;
}

void TFindForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    txtQuery->setFocus();
    // Opening the window brings the index up to date (only changed files are read).
    if (!FWorker) StartIndex();
}

bool TFindForm::eventFilter(QObject* watched, QEvent* event) {
    // Down in the query box goes on to the results.
    if (watched == txtQuery && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down && lvResults->topLevelItemCount() > 0) {
        lvResults->setFocus();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFindForm::closeEvent(QCloseEvent* event) {
    if (FJob) FJob->Progress.Cancel = true;
    QDialog::closeEvent(event);
}

void TFindForm::StartIndex() {
    if (FWorker) {
        FRestart = true;
        FJob->Progress.Cancel = true;
        return;
    }
    FRestart = false;
    auto job = std::make_shared<Job>();
    job->Sources = ChosenSources();
    job->CachePath = FCachePath.isEmpty() ? IndexCachePath() : FCachePath;
    job->Previous = FIndex;
    FJob = job;
    // The worker has its own library objects: nothing it loads is shared with the window.
    FWorker = QThread::create([job] {
        job->Result = BuildLibraryIndex(job->Sources, job->CachePath, job->Previous.get(), &job->Progress, &job->Stats);
    });
    connect(FWorker, &QThread::finished, this, [this] { IndexFinished(); });
    pbIndex->setValue(0);
    pbIndex->setVisible(true);
    btnCancel->setEnabled(true);
    lblStatus->setText(tr("Indexing libraries..."));
    FWorker->start(QThread::LowPriority);
    FProgressTimer->start();
}

void TFindForm::ShowProgress() {
    if (!FJob) return;
    const int total = FJob->Progress.Total, done = FJob->Progress.Done;
    pbIndex->setMaximum(std::max(total, 1));
    pbIndex->setValue(done);
    lblStatus->setText(tr("Indexing libraries: %1 of %2 files").arg(done).arg(total));
}

void TFindForm::IndexFinished() {
    if (!FWorker || !FWorker->isFinished()) return;
    FWorker->wait();
    FWorker->deleteLater();
    FWorker = nullptr;
    FProgressTimer->stop();
    std::shared_ptr<Job> job = std::move(FJob);
    if (job->Result && (!FRestart || !FIndex)) FIndex = job->Result;
    pbIndex->setVisible(false);
    btnCancel->setEnabled(false);
    if (FRestart) {
        StartIndex();
        return;
    }
    ListFailures();
    QString status = tr("%1 libraries in %2 files").arg(FIndex ? FIndex->LibraryCount() : 0)
                         .arg(FIndex ? int(FIndex->Files.size()) : 0);
    FScopeFiles = job->Progress.Total;
    FIndexedFiles = job->Stats.Cancelled && FIndex ? int(FIndex->Files.size()) : FScopeFiles;
    if (job->Stats.Cancelled) status = tr("Indexing cancelled: ") + status;
    if (!IncompleteNote().isEmpty()) status += QStringLiteral("; ") + IncompleteNote();
    lblStatus->setText(status);
    if (FQueryPending) {
        FQueryPending = false;
        FRerun = false;
        RunQuery(txtQuery->text());
    } else if (FRerun) {
        // The query shown was for another scope: it runs again over this one.
        FRerun = false;
        RunQuery(FLastQuery);
    }
}

void TFindForm::WaitForIndex() {
    while (FWorker) {
        FWorker->wait();
        IndexFinished();
    }
}

void TFindForm::ListFailures() {
    lvFailures->clear();
    if (!FIndex) return;
    QList<QTreeWidgetItem*> rows;
    for (const TIndexFailure& f : FIndex->Failures())
        rows << new QTreeWidgetItem(QStringList{f.Path, StatusText(f.Status)});
    lvFailures->addTopLevelItems(rows);
    tabResults->setTabText(1, rows.isEmpty() ? tr("Unreadable files") : tr("Unreadable files (%1)").arg(rows.size()));
}

void TFindForm::btnFindClick() {
    if (FWorker) {
        FQueryPending = true;
        return;
    }
    RunQuery(txtQuery->text());
}

// The text is taken by value: it may be FLastQuery, which this clears.
void TFindForm::RunQuery(QString text) {
    lvResults->clear();
    FResults.clear();
    TIndexQuery query;
    QString error;
    FLastQuery.clear();
    if (!TIndexQuery::Parse(text, &query, &error)) {
        lblStatus->setText(error);
        return;
    }
    FLastQuery = text;
    if (!FIndex) return;
    FResults = RunIndexQuery(*FIndex, query, MaxRows + 1);
    const bool more = FResults.size() > MaxRows;
    if (more) FResults.resize(MaxRows);

    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(FResults.size()));
    for (size_t i = 0; i < FResults.size(); ++i) {
        const TIndexResult& r = FResults[i];
        auto* row = new QTreeWidgetItem(QStringList{r.ClassName.isEmpty() ? r.LibraryName : r.ClassName,
                                                    r.MemberName, DisplayedSignature(r.Signature), r.LibraryPath});
        row->setData(0, kResultRole, qulonglong(i));
        if (FMainForm) {
            if (r.ClassIcon >= 0) row->setIcon(0, FMainForm->ilMain[size_t(r.ClassIcon)]);
            if (r.MemberIcon >= 0) row->setIcon(1, FMainForm->ilMain[size_t(r.MemberIcon)]);
        }
        row->setToolTip(2, row->text(2));
        row->setToolTip(3, r.LibraryPath);
        rows << row;
    }
    lvResults->addTopLevelItems(rows);
    tabResults->setCurrentIndex(0);
    if (!rows.isEmpty()) lvResults->setCurrentItem(rows.first());
    QString status = more ? tr("The first %1 results").arg(MaxRows)
                          : FResults.size() == 1 ? tr("1 result") : tr("%1 results").arg(FResults.size());
    if (!IncompleteNote().isEmpty()) status += QStringLiteral(" (") + IncompleteNote() + QLatin1Char(')');
    lblStatus->setText(status);
}

QString TFindForm::IncompleteNote() const {
    if (MissingFiles() <= 0) return QString();
    return tr("index incomplete: %1 of %2 files").arg(FIndexedFiles).arg(FScopeFiles);
}

void TFindForm::lvResultsActivated(QTreeWidgetItem* item) {
    if (!item || !FMainForm) return;
    const size_t i = size_t(item->data(0, kResultRole).toULongLong());
    if (i >= FResults.size()) return;
    const TIndexResult r = FResults[i];
    FMainForm->OpenTypeLibWithHourglass(r.LibraryPath);
    if (!r.ClassName.isEmpty()) FMainForm->SelectByNames(r.ClassName, r.MemberName);
    FMainForm->raise();
    FMainForm->activateWindow();
}

void TFindForm::btnBrowseClick() {
    const QString folder = FChooseFolder ? FChooseFolder()
                                         : QFileDialog::getExistingDirectory(this, tr("Folder to look in"),
                                                                             txtFolder->text());
    if (folder.isEmpty()) return;
    txtFolder->setText(folder);
    cbFolderAccept();
}

void TFindForm::cbFolderAccept() {
    const QString typed = txtFolder->text().trimmed();
    if (typed.isEmpty()) return;
    const QFileInfo info(QDir::fromNativeSeparators(typed));
    if (!info.isDir()) {
        lblStatus->setText(tr("No such folder: %1").arg(typed));
        return;
    }
    const QString folder = QDir::cleanPath(info.absoluteFilePath());
    RememberFolder(folder);
    chkFolder->setEnabled(true);
    if (chkFolder->isChecked()) ScopeChange();
    else chkFolder->setChecked(true);  // ScopeChange follows
}

QStringList TFindForm::Folders() const {
    QStringList folders;
    for (int i = 0; i < cbFolder->count(); ++i) folders << cbFolder->itemText(i);
    return folders;
}

void TFindForm::RememberFolder(const QString& folder) {
    QStringList folders = Folders();
    folders.removeAll(folder);
    folders.prepend(folder);
    while (folders.size() > MaxFolders) folders.removeLast();
    const QSignalBlocker quiet(cbFolder);
    cbFolder->clear();
    cbFolder->addItems(folders);
    cbFolder->setCurrentIndex(0);
    SaveFolders();
}

void TFindForm::LoadFolders() {
    QStringList folders;
    ScopedHKEY key;
    const std::string path = std::string(kFoldersKey) + "\\" + kFoldersSubkey;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
        for (int i = 0; i < MaxFolders; ++i) {
            std::string value;
            if (!RegReadString(key.Get(), nullptr, ("F" + std::to_string(i)).c_str(), &value)) break;
            const QString folder = QString::fromStdString(value);
            if (!folder.isEmpty() && !folders.contains(folder)) folders << folder;
        }
    }
    const QSignalBlocker quiet(cbFolder);
    cbFolder->clear();
    cbFolder->addItems(folders);
    cbFolder->setCurrentIndex(folders.isEmpty() ? -1 : 0);
}

void TFindForm::SaveFolders() const {
    // Written in one go: the old list goes and the new one comes in one save of the file.
    ScopedHKEY key;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, kFoldersKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                       key.Put(), nullptr) != ERROR_SUCCESS)
        return;
    RegDeleteTree(key.Get(), kFoldersSubkey);
    ScopedHKEY values;
    if (RegCreateKeyEx(key.Get(), kFoldersSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                       values.Put(), nullptr) != ERROR_SUCCESS)
        return;
    const QStringList folders = Folders();
    for (int i = 0; i < folders.size(); ++i)
        RegWriteString(values.Get(), ("F" + std::to_string(i)).c_str(), folders[i].toStdString());
}

void TFindForm::btnCancelClick() {
    // Also a build that was to follow.
    FRestart = false;
    if (FJob) FJob->Progress.Cancel = true;
}

void TFindForm::ScopeChange() {
    // Results of the old scope would read as results of the new one.
    lvResults->clear();
    FResults.clear();
    FRerun = !FLastQuery.isEmpty();
    FScopeFiles = FIndexedFiles = 0;
    if (isVisible() || FWorker) StartIndex();
}
