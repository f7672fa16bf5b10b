// The main window's ways to choose a library: the Open and Resolve commands and the recent
// files, with the list loaded at start-up and saved when the window goes.
#include "app/application.h"
#include "app/mainform.h"
#include "components/MRUList/mrulist.h"
#include "dialogs/resolve.h"
#include "dialogs/typelib.h"
#include "platform/registry/registry.h"
#include "testenv.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const char* const kKey = "Software\\Quibrel Type Library Explorer\\MRU Items";

QStringList Texts(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QMenu* Reopen(const TMainForm& form) {
    for (QAction* a : form.miFile->actions())
        if (a->text() == "&Reopen") return a->menu();
    return nullptr;
}

// The "File" row of the library information.
QString OpenFile(const TMainForm& form) {
    for (int i = 0; i < form.lvTypeLib->topLevelItemCount(); ++i)
        if (form.lvTypeLib->topLevelItem(i)->text(0) == "File") return form.lvTypeLib->topLevelItem(i)->text(1);
    return QString();
}

// Runs what a person does in the modal dialog that is about to open.
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
        doc = TTestRegistry::Fixture("ChoosingDoc.tlb");
        noDoc = TTestRegistry::Fixture("ChoosingNoDoc.tlb");
        registry.WriteWineSystemReg(ResolveKeys());
    }
    void TearDown() override { ErrorSink() = nullptr; }

    void StoreList(const QStringList& files) {
        ScopedHKEY key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        for (int i = 0; i < files.size(); ++i)
            RegWriteString(key.Get(), ("F" + std::to_string(i)).c_str(), files[i].toStdString());
    }
    QStringList StoredList() {
        QStringList out;
        ScopedHKEY key;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, kKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return out;
        for (int i = 0;; ++i) {
            std::string value;
            if (!RegReadString(key.Get(), nullptr, ("F" + std::to_string(i)).c_str(), &value)) break;
            out << QString::fromStdString(value);
        }
        return out;
    }

    TTestRegistry registry;
    QStringList errors;
    QString doc, noDoc;
};

TEST_F(MainFormOpenTest, RecentFilesLoadAtStartUpAndFollowEveryOpenAndAreSavedAtTheEnd) {
    {
        TMainForm form;
        EXPECT_EQ(Reopen(form), nullptr);
        EXPECT_EQ(Texts(form.miFile), QStringList({"&Open...", "Open &File...", "-", "Resolve ProgID...", "-", "E&xit"}));
        form.OpenTypeLibWithHourglass(doc);
        EXPECT_EQ(Texts(form.miFile),
                  QStringList({"&Open...", "Open &File...", "&Reopen", "-", "Resolve ProgID...", "-", "E&xit"}));
        ASSERT_NE(Reopen(form), nullptr);
        EXPECT_EQ(Texts(Reopen(form)), QStringList({"&1 " + doc}));
        // A failed open leaves the list alone.
        EXPECT_THROW(form.OpenTypeLib("/nonexistent/x.tlb"), std::exception);
        EXPECT_EQ(form.mruTypeLib->Items(), QStringList({doc}));
        form.OpenTypeLib(noDoc);
        EXPECT_EQ(StoredList(), QStringList()) << "written only when the window goes";
    }
    EXPECT_EQ(StoredList(), QStringList({noDoc, doc}));

    TMainForm again;
    ASSERT_NE(Reopen(again), nullptr);
    EXPECT_EQ(Texts(Reopen(again)), QStringList({"&1 " + noDoc, "&2 " + doc}));
    EXPECT_TRUE(OpenFile(again).isEmpty());
}

TEST_F(MainFormOpenTest, ClickedRecentFileOpensAndStaysListedWhenItCannotBeOpened) {
    StoreList({"/nonexistent/gone.tlb", doc});
    TMainForm form;
    ASSERT_NE(Reopen(form), nullptr);
    Reopen(form)->actions()[1]->trigger();
    EXPECT_EQ(OpenFile(form), doc);
    EXPECT_EQ(form.mruTypeLib->Items(), QStringList({doc, "/nonexistent/gone.tlb"}));

    Reopen(form)->actions()[1]->trigger();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(OpenFile(form), doc);
    EXPECT_EQ(form.mruTypeLib->Items(), QStringList({doc, "/nonexistent/gone.tlb"}));
    QApplication::processEvents();
}

TEST_F(MainFormOpenTest, OpenCommandOpensThePickedRegisteredLibraryAndCancelOpensNothing) {
    TMainForm form;
    InModalDialog<TTypeLibForm>([](TTypeLibForm* dialog) { dialog->btnCancel->click(); });
    form.miOpenClick();
    EXPECT_TRUE(OpenFile(form).isEmpty());

    InModalDialog<TTypeLibForm>([&](TTypeLibForm* dialog) {
        // "Choosing Test Library", and ChoosingNoDoc by its last listed version.
        ASSERT_EQ(dialog->lvTypeLib->topLevelItemCount(), 2);
        EXPECT_EQ(dialog->lvTypeLib->topLevelItem(0)->text(0), "Choosing Test Library");
        EXPECT_EQ(dialog->SelectedFileName(), doc);
        dialog->btnOK->click();
    });
    form.miOpenClick();
    EXPECT_EQ(OpenFile(form), doc);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormOpenTest, ResolveCommandOpensTheFoundLibrary) {
    TMainForm form;
    InModalDialog<TResolveForm>([](TResolveForm* dialog) {
        dialog->txtProgID->setText("Quibrel.Widget");
        dialog->btnResolveClick();
        dialog->btnOpen->click();
    });
    form.miResolveClick();
    EXPECT_EQ(OpenFile(form), noDoc);
    EXPECT_EQ(form.mruTypeLib->Items(), QStringList({noDoc}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
