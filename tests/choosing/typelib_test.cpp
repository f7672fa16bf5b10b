// The registered-library dialog over a Wine prefix written by the test.
#include "dialogs/typelib.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

std::string Lib(int n) { return "TypeLib\\{5C3A0E10-8B7D-4F21-A0C4-1D2E3F40A" + std::to_string(100 + n) + "}"; }

std::vector<TWineKey> LibraryKeys() {
    return {
        // Versions in listed order: the last one is taken.
        {Lib(1) + "\\1.0", {{"", "Old Alpha"}}},
        {Lib(1) + "\\1.0\\0\\win32", {{"", "/x/alpha1.tlb"}}},
        {Lib(1) + "\\2.0", {{"", "alpha library"}}},
        {Lib(1) + "\\2.0\\0\\win32", {{"", "/x/alpha2.tlb"}}},
        // Positional, not numeric: 9.0 listed after 10.0 wins.
        {Lib(2) + "\\10.0", {{"", "Ten"}}},
        {Lib(2) + "\\10.0\\0\\win32", {{"", "/x/ten.tlb"}}},
        {Lib(2) + "\\9.0", {{"", "Nine"}}},
        {Lib(2) + "\\9.0\\0\\win32", {{"", "/x/nine.tlb"}}},
        // The first subkey is taken whatever it is; FLAGS has no win32.
        {Lib(3) + "\\1.0", {{"", "Gamma"}}},
        {Lib(3) + "\\1.0\\FLAGS", {{"", "0"}}},
        {Lib(3) + "\\1.0\\0\\win32", {{"", "/x/gamma.tlb"}}},
        // A 64-bit prefix registers win64 only.
        {Lib(4) + "\\1.0", {{"", "Delta win64"}}},
        {Lib(4) + "\\1.0\\0\\win64", {{"", "C:\\windows\\system32\\delta.tlb"}}},
        // Both: win32 is read.
        {Lib(5) + "\\1.0", {{"", "Epsilon"}}},
        {Lib(5) + "\\1.0\\9\\win64", {{"", "/x/eps64.tlb"}}},
        {Lib(5) + "\\1.0\\9\\win32", {{"", "/x/eps32.tlb"}}},
        // A description and no subkeys.
        {Lib(6) + "\\1.0", {{"", "Beta"}}},
        // No version keys: no row.
        {Lib(7), {{"", "ignored"}}},
        // No description.
        {Lib(8) + "\\1.0", {}},
        {Lib(8) + "\\1.0\\0\\win32", {{"", "/x/nodesc.tlb"}}},
        {Lib(9) + "\\1.0", {{"", "beta"}}},
        {Lib(9) + "\\1.0\\0\\win32", {{"", "/x/beta.tlb"}}},
    };
}

QStringList Rows(const QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        out << row->text(0) + (row->columnCount() > 1 ? "|" + row->text(1) : QString());
    }
    return out;
}

class TypeLibFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    TTestRegistry registry;
};

TEST_F(TypeLibFormTest, RowsFollowTheVersionAndLocaleRulesSortedByDescription) {
    registry.WriteWineSystemReg(LibraryKeys());
    TTypeLibForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "Registered Type Libraries");
    EXPECT_EQ(Rows(form.lvTypeLib), QStringList({
                                        "|/x/nodesc.tlb",
                                        "alpha library|/x/alpha2.tlb",
                                        "beta|/x/beta.tlb",
                                        "Beta",
                                        "Delta win64|C:\\windows\\system32\\delta.tlb",
                                        "Epsilon|/x/eps32.tlb",
                                        "Gamma|",
                                        "Nine|/x/nine.tlb",
                                    }));
    // The first row is selected, so OK is ready.
    ASSERT_EQ(form.lvTypeLib->selectedItems().size(), 1);
    EXPECT_EQ(form.lvTypeLib->selectedItems().first(), form.lvTypeLib->topLevelItem(0));
    EXPECT_EQ(form.lvTypeLib->currentItem(), form.lvTypeLib->topLevelItem(0));
    EXPECT_TRUE(form.btnOK->isEnabled());
    EXPECT_EQ(form.SelectedFileName(), "/x/nodesc.tlb");

    form.lvTypeLib->setCurrentItem(form.lvTypeLib->topLevelItem(3));
    EXPECT_EQ(form.SelectedFileName(), "");
    form.lvTypeLib->clearSelection();
    EXPECT_FALSE(form.btnOK->isEnabled());
    EXPECT_EQ(form.SelectedFileName(), "");
}

TEST_F(TypeLibFormTest, EnterTakesTheSelectedRowAndEscapeCancels) {
    registry.WriteWineSystemReg(LibraryKeys());
    {
        TTypeLibForm form(nullptr);
        form.show();
        QTest::keyClick(form.lvTypeLib, Qt::Key_Return);
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(form.SelectedFileName(), "/x/nodesc.tlb");
    }
    {
        TTypeLibForm form(nullptr);
        form.show();
        QTest::keyClick(form.lvTypeLib, Qt::Key_Escape);
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), QDialog::Rejected);
    }
}

TEST_F(TypeLibFormTest, DoubleClickOnARowTakesItAndOnEmptySpaceDoesNothing) {
    registry.WriteWineSystemReg(LibraryKeys());
    TTypeLibForm form(nullptr);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QWidget* viewport = form.lvTypeLib->viewport();

    form.lvTypeLib->clearSelection();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 3));
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.btnOK->isEnabled());

    const QRect row = form.lvTypeLib->visualItemRect(form.lvTypeLib->topLevelItem(1));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, row.center());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.SelectedFileName(), "/x/alpha2.tlb");
}

TEST_F(TypeLibFormTest, NoRegisteredLibrariesLeaveOKDisabled) {
    registry.WriteWineSystemReg({{"TypeLib", {}}});
    TTypeLibForm form(nullptr);
    form.show();
    EXPECT_EQ(form.lvTypeLib->topLevelItemCount(), 0);
    EXPECT_FALSE(form.btnOK->isEnabled());
    QTest::keyClick(form.lvTypeLib, Qt::Key_Return);
    EXPECT_TRUE(form.isVisible());
    form.btnCancel->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST_F(TypeLibFormTest, ThousandsOfRegistrationsListWithoutAPause) {
    std::vector<TWineKey> keys;
    for (int i = 0; i < 3000; ++i) {
        char guid[40];
        std::snprintf(guid, sizeof guid, "{5C3A0E10-8B7D-4F21-A0C4-%012X}", i);
        const std::string lib = std::string("TypeLib\\") + guid;
        keys.push_back({lib + "\\1.0", {{"", "Library " + std::to_string((i * 7919) % 3000)}}});
        keys.push_back({lib + "\\1.0\\0\\win64", {{"", "C:\\libs\\" + std::to_string(i) + ".tlb"}}});
        keys.push_back({lib + "\\1.0\\FLAGS", {{"", "0"}}});
    }
    registry.WriteWineSystemReg(keys);
    QElapsedTimer timer;
    timer.start();
    TTypeLibForm form(nullptr);
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(form.lvTypeLib->topLevelItemCount(), 3000);
    EXPECT_EQ(form.lvTypeLib->topLevelItem(0)->text(0), "Library 0");
    EXPECT_EQ(form.lvTypeLib->topLevelItem(2999)->text(0), "Library 999");
    EXPECT_LT(elapsed, 1500) << "ms to read and list 3000 registrations";
}

}  // namespace
