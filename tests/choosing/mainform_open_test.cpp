// The main window's ways to choose a library: the Open and Resolve commands and the recent
// files, with the list loaded at start-up and saved when the window goes.
#include "app/application.h"
#include "app/mainform.h"
#include "components/MRUList/mrulist.h"
#include "dialogs/resolve.h"
#include "dialogs/typelib.h"
#include "testenv.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

QMenu* Reopen(const TMainForm& form) {
    const QAction* third = form.miFile->actions().value(2);
    return third && third->text() == "&Reopen" ? third->menu() : nullptr;
}

// The "File" row of the library information.
QString OpenFile(const TMainForm& form) {
    const auto rows = form.lvTypeLib->findItems("File", Qt::MatchExactly, 0);
    return rows.isEmpty() ? QString() : rows.first()->text(1);
}

// What a person does in the modal dialog that is about to open.
template <class Dialog>
void InModalDialog(std::function<void(Dialog*)> action) {
    QTimer::singleShot(0, [action] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        action(dialog);
        if (dialog->isVisible()) dialog->reject();
    });
}

class MainFormOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        ErrorSink() = [this](const QString& text) { errors << text; };
        registry.WriteWineSystemReg(ResolveKeys());
    }
    void TearDown() override { ErrorSink() = nullptr; }

    TTestRegistry registry;
    QStringList errors;
    const QString doc = TTestRegistry::Fixture("ChoosingDoc.tlb");
    const QString noDoc = TTestRegistry::Fixture("ChoosingNoDoc.tlb");
};

TEST_F(MainFormOpenTest, RecentFilesAppearOnTheFirstOpenAndAreSavedWhenTheWindowGoes) {
    {
        TMainForm form;
        EXPECT_EQ(Reopen(form), nullptr);
        form.OpenTypeLibWithHourglass(doc);
        ASSERT_NE(Reopen(form), nullptr) << "directly below Open File";
        EXPECT_THROW(form.OpenTypeLib("/nonexistent/x.tlb"), std::exception);
        form.OpenTypeLib(noDoc);
        EXPECT_EQ(MenuTexts(Reopen(form)), QStringList({"&1 " + noDoc, "&2 " + doc}));
        EXPECT_TRUE(StoredRecentFiles().isEmpty()) << "written only when the window goes";
    }
    EXPECT_EQ(StoredRecentFiles(), QStringList({"F0=" + noDoc, "F1=" + doc}));
}

TEST_F(MainFormOpenTest, ClickedRecentFileOpensAndStaysListedWhenItCannotBeOpened) {
    StoreRecentFiles({{"F0", "/nonexistent/gone.tlb"}, {"F1", doc.toStdString()}});
    TMainForm form;
    ASSERT_NE(Reopen(form), nullptr);
    Reopen(form)->actions()[1]->trigger();
    EXPECT_EQ(OpenFile(form), doc);
    Reopen(form)->actions()[1]->trigger();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(OpenFile(form), doc);
    EXPECT_EQ(form.mruTypeLib->Items(), QStringList({doc, "/nonexistent/gone.tlb"}));
    QApplication::processEvents();
}

TEST_F(MainFormOpenTest, OpenAndResolveCommandsOpenWhatTheDialogsFound) {
    TMainForm form;
    InModalDialog<TTypeLibForm>([](TTypeLibForm* dialog) { dialog->btnCancel->click(); });
    form.miOpenClick();
    EXPECT_TRUE(OpenFile(form).isEmpty());

    InModalDialog<TTypeLibForm>([&](TTypeLibForm* dialog) {
        EXPECT_EQ(dialog->SelectedFileName(), doc) << "\"Choosing Test Library\" sorts first";
        dialog->btnOK->click();
    });
    form.miOpenClick();
    EXPECT_EQ(OpenFile(form), doc);

    InModalDialog<TResolveForm>([](TResolveForm* dialog) {
        dialog->txtProgID->setText("Quibrel.Widget");
        dialog->btnResolveClick();
        dialog->btnOpen->click();
    });
    form.miResolveClick();
    EXPECT_EQ(OpenFile(form), noDoc);
    EXPECT_EQ(form.mruTypeLib->Items(), QStringList({noDoc, doc}));

    // The library opens at the class the ProgID names, not at its first class (Gadget).
    InModalDialog<TResolveForm>([](TResolveForm* dialog) {
        dialog->txtProgID->setText("Quibrel.Sprocket");
        dialog->btnResolveClick();
        dialog->btnOpen->click();
    });
    form.miResolveClick();
    EXPECT_EQ(OpenFile(form), doc);
    ASSERT_TRUE(form.SelectedClassRow());
    EXPECT_EQ(form.SelectedClassRow()->Caption(), "Sprocket");
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
