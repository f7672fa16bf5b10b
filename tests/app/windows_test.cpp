// What a user meets in the frames of the windows: the border icons each window offers, the
// font the windows really draw with, and the open dialog's filter list.
#include "appenv.h"

#include "app/application.h"
#include "app/docpane.h"
#include "app/placement.h"
#include "dialogs/history.h"
#include "dialogs/idl.h"
#include "dialogs/legend.h"
#include "dialogs/resolve.h"
#include "dialogs/search.h"
#include "dialogs/typelib.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The border icons a window asks its frame for, as a short list.
QString BorderIcons(const QWidget* w) {
    const Qt::WindowFlags f = w->windowFlags();
    QStringList icons;
    if (f & Qt::WindowSystemMenuHint) icons << "menu";
    if (f & Qt::WindowMinimizeButtonHint) icons << "minimise";
    if (f & Qt::WindowMaximizeButtonHint) icons << "maximise";
    if (f & Qt::WindowCloseButtonHint) icons << "close";
    if (f & Qt::WindowContextHelpButtonHint) icons << "help";
    return icons.join(',');
}

bool FixedSize(const QWidget* w) { return w->minimumSize() == w->maximumSize(); }

}  // namespace

TEST(Windows, EachWindowOffersItsDocumentedBorderIcons) {
    TWindow main;
    // The flags a frame honours are those of the window as shown.
    main->show();
    EXPECT_EQ(BorderIcons(main.form.get()), "menu,minimise,close");
    EXPECT_TRUE(main->windowFlags() & Qt::WindowTitleHint);
    EXPECT_TRUE(FixedSize(main.form.get())) << "no resizing";

    TTypeLibForm typeLibs(main.form.get());
    TResolveForm resolve(main.form.get(), [](const QString&) {});
    for (QDialog* modal : {static_cast<QDialog*>(&typeLibs), static_cast<QDialog*>(&resolve)}) {
        SCOPED_TRACE(modal->windowTitle().toStdString());
        EXPECT_EQ(modal->windowType(), Qt::Dialog);
        EXPECT_EQ(BorderIcons(modal), "") << "a dialog border without icons";
        EXPECT_TRUE(modal->windowFlags() & Qt::WindowTitleHint);
        EXPECT_TRUE(FixedSize(modal));
    }

    TSearchForm search(main.form.get());
    TLegendForm legend(main.form.get());
    THistoryForm history(main.form.get());
    for (QWidget* tool : {static_cast<QWidget*>(&search), static_cast<QWidget*>(&legend),
                          static_cast<QWidget*>(&history)}) {
        SCOPED_TRACE(tool->windowTitle().toStdString());
        EXPECT_EQ(BorderIcons(tool), "menu,close");
        EXPECT_TRUE(tool->windowFlags() & Qt::WindowTitleHint);
    }
    EXPECT_TRUE(FixedSize(&search));
    EXPECT_TRUE(FixedSize(&legend));
    EXPECT_FALSE(FixedSize(&history)) << "the history window has a sizeable border";
    EXPECT_FALSE(search.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(legend.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(history.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST(Windows, TheWindowsDrawInTahomaWhereTheFontIsInstalled) {
    if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")))
        GTEST_SKIP() << "fonts-wine is not installed";
    EnsureTestApp();
    const QFont before = QApplication::font();
    SetUpApplicationFont();
    {
        TWindow main;
        TSearchForm search(main.form.get());
        TLegendForm legend(main.form.get());
        THistoryForm history(main.form.get());
        TTypeLibForm typeLibs(main.form.get());
        TResolveForm resolve(main.form.get(), [](const QString&) {});
        QList<QWidget*> windows{main.form.get(), &search, &legend, &history, &typeLibs, &resolve};
        for (QWidget* window : windows) {
            QList<QWidget*> widgets = window->findChildren<QWidget*>();
            widgets.prepend(window);
            for (QWidget* w : widgets) {
                // The font the glyphs are drawn with, not the one asked for.
                const QFontInfo info(w->font());
                ASSERT_EQ(info.family(), "Tahoma")
                    << window->objectName().toStdString() << "/" << w->objectName().toStdString();
                ASSERT_EQ(info.pixelSize(), 11) << w->objectName().toStdString();
            }
        }
    }
    QApplication::setFont(before);
}

TEST(Windows, OpenDialogShowsItsFilterDescriptionOnce) {
    TWindow main;
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* dlg = main->dlgOpen;
        if (auto* types = dlg->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            shown = types->currentText();
        dlg->reject();
    });
    main->miOpenFileClick();
    EXPECT_EQ(shown, "Type Library (*.tlb, *.dll, *.ocx, *.exe, *.olb)");
    // What the dialog lists still filters by all five patterns.
    EXPECT_EQ(main->dlgOpen->nameFilters(),
              QStringList{"Type Library (*.tlb, *.dll, *.ocx, *.exe, *.olb) (*.tlb *.dll *.ocx *.exe *.olb)"});
}

// Where a tool window opens: beside the main window, never over it, on screen; made smaller
// (down to its minimum) when no side has room for all of it.
TEST(Windows, ToolWindowsOpenBesideTheMainWindowAndOnScreen) {
    const QRect screen(0, 0, 1280, 1024);
    struct Case {
        const char* what;
        QRect anchor;
        QSize size, minimum;
        QRect expected;  // empty: only "on screen, covering the least"
    } cases[] = {
        {"to the right, level with its top", {300, 200, 500, 450}, {300, 200}, {300, 200}, {808, 200, 300, 200}},
        {"below when the right is full", {700, 100, 570, 450}, {300, 200}, {300, 200}, {700, 558, 300, 200}},
        {"left when right and below are full", {700, 0, 580, 1024}, {300, 200}, {300, 200}, {392, 0, 300, 200}},
        {"kept on screen along the side", {300, 900, 500, 124}, {300, 200}, {300, 200}, {808, 824, 300, 200}},
        {"made smaller to fit beside", {387, 297, 508, 451}, {640, 480}, {213, 160}, {903, 297, 377, 480}},
        {"no room anywhere", {0, 0, 1280, 1024}, {300, 200}, {300, 200}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QRect r = PlaceBeside(c.anchor, c.size, c.minimum, screen);
        EXPECT_TRUE(screen.contains(r));
        if (c.expected.isEmpty()) continue;
        EXPECT_EQ(r, c.expected);
        EXPECT_FALSE(r.intersects(c.anchor));
    }
    EXPECT_TRUE(FitsScreens({10, 10, 100, 100}, {{0, 0, 800, 600}, {800, 0, 800, 600}}));
    EXPECT_FALSE(FitsScreens({750, 10, 100, 100}, {{0, 0, 800, 600}, {800, 0, 800, 600}})) << "across two screens";
}

// The IDL window comes back where it was left, with its size, when that still fits the screen;
// else it opens beside the main window. Esc closes it and the history window.
TEST(Windows, ToolWindowsKeepTheirPlaceAndCloseWithEscape) {
    EnsureTestApp();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        TWindow main;
        main->move(screen.topLeft());
        main->show();
        auto* idl = new TIdlForm(main.form.get());
        idl->show();
        EXPECT_FALSE(idl->frameGeometry().intersects(main->frameGeometry()));
        EXPECT_TRUE(screen.contains(idl->frameGeometry()));
        idl->move(screen.topLeft() + QPoint(30, 40));
        idl->resize(300, 200);
        QTest::keyClick(idl, Qt::Key_Escape);
        EXPECT_FALSE(idl->isVisible());

        auto* history = new THistoryForm(main.form.get());
        history->show();
        QTest::keyClick(history->lbHistory, Qt::Key_Escape);
        EXPECT_FALSE(history->isVisible());
    }
    QRect kept;
    ASSERT_TRUE(LoadWindowPlace("IDL", &kept));
    EXPECT_EQ(kept, QRect(screen.topLeft() + QPoint(30, 40), QSize(300, 200)));
    {
        TWindow main;
        main->move(screen.topLeft());
        main->show();
        auto* idl = new TIdlForm(main.form.get());
        idl->show();
        EXPECT_EQ(idl->pos(), screen.topLeft() + QPoint(30, 40));
        EXPECT_EQ(idl->size(), QSize(300, 200));
    }
    ASSERT_TRUE(SaveWindowPlace("IDL", QRect(screen.right() + 5000, 10, 300, 200)));
    {
        TWindow main;
        main->move(screen.topLeft());
        main->show();
        auto* idl = new TIdlForm(main.form.get());
        idl->show();
        EXPECT_TRUE(screen.contains(idl->frameGeometry())) << "a place off every screen is not restored";
        EXPECT_FALSE(idl->frameGeometry().intersects(main->frameGeometry()));
    }
}

// Every menu item's accelerator letter is its own within its menu.
TEST(Windows, AcceleratorLettersClashWithNothingInTheirMenu) {
    TWindow main;
    main->OpenTypeLib(Fixture("QuibrelTest.tlb"));  // so that the Reopen submenu is there
    QList<QMenu*> menus{main->pmEdit};
    for (QAction* a : main->mnuMain->actions())
        if (a->menu()) menus << a->menu();
    EXPECT_EQ(main->miResolve->text(), "Resolve &ProgID...");
    EXPECT_EQ(main->miCopyAll->text(), "Copy &All");
    EXPECT_EQ(main->miCopyAll1->text(), "Copy &All");
    for (QMenu* menu : menus) {
        QMap<QChar, QString> seen;
        for (QAction* a : menu->actions()) {
            const QString text = a->text();
            const qsizetype amp = text.indexOf('&');
            if (a->isSeparator() || amp < 0 || amp + 1 >= text.size()) continue;
            const QChar letter = text[amp + 1].toLower();
            EXPECT_FALSE(seen.contains(letter)) << menu->title().toStdString() << ": " << text.toStdString() << " and "
                                                << seen.value(letter).toStdString();
            seen.insert(letter, text);
        }
    }
}

// View > Resizable Window: the lists and the documentation pane grow with the window, the
// library information keeps its height; unchecked, the designed size and layout come back.
TEST(Windows, ResizableWindowOptionGrowsThePanesAndComesBackToTheDesignedSize) {
    TWindow main;
    main->show();
    const QSize designed = main->size();
    const QRect classes = main->lvClasses->geometry(), members = main->lvMembers->geometry();
    const QRect info = main->lvTypeLib->geometry(), doc = main->txtDoc->Widget()->geometry();
    const QRect entity = main->gbEntity->geometry();
    EXPECT_EQ(classes, QRect(12, 24, 229, 161));
    EXPECT_FALSE(main->miResizable->isChecked());
    EXPECT_EQ(main->miResizable->text(), "&Resizable Window");

    main->miResizable->trigger();
    EXPECT_TRUE(main->ResizableWindow());
    EXPECT_FALSE(FixedSize(main.form.get()));
    EXPECT_TRUE(main->windowFlags() & Qt::WindowMaximizeButtonHint);
    main->resize(designed + QSize(200, 150));
    QApplication::processEvents();
    EXPECT_EQ(main->lvClasses->geometry(), classes.adjusted(0, 0, 100, 100));
    EXPECT_EQ(main->lvMembers->geometry(), members.adjusted(100, 0, 200, 100));
    EXPECT_EQ(main->lvTypeLib->geometry(), info.adjusted(0, 0, 200, 0)) << "keeps its height";
    EXPECT_EQ(main->gbEntity->geometry(), entity.adjusted(0, 100, 200, 150));
    EXPECT_EQ(main->txtDoc->Widget()->geometry(), doc.adjusted(0, 0, 200, 50));

    main->miResizable->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(main->ResizableWindow());
    EXPECT_TRUE(FixedSize(main.form.get()));
    EXPECT_EQ(main->size(), designed);
    EXPECT_FALSE(main->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(main->lvClasses->geometry(), classes);
    EXPECT_EQ(main->txtDoc->Widget()->geometry(), doc);

    // The choice is kept for the next start.
    main->miResizable->trigger();
    TWindow next;
    EXPECT_TRUE(next->ResizableWindow());
    EXPECT_TRUE(next->miResizable->isChecked());
    next->miResizable->trigger();
}
