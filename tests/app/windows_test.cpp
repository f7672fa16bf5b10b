// What a user meets in the frames of the windows: the border icons each window offers, the
// font the windows really draw with, and the open dialog's filter list.
#include "appenv.h"

#include "app/application.h"
#include "dialogs/history.h"
#include "dialogs/legend.h"
#include "dialogs/resolve.h"
#include "dialogs/search.h"
#include "dialogs/typelib.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
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
