// The history window: Backspace in the lists, double click and Enter on a line, the window
// itself and how its lines are drawn.
#include "navenv.h"

#include <QImage>
#include <QKeyEvent>
#include <QListWidget>
#include <QTest>

namespace {

class HistoryTest : public NavigationTest {
protected:
    // History, newest first: Panel, Canvas.DPanelEvents, Rect; then the user is at Bounds.
    void RecordThreePlaces() {
        SelectClass("Rect");
        Form().RecordHistory();
        SelectClass("Canvas");
        SelectMember("DPanelEvents");
        Form().RecordHistory();
        SelectClass("Panel");
        Form().RecordHistory();
        SelectClass("Bounds");
        ASSERT_EQ(HistoryTexts(), QStringList({"Panel", "Canvas.DPanelEvents", "Rect"}));
    }
    // Sends a key press to a widget; true when some handler took it (a list ignores keys it
    // has no use for, and they travel on to the window).
    static bool Key(QWidget* to, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(to, &press);
        return press.isAccepted();
    }
    QString Place() const {
        return SelectedMember().isEmpty() ? SelectedClass() : SelectedClass() + "." + SelectedMember();
    }
    // Double-clicks a line of the history list with the mouse.
    void DoubleClickLine(int row) {
        QWidget* view = history_->lbHistory->viewport();
        const QPoint at = history_->lbHistory->visualItemRect(history_->lbHistory->item(row)).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease}) {
            const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, QPointF(at), QPointF(view->mapToGlobal(at)), Qt::LeftButton, held, Qt::NoModifier);
            QApplication::sendEvent(view, &event);
        }
    }
    // Waits until a window is the application's active window.
    static bool WaitUntilActive(QWidget* window) {
        for (int i = 0; i < 200 && QApplication::activeWindow() != window; ++i) QTest::qWait(10);
        return QApplication::activeWindow() == window;
    }
    void ActivateHistoryWindow() {
        history_->show();
        history_->activateWindow();
        ASSERT_TRUE(WaitUntilActive(history_));
        history_->lbHistory->setFocus();
    }
};

}  // namespace

TEST_F(HistoryTest, BackspaceWalksFromNewestToOldestAndStaysThere) {
    RecordThreePlaces();
    ASSERT_FALSE(history_->isVisible());

    Key(Form().lvClasses, Qt::Key_Backspace);
    EXPECT_EQ(SelectedClass(), "Panel");
    EXPECT_EQ(SelectedMember(), Form().MemberRow(0)->Caption()) << "no member recorded: the first one";
    Key(Form().lvMembers, Qt::Key_Backspace);
    EXPECT_EQ(Place(), "Canvas.DPanelEvents");
    Key(Form().lvMembers, Qt::Key_Backspace);
    EXPECT_EQ(Place(), "Rect");
    Key(Form().lvClasses, Qt::Key_Backspace);
    EXPECT_EQ(Place(), "Rect");
    EXPECT_EQ(history_->SelectedRow(), 2);
    EXPECT_EQ(HistoryTexts(), QStringList({"Panel", "Canvas.DPanelEvents", "Rect"})) << "walking records nothing";

    // Other keys keep their meaning in the lists.
    const int row = ClassIndex("Rect");
    Key(Form().lvClasses, Qt::Key_Up);
    EXPECT_EQ(Form().lvClasses->currentIndex().row(), row - 1);
}

TEST_F(HistoryTest, BackspaceIsTakenByTheListsEvenWithAnEmptyHistory) {
    SelectClass("Canvas");
    SelectMember("IShapes2");
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    EXPECT_TRUE(Form().lvClassesKeyDown(&backspace));
    EXPECT_EQ(Place(), "Canvas.IShapes2");
    // The key goes no further than the main window's handling.
    EXPECT_TRUE(Key(Form().lvMembers, Qt::Key_Backspace));
    EXPECT_EQ(Place(), "Canvas.IShapes2");
}

TEST_F(HistoryTest, EnterAndDoubleClickGoToTheSelectedLine) {
    RecordThreePlaces();
    ActivateHistoryWindow();

    // Nothing selected: nothing happens.
    EXPECT_TRUE(Key(history_->lbHistory, Qt::Key_Return));
    EXPECT_EQ(Place(), "Bounds");

    // A class and member: the member list gets the focus in the main window.
    history_->SetSelectedRow(1);
    EXPECT_TRUE(Key(history_->lbHistory, Qt::Key_Return));
    EXPECT_EQ(Place(), "Canvas.DPanelEvents");
    EXPECT_TRUE(WaitUntilActive(form_.get()));
    EXPECT_EQ(FocusName(), "lvMembers");

    // A class without members: the focus stays in the history window.
    ActivateHistoryWindow();
    DoubleClickLine(2);
    EXPECT_EQ(Place(), "Rect");
    EXPECT_EQ(Form().lvMembers->topLevelItemCount(), 0);
    EXPECT_EQ(FocusName(), "lbHistory");
    EXPECT_EQ(QApplication::activeWindow(), history_);
}

TEST_F(HistoryTest, IndexesBeyondSixteenBitsFindTheirRowsAgain) {
    // Enough rows that the data word's halves wrap around.
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < 70000; ++i) rows << new TClassRow(QString("Extra%1").arg(i), eiRecord, ComPtr<ITypeInfo>());
    Form().lvClasses->addTopLevelItems(rows);
    const int far = Form().lvClasses->topLevelItemCount() - 1;
    ASSERT_GT(far, 0xFFFF);
    SelectClass(QString("Extra%1").arg(69999));
    Form().RecordHistory();
    EXPECT_EQ(history_->Entry(0).DataWord(), quint32(far & 0xFFFF));

    SelectClass("Canvas");
    history_->StepBack();
    EXPECT_EQ(SelectedClass(), "Extra69999");
}

TEST_F(HistoryTest, WindowIsAStayOnTopToolWindowShownByTheViewMenuAndHiddenByClosing) {
    EXPECT_EQ(history_->windowTitle(), "History Window");
    EXPECT_TRUE(history_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(history_->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(history_->isVisible());
    SelectClass("Rect");
    Form().RecordHistory();

    Form().miHistory->trigger();
    EXPECT_TRUE(history_->isVisible());
    EXPECT_EQ(history_->frameGeometry().size(), QSize(233, 246));
    EXPECT_EQ(Form().miHistory->shortcut(), QKeySequence("Ctrl+H"));
    history_->resize(300, 400);
    history_->close();
    EXPECT_FALSE(history_->isVisible());
    EXPECT_EQ(HistoryForm, history_);
    Form().miHistoryClick();
    EXPECT_TRUE(history_->isVisible());
    EXPECT_EQ(history_->size(), QSize(300, 400)) << "the size is kept";
    EXPECT_EQ(HistoryTexts(), QStringList{"Rect"});
}

TEST_F(HistoryTest, LinesAreSixteenPixelsAndShowAmpersandsAsThemselves) {
    history_->Insert(0, {"IO", 0, 0});
    history_->Insert(1, {"I&O", 0, 0});
    history_->show();
    QListWidget* list = history_->lbHistory;
    const QImage image = list->viewport()->grab().toImage();
    const QColor background = list->palette().color(QPalette::Active, QPalette::Base);
    // The rightmost inked column of a line.
    auto inkRight = [&](int row) {
        const QRect r = list->visualItemRect(list->item(row));
        EXPECT_EQ(r.height(), 16);
        int right = -1;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right() && x < image.width(); ++x)
                if (QColor(image.pixel(x, y)) != background) right = std::max(right, x);
        return right;
    };
    const int plain = inkRight(0), ampersand = inkRight(1);
    EXPECT_GT(plain, 2);
    EXPECT_GT(ampersand, plain + 3) << "the ampersand takes room of its own";
}
