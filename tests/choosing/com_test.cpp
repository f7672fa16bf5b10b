// ProgID to class, class to object, object to the type information of its default interface,
// all through a registry written by the test.
#include "platform/com/combase.h"
#include "platform/oleauto/comptr.h"
#include "testenv.h"

#include <gtest/gtest.h>

namespace {

class ComTest : public ::testing::Test {
protected:
    void SetUp() override { registry.WriteWineSystemReg(ResolveKeys()); }

    static HRESULT ClassOf(const char16_t* progID, std::string* clsid) {
        CLSID c{};
        const HRESULT hr = CLSIDFromProgID(progID, &c);
        *clsid = SUCCEEDED(hr) ? GuidToString(c) : std::string();
        return hr;
    }

    static HRESULT Create(const char* clsid, DWORD context, ComPtr<IDispatch>* object) {
        CLSID c{};
        EXPECT_TRUE(GuidFromString(clsid, &c));
        return CoCreateInstance(c, nullptr, context, IID_IDispatch, reinterpret_cast<void**>(object->Put()));
    }

    // The name of the type the object describes itself by, and its library's GUID.
    static HRESULT Describe(IDispatch* object, std::string* typeName, std::string* libGuid) {
        ComPtr<ITypeInfo> info;
        HRESULT hr = object->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, info.Put());
        if (FAILED(hr)) return hr;
        BStr name;
        info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
        *typeName = name.Utf8();
        ComPtr<ITypeLib> lib;
        UINT index = 0;
        if (FAILED(hr = info->GetContainingTypeLib(lib.Put(), &index))) return hr;
        LibAttrPtr attr;
        if (FAILED(hr = lib->GetLibAttr(attr.Put(lib.Get())))) return hr;
        *libGuid = GuidToString(attr->guid);
        return S_OK;
    }

    TTestRegistry registry;
};

TEST_F(ComTest, ProgIDsResolveThroughClsidAndCurVer) {
    std::string clsid;
    EXPECT_EQ(ClassOf(u"Quibrel.Gadget", &clsid), S_OK);
    EXPECT_EQ(clsid, kGadget);
    EXPECT_EQ(ClassOf(u"quibrel.gadget", &clsid), S_OK) << "key names ignore letter case";
    // A version-independent ProgID gives the class of its current version.
    EXPECT_EQ(ClassOf(u"Quibrel.Thing", &clsid), S_OK);
    EXPECT_EQ(clsid, kWidget);
    // CurVer naming each other ends, with the ProgID's own class.
    EXPECT_EQ(ClassOf(u"Loop.A", &clsid), S_OK);
    EXPECT_EQ(clsid, kGadget);
    EXPECT_EQ(ClassOf(u"Loop.B", &clsid), S_OK);
    EXPECT_EQ(clsid, kGadget);

    for (const char16_t* bad : {u"No.Such.ProgID", u"", u"Quibrel.BadClsid",
                                u"CLSID\\{5C3A0E10-8B7D-4F21-A0C4-1D2E3F405103}", u"Quibrel.Gadget\\CLSID"})
        EXPECT_EQ(ClassOf(bad, &clsid), CO_E_CLASSSTRING) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    CLSID c;
    EXPECT_EQ(CLSIDFromProgID(nullptr, &c), E_INVALIDARG);
}

TEST_F(ComTest, OnlyClassesWithAServerForTheContextAreCreated) {
    ComPtr<IDispatch> object;
    const DWORD inprocOrLocal = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
    EXPECT_EQ(Create(kGadget, inprocOrLocal, &object), S_OK);
    EXPECT_TRUE(object);
    EXPECT_EQ(Create(kWidget, inprocOrLocal, &object), S_OK);
    EXPECT_EQ(Create(kWidget, CLSCTX_INPROC_SERVER, &object), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(object);
    EXPECT_EQ(Create("{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409001}", inprocOrLocal, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Create("{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409004}", inprocOrLocal, &object), REGDB_E_CLASSNOTREG);

    CLSID gadget;
    GuidFromString(kGadget, &gadget);
    void* unknown = nullptr;
    EXPECT_EQ(CoCreateInstance(gadget, nullptr, inprocOrLocal, IID_ITypeLib, &unknown), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
    ComPtr<IDispatch> outer;
    ASSERT_EQ(Create(kGadget, inprocOrLocal, &outer), S_OK);
    EXPECT_EQ(CoCreateInstance(gadget, outer.Get(), inprocOrLocal, IID_IDispatch, &unknown), CLASS_E_NOAGGREGATION);
}

TEST_F(ComTest, ObjectDescribesItselfByTheDefaultInterfaceOfItsRegisteredLibrary) {
    ComPtr<IDispatch> gadget;
    ASSERT_EQ(Create(kGadget, CLSCTX_INPROC_SERVER, &gadget), S_OK);
    UINT count = 0;
    EXPECT_EQ(gadget->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    std::string name, lib;
    // The [default] interface, not the event source listed first nor the one listed before it.
    ASSERT_EQ(Describe(gadget.Get(), &name, &lib), S_OK);
    EXPECT_EQ(name, "IGadget");
    EXPECT_EQ(lib, kDocLib);

    // No Version key: the newest registered version (2.0, listed before a stale 1.0).
    ComPtr<IDispatch> widget;
    ASSERT_EQ(Create(kWidget, CLSCTX_LOCAL_SERVER, &widget), S_OK);
    ASSERT_EQ(Describe(widget.Get(), &name, &lib), S_OK);
    EXPECT_EQ(name, "IWidget");
    EXPECT_EQ(lib, kNoDocLib);

    ComPtr<ITypeInfo> info;
    EXPECT_EQ(gadget->GetTypeInfo(1, LOCALE_SYSTEM_DEFAULT, info.Put()), DISP_E_BADINDEX);
}

TEST_F(ComTest, ClassesWithoutAReachableLibraryGiveTheirStatus) {
    ComPtr<IDispatch> object;
    ComPtr<ITypeInfo> info;
    UINT count = 7;
    ASSERT_EQ(Create("{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409002}", CLSCTX_INPROC_SERVER, &object), S_OK);
    EXPECT_EQ(object->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, info.Put()), DISP_E_BADINDEX);
    EXPECT_FALSE(info);
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(Create("{5C3A0E10-8B7D-4F21-A0C4-1D2E3F409003}", CLSCTX_INPROC_SERVER, &object), S_OK);
    EXPECT_EQ(object->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, info.Put()), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(ComTest, NothingRunsSoThereIsNothingToQuit) {
    ComPtr<IDispatch> object;
    ASSERT_EQ(Create(kGadget, CLSCTX_INPROC_SERVER, &object), S_OK);
    std::u16string quit = u"Quit";
    LPOLESTR names[] = {quit.data()};
    DISPID id = 42;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(0, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    void* unknown = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, &unknown), S_OK);
    static_cast<IUnknown*>(unknown)->Release();
}

}  // namespace
