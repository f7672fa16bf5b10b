// app/: the main window, the application object and the documentation pane (window code;
// what reads a library and writes text lives in text/, writers/ and index/).
//
// TMainForm: the browser's main window. It owns the browsing state (the open library's class
// and member rows, the event-interface and hidden-method sets, the table of types of other
// libraries), the documentation pane, the icons and the menus.
//
// The implementation is split by concern: mainform.cpp (window, start-up, open commands,
// shutdown), mainform_lists.cpp (class and member lists), mainform_doc.cpp (descriptions and
// the documentation pane), mainform_nav.cpp (hot spots, history, selecting by name),
// mainform_edit.cpp (the Edit and pop-up menu commands, the search and legend commands).
#pragma once

#include "text/typetext.h"

#include <QMainWindow>
#include <QStringList>
#include <QTreeWidgetItem>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

class QAction;
class QEvent;
class QFileDialog;
class QGroupBox;
class QKeyEvent;
class QMenu;
class QMenuBar;
class QTreeWidget;
class TDocPane;
class TMRUFileList;

namespace Ui {
class TMainForm;
}

// Orders names ignoring letter case (the sets and tables of the main window).
struct CaseInsensitiveLess {
    bool operator()(const QString& a, const QString& b) const {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }
};
using TNameSet = std::set<QString, CaseInsensitiveLess>;

// One row of lvClasses. It owns one counted reference to its type; the reference is given up
// when the row is deleted, by whatever deletes it, and only once.
class TClassRow : public QTreeWidgetItem {
public:
    TClassRow(const QString& caption, EntityIcon icon, ComPtr<ITypeInfo> typeInfo);
    QString Caption() const { return text(0); }

    EntityIcon Icon;
    ComPtr<ITypeInfo> TypeInfo;
};

// One row of lvMembers. The data word packs the index (low 16 bits) and the flags (high 16
// bits); the full index is kept beside it so that a member past 65535 is still found.
class TMemberRow : public QTreeWidgetItem {
public:
    TMemberRow(const QString& caption, EntityIcon icon, int index, quint16 flags);
    QString Caption() const { return text(0); }
    quint32 DataWord() const { return quint32(Index & 0xFFFF) | (quint32(Flags) << 16); }
    bool Checked() const { return checkState(0) == Qt::Checked; }

    EntityIcon Icon;
    int Index;
    quint16 Flags;
    bool Ghosted = false;
};

// Member flags.
enum : quint16 {
    mfMethod = 1,
    mfGet = 2,
    mfPut = 4,
    mfPutRef = 8,
    mfEvent = 16,
};

class TMainForm : public QMainWindow, public ExternalTypeRegistry {
    Q_OBJECT

public:
    // Builds the window and runs FormCreate with the command-line arguments (library file,
    // class name, member name; the program's own name not included).
    // Whether the window reads the user's recent-file list and writes it back when it goes away.
    enum class TRecentFiles { Kept, Untouched };
    explicit TMainForm(const QStringList& arguments = QStringList(), QWidget* parent = nullptr,
                       TRecentFiles recentFiles = TRecentFiles::Kept);
    ~TMainForm() override;

    // ---- components ----------------------------------------------------------------------
    QMenuBar* mnuMain;
    QMenu *miFile, *miEdit, *miView;
    QAction *miOpen, *miOpenFile, *miResolve, *miExit;
    QAction *miCopy, *miCopyAll, *miSearch;
    QAction *miHistory, *miLegend, *miIdl;
    QAction* miResizable = nullptr;  // View menu, last (mainform_window.cpp)
    QAction* miFindInLibraries = nullptr;  // Edit menu, after Search (mainform_find.cpp)
    QAction* miCompare = nullptr;          // File menu: Compare With... (mainform_compare.cpp)
    QGroupBox *gbTypeLib, *gbClasses, *gbEntity;
    QTreeWidget *lvTypeLib, *lvClasses, *lvMembers;
    TDocPane* txtDoc;
    // Pop-up menu of the three lists.
    QMenu* pmEdit;
    QAction *miCopy1, *miCopyAll1, *miSpace, *miCheckAll, *miUncheckAll;
    QFileDialog *dlgOpen, *dlgSave;
    // Recent files, in the "&Reopen" submenu below miOpenFile (mainform_open.cpp).
    TMRUFileList* mruTypeLib = nullptr;
    // The ten list images, indexed by EntityIcon.
    std::array<QIcon, EntityIconCount> ilMain;

    // ---- browsing state ------------------------------------------------------------------
    ComPtr<ITypeLib> FTypeLib;            // only while OpenTypeLib runs
    TNameSet FEventInterfaces;            // source dispatch interfaces of the open library's coclasses
    TNameSet FHiddenMethods;              // IUnknown and IDispatch methods, never listed
    std::map<QString, int, CaseInsensitiveLess> FExternalTypes;  // qualified name -> FExternalLibraries index
    QStringList FExternalLibraries;       // paths of the libraries of FExternalTypes

    // ---- start-up, shutdown, File and View commands (mainform.cpp) -------------------------
    void FormCreate(const QStringList& arguments);
    void FormClose();
    void miOpenClick();       // comes with the registered-library dialog
    void miOpenFileClick();
    void mruTypeLibMRUItemClick(QObject* sender, const QString& fileName);
    void miResolveClick();    // comes with the ProgID dialog
    void miExitClick();
    void miHistoryClick();    // comes with the history window
    void miLegendClick();     // mainform_edit.cpp
    void miIdlClick();        // mainform_edit.cpp
    // Opens a library; throws EBrowserError when it cannot be loaded, leaving everything as it was.
    void OpenTypeLib(const QString& path);
    // OpenTypeLib under the hourglass, for the open commands.
    void OpenTypeLibWithHourglass(const QString& path);

    // ---- the window's size (mainform_window.cpp) --------------------------------------------
    // View > Resizable Window: the window can be resized and maximised, the lists and the
    // documentation pane grow with it; off, it has its documented fixed size. The choice is
    // kept under HKEY_CURRENT_USER.
    void miResizableClick();
    void SetResizableWindow(bool resizable);
    bool ResizableWindow() const { return FResizable; }
    // Home and End in the class and member lists select the first or last row; true when the
    // key was consumed.
    bool ListHomeEnd(QTreeWidget* list, QKeyEvent* event);

    // ---- class and member lists (mainform_lists.cpp) ---------------------------------------
    void ListClasses();
    void CollectEventInterfaces(ITypeInfo* coclass);
    void lvClassesChange(QTreeWidgetItem* item);
    void lvClassesDeletion(QTreeWidgetItem* item);
    void lvClassesEnter();
    void ListCoClassInterfaces(ITypeInfo* ti);
    void ListEvents(ITypeInfo* ti);
    void ListInterfaceMembers(ITypeInfo* ti);
    void ListConstants(ITypeInfo* ti);
    void ListFields(ITypeInfo* ti);
    void lvMembersChange(QTreeWidgetItem* item);
    void lvMembersEnter();
    TClassRow* SelectedClassRow() const;
    TMemberRow* SelectedMemberRow() const;
    TClassRow* ClassRow(int index) const;
    TMemberRow* MemberRow(int index) const;
    // True while the member list shows check boxes (an event interface is selected).
    bool MembersHaveCheckBoxes() const { return FMembersCheckBoxes; }

    // ---- descriptions and the documentation pane (mainform_doc.cpp) -----------------------
    void ShowClassDocumentation();
    void DescribeCoClassInterface(TClassRow* classRow, TMemberRow* memberRow);
    void DescribeInterfaceMember(ITypeInfo* ti, TMemberRow* memberRow);
    void DescribeConstant(ITypeInfo* ti, TMemberRow* memberRow);
    void DescribeField(ITypeInfo* ti, TMemberRow* memberRow);
    bool IsEventInterface(const QString& className) const;
    // Selects every class row named className (letter case ignored) and then every member
    // row named memberName; does not move the focus or record history.
    void SelectByNames(const QString& className, const QString& memberName);
    bool IsExternalTypeKnown(const QString& qualifiedName) const override;
    void RegisterExternalType(const QString& qualifiedName, const QString& libraryPath) override;

    // ---- hot-spot navigation and history (mainform_nav.cpp)
    void txtDocHotSpotClick(const QString& hotSpot);
    void RecordHistory();
    void OpenExternalType(const QString& qualifiedName);
    // How OpenExternalType starts the second copy: program and argument list, no shell. Empty
    // means QProcess::startDetached; tests put a recorder here.
    std::function<bool(const QString& program, const QStringList& arguments)> FStartProgram;
    // The program OpenExternalType starts; empty means the running program.
    QString FProgramPath;

    // ---- edit, search and legend commands (mainform_edit.cpp)
    void miEditClick();
    void miCopyClick();
    void miCopyAllClick();
    void miCheckAllClick();
    void miUncheckAllClick();
    void miSearchClick();
    // Shows the "Find in Libraries" window, made on first use (mainform_find.cpp).
    void miFindInLibrariesClick();
    // Asks for a second library and shows the changes from the open one to it; CompareWith
    // does the same for a given file (mainform_compare.cpp).
    void miCompareClick();
    void CompareWith(const QString& path);
    // The window's active control when it is one of the three lists, else null.
    QTreeWidget* FocusedList() const;
    // Keys of both lists; true when the key was consumed.
    bool lvClassesKeyDown(QKeyEvent* event);
    bool lvMembersKeyPress(QKeyEvent* event);
    void lvMembersDblClick();

    // ---- event template (mainform_template.cpp)
    // Asks for a file, saves the template of an event interface with the checked events and
    // puts the same text on the clipboard; throws when the file cannot be written.
    void SaveEventTemplate(const QString& interfaceName, ITypeInfo* typeInfo);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Tool windows and the recent-file list, when they exist.
    void AddRecentFile(const QString& path);
    void ResetSearchWindow();
    void ClearHistoryWindow();

    void CreateComponents();
    // Sets up mruTypeLib and loads its list (mainform_open.cpp).
    void CreateRecentFileList();
    void ConnectHandlers();
    // Ctrl+C in the lists brings the Edit menu up to date first (mainform_edit.cpp).
    void ConnectEditCommands();
    void CreateFindCommand();
    void CreateWindowCommands();
    // Lays the panes out over the client area: as designed, grown by what the client area has
    // beyond its designed size.
    void LayOutPanes();
    void DeleteMemberRows();
    void DeleteClassRows();
    void AddMemberRow(TMemberRow* row) { FNewMembers.push_back(row); }
    void InsertNewMembers();
    void SelectRow(QTreeWidget* list, QTreeWidgetItem* row);

    std::unique_ptr<Ui::TMainForm> ui;
    TRecentFiles FRecentFiles = TRecentFiles::Kept;
    bool FClassesChangeAttached = true;
    bool FMembersChangeAttached = true;
    bool FMembersCheckBoxes = false;
    bool FClosed = false;
    // The folder of the last saved template: the save dialog starts there again.
    QString FLastSaveFolder;
    // The window's size option, the designed geometry of the panes, and where the window was
    // before it was made resizable.
    bool FResizable = false;
    QSize FDesignedClient;
    std::vector<std::pair<QWidget*, QRect>> FDesigned;
    QPoint FFixedPos;
    bool FFixedPosKnown = false;
    // Rows made by a listing, inserted sorted in one step.
    std::vector<TMemberRow*> FNewMembers;
};

// The main window of the program, when it exists.
extern TMainForm* MainForm;
