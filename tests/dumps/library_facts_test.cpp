// What the test libraries hold that `dump` does not print: default values, the vtable side
// of dual interfaces, and types reached in the imported library.
#include "platform/oleauto/comptr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

ComPtr<ITypeLib> LoadFixture(const std::string& name) {
    std::u16string path = Utf8ToUtf16((std::filesystem::path(QUIBREL_FIXTURE_DIR) / name).string());
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadTypeLib(path.c_str(), &lib), S_OK) << name;
    return ComPtr<ITypeLib>::Attach(lib);
}

ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, const std::string& name) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        BStr n;
        if (SUCCEEDED(lib->GetDocumentation(INT(i), n.Put(), nullptr, nullptr, nullptr)) && n.Utf8() == name) {
            ComPtr<ITypeInfo> ti;
            lib->GetTypeInfo(i, ti.Put());
            return ti;
        }
    }
    ADD_FAILURE() << "no type " << name;
    return nullptr;
}

std::string NameOf(ITypeInfo* ti, MEMBERID memid = MEMBERID_NIL) {
    BStr n;
    return SUCCEEDED(ti->GetDocumentation(memid, n.Put(), nullptr, nullptr, nullptr)) ? n.Utf8() : "?";
}

// The function named `name` (the first one, for a property).
bool FindFunc(ITypeInfo* ti, const std::string& name, FuncDescPtr& fd) {
    TypeAttrPtr attr;
    if (!ti || FAILED(ti->GetTypeAttr(attr.Put(ti)))) return false;
    for (UINT f = 0; f < attr->cFuncs; ++f)
        if (SUCCEEDED(ti->GetFuncDesc(f, fd.Put(ti))) && NameOf(ti, fd->memid) == name) return true;
    fd.Reset();
    ADD_FAILURE() << "no function " << name;
    return false;
}

const VARIANT* DefaultOf(const FUNCDESC* fd, int param) {
    const PARAMDESC& pd = fd->lprgelemdescParam[param].paramdesc;
    if (!(pd.wParamFlags & PARAMFLAG_FHASDEFAULT) || !pd.pparamdescex) return nullptr;
    return &pd.pparamdescex->varDefaultValue;
}

long long IntegerOf(const VARIANT* v) {
    switch (v->vt) {
    case VT_I2: return v->iVal;
    case VT_I4: case VT_INT: return v->lVal;
    case VT_UI1: return v->bVal;
    case VT_UI2: return v->uiVal;
    case VT_UI4: case VT_UINT: return v->ulVal;
    default: ADD_FAILURE() << "not an integer: vt " << v->vt; return 0;
    }
}

}  // namespace

TEST(LibraryFacts, DefaultValuesOfParameters) {
    for (const char* file : {"QuibrelTest.tlb", "win32/QuibrelTest.tlb"}) {
        SCOPED_TRACE(file);
        ComPtr<ITypeLib> lib = LoadFixture(file);
        ASSERT_TRUE(lib);
        ComPtr<ITypeInfo> shapes = TypeNamed(lib.Get(), "IShapes");
        ASSERT_TRUE(shapes);
        FuncDescPtr add;
        ASSERT_TRUE(FindFunc(shapes.Get(), "Add", add));
        ASSERT_EQ(add->cParams, 4);
        EXPECT_EQ(DefaultOf(add.Get(), 0), nullptr);
        EXPECT_EQ(DefaultOf(add.Get(), 1), nullptr) << "optional without a default";
        ASSERT_NE(DefaultOf(add.Get(), 2), nullptr);
        EXPECT_EQ(IntegerOf(DefaultOf(add.Get(), 2)), 1);
        const VARIANT* kind = DefaultOf(add.Get(), 3);
        ASSERT_NE(kind, nullptr);
        ASSERT_EQ(kind->vt, VT_BSTR);
        EXPECT_EQ(BstrToUtf8(kind->bstrVal), "box");
        FuncDescPtr place;
        ASSERT_TRUE(FindFunc(shapes.Get(), "Place", place));
        ASSERT_NE(DefaultOf(place.Get(), 1), nullptr);
        EXPECT_EQ(IntegerOf(DefaultOf(place.Get(), 1)), -7);
        FuncDescPtr flash;
        ASSERT_TRUE(FindFunc(TypeNamed(lib.Get(), "DPanel").Get(), "Flash", flash));
        ASSERT_NE(DefaultOf(flash.Get(), 0), nullptr);
        EXPECT_EQ(IntegerOf(DefaultOf(flash.Get(), 0)), 3);
    }
}

// GetRefTypeOfImplType(-1) gives the interface as declared: its own functions only, with
// their HRESULT results and [out, retval] parameters.
TEST(LibraryFacts, VtableSideOfADualInterface) {
    ComPtr<ITypeLib> lib = LoadFixture("QuibrelTest.tlb");
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> disp = TypeNamed(lib.Get(), "IShapes2");
    ASSERT_TRUE(disp);
    HREFTYPE href = 0;
    ASSERT_EQ(disp->GetRefTypeOfImplType(UINT(-1), &href), S_OK);
    ComPtr<ITypeInfo> vtbl;
    ASSERT_EQ(disp->GetRefTypeInfo(href, vtbl.Put()), S_OK);
    TypeAttrPtr attr;
    ASSERT_EQ(vtbl->GetTypeAttr(attr.Put(vtbl.Get())), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->cFuncs, 2);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_EQ(NameOf(vtbl.Get()), "IShapes2");
    HREFTYPE base = 0;
    ComPtr<ITypeInfo> parent;
    ASSERT_EQ(vtbl->GetRefTypeOfImplType(0, &base), S_OK);
    ASSERT_EQ(vtbl->GetRefTypeInfo(base, parent.Put()), S_OK);
    EXPECT_EQ(NameOf(parent.Get()), "IShapes");
    FuncDescPtr revision;
    ASSERT_TRUE(FindFunc(vtbl.Get(), "Revision", revision));
    EXPECT_EQ(revision->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(revision->invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(revision->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(revision->cParams, 1);
    EXPECT_EQ(revision->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(revision->lprgelemdescParam[0].tdesc.vt, VT_PTR);
}

// A reference into the imported library leads to a type that belongs to that library.
TEST(LibraryFacts, ImportedTypesBelongToTheirLibrary) {
    ComPtr<ITypeLib> lib = LoadFixture("QuibrelTest.tlb");
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> tint = TypeNamed(lib.Get(), "Tint");
    ASSERT_TRUE(tint);
    TypeAttrPtr attr;
    ASSERT_EQ(tint->GetTypeAttr(attr.Put(tint.Get())), S_OK);
    ASSERT_EQ(attr->tdescAlias.vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> colour;
    ASSERT_EQ(tint->GetRefTypeInfo(attr->tdescAlias.hreftype, colour.Put()), S_OK);
    EXPECT_EQ(NameOf(colour.Get()), "SharedColour");
    ComPtr<ITypeLib> owner;
    UINT index = 99;
    ASSERT_EQ(colour->GetContainingTypeLib(owner.Put(), &index), S_OK);
    BStr ownerName;
    ASSERT_EQ(owner->GetDocumentation(-1, ownerName.Put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(ownerName.Utf8(), "QuibrelShared");
    EXPECT_EQ(index, 4u);
    LibAttrPtr la;
    ASSERT_EQ(owner->GetLibAttr(la.Put(owner.Get())), S_OK);
    EXPECT_EQ(GuidToString(la->guid), "{7A0C5E00-1F2B-4C3D-8E9F-000000100000}");
    // The importing library finds its own types by GUID, not the imported ones.
    GUID canvas;
    ASSERT_TRUE(GuidFromString("{7A0C5E00-1F2B-4C3D-8E9F-000000200012}", &canvas));
    ComPtr<ITypeInfo> byGuid;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(canvas, byGuid.Put()), S_OK);
    EXPECT_EQ(NameOf(byGuid.Get()), "Canvas");
    GUID thing;
    ASSERT_TRUE(GuidFromString("{7A0C5E00-1F2B-4C3D-8E9F-000000100003}", &thing));
    EXPECT_EQ(lib->GetTypeInfoOfGuid(thing, byGuid.Put()), TYPE_E_ELEMENTNOTFOUND);
}
