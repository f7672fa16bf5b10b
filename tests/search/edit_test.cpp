// The main window's Edit menu and the lists' pop-up menu: copying rows in their formats, the
// items' states, Check All and Uncheck All; Enter and double click on a coclass's interface.
#include "searchenv.h"

#include <QClipboard>
#include <QGroupBox>
#include <QMenu>

namespace {

class EditTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        path_ = Fixture("QuibrelTest.tlb");
        form_->OpenTypeLib(path_);
    }
    static QString Clipboard() { return QGuiApplication::clipboard()->text(); }
    static void SetClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }
    // Opens the pop-up menu over a list as a right click does, and closes it again.
    void PopUp(QTreeWidget* list) {
        list->setFocus(Qt::MouseFocusReason);
        form_->pmEdit->popup(list->viewport()->mapToGlobal(QPoint(5, 5)));
        form_->pmEdit->hide();
    }
    QString MenuState() const {
        const TMainForm& f = *form_;
        auto flag = [](bool b) { return b ? '1' : '0'; };
        return QStringLiteral("copy %1%2 all %3%4 checks %5%6%7 search %8")
            .arg(flag(f.miCopy->isEnabled())).arg(flag(f.miCopy1->isEnabled()))
            .arg(flag(f.miCopyAll->isEnabled())).arg(flag(f.miCopyAll1->isEnabled()))
            .arg(flag(f.miSpace->isVisible())).arg(flag(f.miCheckAll->isVisible()))
            .arg(flag(f.miUncheckAll->isVisible())).arg(flag(f.miSearch->isEnabled()));
    }
    QString CheckMarks() const {
        QString marks;
        for (int i = 0; i < form_->lvMembers->topLevelItemCount(); ++i) {
            const QVariant state = form_->lvMembers->topLevelItem(i)->data(0, Qt::CheckStateRole);
            marks += !state.isValid() ? '-' : state.toInt() == Qt::Checked ? 'x' : 'o';
        }
        return marks;
    }

    QString path_;
};

TEST_F(EditTest, CopyAndCopyAllOnEachList) {
    // Library information: caption, tab, value; Copy without a line break, Copy All with one
    // after every row, the last included.
    QTreeWidget* info = form_->lvTypeLib;
    info->setCurrentItem(info->topLevelItem(1));
    PopUp(info);
    form_->miCopy1->trigger();
    EXPECT_EQ(Clipboard(), "File\t" + path_);
    form_->miCopyAll1->trigger();
    EXPECT_EQ(Clipboard(), QString::fromUtf8("Description\tQuibrel test library: \"every\" construct, Größe\r\n"
                                             "File\t") + path_ +
                               "\r\nGuid\t{7A0C5E00-1F2B-4C3D-8E9F-000000200000}\r\n");

    // Classes and members: the caption alone, or every caption and a line break.
    SelectClass("Panel");
    PopUp(form_->lvClasses);
    form_->miCopy->trigger();
    EXPECT_EQ(Clipboard(), "Panel");
    form_->miCopyAll->trigger();
    EXPECT_EQ(Clipboard(), "Canvas\r\nPanel\r\nThingHolder\r\nDCanvasEvents\r\nDPanel\r\nDPanelEvents\r\n"
                           "IDerivedThing\r\nIShapes\r\nIShapes2\r\nDirection\r\nBounds\r\nShape\r\n"
                           "Handle32\r\nOldHandle\r\nRect\r\nTint\r\n");

    SelectClass("Canvas");
    SelectMember("IShapes2");
    PopUp(form_->lvMembers);
    form_->miCopy1->trigger();
    EXPECT_EQ(Clipboard(), "IShapes2");
    form_->miCopyAll1->trigger();
    EXPECT_EQ(Clipboard(), "DCanvasEvents\r\nDPanelEvents\r\nIShapes2\r\n");

    // Ctrl+C goes the same way.
    SetClipboard("before");
    QTest::keyClick(form_->lvMembers, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "IShapes2");
}

TEST_F(EditTest, NothingToCopyLeavesTheClipboardAlone) {
    // Ctrl+C in the class list with no class selected; the list's own copying of its current
    // row does not run either.
    form_->lvClasses->setFocus();
    form_->lvClasses->clearSelection();
    ASSERT_TRUE(form_->lvClasses->currentIndex().isValid());
    SetClipboard("before");
    QTest::keyClick(form_->lvClasses, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "before");
    form_->miCopyClick();
    EXPECT_EQ(Clipboard(), "before");

    // The focus outside the lists: neither command does anything.
    form_->gbEntity->setFocus();
    form_->miCopyClick();
    form_->miCopyAllClick();
    EXPECT_EQ(Clipboard(), "before");

    // Copy All on an empty list empties the clipboard.
    SelectClass("Handle32");
    ASSERT_EQ(form_->lvMembers->topLevelItemCount(), 0);
    form_->lvMembers->setFocus();
    form_->miCopyAllClick();
    EXPECT_EQ(Clipboard(), "");
}

TEST_F(EditTest, CtrlCLooksAtTheListAsItIsWhenPressed) {
    // The Edit menu was last opened with the focus outside the lists, so Copy was disabled;
    // Ctrl+C in a list with a selected row still copies it.
    form_->gbEntity->setFocus();
    form_->miEdit->popup(QPoint(0, 0));
    form_->miEdit->hide();
    ASSERT_FALSE(form_->miCopy->isEnabled());
    SelectClass("Panel");
    form_->lvClasses->setFocus();
    SetClipboard("before");
    QTest::keyClick(form_->lvClasses, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "Panel");
    EXPECT_TRUE(form_->miCopy->isEnabled());
}

TEST_F(EditTest, MenuItemsFollowTheFocusedList) {
    SelectClass("Canvas");
    PopUp(form_->lvClasses);
    EXPECT_EQ(MenuState(), "copy 11 all 11 checks 000 search 1");
    PopUp(form_->lvMembers);  // no member selected
    EXPECT_EQ(MenuState(), "copy 00 all 11 checks 000 search 1");

    // Only the member list of an event interface has check boxes and Check All.
    SelectClass("DCanvasEvents");
    PopUp(form_->lvMembers);
    EXPECT_EQ(MenuState(), "copy 00 all 11 checks 111 search 1");
    PopUp(form_->lvClasses);
    EXPECT_EQ(MenuState(), "copy 11 all 11 checks 000 search 1");

    // The Edit menu, with the focus outside the lists.
    form_->gbEntity->setFocus();
    form_->miEdit->popup(QPoint(0, 0));
    form_->miEdit->hide();
    EXPECT_EQ(MenuState(), "copy 00 all 00 checks 000 search 1");

    // A list without rows.
    SelectClass("Handle32");
    PopUp(form_->lvMembers);
    EXPECT_EQ(MenuState(), "copy 00 all 00 checks 000 search 1");
}

TEST_F(EditTest, CheckAllAndUncheckAllActOnTheEvents) {
    SelectClass("DCanvasEvents");
    ASSERT_EQ(CheckMarks(), "xxxxx");
    form_->lvMembers->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    form_->lvMembers->topLevelItem(3)->setCheckState(0, Qt::Unchecked);
    PopUp(form_->lvMembers);
    form_->miCheckAll->trigger();
    EXPECT_EQ(CheckMarks(), "xxxxx");
    form_->miUncheckAll->trigger();
    EXPECT_EQ(CheckMarks(), "ooooo");
    // Whichever list has the focus.
    form_->lvClasses->setFocus();
    form_->miCheckAllClick();
    EXPECT_EQ(CheckMarks(), "xxxxx");
    EXPECT_TRUE(form_->lvMembers->updatesEnabled());

    // Members of other classes never get check boxes.
    SelectClass("DPanel");
    form_->miCheckAllClick();
    EXPECT_EQ(CheckMarks(), QString(form_->lvMembers->topLevelItemCount(), '-'));
}

TEST_F(EditTest, EnterAndDoubleClickOnACoclassInterfaceGoThere) {
    SelectClass("Canvas");
    SelectMember("IShapes2");
    form_->lvMembers->setFocus();
    QTest::keyClick(form_->lvMembers, Qt::Key_Return);
    EXPECT_EQ(SelectedClass(), "IShapes2");

    SelectClass("Canvas");
    QTreeWidget* members = form_->lvMembers;
    const QRect row = members->visualItemRect(members->topLevelItem(RowOf(members, "DPanelEvents")));
    // The first click of a double click selects the row.
    QTest::mouseClick(members->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QTest::mouseDClick(members->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    EXPECT_EQ(SelectedClass(), "DPanelEvents");

    // Rows of other kinds stay where they are.
    SelectClass("DPanel");
    SelectMember("Refresh");
    QTest::keyClick(form_->lvMembers, Qt::Key_Return);
    form_->lvMembersDblClick();
    EXPECT_EQ(SelectedClass(), "DPanel");
    EXPECT_EQ(SelectedMember(), "Refresh");
}

}  // namespace
