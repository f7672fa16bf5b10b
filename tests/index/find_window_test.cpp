// The "Find in Libraries" window: the Edit menu command, building the index in the background,
// results with the list icons, opening a result in the main window, failures, cancelling.
#include "indexenv.h"

#include "app/docpane.h"
#include "app/mainform.h"
#include "dialogs/find.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

class FindWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        qputenv("QUIBREL_CACHE_DIR", (cacheDir.path() + "/cache").toUtf8());
        form_ = std::make_unique<TMainForm>();
        form_->show();
    }
    // The window over the fixture folder only.
    TFindForm* OpenOnFolder() {
        form_->miFindInLibraries->trigger();
        TFindForm* find = FindForm;
        if (!find) return nullptr;
        find->chkRegistered->setChecked(false);
        find->FChooseFolder = [this] { return folder.Path(); };
        find->btnBrowseClick();
        find->WaitForIndex();
        return find;
    }
    void Query(TFindForm* find, const QString& text) {
        find->txtQuery->setText(text);
        find->btnFindClick();
    }
    int ResultRow(TFindForm* find, const QString& cls, const QString& member) {
        for (int i = 0; i < find->lvResults->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = find->lvResults->topLevelItem(i);
            if (row->text(0) == cls && row->text(1) == member) return i;
        }
        return -1;
    }

    QTemporaryDir cacheDir;
    LibraryFolder folder{"QuibrelShared.tlb", "QuibrelTest.tlb"};
};

TEST_F(FindWindowTest, TheEditMenuCommandFollowsSearch) {
    const QList<QAction*> items = form_->miEdit->actions();
    const qsizetype search = items.indexOf(form_->miSearch);
    ASSERT_GE(search, 0);
    ASSERT_LT(search + 1, items.size());
    EXPECT_EQ(items[search + 1], form_->miFindInLibraries);
    EXPECT_EQ(form_->miFindInLibraries->text(), "Find in &Libraries...");
    EXPECT_EQ(form_->miFindInLibraries->shortcut(), QKeySequence("Ctrl+Shift+F"));
}

TEST_F(FindWindowTest, AResultOpensItsLibraryAndSelectsClassAndMember) {
    TFindForm* find = OpenOnFolder();
    ASSERT_TRUE(find);
    EXPECT_TRUE(find->isVisible());
    ASSERT_TRUE(find->Index());
    EXPECT_EQ(find->Index()->LibraryCount(), 2);
    EXPECT_FALSE(find->pbIndex->isVisible());

    Query(find, "returns:Tint");
    ASSERT_EQ(find->lvResults->topLevelItemCount(), 2);
    const int row = ResultRow(find, "IShapes2", "Blend");
    ASSERT_GE(row, 0);
    QTreeWidgetItem* item = find->lvResults->topLevelItem(row);
    EXPECT_EQ(item->text(2), "Function Blend(first As QuibrelShared.SharedColour, second As Tint) As Tint");
    EXPECT_EQ(item->text(3), folder.File("QuibrelTest.tlb"));
    EXPECT_EQ(item->icon(0).cacheKey(), form_->ilMain[eiInterface].cacheKey());
    EXPECT_EQ(item->icon(1).cacheKey(), form_->ilMain[eiMethod].cacheKey());

    find->lvResultsActivated(item);
    EXPECT_EQ(SelectedClass(), "IShapes2");
    EXPECT_EQ(SelectedMember(), "Blend");
    EXPECT_TRUE(form_->txtDoc->Text().startsWith("Function Blend(")) << form_->txtDoc->Text().toStdString();

    // A class result selects the class in another library.
    Query(find, "SharedThing");
    const int cls = ResultRow(find, "SharedThing", "");
    ASSERT_GE(cls, 0);
    find->lvResultsActivated(find->lvResults->topLevelItem(cls));
    EXPECT_EQ(form_->lvTypeLib->headerItem()->text(1), "QuibrelShared");
    EXPECT_EQ(SelectedClass(), "SharedThing");
}

TEST_F(FindWindowTest, UnreadableFilesAreListedWithTheirStatus) {
    folder.Write("Broken.tlb", QByteArray("MSFT") + QByteArray(60, '\xff'));
    TFindForm* find = OpenOnFolder();
    ASSERT_TRUE(find);
    ASSERT_EQ(find->lvFailures->topLevelItemCount(), 1);
    EXPECT_EQ(find->lvFailures->topLevelItem(0)->text(0), folder.File("Broken.tlb"));
    EXPECT_TRUE(find->lvFailures->topLevelItem(0)->text(1).contains("(0x8")) << find->lvFailures->topLevelItem(0)->text(1).toStdString();
    EXPECT_EQ(find->tabResults->tabText(1), "Unreadable files (1)");
    Query(find, "IShapes");
    EXPECT_GE(find->lvResults->topLevelItemCount(), 2);
}

TEST_F(FindWindowTest, AQueryAskedForDuringTheBuildRunsWhenItEnds) {
    form_->miFindInLibraries->trigger();
    TFindForm* find = FindForm;
    ASSERT_TRUE(find);
    find->WaitForIndex();
    find->chkRegistered->setChecked(false);
    find->FChooseFolder = [this] { return folder.Path(); };
    find->btnBrowseClick();
    EXPECT_TRUE(find->Indexing());
    Query(find, "implements:IShapes");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !find->Indexing(); }, 30000));
    EXPECT_EQ(find->lvResults->topLevelItemCount(), 2);
}

TEST_F(FindWindowTest, CancellingKeepsWhatWasIndexed) {
    if (!QFileInfo(RealLibraries()).isDir()) GTEST_SKIP() << "../shared/typelibs is not beside the project";
    form_->miFindInLibraries->trigger();
    TFindForm* find = FindForm;
    find->WaitForIndex();
    find->chkRegistered->setChecked(false);
    find->WaitForIndex();
    find->FChooseFolder = [] { return RealLibraries(); };
    find->btnBrowseClick();
    ASSERT_TRUE(find->Indexing());
    EXPECT_TRUE(find->btnCancel->isEnabled());
    EXPECT_TRUE(find->pbIndex->isVisibleTo(find));
    find->btnCancel->click();
    find->WaitForIndex();
    EXPECT_TRUE(find->lblStatus->text().startsWith("Indexing cancelled")) << find->lblStatus->text().toStdString();
    ASSERT_TRUE(find->Index());
    EXPECT_LT(find->Index()->Files.size(), 281u);
    EXPECT_FALSE(find->btnCancel->isEnabled());
    // The results then say that they come from part of the scope, until it is indexed whole.
    const QString incomplete =
        QStringLiteral("index incomplete: %1 of 281 files").arg(find->Index()->Files.size());
    EXPECT_TRUE(find->lblStatus->text().contains(incomplete)) << find->lblStatus->text().toStdString();
    Query(find, "Node");
    EXPECT_TRUE(find->lblStatus->text().endsWith("(" + incomplete + ")")) << find->lblStatus->text().toStdString();
    find->StartIndex();
    find->WaitForIndex();
    Query(find, "Node");
    EXPECT_FALSE(find->lblStatus->text().contains("incomplete")) << find->lblStatus->text().toStdString();
}

// A folder typed or pasted is looked in like a chosen one, and kept in a list of folders that
// outlives the window; changing the folder drops the old results and runs the query again.
TEST_F(FindWindowTest, TypedFoldersAreKeptAndAScopeChangeReplacesTheResults) {
    TFindForm* find = OpenOnFolder();
    ASSERT_TRUE(find);
    Query(find, "IShapes");
    ASSERT_GE(find->lvResults->topLevelItemCount(), 2);

    LibraryFolder shared{"QuibrelShared.tlb"};
    find->txtFolder->setText(folder.File("no such folder"));
    QTest::keyClick(find->txtFolder, Qt::Key_Return);
    EXPECT_TRUE(find->lblStatus->text().startsWith("No such folder")) << find->lblStatus->text().toStdString();
    EXPECT_GE(find->lvResults->topLevelItemCount(), 2) << "nothing changed";

    find->txtFolder->setText(shared.Path());
    QTest::keyClick(find->txtFolder, Qt::Key_Return);
    EXPECT_EQ(find->lvResults->topLevelItemCount(), 0) << "no rows of the old folder under the new scope";
    find->WaitForIndex();
    EXPECT_EQ(find->Index()->LibraryCount(), 1);
    EXPECT_EQ(find->lvResults->topLevelItemCount(), 0) << "IShapes is not in QuibrelShared";
    EXPECT_EQ(find->lblStatus->text(), "0 results");
    Query(find, "SharedThing");
    EXPECT_GE(find->lvResults->topLevelItemCount(), 1);
    EXPECT_EQ(find->Folders().mid(0, 2), QStringList({QDir::cleanPath(shared.Path()), QDir::cleanPath(folder.Path())}));

    form_.reset();
    form_ = std::make_unique<TMainForm>();
    form_->miFindInLibraries->trigger();
    ASSERT_TRUE(FindForm);
    EXPECT_EQ(FindForm->Folders().mid(0, 2), QStringList({QDir::cleanPath(shared.Path()), QDir::cleanPath(folder.Path())}));
    EXPECT_EQ(FindForm->txtFolder->text(), QDir::cleanPath(shared.Path()));
    FindForm->WaitForIndex();
}

}  // namespace
