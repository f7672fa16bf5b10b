// ProgID to class and class to object, through a registry written by the test. The statuses
// a person sees are checked through the ProgID dialog; here what the dialog cannot show.
#include "platform/com/classindex.h"
#include "platform/com/combase.h"
#include "platform/oleauto/comptr.h"
#include "testenv.h"

#include <gtest/gtest.h>

namespace {

class ComTest : public ::testing::Test {
protected:
    void SetUp() override { registry.WriteWineSystemReg(ResolveKeys()); }

    static std::string ClassOf(const char16_t* progID) {
        CLSID c{};
        const HRESULT hr = CLSIDFromProgID(progID, &c);
        return hr == S_OK ? GuidToString(c) : SysErrorMessage(hr);
    }
    static HRESULT Create(const char* clsid, DWORD context, ComPtr<IDispatch>* object) {
        CLSID c{};
        GuidFromString(clsid, &c);
        return CoCreateInstance(c, nullptr, context, IID_IDispatch, reinterpret_cast<void**>(object->Put()));
    }
    // The name of the type the object describes itself by.
    static std::string TypeName(IDispatch* object) {
        ComPtr<ITypeInfo> info;
        if (object->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, info.Put()) != S_OK) return "?";
        BStr name;
        info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
        return name.Utf8();
    }

    TTestRegistry registry;
};

TEST_F(ComTest, ProgIDsFollowCurVerEndLoopsAndStayInsideTheirKey) {
    EXPECT_EQ(ClassOf(u"quibrel.gadget"), kGadget);
    EXPECT_EQ(ClassOf(u"Quibrel.Thing"), kWidget) << "the class of the current version";
    EXPECT_EQ(ClassOf(u"Loop.A"), kGadget);
    EXPECT_EQ(ClassOf(u"Loop.B"), kGadget);
    EXPECT_EQ(ClassOf(u"Quibrel.BadClsid"), "Invalid class string");
    // A backslash would read other keys' values as a class.
    EXPECT_EQ(ClassOf(u"Quibrel.Gadget\\CLSID"), "Invalid class string");
    EXPECT_EQ(ClassOf(u""), "Invalid class string");
}

TEST_F(ComTest, ObjectsNeedAServerForTheContextAndDescribeThemselvesByTheDefaultInterface) {
    ComPtr<IDispatch> object;
    EXPECT_EQ(Create(kWidget, CLSCTX_INPROC_SERVER, &object), REGDB_E_CLASSNOTREG) << "local server only";
    ASSERT_EQ(Create(kWidget, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, &object), S_OK);
    // No Version key: 2.0, the newest, though a stale 1.0 is registered too.
    EXPECT_EQ(TypeName(object.Get()), "IWidget");

    ASSERT_EQ(Create(kGadget, CLSCTX_INPROC_SERVER, &object), S_OK);
    // The [default] interface, not the event source nor the interface listed before it.
    EXPECT_EQ(TypeName(object.Get()), "IGadget");
    UINT count = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(object->GetTypeInfo(1, LOCALE_SYSTEM_DEFAULT, info.Put()), DISP_E_BADINDEX);

    CLSID gadget;
    GuidFromString(kGadget, &gadget);
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(gadget, nullptr, CLSCTX_INPROC_SERVER, IID_ITypeLib, &p), E_NOINTERFACE);
    EXPECT_EQ(CoCreateInstance(gadget, object.Get(), CLSCTX_INPROC_SERVER, IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
}

// Without a TypeLib key the class is looked for among the registered libraries' coclasses:
// while a scope is open they are read once, so a library registered meanwhile is not seen
// until the next scope; without one each lookup reads them.
TEST_F(ComTest, ClassesAreFoundByTheirCoclassOncePerScope) {
    ComPtr<IDispatch> object;
    ASSERT_EQ(Create(kGizmo, CLSCTX_INPROC_SERVER, &object), S_OK);
    EXPECT_EQ(TypeName(object.Get()), "IGadgetExtra");
    ASSERT_EQ(Create(kSprocket, CLSCTX_LOCAL_SERVER, &object), S_OK);
    EXPECT_EQ(TypeName(object.Get()), "IGadget") << "the first interface when none is the default";

    CLSID widget;
    GuidFromString(kWidget, &widget);
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LibraryDeclaringClass(widget, &lib), S_OK);
    CLSID unknown;
    GuidFromString("{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409002}", &unknown);
    EXPECT_EQ(LibraryDeclaringClass(unknown, &lib), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(lib);

    std::vector<TWineKey> keys = ResolveKeys();
    std::erase_if(keys, [](const TWineKey& k) { return k.path.find(kNoDocLib) != std::string::npos; });
    {
        TClassIndexScope scope;
        ASSERT_EQ(LibraryDeclaringClass(widget, &lib), S_OK);
        registry.WriteWineSystemReg(keys);  // ChoosingNoDoc is no longer registered
        EXPECT_EQ(LibraryDeclaringClass(widget, &lib), S_OK);
        {
            TClassIndexScope inner;
            EXPECT_EQ(LibraryDeclaringClass(widget, &lib), REGDB_E_CLASSNOTREG);
        }
        EXPECT_EQ(LibraryDeclaringClass(widget, &lib), S_OK);
    }
    EXPECT_EQ(LibraryDeclaringClass(widget, &lib), REGDB_E_CLASSNOTREG);
}

}  // namespace

namespace {

// The program's quicker locator is trusted only when the library it names declares the class.
std::string g_located;
std::string Locate(const CLSID&) { return g_located; }

TEST_F(ComTest, ALocatorsAnswerIsCheckedAndTheRegistryReadWithoutOne) {
    CLSID widget;
    GuidFromString(kWidget, &widget);
    SetClassLibraryLocator(&Locate);
    ComPtr<ITypeLib> lib;

    // An unregistered library that declares the class: only the locator can find it there.
    std::vector<TWineKey> keys = ResolveKeys();
    std::erase_if(keys, [](const TWineKey& k) { return k.path.find(kNoDocLib) != std::string::npos; });
    registry.WriteWineSystemReg(keys);
    g_located = TTestRegistry::Fixture("ChoosingNoDoc.tlb").toStdString();
    EXPECT_EQ(LibraryDeclaringClass(widget, &lib), S_OK);
    EXPECT_TRUE(lib);

    // A library that does not declare it, or no file at all, counts for nothing.
    g_located = TTestRegistry::Fixture("ChoosingDoc.tlb").toStdString();
    EXPECT_EQ(LibraryDeclaringClass(widget, &lib), REGDB_E_CLASSNOTREG);
    g_located = "/nonexistent/Missing.tlb";
    EXPECT_EQ(LibraryDeclaringClass(widget, &lib), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(lib);

    SetClassLibraryLocator(nullptr);
    EXPECT_EQ(LibraryDeclaringClass(widget, &lib), REGDB_E_CLASSNOTREG);
}

}  // namespace
