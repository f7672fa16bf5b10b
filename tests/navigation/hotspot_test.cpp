// Following hot spots in the documentation pane: classes of the open library, the event
// template, and types of other libraries opened in a second copy.
#include "navenv.h"

#include "platform/registry/registry.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

namespace {

// The one application of the test program.
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NavigationEnvironment);

struct Started {
    QString program;
    QStringList arguments;
};

class HotSpotTest : public NavigationTest {
protected:
    void SetUp() override {
        NavigationTest::SetUp();
        form_->FStartProgram = [this](const QString& program, const QStringList& arguments) {
            started_.push_back({program, arguments});
            return true;
        };
    }

    // Runs a hot-spot click that should open the save dialog; returns the file name the
    // dialog proposed, or "" when no dialog came up. The dialog is cancelled.
    QString SaveDialogFor(const std::function<void()>& click) {
        QString proposed;
        QTimer::singleShot(0, [&] {
            if (!form_->dlgSave->isVisible()) return;
            proposed = QFileInfo(form_->dlgSave->selectedFiles().value(0)).fileName();
            form_->dlgSave->reject();
        });
        click();
        QCoreApplication::processEvents();
        return proposed;
    }

    std::vector<Started> started_;
};

}  // namespace

TEST_F(HotSpotTest, ClassNameRecordsThePlaceWithItsMemberAndSelectsTheClass) {
    SelectClass("Canvas");
    SelectMember("DPanelEvents");
    const int canvas = ClassIndex("Canvas");
    const int member = MemberIndex("DPanelEvents");
    ASSERT_GT(member, 0) << "the member row must not be the first, to see the high half";

    ASSERT_TRUE(ClickHotSpot("DPanelEvents")) << Form().txtDoc->Text().toStdString();
    EXPECT_EQ(SelectedClass(), "DPanelEvents");
    EXPECT_EQ(FocusName(), "lvClasses");
    EXPECT_TRUE(Form().txtDoc->Text().startsWith("Event Interface DPanelEvents")) << "the class's documentation";
    ASSERT_EQ(history_->Count(), 1);
    const HistoryEntry entry = history_->Entry(0);
    EXPECT_EQ(entry.Text, "Canvas.DPanelEvents");
    EXPECT_EQ(entry.DataWord(), quint32(canvas) | (quint32(member) << 16));
    EXPECT_EQ(history_->SelectedRow(), -1);

    // A class without a selected member: the class alone, member index 0.
    SelectClass("Rect");
    ASSERT_TRUE(ClickHotSpot("Bounds")) << Form().txtDoc->Text().toStdString();
    EXPECT_EQ(SelectedClass(), "Bounds");
    EXPECT_EQ(HistoryTexts(), QStringList({"Rect", "Canvas.DPanelEvents"}));
    EXPECT_EQ(history_->Entry(0).DataWord(), quint32(ClassIndex("Rect")));
}

TEST_F(HotSpotTest, UnknownOrMiscasedNameRecordsThePlaceButSelectsNothing) {
    SelectClass("Canvas");
    SelectMember("IShapes2");
    Form().txtDocHotSpotClick("NoSuchClass");
    EXPECT_EQ(HistoryTexts(), QStringList{"Canvas.IShapes2"});
    EXPECT_EQ(SelectedClass(), "Canvas");
    EXPECT_EQ(SelectedMember(), "IShapes2");

    Form().txtDocHotSpotClick("bounds");  // letter case counts here
    EXPECT_EQ(SelectedClass(), "Canvas");
    EXPECT_EQ(HistoryTexts(), QStringList{"Canvas.IShapes2"});
    EXPECT_TRUE(started_.empty());
}

TEST_F(HotSpotTest, HistoryIsNewestFirstWithoutDuplicatesInAnyLetterCase) {
    for (const char* name : {"Rect", "Panel", "Canvas"}) {
        SelectClass(name);
        Form().RecordHistory();
    }
    EXPECT_EQ(HistoryTexts(), QStringList({"Canvas", "Panel", "Rect"}));
    EXPECT_EQ(history_->SelectedRow(), -1);

    // Recording the newest place again changes nothing and leaves that line selected.
    Form().RecordHistory();
    EXPECT_EQ(HistoryTexts(), QStringList({"Canvas", "Panel", "Rect"}));
    EXPECT_EQ(history_->SelectedRow(), 0);

    // An older place moves to the top, whatever the letter case of its line, and keeps the
    // line as it was first recorded.
    history_->Insert(3, {"BOUNDS", 7, 9});
    SelectClass("Bounds");
    Form().RecordHistory();
    EXPECT_EQ(HistoryTexts(), QStringList({"BOUNDS", "Canvas", "Panel", "Rect"}));
    EXPECT_EQ(history_->Entry(0).DataWord(), 7u | (9u << 16));
    EXPECT_EQ(history_->SelectedRow(), -1);
    SelectClass("Rect");
    Form().RecordHistory();
    EXPECT_EQ(HistoryTexts(), QStringList({"Rect", "BOUNDS", "Canvas", "Panel"}));

    // Opening a library, also the same one, empties the history.
    Form().OpenTypeLib(Fixture("QuibrelTest.tlb"));
    EXPECT_EQ(history_->Count(), 0);
}

TEST_F(HotSpotTest, EventTemplateInAnyLetterCaseSavesTheSelectedInterface) {
    SelectClass("DCanvasEvents");
    EXPECT_EQ(SaveDialogFor([&] { ASSERT_TRUE(ClickHotSpot("Event Template")); }), "DCanvasEvents.qbc");
    SelectClass("DPanelEvents");
    EXPECT_EQ(SaveDialogFor([&] { Form().txtDocHotSpotClick("event template"); }), "DPanelEvents.qbc");
    EXPECT_EQ(SaveDialogFor([&] { Form().txtDocHotSpotClick("EVENT TEMPLATE"); }), "DPanelEvents.qbc");
    EXPECT_EQ(history_->Count(), 0);
    EXPECT_EQ(SelectedClass(), "DPanelEvents");
}

TEST_F(HotSpotTest, QualifiedNameThatWasNeverRegisteredDoesNothing) {
    SelectClass("Canvas");
    Form().txtDocHotSpotClick("QuibrelShared.SharedPoint");
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(history_->Count(), 0);
    EXPECT_EQ(SelectedClass(), "Canvas");
}

TEST_F(HotSpotTest, TypeOfAnotherLibraryStartsASecondCopyWithTwoArguments) {
    // The shared library registered from a folder with blanks, under a name with full stops.
    QTemporaryDir dir;
    const QString folder = dir.filePath("shared libs/v 2");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString library = folder + "/Quibrel Shared.v2.tlb";
    ASSERT_TRUE(QFile::copy(Fixture("QuibrelShared.tlb"), library));
    {
        ScopedHKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{7A0C5E00-1F2B-4C3D-8E9F-000000100000}\\1.2\\409\\win64",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegWriteString(key.Get(), nullptr, library.toStdString()), ERROR_SUCCESS);
    }

    SelectClass("IShapes");
    SelectMember("Place");
    const QString text = Form().txtDoc->Text();
    ASSERT_TRUE(text.contains("<Quibrel Shared.v2.SharedPoint>")) << text.toStdString();
    ASSERT_TRUE(ClickHotSpot("Quibrel Shared.v2.SharedPoint"));
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].program, QCoreApplication::applicationFilePath());
    EXPECT_EQ(started_[0].arguments, QStringList({library, "SharedPoint"}));
    // This copy stays where it was.
    EXPECT_EQ(SelectedClass(), "IShapes");
    EXPECT_EQ(SelectedMember(), "Place");
    EXPECT_EQ(history_->Count(), 0);

    // The table is looked up ignoring letter case.
    Form().txtDocHotSpotClick("quibrel shared.V2.SharedPoint");
    ASSERT_EQ(started_.size(), 2u);
    EXPECT_EQ(started_[1].arguments, QStringList({library, "SharedPoint"}));

    // A path that would read as an option reaches the second copy as a path.
    Form().RegisterExternalType("-odd.Thing", "-odd.tlb");
    Form().txtDocHotSpotClick("-odd.Thing");
    ASSERT_EQ(started_.size(), 3u);
    EXPECT_EQ(started_[2].arguments, QStringList({"./-odd.tlb", "Thing"}));
}

// An imported library that the service found beside its importer by the recorded file name is
// known to the registry lookup from then on: its types are qualified, and the hot spot starts
// the second copy on that file.
TEST_F(HotSpotTest, ImportFoundBesideTheLibraryIsQualifiedAndStartsTheSecondCopyOnIt) {
    SelectClass("IShapes");
    SelectMember("Place");
    ASSERT_TRUE(ClickHotSpot("QuibrelShared.SharedPoint")) << Form().txtDoc->Text().toStdString();
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].arguments, QStringList({Fixture("QuibrelShared.tlb"), "SharedPoint"}));
}

// The same with real libraries: msvbvm60.dll.3 imports msdatsrc.tlb, which lies beside it.
TEST_F(HotSpotTest, RealImportFoundBesideIsQualified) {
    const QString files = QStringLiteral(QUIBREL_TYPELIBS_DIR "/files");
    if (!QFile::exists(files + "/msvbvm60.dll.3") || !QFile::exists(files + "/msdatsrc.tlb"))
        GTEST_SKIP() << "no real-world type libraries at " << files.toStdString() << ", skipped";
    Form().OpenTypeLib(files + "/msvbvm60.dll.3");
    SelectClass("DataBinding");
    SelectMember("DataMember");
    EXPECT_EQ(Form().txtDoc->Text(), "Property DataMember As<msdatsrc.DataMember>");
    ASSERT_TRUE(ClickHotSpot("msdatsrc.DataMember"));
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0].arguments, QStringList({files + "/msdatsrc.tlb", "DataMember"}));
}

TEST_F(HotSpotTest, SecondCopyReallyReceivesPathsWithBlanksAndQuotesIntact) {
    // A stand-in program in a folder with blanks writes down the arguments it was given.
    QTemporaryDir dir;
    const QString programDir = dir.filePath("Program Files/Quibrel Browser");
    ASSERT_TRUE(QDir().mkpath(programDir));
    const QString program = programDir + "/quibrel browser";
    const QString record = dir.filePath("arguments.txt");
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } > \"$0.tmp\" && mv \"$0.tmp\" \"" +
                     record.toUtf8() + "\"\n");
    }
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString library = dir.filePath("It's a \"quoted\" folder/$HOME & more.v1.tlb");
    Form().FStartProgram = nullptr;
    Form().FProgramPath = program;
    Form().RegisterExternalType("$HOME & more.v1.Widget", library);
    Form().txtDocHotSpotClick("$HOME & more.v1.Widget");

    const QDeadlineTimer deadline(20000);
    while (!QFile::exists(record) && !deadline.hasExpired()) QThread::msleep(20);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the program was not started";
    EXPECT_EQ(QString::fromUtf8(file.readAll()), "2\n" + library + "\nWidget\n");
}

TEST_F(HotSpotTest, SelectByNamesIgnoresLetterCaseAndLeavesFocusAndHistory) {
    Form().txtDoc->Widget()->setFocus();
    QWidget* focus = QApplication::focusWidget();
    Form().SelectByNames("ishapes", "PLACE");
    EXPECT_EQ(SelectedClass(), "IShapes");
    EXPECT_EQ(SelectedMember(), "Place");
    EXPECT_EQ(QApplication::focusWidget(), focus);
    EXPECT_EQ(history_->Count(), 0);

    // An unknown class changes nothing, and then the member is not looked for.
    Form().SelectByNames("Nothing", "Count");
    EXPECT_EQ(SelectedClass(), "IShapes");
    EXPECT_EQ(SelectedMember(), "Place");
}

// The keyboard: Tab goes from the member list into the pane, onto its first hot spot and on
// from hot spot to hot spot, then out of the pane; Enter follows the one reached, as a click
// does. Home and End in the lists select, as the arrows do.
TEST_F(HotSpotTest, TabReachesHotSpotsEnterFollowsThemAndHomeEndSelect) {
    SelectClass("IShapes");
    SelectMember("Blend");
    form_->lvMembers->setFocus(Qt::OtherFocusReason);
    QWidget* pane = form_->txtDoc->Widget();
    QTest::keyClick(form_->lvMembers, Qt::Key_Tab);
    EXPECT_EQ(FocusName(), "txtDoc");
    // (How the imported type is qualified depends on where its library was found.)
    const QString first = form_->txtDoc->CurrentHotSpot();
    EXPECT_TRUE(first.endsWith(".SharedColour")) << form_->txtDoc->Text().toStdString();
    QTest::keyClick(pane, Qt::Key_Tab);
    EXPECT_EQ(form_->txtDoc->CurrentHotSpot(), "Tint");
    QTest::keyClick(pane, Qt::Key_Backtab);
    EXPECT_EQ(form_->txtDoc->CurrentHotSpot(), first);
    // Past the last hot spot Tab leaves the pane.
    for (int i = 0; i < 3; ++i) QTest::keyClick(pane, Qt::Key_Tab);
    EXPECT_NE(FocusName(), "txtDoc");

    // Enter follows the hot spot reached, as a click does.
    SelectClass("Canvas");
    SelectMember("DPanelEvents");
    form_->lvMembers->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(form_->lvMembers, Qt::Key_Tab);
    ASSERT_EQ(form_->txtDoc->CurrentHotSpot(), "DPanelEvents") << form_->txtDoc->Text().toStdString();
    QTest::keyClick(pane, Qt::Key_Return);
    EXPECT_EQ(SelectedClass(), "DPanelEvents");
    EXPECT_EQ(HistoryTexts(), QStringList({"Canvas.DPanelEvents"}));

    // The first member row of a freshly listed class is current but not selected: Home selects it.
    SelectClass("IShapes");
    ASSERT_GT(form_->lvMembers->topLevelItemCount(), 1);
    form_->lvMembers->setFocus(Qt::OtherFocusReason);
    form_->lvMembers->clearSelection();
    form_->lvMembers->setCurrentItem(form_->lvMembers->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    QTest::keyClick(form_->lvMembers, Qt::Key_Home);
    EXPECT_EQ(SelectedMember(), form_->lvMembers->topLevelItem(0)->text(0));
    QTest::keyClick(form_->lvMembers, Qt::Key_End);
    const int n = form_->lvMembers->topLevelItemCount();
    EXPECT_EQ(SelectedMember(), form_->lvMembers->topLevelItem(n - 1)->text(0));
}
