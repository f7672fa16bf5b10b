// The IDL window: following the main window's selection, the member highlighted, hot spots
// that select a class, colour rules, and Save.
#include "components/ColMemo/colmemo.h"
#include "dialogs/history.h"
#include "dialogs/idl.h"

#include "common/windowenv.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

class IdlEnvironment : public WindowEnvironment {
public:
    IdlEnvironment() : WindowEnvironment("idlwriter_tests") {}
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new IdlEnvironment);

class IdlWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        form_ = std::make_unique<TMainForm>();
        idl_ = new TIdlForm(form_.get());
        ASSERT_EQ(IdlForm, idl_);
        form_->show();
        form_->OpenTypeLib(QStringLiteral(QUIBREL_FIXTURE_DIR "/QuibrelTest.tlb"));
    }
    QString Shown() const { return idl_->memIdl->toPlainText(); }
    TIdlForm* idl_ = nullptr;
};

TEST_F(IdlWindowTest, OpensFromTheViewMenuAndFollowsTheSelection) {
    SelectClass(QStringLiteral("IShapes"));
    EXPECT_FALSE(idl_->isVisible());
    EXPECT_EQ(form_->miIdl->text(), QStringLiteral("&IDL..."));
    EXPECT_EQ(form_->miIdl->shortcut(), QKeySequence(QStringLiteral("Ctrl+I")));
    form_->miIdl->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(idl_));
    EXPECT_EQ(idl_->windowTitle(), QStringLiteral("IDL - IShapes"));
    EXPECT_TRUE(QString::fromStdString(idl_->IdlText()).contains(QStringLiteral("interface IShapes : IDispatch {")));

    SelectMember(QStringLiteral("Add"));
    const int line = idl_->HighlightedLine();
    ASSERT_GE(line, 0);
    const QString text = idl_->memIdl->document()->findBlockByNumber(line + 1).text();
    EXPECT_TRUE(text.contains(QStringLiteral(" Add("))) << text.toStdString();
    // One mark spans the member's lines (the others are the links).
    int highlights = 0;
    for (const QTextEdit::ExtraSelection& mark : idl_->memIdl->extraSelections())
        highlights += mark.format.property(QTextFormat::FullWidthSelection).toBool();
    EXPECT_EQ(highlights, 1);

    SelectClass(QStringLiteral("Bounds"));
    EXPECT_EQ(idl_->windowTitle(), QStringLiteral("IDL - Bounds"));
    EXPECT_EQ(idl_->HighlightedLine(), -1);

    // Closing only hides it; it follows again when shown.
    idl_->btnClose->click();
    EXPECT_FALSE(idl_->isVisible());
    SelectClass(QStringLiteral("DPanel"));
    form_->miIdl->trigger();
    EXPECT_EQ(idl_->windowTitle(), QStringLiteral("IDL - DPanel"));
}

TEST_F(IdlWindowTest, TypeNamesOfTheLibraryAreLinksThatSelectTheClass) {
    SelectClass(QStringLiteral("IShapes"));
    form_->miIdl->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(idl_));
    // The view holds exactly the text copied and saved: links are drawn over it.
    EXPECT_EQ(Shown().toStdString(), idl_->IdlText());
    // Links on the library's own listed classes; none on imported types, none on a type the
    // class list does not show (the pure vtable IDispatch of the fixture's base declarations).
    QStringList targets;
    for (const TIdlForm::TLink& link : idl_->Links()) {
        targets << link.Target;
        EXPECT_EQ(idl_->memIdl->document()->findBlockByNumber(link.Line).text().mid(link.Column, link.Length), link.Target);
    }
    EXPECT_TRUE(targets.contains(QStringLiteral("Bounds")));
    EXPECT_FALSE(targets.contains(QStringLiteral("SharedColour")));
    EXPECT_FALSE(targets.contains(QStringLiteral("IDispatch")));

    // A click on a link selects its class; a click beside one does nothing and records nothing.
    const auto clickAt = [&](const TIdlForm::TLink& link, int offset) {
        const QTextBlock block = idl_->memIdl->document()->findBlockByNumber(link.Line);
        QTextCursor at(block);
        at.setPosition(block.position() + link.Column);
        idl_->memIdl->centerCursor();
        idl_->memIdl->setTextCursor(at);
        idl_->memIdl->ensureCursorVisible();
        const QRect r = idl_->memIdl->cursorRect(at);
        QTest::mouseClick(idl_->memIdl->viewport(), Qt::LeftButton, {}, QPoint(r.left() + offset, r.center().y()));
    };
    auto* history = new THistoryForm(form_.get());
    const int before = history->Count();
    const auto inherits = std::find_if(idl_->Links().begin(), idl_->Links().end(),
                                       [](const TIdlForm::TLink& l) { return l.Target == QStringLiteral("Bounds"); });
    ASSERT_NE(inherits, idl_->Links().end());
    const TIdlForm::TLink bounds = *inherits;
    clickAt(bounds, -40);
    EXPECT_EQ(SelectedClass(), QStringLiteral("IShapes"));
    EXPECT_EQ(history->Count(), before);
    clickAt(bounds, 2);
    EXPECT_EQ(SelectedClass(), QStringLiteral("Bounds"));
    EXPECT_EQ(history->Count(), before + 1) << "the place left";
    EXPECT_EQ(idl_->windowTitle(), QStringLiteral("IDL - Bounds"));
}

TEST_F(IdlWindowTest, ColourRulesForKeywordsAttributesStringsAndComments) {
    TDrawRules& rules = idl_->memIdl->ColorRules();
    ASSERT_EQ(rules.Count(), 3);
    EXPECT_TRUE(rules.Items(0).Keywords().contains(QStringLiteral("interface;navy")));
    EXPECT_TRUE(rules.Items(1).KeyBegEndLst().contains(QStringLiteral("[;];teal")));
    EXPECT_TRUE(rules.Items(1).KeyBegEndLst().contains(QStringLiteral("/*;*/;green")));
    EXPECT_TRUE(rules.Items(2).KeyLineEndLst().contains(QStringLiteral("//;green")));
}

TEST_F(IdlWindowTest, SaveWritesTheIdlShown) {
    SelectClass(QStringLiteral("DPanel"));
    form_->miIdl->trigger();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("panel.idl"));
    ASSERT_TRUE(idl_->SaveTo(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), idl_->IdlText());
}

}  // namespace
