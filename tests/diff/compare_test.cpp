// The Compare window: File > Compare With..., the lines by level, information changes on
// request, type names as hot spots that select the class, Copy and Save.
#include "components/ColMemo/colmemo.h"
#include "dialogs/compare.h"

#include "common/windowenv.h"
#include "diffrun.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class CompareEnvironment : public WindowEnvironment {
public:
    CompareEnvironment() : WindowEnvironment("diff_tests") {}
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CompareEnvironment);

class CompareWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        Pairs& pairs = Pairs::Get();
        ASSERT_TRUE(pairs.BaseError().isEmpty()) << pairs.BaseError().toStdString();
        ASSERT_TRUE(pairs.Variant(QStringLiteral("ROLE_LOST")).isEmpty());
        base_ = pairs.Path(QStringLiteral("base"));
        changed_ = pairs.Path(QStringLiteral("ROLE_LOST"));
        form_ = std::make_unique<TMainForm>();
        form_->show();
        form_->OpenTypeLib(base_);
    }
    QString base_, changed_;
};

TEST_F(CompareWindowTest, ShowsTheChangesAsTheCommandPrintsThem) {
    EXPECT_EQ(form_->miCompare->text(), QStringLiteral("Compare &With..."));
    EXPECT_EQ(form_->miCompare->shortcut(), QKeySequence(QStringLiteral("Ctrl+D")));
    form_->CompareWith(changed_);
    ASSERT_NE(CompareForm, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(CompareForm));
    EXPECT_EQ(CompareForm->windowTitle(), QStringLiteral("Compare - QuibrelDiff with QuibrelDiff"));
    const QByteArray lines = RunDiff({base_, changed_}).out;
    EXPECT_EQ(QByteArray::fromStdString(CompareForm->ChangesText()), lines);
    EXPECT_TRUE(CompareForm->lblSummary->text().contains(QStringLiteral("2 shown, 2 breaking")));
    // The open library's type names are hot spots; the library's own name is not.
    const QString shown = CompareForm->memChanges->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("\nbreaking    coclass-interface-removed  \x1EThing\x1F"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("breaking    version-not-raised         QuibrelDiff ")));

    // Information changes only on request.
    CompareForm->chkInfo->setChecked(true);
    EXPECT_EQ(QByteArray::fromStdString(CompareForm->ChangesText()), RunDiff({base_, changed_, QStringLiteral("--all")}).out);
    CompareForm->chkInfo->setChecked(false);
    EXPECT_EQ(QByteArray::fromStdString(CompareForm->ChangesText()), lines);

    // Against itself: no lines, and the summary says so.
    form_->CompareWith(base_);
    EXPECT_TRUE(CompareForm->ChangesText().empty());
    EXPECT_TRUE(CompareForm->lblSummary->text().startsWith(QStringLiteral("No changes")));
}

TEST_F(CompareWindowTest, HotSpotSelectsTheClassCopyAndSave) {
    form_->CompareWith(changed_);
    ASSERT_NE(CompareForm, nullptr);
    CompareForm->memChanges->OnHotSpotClick(CompareForm->memChanges, QStringLiteral("Thing"));
    ASSERT_NE(form_->SelectedClassRow(), nullptr);
    EXPECT_EQ(form_->SelectedClassRow()->Caption(), QStringLiteral("Thing"));

    CompareForm->btnCopyClick();
    QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toStdString(), CompareForm->ChangesText());

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("changes.txt"));
    ASSERT_TRUE(CompareForm->SaveTo(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), CompareForm->ChangesText());
}

}  // namespace
