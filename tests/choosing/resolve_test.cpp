// The ProgID dialog: resolving through a registry written by the test, its states, its keys,
// and asking a server to quit.
#include "dialogs/resolve.h"
#include "testenv.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ResolveFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        registry.WriteWineSystemReg(ResolveKeys());
        form = std::make_unique<TResolveForm>(nullptr, [this](const QString& path) { opened << path; });
    }

    void Resolve(const QString& progID) {
        form->txtProgID->setText(progID);
        form->btnResolveClick();
    }
    bool ResultShown() const {
        return form->btnOpen->isEnabled() || !form->gbTypeLib->title().isEmpty() || !form->LibraryPath.isEmpty();
    }

    TTestRegistry registry;
    QStringList opened;
    std::unique_ptr<TResolveForm> form;
};

TEST_F(ResolveFormTest, ResolveNeedsAProgIDAndEnterOnlyWorksWithOne) {
    EXPECT_EQ(form->windowTitle(), "Resolve ProgID");
    EXPECT_FALSE(form->btnResolve->isEnabled());
    EXPECT_FALSE(form->btnOpen->isEnabled());
    form->show();
    QTest::keyClick(form->txtProgID, Qt::Key_Return);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->lblLocation->text().isEmpty());

    QTest::keyClicks(form->txtProgID, "Quibrel.Gadget");
    EXPECT_TRUE(form->btnResolve->isEnabled());
    QTest::keyClick(form->txtProgID, Qt::Key_Return);
    EXPECT_TRUE(form->isVisible()) << "Enter resolves and does not close the dialog";
    EXPECT_EQ(form->lblLocation->text(), TTestRegistry::Fixture("ChoosingDoc.tlb"));
    EXPECT_EQ(form->focusWidget(), form->btnOpen);

    form->txtProgID->clear();
    EXPECT_FALSE(form->btnResolve->isEnabled());
    EXPECT_TRUE(form->btnOpen->isEnabled()) << "editing keeps the last result";
}

TEST_F(ResolveFormTest, ResolvedLibraryShowsItsDocStringAndOpensAfterTheProgIDChanged) {
    Resolve("Quibrel.Gadget");
    const QString doc = TTestRegistry::Fixture("ChoosingDoc.tlb");
    EXPECT_EQ(form->gbTypeLib->title(), "Choosing Test Library");
    EXPECT_EQ(form->lblLocation->text(), doc);
    EXPECT_EQ(form->LibraryPath, doc);
    EXPECT_TRUE(form->btnOpen->isEnabled());

    form->txtProgID->setText("Something.Else");
    form->show();
    form->btnOpen->click();
    EXPECT_EQ(opened, QStringList({doc}));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(ResolveFormTest, LibraryWithoutDocStringHasAnEmptyCaptionAndCurVerIsFollowed) {
    Resolve("Quibrel.Widget");
    const QString noDoc = TTestRegistry::Fixture("ChoosingNoDoc.tlb");
    EXPECT_EQ(form->gbTypeLib->title(), "");
    EXPECT_EQ(form->LibraryPath, noDoc);
    EXPECT_TRUE(form->btnOpen->isEnabled());

    Resolve("Quibrel.Gadget");
    Resolve("Quibrel.Thing");
    EXPECT_EQ(form->LibraryPath, noDoc);
}

TEST_F(ResolveFormTest, FailuresShowTheSystemMessageAndClearTheEarlierResult) {
    const struct {
        const char* progID;
        const char* message;
    } cases[] = {
        {"No.Such.ProgID", "Invalid class string"},
        {"Quibrel.Unregistered", "Class not registered"},
        {"Quibrel.NoServer", "Class not registered"},
        {"Quibrel.NoTypeLib", "Invalid index."},
        {"Quibrel.Orphan", "Library not registered."},
    };
    for (const auto& c : cases) {
        Resolve("Quibrel.Gadget");
        ASSERT_TRUE(form->btnOpen->isEnabled());
        Resolve(c.progID);
        EXPECT_EQ(form->lblLocation->text(), c.message) << c.progID;
        EXPECT_FALSE(ResultShown()) << c.progID;
    }
    form->show();
    form->btnCancel->click();
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_TRUE(opened.isEmpty());
}

// An automation object that records what it is asked.
class TRecordingObject : public IDispatch {
public:
    explicit TRecordingObject(bool hasQuit) : FHasQuit(hasQuit) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override {
        asked = std::u16string(names[0]);
        EXPECT_EQ(riid, IID_NULL);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(lcid, LCID(0x800));
        if (!FHasQuit) return DISP_E_UNKNOWNNAME;
        ids[0] = 17;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* info, UINT* argErr) override {
        ++invoked;
        EXPECT_EQ(id, 17);
        EXPECT_EQ(riid, IID_NULL);
        EXPECT_EQ(lcid, LCID(0x800));
        EXPECT_EQ(flags, DISPATCH_METHOD);
        EXPECT_TRUE(params && params->cArgs == 0 && params->cNamedArgs == 0);
        EXPECT_TRUE(!result && !info && !argErr);
        return S_OK;
    }

    std::u16string asked;
    int invoked = 0;

private:
    bool FHasQuit;
};

TEST(QuitServer, CallsQuitOnlyWhenTheObjectHasIt) {
    TRecordingObject server(true), plain(false);
    TResolveForm::QuitServer(&server);
    EXPECT_EQ(server.asked, u"Quit");
    EXPECT_EQ(server.invoked, 1);
    TResolveForm::QuitServer(&plain);
    EXPECT_EQ(plain.asked, u"Quit");
    EXPECT_EQ(plain.invoked, 0);
}

}  // namespace
