// The search dialog driven as a person would: what a search finds and how it shows it,
// cancelling, the typed-prefix find in the result list, selecting results, and forgetting
// everything when another library opens.
#include "searchenv.h"

#include "app/application.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SearchEnvironment);

class SearchTest : public BrowserTest {
protected:
    // The index in ilMain of the icon a cell shows, or -1 for none (also for an icon that is
    // none of ilMain's).
    int IconIndex(const QModelIndex& cell) const {
        const QVariant v = cell.data(Qt::DecorationRole);
        if (!v.isValid()) return -1;
        const qint64 key = v.value<QIcon>().cacheKey();
        for (int i = 0; i < EntityIconCount; ++i)
            if (form_->ilMain[size_t(i)].cacheKey() == key) return i;
        return -2;
    }
    // The rows of the result list as shown: "Class [icon] | Member [icon]", the member part
    // empty for a class row.
    QStringList Rows() const {
        QStringList rows;
        QAbstractItemModel* model = search_->lvSearch->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            const QModelIndex c = model->index(r, 0), m = model->index(r, 1);
            QString row = QStringLiteral("%1 [%2] |").arg(c.data().toString()).arg(IconIndex(c));
            if (!m.data().toString().isEmpty() || IconIndex(m) != -1)
                row += QStringLiteral(" %1 [%2]").arg(m.data().toString()).arg(IconIndex(m));
            rows << row;
        }
        return rows;
    }
    void Search(const QString& text) {
        search_->txtSearch->setText(text);
        ASSERT_TRUE(search_->btnSearch->isEnabled());
        search_->btnSearch->click();
    }
    void ShowDialog() {
        search_->show();
        search_->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == search_; }));
    }
    void SelectResult(int row) {
        QTreeView* view = search_->lvSearch;
        view->setCurrentIndex(view->model()->index(row, 0));
    }
};

TEST_F(SearchTest, FindsClassesAndMembersByPartOfTheirNames) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    Search("get");
    // Classes in list order, members in their own order; the coclass CoGetMaker is not
    // searched; the event interface gives events only; IUnknown and IDispatch method names
    // are not reported, but a property variable of such a name is; a read-write property is
    // reported once, whichever accessor comes first.
    const QStringList expected = {
        "DGetEvents [1] |",
        "DGetEvents [1] | OnGet [7]",
        "DSkips [1] | GETIDSOFNAMES [5]",
        "IGetter [1] |",
        "IGetter [1] | Target [5]",
        "IGetter [1] | GetValue [6]",
        "IGetter [1] | get_Item [6]",
        "IGetter [1] | Gettable [5]",
        "IGetter [1] | Budget [5]",
        "Getters [2] |",
        "Getters [2] | GetFirst [8]",
        "Records [3] | widget [9]",
        "GetAlias [4] |",
    };
    EXPECT_EQ(Rows(), expected);
    // Letter case of the search text does not matter either.
    Search("gET");
    EXPECT_EQ(Rows(), expected);

}

TEST_F(SearchTest, IUnknownAndIDispatchNamesAreSkippedOnlyAsFunctions) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    // Each name appears as functions (DSkips, in other letter case; AddRef also as an event)
    // and some as a property variable, a record field or an enumeration constant.
    const std::pair<const char*, QStringList> cases[] = {
        {"queryinterface", {}},
        {"ADDREF", {"Records [3] | AddRef [9]"}},
        {"release", {"Getters [2] | Release [8]"}},
        {"gettypeinfo", {}},
        {"GetIDsOfNames", {"DSkips [1] | GETIDSOFNAMES [5]"}},
        {"invoke", {"DSkips [1] | Invoke [5]"}},
    };
    for (const auto& [text, rows] : cases) {
        Search(text);
        EXPECT_EQ(Rows(), rows) << text;
    }
    Search("kept");
    EXPECT_EQ(Rows(), QStringList({"DSkips [1] | Kept [6]"}));
}

TEST_F(SearchTest, FindingNothing) {
    ShowDialog();
    // No library open: the class list is empty.
    for (const char* path : {"", "SearchEmpty.tlb", "SearchCases.tlb"}) {
        if (*path) Form().OpenTypeLib(SearchFixture(path));
        Search("nothing-like-this");
        EXPECT_TRUE(Rows().isEmpty()) << path;
        EXPECT_TRUE(search_->Results().empty());
        EXPECT_TRUE(search_->btnSearch->isEnabled());
        EXPECT_TRUE(search_->txtSearch->isEnabled());
        EXPECT_FALSE(search_->Busy());
        EXPECT_EQ(QApplication::focusWidget(), search_->txtSearch);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

TEST_F(SearchTest, SearchButtonAndEnterFollowTheText) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    ShowDialog();
    EXPECT_EQ(QApplication::focusWidget(), search_->txtSearch);
    EXPECT_FALSE(search_->btnSearch->isEnabled());
    // Enter with nothing typed does nothing.
    QTest::keyClick(search_->txtSearch, Qt::Key_Return);
    EXPECT_TRUE(search_->isVisible());
    EXPECT_TRUE(Rows().isEmpty());

    QTest::keyClicks(search_->txtSearch, "zap");
    EXPECT_TRUE(search_->btnSearch->isEnabled());
    QTest::keyClick(search_->txtSearch, Qt::Key_Return);
    EXPECT_EQ(Rows(), QStringList({"IApplication [1] | Zap [6]"}));
    EXPECT_TRUE(search_->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), search_->txtSearch);

    search_->txtSearch->clear();
    EXPECT_FALSE(search_->btnSearch->isEnabled());
}

TEST_F(SearchTest, CancelStopsAfterTheClassBeingSearchedAndKeepsWhatWasFound) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    ShowDialog();
    search_->txtSearch->setText("e");
    search_->lvSearch->setFocus();

    // The click arrives while the search lets pending messages through, after its first
    // class; the class after it is still searched.
    struct Seen {
        bool busy = false, editEnabled = true, searchEnabled = true, appStarting = false;
        int rows = -1;
    } seen;
    QTimer::singleShot(0, search_, [&] {
        seen.busy = search_->Busy();
        seen.editEnabled = search_->txtSearch->isEnabled();
        seen.searchEnabled = search_->btnSearch->isEnabled();
        seen.rows = search_->lvSearch->model()->rowCount();
        const QCursor* cursor = QGuiApplication::overrideCursor();
        seen.appStarting = cursor && cursor->shape() == Qt::BusyCursor;
        QTest::mouseClick(search_->btnCancel, Qt::LeftButton);
    });
    search_->RunSearch();

    EXPECT_TRUE(seen.busy);
    EXPECT_FALSE(seen.editEnabled);
    EXPECT_FALSE(seen.searchEnabled);
    EXPECT_TRUE(seen.appStarting);
    EXPECT_EQ(seen.rows, 0);  // rows appear when the search ends

    EXPECT_EQ(Rows(), QStringList({"DGetEvents [1] |", "DGetEvents [1] | OnGet [7]",
                                   "DGetEvents [1] | Finished [7]", "DSkips [1] | Invoke [5]",
                                   "DSkips [1] | GETIDSOFNAMES [5]", "DSkips [1] | Kept [6]"}));
    EXPECT_TRUE(search_->isVisible());
    EXPECT_NE(QApplication::focusWidget(), search_->txtSearch);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(search_->txtSearch->isEnabled());
    EXPECT_TRUE(search_->btnSearch->isEnabled());

    // Esc during a search cancels it too and leaves the dialog open; the next search runs
    // to the end.
    QTimer::singleShot(0, search_, [&] { QTest::keyClick(search_->lvSearch, Qt::Key_Escape); });
    search_->RunSearch();
    EXPECT_EQ(Rows().size(), 6);
    EXPECT_TRUE(search_->isVisible());
    search_->RunSearch();
    EXPECT_GT(Rows().size(), 6);
    EXPECT_TRUE(search_->isVisible());
}

TEST_F(SearchTest, ClosingTheWindowOrOpeningALibraryDuringASearch) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    ShowDialog();
    search_->txtSearch->setText("e");
    // The close box stops the search and closes the dialog.
    QTimer::singleShot(0, search_, [&] { search_->close(); });
    search_->RunSearch();
    EXPECT_FALSE(search_->isVisible());
    EXPECT_EQ(Rows().size(), 6);

    // A library opened while a search runs: the class rows it was reading go away, and
    // nothing of the old library is shown afterwards.
    search_->txtSearch->setText("e");
    int pauses = 0;
    search_->FProcessMessages = [&] {
        if (++pauses == 2) Form().OpenTypeLib(Fixture("QuibrelTest.tlb"));
    };
    search_->RunSearch();
    search_->FProcessMessages = nullptr;
    EXPECT_LE(pauses, 3);
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_TRUE(search_->txtSearch->text().isEmpty());
    EXPECT_FALSE(search_->btnSearch->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SearchTest, OpeningALibraryForgetsTextAndResults) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    Search("get");
    ASSERT_FALSE(Rows().isEmpty());
    // Kept while the dialog is hidden and shown again.
    ShowDialog();
    search_->hide();
    search_->show();
    EXPECT_EQ(search_->txtSearch->text(), "get");
    EXPECT_EQ(Rows().size(), 13);

    Form().OpenTypeLib(Fixture("QuibrelTest.tlb"));
    EXPECT_TRUE(search_->txtSearch->text().isEmpty());
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_TRUE(search_->Results().empty());
    EXPECT_FALSE(search_->btnSearch->isEnabled());
    EXPECT_TRUE(search_->btnCancel->isEnabled());
    QTest::keyClicks(search_->txtSearch, "x");
    EXPECT_TRUE(search_->btnSearch->isEnabled());
}

TEST_F(SearchTest, TypingInTheResultsFindsAClassByItsBeginning) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    Search("z");
    ASSERT_EQ(Rows(), QStringList({"IAbout [1] | Zed [6]", "iAgent [1] | Zip [6]", "IApplication [1] | Zap [6]"}));
    // From the start row on; with wrap also the rows before it. Case is ignored in both.
    EXPECT_EQ(search_->lvSearchDataFind("IA", 0, false), 0);
    EXPECT_EQ(search_->lvSearchDataFind("ia", 1, false), 1);
    EXPECT_EQ(search_->lvSearchDataFind("IAG", 0, false), 1);
    EXPECT_EQ(search_->lvSearchDataFind("iap", 0, false), 2);
    EXPECT_EQ(search_->lvSearchDataFind("iab", 1, false), -1);
    EXPECT_EQ(search_->lvSearchDataFind("iab", 2, true), 0);
    EXPECT_EQ(search_->lvSearchDataFind("iap", 2, true), 2);
    EXPECT_EQ(search_->lvSearchDataFind("Zed", 0, true), -1);  // member names are not looked at
    EXPECT_EQ(search_->lvSearchDataFind("ib", 1, true), -1);

    // Typed into the list: the found row becomes the selected one, and the main window
    // follows it.
    ShowDialog();
    search_->lvSearch->setFocus();
    SelectResult(2);
    QTest::keyClicks(search_->lvSearch, "iab");
    EXPECT_EQ(search_->lvSearch->currentIndex().row(), 0);
    EXPECT_EQ(SelectedClass(), "IAbout");
    EXPECT_EQ(SelectedMember(), "Zed");
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClicks(search_->lvSearch, "IAP");
    EXPECT_EQ(search_->lvSearch->currentIndex().row(), 2);
    EXPECT_EQ(SelectedClass(), "IApplication");
}

TEST_F(SearchTest, SelectingAResultSelectsItInTheMainWindow) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    ShowDialog();
    Search("get");
    const QStringList rows = Rows();
    const int gettable = int(rows.indexOf("IGetter [1] | Gettable [5]"));
    const int getters = int(rows.indexOf("Getters [2] |"));
    const int onGet = int(rows.indexOf("DGetEvents [1] | OnGet [7]"));

    SelectResult(gettable);
    EXPECT_EQ(SelectedClass(), "IGetter");
    EXPECT_EQ(SelectedMember(), "Gettable");
    // A class row selects the class alone.
    SelectResult(getters);
    EXPECT_EQ(SelectedClass(), "Getters");
    EXPECT_EQ(SelectedMember(), "");

    // With the mouse and the keyboard.
    QTreeView* view = search_->lvSearch;
    view->scrollToTop();
    const QRect cell = view->visualRect(view->model()->index(onGet, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    EXPECT_EQ(SelectedClass(), "DGetEvents");
    EXPECT_EQ(SelectedMember(), "OnGet");
    QTest::keyClick(view, Qt::Key_Down);
    EXPECT_EQ(SelectedClass(), "DSkips");
    EXPECT_EQ(SelectedMember(), "GETIDSOFNAMES");
    EXPECT_TRUE(search_->isVisible());

    // The icons are the lists' own.
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        const QString cls = view->model()->index(r, 0).data().toString();
        QTreeWidgetItem* row = form_->lvClasses->topLevelItem(RowOf(form_->lvClasses, cls));
        EXPECT_EQ(view->model()->index(r, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
                  row->icon(0).cacheKey()) << cls.toStdString();
    }
}

TEST_F(SearchTest, TheSearchCommandShowsTheDialogModally) {
    Form().OpenTypeLib(SearchFixture("SearchCases.tlb"));
    bool modal = false;
    QStringList inside;
    QTimer::singleShot(0, &Form(), [&] {
        modal = search_->isVisible() && search_->isModal();
        QTest::keyClicks(search_->txtSearch, "budget");
        QTest::keyClick(search_->txtSearch, Qt::Key_Return);
        inside = Rows();
        SelectResult(0);
        QTest::keyClick(search_->txtSearch, Qt::Key_Escape);
    });
    Form().miSearch->trigger();
    EXPECT_TRUE(modal);
    EXPECT_EQ(inside, QStringList({"IGetter [1] | Budget [5]"}));
    EXPECT_FALSE(search_->isVisible());
    EXPECT_EQ(SelectedClass(), "IGetter");
    EXPECT_EQ(SelectedMember(), "Budget");

    // Opened again: the text and the results are still there; Cancel closes it.
    QStringList again;
    QTimer::singleShot(0, &Form(), [&] {
        again = Rows();
        again << search_->txtSearch->text();
        QTest::mouseClick(search_->btnCancel, Qt::LeftButton);
    });
    Form().miSearchClick();
    EXPECT_EQ(again, QStringList({"IGetter [1] | Budget [5]", "budget"}));
    EXPECT_FALSE(search_->isVisible());
}

}  // namespace
