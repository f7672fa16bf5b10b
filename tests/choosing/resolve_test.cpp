// The ProgID dialog: resolving through a registry written by the test, its states and keys,
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
        form->show();
    }
    void Resolve(const QString& progID) {
        form->txtProgID->setText(progID);
        form->btnResolveClick();
    }

    TTestRegistry registry;
    QStringList opened;
    std::unique_ptr<TResolveForm> form;
};

TEST_F(ResolveFormTest, EnterResolvesOnlyWithAProgIDAndTheResultOutlivesEdits) {
    EXPECT_FALSE(form->btnResolve->isEnabled());
    EXPECT_FALSE(form->btnOpen->isEnabled());
    QTest::keyClick(form->txtProgID, Qt::Key_Return);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->lblLocation->text().isEmpty());

    QTest::keyClicks(form->txtProgID, "Quibrel.Gadget");
    EXPECT_TRUE(form->btnResolve->isEnabled());
    QTest::keyClick(form->txtProgID, Qt::Key_Return);
    const QString doc = TTestRegistry::Fixture("ChoosingDoc.tlb");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->gbTypeLib->title(), "Choosing Test Library");
    EXPECT_EQ(form->lblLocation->text(), doc);
    EXPECT_EQ(form->focusWidget(), form->btnOpen);

    form->txtProgID->setText("Something.Else");
    form->btnOpen->click();
    EXPECT_EQ(opened, QStringList({doc}));
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(ResolveFormTest, LibraryWithoutDocStringHasAnEmptyCaptionAndCurVerIsFollowed) {
    Resolve("Quibrel.Thing");
    EXPECT_EQ(form->gbTypeLib->title(), "");
    EXPECT_EQ(form->LibraryPath, TTestRegistry::Fixture("ChoosingNoDoc.tlb"));
    EXPECT_TRUE(form->btnOpen->isEnabled());
}

// A class whose registration names no library, or a library that is not registered, is found
// in the registered library that declares it, as the object itself would answer.
TEST_F(ResolveFormTest, ClassWithoutAUsableTypeLibKeyIsFoundInTheLibraryThatDeclaresIt) {
    for (const char* progID : {"Quibrel.Gizmo", "Quibrel.Sprocket"}) {
        Resolve(progID);
        EXPECT_EQ(form->lblLocation->text(), TTestRegistry::Fixture("ChoosingDoc.tlb")) << progID;
        EXPECT_EQ(form->gbTypeLib->title(), "Choosing Test Library") << progID;
        EXPECT_TRUE(form->btnOpen->isEnabled()) << progID;
    }
}

TEST_F(ResolveFormTest, FailuresShowTheSystemMessageAndClearTheEarlierResult) {
    const char* const cases[][2] = {
        {"No.Such.ProgID", "Invalid class string"},
        {"Quibrel.Unregistered", "Class not registered"},
        {"Quibrel.NoServer", "Class not registered"},
        // The stand-in object's bare status would read "Invalid index.".
        {"Quibrel.NoTypeLib", "No registered library declares the class."},
        {"Quibrel.Orphan", "Library not registered."},
    };
    for (const auto& c : cases) {
        Resolve("Quibrel.Gadget");
        ASSERT_TRUE(form->btnOpen->isEnabled());
        Resolve(c[0]);
        EXPECT_EQ(form->lblLocation->text(), c[1]) << c[0];
        EXPECT_FALSE(form->btnOpen->isEnabled() || !form->gbTypeLib->title().isEmpty() || !form->LibraryPath.isEmpty())
            << c[0];
    }
    QTest::keyClick(form->txtProgID, Qt::Key_Escape);
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_TRUE(opened.isEmpty());
}

// An automation object that records the quit request.
class TRecordingObject : public IDispatch {
public:
    explicit TRecordingObject(bool hasQuit) : FHasQuit(hasQuit) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        asked = riid == IID_NULL && count == 1 && lcid == 0x800 ? std::u16string(names[0]) : u"?";
        ids[0] = 17;
        return FHasQuit ? S_OK : DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* argErr) override {
        invoked = id == 17 && riid == IID_NULL && lcid == 0x800 && flags == DISPATCH_METHOD && params &&
                          params->cArgs == 0 && params->cNamedArgs == 0 && !result && !info && !argErr
                      ? 1
                      : -1;
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
    TResolveForm::QuitServer(&plain);
    EXPECT_EQ(server.asked, u"Quit");
    EXPECT_EQ(server.invoked, 1);
    EXPECT_EQ(plain.asked, u"Quit");
    EXPECT_EQ(plain.invoked, 0);
}

}  // namespace
