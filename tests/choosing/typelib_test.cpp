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
        // The last version key listed is taken, without comparing numbers: 9.0 after 10.0.
        {Lib(1) + "\\1.0", {{"", "Old Alpha"}}},
        {Lib(1) + "\\1.0\\0\\win32", {{"", "/x/alpha1.tlb"}}},
        {Lib(1) + "\\2.0", {{"", "alpha library"}}},
        {Lib(1) + "\\2.0\\0\\win32", {{"", "/x/alpha2.tlb"}}},
        {Lib(2) + "\\10.0", {{"", "Ten"}}},
        {Lib(2) + "\\10.0\\0\\win32", {{"", "/x/ten.tlb"}}},
        {Lib(2) + "\\9.0", {{"", "Nine"}}},
        {Lib(2) + "\\9.0\\0\\win32", {{"", "/x/nine.tlb"}}},
        // The first subkey in the registry's sorted order is taken whatever it is: $FLAGS,
        // which has no win32.
        {Lib(3) + "\\1.0", {{"", "Gamma"}}},
        {Lib(3) + "\\1.0\\$FLAGS", {{"", "0"}}},
        {Lib(3) + "\\1.0\\0\\win32", {{"", "/x/gamma.tlb"}}},
        // A 64-bit prefix registers win64 only; with both, win32 is read.
        {Lib(4) + "\\1.0", {{"", "Delta win64"}}},
        {Lib(4) + "\\1.0\\0\\win64", {{"", "C:\\windows\\system32\\delta.tlb"}}},
        {Lib(5) + "\\1.0", {{"", "Epsilon"}}},
        {Lib(5) + "\\1.0\\9\\win64", {{"", "/x/eps64.tlb"}}},
        {Lib(5) + "\\1.0\\9\\win32", {{"", "/x/eps32.tlb"}}},
        // No subkeys: a row without a file. No version keys: no row.
        {Lib(6) + "\\1.0", {{"", "Beta"}}},
        {Lib(7), {{"", "ignored"}}},
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
    EXPECT_EQ(Rows(form.lvTypeLib), QStringList({"|/x/nodesc.tlb", "alpha library|/x/alpha2.tlb", "beta|/x/beta.tlb",
                                                 "Beta", "Delta win64|C:\\windows\\system32\\delta.tlb",
                                                 "Epsilon|/x/eps32.tlb", "Gamma|", "Nine|/x/nine.tlb"}));
    EXPECT_EQ(form.lvTypeLib->currentItem(), form.lvTypeLib->topLevelItem(0));
    EXPECT_TRUE(form.btnOK->isEnabled());
    EXPECT_EQ(form.SelectedFileName(), "/x/nodesc.tlb");
    form.lvTypeLib->setCurrentItem(form.lvTypeLib->topLevelItem(3));
    EXPECT_EQ(form.SelectedFileName(), "");
}

TEST_F(TypeLibFormTest, EnterAndDoubleClickTakeTheSelectedRowEscapeCancels) {
    registry.WriteWineSystemReg(LibraryKeys());
    {
        TTypeLibForm form(nullptr);
        form.show();
        QTest::keyClick(form.lvTypeLib, Qt::Key_Return);
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.SelectedFileName(), "/x/nodesc.tlb");
    }
    {
        TTypeLibForm form(nullptr);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QWidget* viewport = form.lvTypeLib->viewport();
        form.lvTypeLib->clearSelection();
        EXPECT_FALSE(form.btnOK->isEnabled());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 3));
        EXPECT_TRUE(form.isVisible()) << "empty space, nothing selected";

        const QRect row = form.lvTypeLib->visualItemRect(form.lvTypeLib->topLevelItem(1));
        QTest::mouseClick(viewport, Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, row.center());
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(form.SelectedFileName(), "/x/alpha2.tlb");
    }
    TTypeLibForm form(nullptr);
    form.show();
    QTest::keyClick(form.lvTypeLib, Qt::Key_Escape);
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(TypeLibFormTest, NoRegisteredLibrariesLeaveOnlyCancel) {
    registry.WriteWineSystemReg({{"TypeLib", {}}});
    TTypeLibForm form(nullptr);
    form.show();
    EXPECT_EQ(form.lvTypeLib->topLevelItemCount(), 0);
    EXPECT_FALSE(form.btnOK->isEnabled());
    QTest::keyClick(form.lvTypeLib, Qt::Key_Return);
    EXPECT_TRUE(form.isVisible());
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
#if defined(__SANITIZE_ADDRESS__)
    const qint64 limit = 6000;  // instrumented build
#else
    const qint64 limit = 1500;
#endif
    EXPECT_LT(timer.elapsed(), limit) << "ms to read and list 3000 registrations";
    EXPECT_EQ(form.lvTypeLib->topLevelItemCount(), 3000);
    EXPECT_EQ(form.lvTypeLib->topLevelItem(0)->text(0), "Library 0");
}

}  // namespace
