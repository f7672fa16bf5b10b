// TMainForm: the window, start-up, the open commands, loading a library, shutdown.
#include "app/mainform.h"

#include "app/application.h"
#include "app/notice.h"
#include "app/docpane.h"
#include "platform/oleauto/bundled.h"
#include "platform/oleauto/hostpath.h"
#include "ui_mainform.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCompleter>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTreeWidget>

TMainForm* MainForm = nullptr;

namespace {

// A file dialog's completion list belongs to the dialog: it is closed with it, and one the
// file name completer brings up after the dialog has closed (its folder listing arrives late)
// is closed at once, so that it neither stays painted over the main window nor takes its keys.
class TDialogCompletion : public QObject {
public:
    TDialogCompletion(QDialog* dialog, QWidget* popup) : QObject(dialog), FDialog(dialog), FPopup(popup) {
        popup->installEventFilter(this);
        connect(dialog, &QDialog::finished, this, [this] { FPopup->hide(); });
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FPopup && event->type() == QEvent::Show && !FDialog->isVisible())
            QMetaObject::invokeMethod(FPopup, &QWidget::hide, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }

private:
    QDialog* FDialog;
    QWidget* FPopup;
};

// Once the dialog has made its completer.
void TieCompletionToDialog(QFileDialog* dialog) {
    if (dialog->property("completionTied").toBool()) return;
    const QList<QCompleter*> completers = dialog->findChildren<QCompleter*>();
    for (QCompleter* completer : completers)
        if (QAbstractItemView* popup = completer->popup()) new TDialogCompletion(dialog, popup);
    if (!completers.isEmpty()) dialog->setProperty("completionTied", true);
}

}  // namespace

// The resources live in a static library: make sure they are linked in and registered.
static void InitResources() { Q_INIT_RESOURCE(resources); }

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent, TRecentFiles recentFiles)
    : QMainWindow(parent), ui(std::make_unique<Ui::TMainForm>()), FRecentFiles(recentFiles) {
    if (!MainForm) MainForm = this;
    InitResources();
    CreateComponents();
    ConnectHandlers();
    CreateRecentFileList();
    FormCreate(arguments);
}

TMainForm::~TMainForm() {
    FormClose();
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateComponents() {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    mnuMain = ui->mnuMain;
    miFile = ui->miFile;
    miEdit = ui->miEdit;
    miView = ui->miView;
    miOpen = ui->miOpen;
    miOpenFile = ui->miOpenFile;
    miResolve = ui->miResolve;
    miExit = ui->miExit;
    miCopy = ui->miCopy;
    miCopyAll = ui->miCopyAll;
    miSearch = ui->miSearch;
    miHistory = ui->miHistory;
    miLegend = ui->miLegend;
    miResizable = ui->miResizable;
    CreateFindCommand();
    miIdl = ui->miIdl;
    miCompare = ui->miCompare;
    gbTypeLib = ui->gbTypeLib;
    gbClasses = ui->gbClasses;
    gbEntity = ui->gbEntity;
    lvTypeLib = ui->lvTypeLib;
    lvClasses = ui->lvClasses;
    lvMembers = ui->lvMembers;

    static const char* const iconFiles[EntityIconCount] = {
        "coclass", "interface", "enumeration", "record", "alias",
        "property", "method", "event", "constant", "field"};
    for (int i = 0; i < EntityIconCount; ++i)
        ilMain[size_t(i)] = QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(iconFiles[i])));

    lvTypeLib->setColumnWidth(0, 120);
    lvTypeLib->setColumnWidth(1, 340);
    lvClasses->setColumnWidth(0, 208);
    lvMembers->setColumnWidth(0, 208);
    for (QTreeWidget* list : {lvTypeLib, lvClasses, lvMembers}) {
        list->header()->setSectionsClickable(false);
        list->header()->setSectionsMovable(false);
        list->header()->setMinimumSectionSize(1);
    }
    // The selection stays visible when the focus is elsewhere.
    for (QTreeWidget* list : {lvClasses, lvMembers}) {
        QPalette p = list->palette();
        p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
        p.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   p.color(QPalette::Active, QPalette::HighlightedText));
        list->setPalette(p);
    }

    txtDoc = new TDocPane(gbEntity, 12, 24, 465, 57);
    txtDoc->OnHotSpotClick = [this](const QString& text) { RunGuarded([&] { txtDocHotSpotClick(text); }); };

    pmEdit = new QMenu(this);
    pmEdit->setObjectName(QStringLiteral("pmEdit"));
    miCopy1 = pmEdit->addAction(QStringLiteral("&Copy"));
    miCopy1->setObjectName(QStringLiteral("miCopy1"));
    miCopyAll1 = pmEdit->addAction(QStringLiteral("Copy &All"));
    miCopyAll1->setObjectName(QStringLiteral("miCopyAll1"));
    miSpace = pmEdit->addSeparator();
    miSpace->setObjectName(QStringLiteral("miSpace"));
    miCheckAll = pmEdit->addAction(QStringLiteral("Check All"));
    miCheckAll->setObjectName(QStringLiteral("miCheckAll"));
    miUncheckAll = pmEdit->addAction(QStringLiteral("&Uncheck All"));
    miUncheckAll->setObjectName(QStringLiteral("miUncheckAll"));

    dlgOpen = new QFileDialog(this, QStringLiteral("Open"));
    dlgOpen->setObjectName(QStringLiteral("dlgOpen"));
    dlgOpen->setAcceptMode(QFileDialog::AcceptOpen);
    dlgOpen->setFileMode(QFileDialog::ExistingFile);
    dlgOpen->setDefaultSuffix(QStringLiteral("tlb"));
    dlgOpen->setNameFilter(QStringLiteral("Type Library (*.tlb, *.dll, *.ocx, *.exe, *.olb) (*.tlb *.dll *.ocx *.exe *.olb)"));
    // The list shows the description alone; its patterns are already written in it.
    dlgOpen->setOption(QFileDialog::HideNameFilterDetails);
    dlgSave = new QFileDialog(this, QStringLiteral("Save As"));
    dlgSave->setObjectName(QStringLiteral("dlgSave"));
    dlgSave->setAcceptMode(QFileDialog::AcceptSave);
    dlgSave->setFileMode(QFileDialog::AnyFile);
    dlgSave->setDefaultSuffix(QStringLiteral("qbc"));
    dlgSave->setNameFilters({QStringLiteral("Class File w/Line Numbers (*.qbc)"),
                             QStringLiteral("Class File wo/Line Numbers (*.qbc)")});
    dlgSave->setOption(QFileDialog::DontConfirmOverwrite, false);
    TieCompletionToDialog(dlgOpen);
    TieCompletionToDialog(dlgSave);

    // The client area keeps its designed size; the menu bar sits above it.
    adjustSize();
    setFixedSize(sizeHint());
    CreateWindowCommands();
}

void TMainForm::ConnectHandlers() {
    auto guarded = [this](void (TMainForm::*handler)()) {
        return [this, handler] { RunGuarded([&] { (this->*handler)(); }); };
    };
    connect(miOpen, &QAction::triggered, this, guarded(&TMainForm::miOpenClick));
    connect(miOpenFile, &QAction::triggered, this, guarded(&TMainForm::miOpenFileClick));
    connect(miResolve, &QAction::triggered, this, guarded(&TMainForm::miResolveClick));
    connect(miExit, &QAction::triggered, this, guarded(&TMainForm::miExitClick));
    connect(miCopy, &QAction::triggered, this, guarded(&TMainForm::miCopyClick));
    connect(miCopy1, &QAction::triggered, this, guarded(&TMainForm::miCopyClick));
    connect(miCopyAll, &QAction::triggered, this, guarded(&TMainForm::miCopyAllClick));
    connect(miCopyAll1, &QAction::triggered, this, guarded(&TMainForm::miCopyAllClick));
    connect(miCheckAll, &QAction::triggered, this, guarded(&TMainForm::miCheckAllClick));
    connect(miUncheckAll, &QAction::triggered, this, guarded(&TMainForm::miUncheckAllClick));
    connect(miSearch, &QAction::triggered, this, guarded(&TMainForm::miSearchClick));
    connect(miHistory, &QAction::triggered, this, guarded(&TMainForm::miHistoryClick));
    connect(miLegend, &QAction::triggered, this, guarded(&TMainForm::miLegendClick));
    connect(miIdl, &QAction::triggered, this, guarded(&TMainForm::miIdlClick));
    connect(miCompare, &QAction::triggered, this, guarded(&TMainForm::miCompareClick));
    connect(miEdit, &QMenu::aboutToShow, this, guarded(&TMainForm::miEditClick));
    connect(pmEdit, &QMenu::aboutToShow, this, guarded(&TMainForm::miEditClick));
    for (QTreeWidget* list : {lvTypeLib, lvClasses, lvMembers}) {
        connect(list, &QWidget::customContextMenuRequested, this,
                [this, list](const QPoint& pos) { pmEdit->popup(list->viewport()->mapToGlobal(pos)); });
    }

    // Change notifications: the row losing the selection first, then the row gaining it.
    connect(lvClasses->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                RunGuarded([&] {
                    for (const QModelIndex& i : deselected.indexes())
                        if (i.column() == 0) lvClassesChange(lvClasses->topLevelItem(i.row()));
                    for (const QModelIndex& i : selected.indexes())
                        if (i.column() == 0) lvClassesChange(lvClasses->topLevelItem(i.row()));
                });
            });
    connect(lvMembers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) {
                RunGuarded([&] {
                    for (const QModelIndex& i : selected.indexes())
                        if (i.column() == 0) lvMembersChange(lvMembers->topLevelItem(i.row()));
                });
            });
    connect(lvMembers, &QTreeWidget::itemDoubleClicked, this, guarded(&TMainForm::lvMembersDblClick));
    lvClasses->installEventFilter(this);
    lvMembers->installEventFilter(this);
    centralWidget()->installEventFilter(this);
    ConnectEditCommands();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    bool consumed = false;
    RunGuarded([&] {
        if (watched == centralWidget()) {
            if (event->type() == QEvent::Resize) LayOutPanes();
            return;
        }
        if (event->type() == QEvent::FocusIn) {
            // Entering the list, not coming back from a pop-up menu or another window.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) return;
            if (watched == lvClasses) lvClassesEnter();
            else if (watched == lvMembers) lvMembersEnter();
        } else if (event->type() == QEvent::KeyPress && (watched == lvClasses || watched == lvMembers)) {
            auto* key = static_cast<QKeyEvent*>(event);
            consumed = lvClassesKeyDown(key) || ListHomeEnd(static_cast<QTreeWidget*>(watched), key);
            if (!consumed && watched == lvMembers) consumed = lvMembersKeyPress(key);
        }
    });
    return consumed || QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormCreate(const QStringList& arguments) {
    FEventInterfaces.clear();
    FHiddenMethods = {QStringLiteral("QueryInterface"), QStringLiteral("AddRef"), QStringLiteral("Release"),
                      QStringLiteral("GetTypeInfoCount"), QStringLiteral("GetTypeInfo"),
                      QStringLiteral("GetIDsOfNames"), QStringLiteral("Invoke")};
    FExternalTypes.clear();
    FExternalLibraries.clear();

    if (arguments.isEmpty()) return;
    try {
        if (IsHostFile(arguments[0].toStdU16String())) OpenTypeLib(arguments[0]);
        if (arguments.size() == 2) SelectByNames(arguments[1], QString());
        else if (arguments.size() == 3) SelectByNames(arguments[1], arguments[2]);
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // The tool windows go with the main window (keeping where they were), so the program ends.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isWindow() && w->isVisible()) w->close();
    FormClose();
    QMainWindow::closeEvent(event);
}

void TMainForm::FormClose() {
    if (FClosed) return;
    FClosed = true;
    FExternalTypes.clear();
    FExternalLibraries.clear();
    FEventInterfaces.clear();
    FHiddenMethods.clear();
    FClassesChangeAttached = false;
    FMembersChangeAttached = false;
    DeleteMemberRows();
    DeleteClassRows();
}

void TMainForm::OpenTypeLibWithHourglass(const QString& path) {
    THourglass hourglass;
    OpenTypeLib(path);
}

void TMainForm::miOpenFileClick() {
    TieCompletionToDialog(dlgOpen);
    if (dlgOpen->exec() != QDialog::Accepted || dlgOpen->selectedFiles().isEmpty()) return;
    OpenTypeLibWithHourglass(dlgOpen->selectedFiles().first());
}

void TMainForm::mruTypeLibMRUItemClick(QObject*, const QString& fileName) {
    OpenTypeLibWithHourglass(fileName);
}

void TMainForm::miExitClick() { close(); }

void TMainForm::OpenTypeLib(const QString& path) {
    FTypeLib.Reset();
    const std::u16string wide = path.toStdU16String();
    HRESULT hr = LoadTypeLib(wide.c_str(), FTypeLib.Put());
    if (hr != S_OK || !FTypeLib) {
        FTypeLib.Reset();
        throw EBrowserError(LoadErrorText(hr == S_OK ? E_FAIL : hr));
    }
    // The library is released on every path out of here; the class rows keep it alive.
    struct ReleaseLibrary {
        ComPtr<ITypeLib>& lib;
        ~ReleaseLibrary() { lib.Reset(); }
    } release{FTypeLib};

    AddRecentFile(path);
    ResetSearchWindow();

    lvTypeLib->setUpdatesEnabled(false);
    lvTypeLib->clear();
    QList<QTreeWidgetItem*> info;
    BStr name, doc;
    if (SUCCEEDED(FTypeLib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr))) {
        if (!name.IsNull()) lvTypeLib->headerItem()->setText(1, BstrToQString(name.Get()));
        info << new QTreeWidgetItem(QStringList{QStringLiteral("Description"), BstrToQString(doc.Get())});
    }
    info << new QTreeWidgetItem(
        QStringList{QStringLiteral("File"), QString::fromStdU16String(PathDisplayText(path.toStdU16String()))});
    lvTypeLib->headerItem()->setText(0, QStringLiteral("Name"));
    LibAttrPtr attr;
    if (SUCCEEDED(FTypeLib->GetLibAttr(attr.Put(FTypeLib.Get()))) && attr)
        info << new QTreeWidgetItem(QStringList{QStringLiteral("Guid"), QString::fromStdString(GuidToString(attr->guid))});
    attr.Reset();
    lvTypeLib->addTopLevelItems(info);
    lvTypeLib->setUpdatesEnabled(true);

    ClearHistoryWindow();
    FExternalTypes.clear();
    FExternalLibraries.clear();
    FEventInterfaces.clear();
    txtDoc->Clear();
    ListClasses();
    // Said once per opening: the types of an import that was not found show as unknown.
    QStringList missing;
    for (const MissingImport& m : MissingImports(FTypeLib.Get()))
        missing << QString::fromStdString(MissingImportText(QString::fromStdU16String(PathDisplayText(wide)).toStdString(), m));
    if (!missing.isEmpty()) ShowNotice(missing.join(QLatin1Char('\n')), this);
}

bool TMainForm::IsExternalTypeKnown(const QString& qualifiedName) const {
    return FExternalTypes.count(qualifiedName) != 0;
}

void TMainForm::RegisterExternalType(const QString& qualifiedName, const QString& libraryPath) {
    auto it = FExternalTypes.find(qualifiedName);
    if (it != FExternalTypes.end()) {
        FExternalLibraries[it->second] = libraryPath;
        return;
    }
    FExternalLibraries << libraryPath;
    FExternalTypes.emplace(qualifiedName, int(FExternalLibraries.size() - 1));
}
