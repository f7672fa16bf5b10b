// Saving an event template from the main window, with the real save dialog answered by the test.
#include "app/application.h"
#include "writers/events.h"
#include "app/mainform.h"

#include "common/windowenv.h"

#include "qt_print.h"
#include "worked_example.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPanelLib = QStringLiteral(EVENTS_FIXTURE_DIR "/PanelEvents.tlb");

// One application; the registry and user folders point into a folder of the test's own.
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WindowEnvironment("events_window_tests"));

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList Numbered(const QStringList& lines) {
    QStringList out;
    for (int i = 0; i < lines.size(); ++i) out << QString("%1 ").arg((i + 1) * 10, 4, 10, QChar('0')) + lines[i];
    return out;
}

QStringList Handlers(const QByteArray& text) {
    QStringList out;
    for (const QString& l : QString::fromUtf8(text).split("\r\n"))
        if (l.contains("FUNCTION Event_")) out << l.section('(', 0, 0).section('_', 1);
    return out;
}

// Types a file name into the dialog as a user would.
void TypeFileName(QFileDialog* dlg, const QString& name) {
    auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
}

// Answers the next modal message box with the given button, remembering its text.
void AnswerMessageBox(QMessageBox::StandardButton answer, QString* text) {
    QTimer::singleShot(0, [answer, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *text = box->text();
        box->button(answer)->click();
    });
}

class SaveTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = std::make_unique<TMainForm>();
        form_->OpenTypeLib(kPanelLib);
        form_->SelectByNames("IPanelEvents", "");
        ASSERT_NE(form_->SelectedClassRow(), nullptr);
        ASSERT_TRUE(form_->MembersHaveCheckBoxes());
        QGuiApplication::clipboard()->setText("before");
    }
    void TearDown() override { form_.reset(); }

    // Runs SaveEventTemplate for the selected class and lets answer() work the dialog.
    void Save(const std::function<void(QFileDialog*)>& answer) {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = form_->dlgSave->isVisible();
            answer(form_->dlgSave);
        });
        TClassRow* row = form_->SelectedClassRow();
        form_->SaveEventTemplate(row->Caption(), row->TypeInfo.Get());
        EXPECT_TRUE(shown);
    }
    // Saves as fileName; filter is the entry to choose (1 or 2), or 0 to leave it. An
    // existing file is replaced when the dialog asks.
    void SaveAs(const QString& fileName, int filter = 0) {
        const bool exists = QFileInfo::exists(fileName);
        QString question;
        Save([&](QFileDialog* dlg) {
            if (filter) dlg->selectNameFilter(dlg->nameFilters().value(filter - 1));
            TypeFileName(dlg, fileName);
            if (exists) AnswerMessageBox(QMessageBox::Yes, &question);
            static_cast<QDialog*>(dlg)->accept();
        });
        EXPECT_EQ(question.isEmpty(), !exists);
    }
    // What the central handler would show for a save.
    QString SaveAsGuarded(const QString& fileName) {
        QString shown;
        ErrorSink() = [&](const QString& text) { shown = text; };
        RunGuarded([&] { SaveAs(fileName); });
        ErrorSink() = nullptr;
        return shown;
    }
    void SetChecked(const QString& caption, bool checked) {
        for (int i = 0; i < form_->lvMembers->topLevelItemCount(); ++i)
            if (form_->MemberRow(i)->Caption() == caption || caption.isEmpty())
                form_->MemberRow(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
    QString Clipboard() const { return QGuiApplication::clipboard()->text(); }

    std::unique_ptr<TMainForm> form_;
    QTemporaryDir dir_;
};

}  // namespace

TEST_F(SaveTemplateTest, DialogOffersTheInterfaceNameAndCancelChangesNothing) {
    Save([](QFileDialog* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "Save As");
        EXPECT_EQ(dlg->defaultSuffix(), "qbc");
        EXPECT_EQ(dlg->nameFilters(), QStringList({"Class File w/Line Numbers (*.qbc)",
                                                   "Class File wo/Line Numbers (*.qbc)"}));
        EXPECT_EQ(dlg->selectedNameFilter(), dlg->nameFilters().value(0));
        EXPECT_EQ(QFileInfo(dlg->selectedFiles().value(0)).fileName(), "IPanelEvents.qbc");
        dlg->reject();
    });
    EXPECT_EQ(Clipboard(), "before");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SaveTemplateTest, FilterChoosesLineNumbersAndIsKeptForTheNextSave) {
    const QString path = dir_.filePath("PanelHandler.qbc");
    const QByteArray plain = ClassFileText(SplitLines(kPanelHandler));
    const QByteArray numbered = ClassFileText(Numbered(SplitLines(kPanelHandler)));

    SaveAs(path);  // the first entry is chosen at the start
    EXPECT_EQ(ReadAll(path), numbered);
    EXPECT_EQ(Clipboard(), QString::fromUtf8(numbered));

    SaveAs(path, 2);
    EXPECT_EQ(ReadAll(path), plain);
    EXPECT_EQ(Clipboard(), QString::fromUtf8(plain));

    SaveAs(dir_.filePath("Again.qbc"));
    EXPECT_TRUE(ReadAll(dir_.filePath("Again.qbc")).startsWith("DEF CLASS \"Again\"\r\n"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SaveTemplateTest, ClassNameFollowsTheChosenFileName) {
    SaveAs(dir_.filePath("Handler.old.qbc"));
    EXPECT_TRUE(ReadAll(dir_.filePath("Handler.old.qbc")).startsWith("0010 DEF CLASS \"Handler.old\"\r\n"));
    // Typed without an extension: the dialog adds it.
    SaveAs(dir_.filePath("My Panel Handler"));
    EXPECT_TRUE(ReadAll(dir_.filePath("My Panel Handler.qbc")).startsWith("0010 DEF CLASS \"My Panel Handler\"\r\n"));
}

TEST_F(SaveTemplateTest, OnlyCheckedEventsGetHandlers) {
    const QString path = dir_.filePath("H.qbc");
    SetChecked("Click", false);
    SaveAs(path);
    EXPECT_EQ(Handlers(ReadAll(path)), QStringList{"KeyDown"});

    SetChecked("", false);
    SaveAs(path);
    EXPECT_EQ(Handlers(ReadAll(path)), QStringList{});
    EXPECT_TRUE(ReadAll(path).endsWith("0440 RETURN TCB(123)\r\n"));
}

TEST_F(SaveTemplateTest, ReplacingAFileIsAskedFirst) {
    const QString path = dir_.filePath("H.qbc");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old\r\n");
    old.close();

    QString question;
    bool stillOpen = false;
    Save([&](QFileDialog* dlg) {
        TypeFileName(dlg, path);
        AnswerMessageBox(QMessageBox::No, &question);
        static_cast<QDialog*>(dlg)->accept();
        stillOpen = dlg->isVisible();  // "No" returns to the dialog
        dlg->reject();
    });
    EXPECT_FALSE(question.isEmpty());
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(ReadAll(path), "old\r\n");
    EXPECT_EQ(Clipboard(), "before");

    question.clear();
    Save([&](QFileDialog* dlg) {
        TypeFileName(dlg, path);
        AnswerMessageBox(QMessageBox::Yes, &question);
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_FALSE(question.isEmpty());
    EXPECT_TRUE(ReadAll(path).startsWith("0010 DEF CLASS \"H\""));
}

TEST_F(SaveTemplateTest, FailedSaveShowsTheMessageAndKeepsTheClipboard) {
    const QString missing = dir_.filePath("gone/H.qbc");
    EXPECT_EQ(SaveAsGuarded(missing), "Cannot create file " + missing + ".");
    EXPECT_EQ(Clipboard(), "before");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SaveTemplateTest, SaveIntoALockedFolderKeepsTheEarlierFile) {
    const QString folder = dir_.filePath("locked");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = folder + "/H.qbc";
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old\r\n");
    old.close();
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const bool enforced = access(QFile::encodeName(folder).constData(), W_OK) != 0;
    QString shown;
    if (enforced) shown = SaveAsGuarded(path);
    chmod(QFile::encodeName(folder).constData(), 0755);
    if (!enforced) GTEST_SKIP() << "folder permissions are not enforced for this user";
    EXPECT_EQ(shown, "Cannot create file " + path + ".");
    EXPECT_EQ(ReadAll(path), "old\r\n");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"H.qbc"});
    EXPECT_EQ(Clipboard(), "before");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SaveTemplateTest, DialogStartsWhereTheLastSaveWent) {
    const QString first = dir_.filePath("first");
    const QString second = dir_.filePath("second");
    ASSERT_TRUE(QDir().mkdir(first));
    ASSERT_TRUE(QDir().mkdir(second));

    QString startedIn;
    auto saveNoting = [&](const QString& path) {
        Save([&](QFileDialog* dlg) {
            startedIn = dlg->directory().absolutePath();
            TypeFileName(dlg, path);
            static_cast<QDialog*>(dlg)->accept();
        });
    };
    saveNoting(first + "/A.qbc");
    saveNoting(first + "/B.qbc");
    EXPECT_EQ(startedIn, first);
    saveNoting(second + "/C.qbc");
    EXPECT_EQ(startedIn, first);
    // Cancelling leaves the folder as it was.
    Save([&](QFileDialog* dlg) {
        startedIn = dlg->directory().absolutePath();
        EXPECT_EQ(QFileInfo(dlg->selectedFiles().value(0)).fileName(), "IPanelEvents.qbc");
        dlg->reject();
    });
    EXPECT_EQ(startedIn, second);
    EXPECT_TRUE(QFileInfo::exists(second + "/C.qbc"));
}
