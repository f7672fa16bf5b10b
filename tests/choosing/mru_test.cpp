// The recent-file list: order, trimming, menu items, clicks and its registry key.
#include "components/MRUList/mrulist.h"
#include "platform/registry/registry.h"
#include "testenv.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

#include <memory>

namespace {

const char* const kKey = "Software\\Quibrel Type Library Explorer\\MRU Items";

QString Path(int i) { return QStringLiteral("/libs/lib%1.tlb").arg(i); }

// The values of the list's registry key, in enumeration order, as "name=data".
QStringList StoredValues() {
    QStringList out;
    ScopedHKEY key;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        const LSTATUS s = RegEnumValue(key.Get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (s != ERROR_SUCCESS) break;
        std::string data;
        RegReadString(key.Get(), nullptr, name, &data);
        out << QString::fromStdString(std::string(name, cch) + "=" + data);
    }
    return out;
}

void Store(const std::vector<std::pair<std::string, std::string>>& values) {
    ScopedHKEY key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, data] : values) ASSERT_EQ(RegWriteString(key.Get(), name.c_str(), data), ERROR_SUCCESS);
    ASSERT_EQ(key.Reset(), ERROR_SUCCESS);
}

QStringList Texts(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

// A File menu as the main window has it, and a list set up as the main window sets it.
class MRUTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        menu = std::make_unique<QMenu>("&File");
        menu->addAction("&Open...");
        openFile = menu->addAction("Open &File...");
        menu->addSeparator();
        menu->addAction("Resolve ProgID...");
        menu->addSeparator();
        menu->addAction("E&xit");
    }

    std::unique_ptr<TMRUFileList> MakeList(bool load = true) {
        auto list = std::make_unique<TMRUFileList>();
        list->SetMaximum(8);
        list->SetRemoveOnClick(false);
        list->SetUseSubmenu(true);
        list->SetSubmenuName("&Reopen");
        list->SetFileMenu(openFile);
        list->SetAutoSaveName("\\Software\\Quibrel Type Library Explorer");
        list->SetAutoSaveKey("MRU Items");
        if (load) list->Loaded();
        return list;
    }

    QMenu* Reopen() const {
        for (QAction* a : menu->actions())
            if (a->text() == "&Reopen") return a->menu();
        return nullptr;
    }

    TTestRegistry registry;
    std::unique_ptr<QMenu> menu;
    QAction* openFile = nullptr;
};

TEST_F(MRUTest, SubmenuAppearsBelowOpenFileOnFirstOpenAndNumbersEntriesNewestFirst) {
    auto list = MakeList();
    EXPECT_EQ(Texts(menu.get()),
              QStringList({"&Open...", "Open &File...", "-", "Resolve ProgID...", "-", "E&xit"}));

    list->AddItem(Path(1));
    EXPECT_EQ(Texts(menu.get()),
              QStringList({"&Open...", "Open &File...", "&Reopen", "-", "Resolve ProgID...", "-", "E&xit"}));
    list->AddItem(Path(2));
    ASSERT_NE(Reopen(), nullptr);
    EXPECT_EQ(Texts(Reopen()), QStringList({"&1 /libs/lib2.tlb", "&2 /libs/lib1.tlb"}));
    // Rebuilding replaces the items: still one submenu.
    EXPECT_EQ(menu->actions().size(), 7);
    auto* first = qobject_cast<TMRUMenuItem*>(Reopen()->actions()[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->ItemNumber, 1);
}

TEST_F(MRUTest, NinthFileDropsOldestAndRelistedFileMovesUpWithStoredCase) {
    auto list = MakeList();
    for (int i = 1; i <= 8; ++i) list->AddItem(Path(i));
    list->AddItem(Path(9));
    ASSERT_EQ(list->Items().size(), 8);
    EXPECT_EQ(list->Items().first(), Path(9));
    EXPECT_EQ(list->Items().last(), Path(2));
    EXPECT_EQ(Texts(Reopen()).last(), "&8 /libs/lib2.tlb");

    list->AddItem("/LIBS/Lib5.TLB");
    EXPECT_EQ(list->Items().size(), 8);
    EXPECT_EQ(list->Items().first(), Path(5));
    EXPECT_EQ(list->Items().count(Path(5)), 1);
    EXPECT_EQ(Texts(Reopen()).first(), "&1 /libs/lib5.tlb");
}

TEST_F(MRUTest, TenLoadedEntriesAreTrimmedOnlyByTheNextNewFile) {
    std::vector<std::pair<std::string, std::string>> values;
    for (int i = 0; i < 10; ++i) values.emplace_back("F" + std::to_string(i), Path(i).toStdString());
    Store(values);
    auto list = MakeList();
    ASSERT_EQ(list->Items().size(), 10);
    EXPECT_EQ(Texts(Reopen()).size(), 10);

    list->AddItem(Path(7));
    EXPECT_EQ(list->Items().size(), 10);
    EXPECT_EQ(list->Items().first(), Path(7));

    list->AddItem(Path(42));
    EXPECT_EQ(list->Items().size(), 8);
    EXPECT_EQ(list->Items().first(), Path(42));
}

TEST_F(MRUTest, LoadKeepsEnumerationOrderSkipsEmptyValuesAndSaveLeavesExactlyF0ToFn) {
    Store({{"F1", "/b.tlb"}, {"Other", "/c.tlb"}, {"F0", ""}, {"F9", "/a.tlb"}, {"F5", "/d.tlb"},
           {"F6", "/e.tlb"}});
    {
        auto list = MakeList();
        EXPECT_EQ(list->Items(), QStringList({"/b.tlb", "/c.tlb", "/a.tlb", "/d.tlb", "/e.tlb"}));
        list->SetMaximum(3);
        EXPECT_EQ(list->Items(), QStringList({"/b.tlb", "/c.tlb", "/a.tlb"}));
        EXPECT_EQ(Texts(Reopen()).size(), 3);
        list->SetMaximum(8);
        EXPECT_EQ(list->Items().size(), 3);
    }  // destroyed: saved
    EXPECT_EQ(StoredValues(), QStringList({"F0=/b.tlb", "F1=/c.tlb", "F2=/a.tlb"}));

    auto again = MakeList();
    EXPECT_EQ(again->Items(), QStringList({"/b.tlb", "/c.tlb", "/a.tlb"}));
}

TEST_F(MRUTest, EmptyListSavesNoSubkeyAndMissingKeyLoadsEmpty) {
    Store({{"F0", "/x.tlb"}});
    {
        auto list = MakeList(false);
        EXPECT_TRUE(list->Items().isEmpty());
        EXPECT_TRUE(list->SaveToRegistry());
        list->SetAutoSave(false);
    }
    ScopedHKEY key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kKey, 0, KEY_READ, key.Put()), ERROR_FILE_NOT_FOUND);

    auto list = MakeList();
    EXPECT_TRUE(list->Items().isEmpty());
    EXPECT_EQ(Reopen(), nullptr);

    list->SetAutoSaveKey("");
    EXPECT_FALSE(list->LoadFromRegistry());
    EXPECT_FALSE(list->SaveToRegistry());
}

TEST_F(MRUTest, ClickReportsTheEntryAndRemovesItOnlyWhenAskedTo) {
    auto list = MakeList(false);
    list->SetAutoSave(false);
    for (int i = 1; i <= 3; ++i) list->AddItem(Path(i));
    QStringList clicked;
    QAction* sender = nullptr;
    list->OnMRUItemClick = [&](QAction* s, QString name) {
        sender = s;
        clicked << name;
        // The main window reopens the file, which rebuilds the menu under the clicked item.
        list->AddItem(name);
    };
    QAction* second = Reopen()->actions()[1];
    second->trigger();
    EXPECT_EQ(clicked, QStringList({Path(2)}));
    EXPECT_EQ(sender, second);
    EXPECT_EQ(list->Items(), QStringList({Path(2), Path(3), Path(1)}));

    list->SetRemoveOnClick(true);
    list->OnMRUItemClick = [&](QAction*, QString name) {
        clicked << name;
        EXPECT_FALSE(list->Items().contains(name));
    };
    Reopen()->actions()[2]->trigger();
    EXPECT_EQ(clicked.last(), Path(1));
    EXPECT_EQ(list->Items(), QStringList({Path(2), Path(3)}));
    EXPECT_EQ(Texts(Reopen()), QStringList({"&1 /libs/lib2.tlb", "&2 /libs/lib3.tlb"}));
    QApplication::processEvents();  // the replaced items go now
}

TEST_F(MRUTest, EntriesGoDirectlyIntoTheMenuWithoutSubmenuAndKeepAmpersands) {
    auto list = MakeList(false);
    list->SetAutoSave(false);
    list->SetUseSubmenu(false);
    list->AddItem("/R&D/a.tlb");
    list->AddItem("/b.tlb");
    EXPECT_EQ(Texts(menu.get()), QStringList({"&Open...", "Open &File...", "&1 /b.tlb", "&2 /R&&D/a.tlb", "-",
                                              "Resolve ProgID...", "-", "E&xit"}));
    list->SetUseSubmenu(true);
    EXPECT_EQ(Texts(menu.get()).size(), 7);
    list->SetSubmenuName("Recent");
    EXPECT_EQ(Texts(menu.get())[2], "Recent");
    // Another anchor takes the items away from the old one.
    QMenu other;
    QAction* anchor = other.addAction("Anchor");
    list->SetFileMenu(anchor);
    EXPECT_EQ(Texts(menu.get()).size(), 6);
    EXPECT_EQ(Texts(&other), QStringList({"Anchor", "Recent"}));
}

}  // namespace
