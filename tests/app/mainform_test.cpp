// The main window driven as a person would: opening libraries, the class and member lists,
// the descriptions in the documentation pane, and the command line.
#include "appenv.h"

#include "app/application.h"
#include "app/notice.h"
#include "app/docpane.h"
#include "platform/registry/registry.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

const QStringList kTestClasses = {"Canvas", "Panel", "ThingHolder", "DCanvasEvents", "DPanel", "DPanelEvents",
                                  "IDerivedThing", "IShapes", "IShapes2", "Direction", "Bounds", "Shape",
                                  "Handle32", "OldHandle", "Rect", "Tint"};

QStringList InfoRows(TMainForm* f) {
    QStringList rows;
    QTreeWidgetItem* h = f->lvTypeLib->headerItem();
    rows << h->text(0) + "|" + h->text(1);
    for (int i = 0; i < f->lvTypeLib->topLevelItemCount(); ++i)
        rows << f->lvTypeLib->topLevelItem(i)->text(0) + "|" + f->lvTypeLib->topLevelItem(i)->text(1);
    return rows;
}

QString Selected(QTreeWidget* list) {
    auto rows = list->selectedItems();
    return rows.isEmpty() ? QString() : rows.first()->text(0);
}

// Selects class, then member, and returns the pane.
QString Describe(TWindow& w, const QString& cls, const QString& member = QString()) {
    if (!Select(w->lvClasses, cls)) return "no class " + cls;
    if (!member.isEmpty() && !Select(w->lvMembers, member)) return "no member " + member;
    return Pane(w.form.get());
}

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

}  // namespace

TEST(MainWindow, OpensALibrary) {
    TWindow w;
    EXPECT_EQ(InfoRows(w.form.get()), QStringList({"|"}));  // empty headers, no rows
    const QString path = Fixture("QuibrelTest.tlb");
    w->OpenTypeLib(path);
    EXPECT_EQ(InfoRows(w.form.get()),
              QStringList({"Name|QuibrelTest", QString::fromUtf8("Description|Quibrel test library: \"every\" construct, Größe"),
                           "File|" + path, "Guid|{7A0C5E00-1F2B-4C3D-8E9F-000000200000}"}));
    EXPECT_EQ(Captions(w->lvClasses), kTestClasses);
    // The first class is selected and shown.
    EXPECT_EQ(Selected(w->lvClasses), "Canvas");
    EXPECT_EQ(Captions(w->lvMembers), QStringList({"DCanvasEvents", "DPanelEvents", "IShapes2"}));
    EXPECT_EQ(Pane(w.form.get()), "CoClass Canvas");
    EXPECT_EQ(w->FEventInterfaces, TNameSet({"DCanvasEvents", "DPanelEvents"}));
    EXPECT_TRUE(w->IsEventInterface("dpanelEVENTS"));
    EXPECT_FALSE(w->IsEventInterface("DPanel"));
    EXPECT_TRUE(w.messages.isEmpty());
}

TEST(MainWindow, FailedOpenLeavesEverythingAsItWas) {
    TWindow w;
    w->OpenTypeLib(Fixture("QuibrelTest.tlb"));
    ASSERT_EQ(Describe(w, "IShapes", "Item"), "Property Item(position As Long) As Object\nread-only");
    const QStringList info = InfoRows(w.form.get());
    const QStringList members = Captions(w->lvMembers);

    for (const QString& bad : {QStringLiteral(APP_SOURCE_DIR "/AppCases.idl"), AppFixture("missing.tlb")}) {
        try {
            w->OpenTypeLibWithHourglass(bad);
            ADD_FAILURE() << "opened " << bad.toStdString();
        } catch (const EBrowserError& e) {
            EXPECT_FALSE(e.Message().isEmpty());
            EXPECT_FALSE(e.Message().endsWith('.')) << e.Message().toStdString();
            EXPECT_TRUE(ErrorBoxText(e.Message()).endsWith('.'));
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the hourglass is gone again
        EXPECT_EQ(InfoRows(w.form.get()), info);
        EXPECT_EQ(Captions(w->lvClasses), kTestClasses);
        EXPECT_EQ(Selected(w->lvClasses), "IShapes");
        EXPECT_EQ(Captions(w->lvMembers), members);
        EXPECT_EQ(Selected(w->lvMembers), "Item");
        EXPECT_EQ(Pane(w.form.get()), "Property Item(position As Long) As Object\nread-only");
    }
    // The library stays fully usable.
    EXPECT_EQ(Describe(w, "Direction", "dirDown"), "Const dirDown = -1");
}

TEST(MainWindow, CommandLine) {
    const QString lib = Fixture("QuibrelTest.tlb");
    {
        TWindow w({lib, "dpanel", "HEIGHT"});
        EXPECT_EQ(Selected(w->lvClasses), "DPanel");
        EXPECT_EQ(Selected(w->lvMembers), "Height");
        EXPECT_EQ(Pane(w.form.get()), "Property Height As Long");
    }
    {
        TWindow w({lib, "IShapes2"});
        EXPECT_EQ(Selected(w->lvClasses), "IShapes2");
        EXPECT_TRUE(Captions(w->lvMembers).contains("Rotate"));
        EXPECT_EQ(Selected(w->lvMembers), "");
    }
    {
        TWindow w({lib, "IShapes2", "Rotate", "extra"});  // four arguments: only the file counts
        EXPECT_EQ(Selected(w->lvClasses), "Canvas");
    }
    {
        TWindow w({AppFixture("missing.tlb"), "Canvas"});  // no such file: nothing, and no message
        EXPECT_EQ(w->lvClasses->topLevelItemCount(), 0);
        EXPECT_TRUE(w.messages.isEmpty());
    }
    {
        TWindow w({QStringLiteral(APP_SOURCE_DIR "/AppCases.idl"), "Canvas", "x"});  // not a library
        ASSERT_EQ(w.messages.size(), 1);
        EXPECT_TRUE(w.messages[0].endsWith('.'));
        EXPECT_EQ(w->lvClasses->topLevelItemCount(), 0);
        EXPECT_EQ(InfoRows(w.form.get()), QStringList({"|"}));
    }
}

TEST(MainWindow, SortOrderAndEmptyTypes) {
    TWindow w({AppFixture("AppCases.tlb")});
    EXPECT_EQ(Captions(w->lvClasses), QStringList({"Maker", "DLateEvents", "DNames", "DProps", "alpha", "Beta",
                                                   "Empty", "Zed", "_Under", "NoFields"}));
    ASSERT_TRUE(Select(w->lvClasses, "DProps"));
    EXPECT_EQ(Captions(w->lvMembers), QStringList({"Deep", "GetOnly", "PutFirst", "PutOnly", "PutTwo", "RefProp",
                                                   "NoNames", "Quiet", "Several", "Tucked", "Vary"}));
    EXPECT_EQ(Describe(w, "Empty"), "Enumeration Empty");
    EXPECT_EQ(w->lvMembers->topLevelItemCount(), 0);
    EXPECT_EQ(Describe(w, "NoFields"), "Record NoFields");
    EXPECT_EQ(w->lvMembers->topLevelItemCount(), 0);
}

TEST(MainWindow, HiddenMethodNamesAndEventInterfacesInAnyLetterCase) {
    TWindow w({AppFixture("AppCases.tlb")});
    // The event interface comes after the coclass that names it as its source.
    EXPECT_EQ(w->FEventInterfaces, TNameSet({"DLateEvents"}));
    EXPECT_EQ(Describe(w, "DLateEvents"),
              "Event Interface DLateEvents\nCreate an<Event Template>based on this interface ");
    EXPECT_TRUE(w->MembersHaveCheckBoxes());
    // "invoke" is hidden, the property accessor is no event.
    EXPECT_EQ(Captions(w->lvMembers), QStringList({"Finished", "Started"}));
    for (int i = 0; i < w->lvMembers->topLevelItemCount(); ++i) {
        EXPECT_TRUE(w->MemberRow(i)->Checked());
        EXPECT_EQ(w->MemberRow(i)->Flags, mfEvent);
    }
    EXPECT_EQ(Describe(w, "DLateEvents", "Finished"), "Event Finished(code As Long) ");

    // The seven IUnknown and IDispatch names, spelt every which way, are never listed.
    EXPECT_EQ(Describe(w, "DNames"), "Interface DNames");
    EXPECT_FALSE(w->MembersHaveCheckBoxes());
    EXPECT_EQ(Captions(w->lvMembers), QStringList({"Plain", "Kept"}));
    EXPECT_EQ(w->MemberRow(0)->data(0, Qt::CheckStateRole), QVariant());  // no check box
}

TEST(MainWindow, PropertiesMethodsAndTheirLines) {
    TWindow w({AppFixture("AppCases.tlb"), "DProps"});
    EXPECT_EQ(Describe(w, "DProps", "GetOnly"), "Property GetOnly As Long\nread-only");
    EXPECT_EQ(Describe(w, "DProps", "PutOnly"), "Property PutOnly As Long\nwrite-only");
    EXPECT_EQ(Describe(w, "DProps", "PutTwo"), "Property PutTwo(Index As Long) As String\nwrite-only");
    EXPECT_EQ(Describe(w, "DProps", "RefProp"), "Property RefProp As Object");  // get + putref: no line
    // Put met first: its signature, and one row for both accessors.
    EXPECT_EQ(Describe(w, "DProps", "PutFirst"), "Property PutFirst(Index As Long) As Double");
    EXPECT_EQ(w->SelectedMemberRow()->Flags, mfGet | mfPut);
    EXPECT_EQ(w->SelectedMemberRow()->DataWord(), (6u << 16) | 5u);
    EXPECT_EQ(Describe(w, "DProps", "Deep"), "Property Deep As Long\nread-only");  // pointer to pointer
    EXPECT_EQ(Describe(w, "DProps", "Several"), "Function Several() As Array of Variant");
    EXPECT_EQ(Describe(w, "DProps", "Vary"), "Function Vary(Plain, [maybe], out count As Long) As Variant");
    EXPECT_EQ(Describe(w, "DProps", "Quiet"), "Sub Quiet() ");
    QStringList ghosted;
    for (int i = 0; i < w->lvMembers->topLevelItemCount(); ++i)
        if (w->MemberRow(i)->Ghosted) ghosted << w->MemberRow(i)->Caption();
    EXPECT_EQ(ghosted, QStringList({"Quiet", "Tucked"}));
    // A dimmed row is drawn in the disabled text colour.
    TMemberRow* quiet = w->MemberRow(w->lvMembers->topLevelItemCount() - 4);
    ASSERT_EQ(quiet->Caption(), "Quiet");
    EXPECT_EQ(quiet->foreground(0).color(), w->lvMembers->palette().color(QPalette::Disabled, QPalette::Text));
}

TEST(MainWindow, CoClassesProgIdsAndAliases) {
    EnsureTestApp();
    WriteClassesValue("CLSID\\{7A0C5E00-1F2B-4C3D-8E9F-000000200012}\\ProgID", "Quibrel.Canvas.1");
    WriteClassesValue("CLSID\\{7A0C5E00-1F2B-4C3D-8E9F-000000200013}\\ProgID", "");
    TWindow w({Fixture("QuibrelTest.tlb")});
    EXPECT_EQ(Pane(w.form.get()), "CoClass Canvas\nProgrammatic ID \"Quibrel.Canvas.1\"");
    EXPECT_EQ(Describe(w, "Panel"), "CoClass Panel\nProgrammatic ID \"\"");
    EXPECT_EQ(Describe(w, "ThingHolder"), "CoClass ThingHolder");
    EXPECT_EQ(Describe(w, "Canvas", "DCanvasEvents"), "Interface<DCanvasEvents>\nDefault Event Interface for CoClass Canvas");
    EXPECT_EQ(Describe(w, "Canvas", "DPanelEvents"), "Interface<DPanelEvents>\nEvent Interface for CoClass Canvas");
    EXPECT_EQ(Describe(w, "Canvas", "IShapes2"), "Interface<IShapes2>\nDefault Interface for CoClass Canvas");
    // An alias has no members and no check boxes.
    EXPECT_EQ(Describe(w, "OldHandle"), "Alias OldHandle As<Handle32>");
    EXPECT_EQ(w->lvMembers->topLevelItemCount(), 0);
    EXPECT_FALSE(w->MembersHaveCheckBoxes());
    EXPECT_EQ(Describe(w, "Shape", "Matrix"), "Field Matrix As Array(0 to 1,0 to 2) of Double");
    EXPECT_EQ(Describe(w, "Direction", "dirBack"), "Const dirBack = -2147483648");
}

TEST(MainWindow, TypesOfOtherLibraries) {
    // QuibrelShared is not registered. Beside the library, it is loaded by the file name
    // recorded for it, which makes it known to the registry lookup as on the platform: its
    // types are qualified with the file it was loaded from.
    const QString shared = Fixture("QuibrelShared.tlb");
    TWindow w({Fixture("QuibrelTest.tlb")});
    EXPECT_EQ(Describe(w, "IShapes", "Place"), "Sub Place(spot As<QuibrelShared.SharedPoint>, [depth As Integer]) ");
    EXPECT_EQ(Describe(w, "Tint"), "Alias Tint As<QuibrelShared.SharedColour>");
    EXPECT_EQ(Describe(w, "Shape", "Origin"), "Field Origin As<QuibrelShared.SharedPoint>");  // met again
    ASSERT_EQ(w->FExternalTypes.size(), 2u);
    EXPECT_EQ(w->FExternalLibraries, QStringList({shared, shared}));
    EXPECT_TRUE(w->IsExternalTypeKnown("quibrelshared.sharedpoint"));
    EXPECT_EQ(w->FExternalLibraries[w->FExternalTypes.at("QuibrelShared.SharedColour")], shared);

    // A registration names another file: that one is used.
    QTemporaryDir dir;
    const QString registered = dir.filePath("Shared Copy.tlb");
    ASSERT_TRUE(QFile::copy(shared, registered));
    WriteClassesValue("TypeLib\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}\\1.2\\409\\win64", registered.toStdString());
    w->OpenTypeLib(Fixture("QuibrelTest.tlb"));
    EXPECT_EQ(Describe(w, "Tint"), "Alias Tint As<Shared Copy.SharedColour>");
    EXPECT_EQ(w->FExternalLibraries, QStringList({registered}));

    // Opening a library (the same one too) forgets them.
    w->OpenTypeLib(Fixture("QuibrelTest.tlb"));
    EXPECT_TRUE(w->FExternalTypes.empty());
    EXPECT_TRUE(w->FExternalLibraries.isEmpty());
    RegDeleteTree(HKEY_CLASSES_ROOT, "TypeLib\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}");
}

TEST(MainWindow, FocusSwitchesBetweenClassAndMemberText) {
    TWindow w({Fixture("QuibrelTest.tlb"), "IShapes", "Scale"});
    EXPECT_EQ(Pane(w.form.get()), "Property Scale As Double\nwrite-only");
    w->lvClassesEnter();
    EXPECT_EQ(Pane(w.form.get()), "Interface IShapes");
    w->lvMembersEnter();
    EXPECT_EQ(Pane(w.form.get()), "Property Scale As Double\nwrite-only");
    // Moving the class selection to nothing empties both.
    w->lvClasses->clearSelection();
    EXPECT_EQ(w->lvMembers->topLevelItemCount(), 0);
    EXPECT_EQ(Pane(w.form.get()), "");
}

TEST(MainWindow, ClassRowsReleaseTheirTypesExactlyOnce) {
    // The types of a library share its reference count, so the count seen through one type
    // is ours plus one per class row.
    const ULONG rows = ULONG(kTestClasses.size());
    ComPtr<ITypeInfo> first;
    {
        TWindow w({Fixture("QuibrelTest.tlb")});
        first = w->ClassRow(0)->TypeInfo;
        ASSERT_EQ(RefCount(first.Get()), 1 + rows);
        // Another library replaces the rows: each gives up its reference once.
        w->OpenTypeLib(AppFixture("AppCases.tlb"));
        EXPECT_EQ(RefCount(first.Get()), 1u);

        w->OpenTypeLib(Fixture("QuibrelTest.tlb"));
        first = w->ClassRow(0)->TypeInfo;
        ASSERT_EQ(RefCount(first.Get()), 1 + rows);
    }
    // Closing the window releases the rows once more, and only once.
    EXPECT_EQ(RefCount(first.Get()), 1u);
}

TEST(MainWindow, MemberIndexKeepsItsFullValue) {
    // The data word keeps 16 bits of the index; the description reads the full one.
    TMemberRow row("Far", eiMethod, 0x10003, mfMethod);
    EXPECT_EQ(row.DataWord(), (1u << 16) | 3u);
    EXPECT_EQ(row.Index, 0x10003);
}

namespace {

// An import found nowhere is said once when the library opens, and the panes stay as they are;
// the OLE Automation library that ships with the program stands in for a missing stdole2.tlb.
TEST(MainWindow, AnImportNotFoundIsSaidOnceWhenTheLibraryOpens) {
    QStringList notices;
    NoticeSink() = [&](const QString& text) { notices << text; };
    const QByteArray before = qgetenv("QUIBREL_DATA_DIR");
    qputenv("QUIBREL_DATA_DIR", QTemporaryDir().path().toUtf8());  // no shipped libraries
    {
        TWindow w({Fixture("QuibrelEvents.tlb")});
        for (int i = 0; i < w->lvClasses->topLevelItemCount(); ++i) w->lvClasses->setCurrentItem(w->lvClasses->topLevelItem(i));
        ASSERT_EQ(notices.size(), 1);
        EXPECT_EQ(notices[0], Fixture("QuibrelEvents.tlb") +
                                  " imports stdole2.tlb {00020430-0000-0000-C000-000000000046} 2.0, which was not "
                                  "found; its types show as ?");
        EXPECT_TRUE(w.messages.isEmpty());
        EXPECT_EQ(InfoRows(w.form.get()).size(), 4);

        qputenv("QUIBREL_DATA_DIR", QByteArray(QUIBREL_BINARY_DIR "/share/quibrel"));
        notices.clear();
        w->OpenTypeLib(Fixture("QuibrelEvents.tlb"));
        EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();
    }
    if (before.isNull()) qunsetenv("QUIBREL_DATA_DIR");
    else qputenv("QUIBREL_DATA_DIR", before);
    NoticeSink() = nullptr;
}

}  // namespace
