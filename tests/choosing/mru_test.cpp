// The recent-file list: order, trimming, menu items, clicks and its registry key.
#include "components/MRUList/mrulist.h"
#include "platform/registry/registry.h"
#include "testenv.h"

#include <QApplication>
#include <QMenu>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString Path(int i) { return QStringLiteral("/libs/lib%1.tlb").arg(i); }

// A File menu as the main window has it, and lists set up as the main window sets them.
class MRUTest : public ::testing::Test {
protected:
    void SetUp() override {
        menu.addAction("&Open...");
        openFile = menu.addAction("Open &File...");
        menu.addSeparator();
        menu.addAction("E&xit");
    }

    std::unique_ptr<TMRUFileList> MakeList() {
        auto list = std::make_unique<TMRUFileList>();
        list->SetMaximum(8);
        list->SetRemoveOnClick(false);
        list->SetUseSubmenu(true);
        list->SetSubmenuName("&Reopen");
        list->SetFileMenu(openFile);
        list->SetAutoSaveName("\\Software\\Quibrel Type Library Explorer");
        list->Loaded();
        return list;
    }
    QMenu* Reopen() const { return menu.actions()[2]->menu(); }

    QApplication& app = TestApp();
    TTestRegistry registry;
    QMenu menu;
    QAction* openFile = nullptr;
};

TEST_F(MRUTest, NewestFirstCutToMaximumAndRelistedFileMovesUpWithItsStoredCase) {
    auto list = MakeList();
    EXPECT_EQ(MenuTexts(&menu), QStringList({"&Open...", "Open &File...", "-", "E&xit"}));
    for (int i = 1; i <= 9; ++i) list->AddItem(Path(i));
    EXPECT_EQ(MenuTexts(&menu), QStringList({"&Open...", "Open &File...", "&Reopen", "-", "E&xit"}));
    ASSERT_EQ(list->Items().size(), 8);
    const QStringList items = MenuTexts(Reopen());
    EXPECT_EQ(items.first(), "&1 /libs/lib9.tlb");
    EXPECT_EQ(items.last(), "&8 /libs/lib2.tlb");
    EXPECT_EQ(qobject_cast<TMRUMenuItem*>(Reopen()->actions()[7])->ItemNumber, 8);

    list->AddItem("/LIBS/Lib5.TLB");
    EXPECT_EQ(list->Items().size(), 8);
    EXPECT_EQ(MenuTexts(Reopen()).first(), "&1 /libs/lib5.tlb");
    EXPECT_EQ(list->Items().count(Path(5)), 1);
}

TEST_F(MRUTest, LoadedListIsTrimmedOnlyByTheNextNewFileOrALowerMaximum) {
    std::vector<std::pair<std::string, std::string>> values;
    for (int i = 0; i < 10; ++i) values.emplace_back("F" + std::to_string(i), Path(i).toStdString());
    StoreRecentFiles(values);
    auto list = MakeList();
    EXPECT_EQ(MenuTexts(Reopen()).size(), 10);
    list->AddItem(Path(7));
    EXPECT_EQ(list->Items().size(), 10);
    list->AddItem(Path(42));
    EXPECT_EQ(list->Items().size(), 8);
    list->SetMaximum(3);
    EXPECT_EQ(list->Items(), QStringList({Path(42), Path(7), Path(0)}));
    EXPECT_EQ(MenuTexts(Reopen()).size(), 3);
}

TEST_F(MRUTest, SavingLeavesExactlyTheEntriesAsF0ToFnInListOrder) {
    StoreRecentFiles({{"F1", "/b.tlb"}, {"Other", "/c.tlb"}, {"F0", ""}, {"F9", "/a.tlb"}});
    {
        auto list = MakeList();
        // Enumeration order; empty values are left out.
        EXPECT_EQ(list->Items(), QStringList({"/b.tlb", "/c.tlb", "/a.tlb"}));
        list->AddItem("/d.tlb");
    }
    EXPECT_EQ(StoredRecentFiles(), QStringList({"F0=/d.tlb", "F1=/b.tlb", "F2=/c.tlb", "F3=/a.tlb"}));

    auto list = MakeList();
    list->SetMaximum(0);
    EXPECT_TRUE(list->SaveToRegistry());
    ScopedHKEY key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kRecentFilesKey, 0, KEY_READ, key.Put()), ERROR_FILE_NOT_FOUND)
        << "an empty list leaves no subkey";
    list->SetAutoSaveKey("");
    EXPECT_FALSE(list->SaveToRegistry());
}

TEST_F(MRUTest, ClickReportsTheEntryAndRemovesItOnlyWhenAskedTo) {
    auto list = MakeList();
    list->SetAutoSave(false);
    list->AddItem("/R&D/x.tlb");
    list->AddItem(Path(2));
    list->AddItem(Path(3));
    EXPECT_EQ(MenuTexts(Reopen())[2], "&3 /R&&D/x.tlb");
    QStringList clicked;
    list->OnMRUItemClick = [&](QAction*, QString name) {
        clicked << name;
        // Reopening rebuilds the menu under the clicked item.
        list->AddItem(name);
    };
    Reopen()->actions()[1]->trigger();
    EXPECT_EQ(list->Items(), QStringList({Path(2), Path(3), "/R&D/x.tlb"}));

    list->SetRemoveOnClick(true);
    list->OnMRUItemClick = [&](QAction*, QString name) {
        clicked << name;
        EXPECT_FALSE(list->Items().contains(name));
    };
    Reopen()->actions()[2]->trigger();
    EXPECT_EQ(clicked, QStringList({Path(2), "/R&D/x.tlb"}));
    EXPECT_EQ(MenuTexts(Reopen()), QStringList({"&1 /libs/lib2.tlb", "&2 /libs/lib3.tlb"}));
    QApplication::processEvents();
}

}  // namespace
