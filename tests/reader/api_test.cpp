// What the service hands out beyond what `dump` prints: default values, constants, the two
// sides of a dual interface, name limits, lookups, lifetimes and library text.
#include "reader_util.h"

#include <cstring>

using namespace readertest;

namespace {

class ReaderApi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Load(Fixture("QuibrelTest.tlb"), &lib_), S_OK); }
    ComPtr<ITypeLib> lib_;
};

TEST_F(ReaderApi, DefaultValuesAndOptionalParameters) {
    ComPtr<ITypeInfo> shapes = TypeNamed(lib_.Get(), "IShapes");
    ASSERT_TRUE(shapes);
    int add = FuncNamed(shapes.Get(), "Add");
    ASSERT_GE(add, 0);
    FuncDescPtr fd;
    ASSERT_EQ(shapes->GetFuncDesc(UINT(add), fd.Put(shapes.Get())), S_OK);
    ASSERT_EQ(fd->cParams, 4);  // the retval parameter became the result
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_I4);
    const ELEMDESC* p = fd->lprgelemdescParam;
    EXPECT_TRUE(p[1].paramdesc.wParamFlags & PARAMFLAG_FOPT);
    ASSERT_TRUE(p[2].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT);
    ASSERT_NE(p[2].paramdesc.pparamdescex, nullptr);
    EXPECT_EQ(p[2].paramdesc.pparamdescex->varDefaultValue.vt, VT_I4);
    EXPECT_EQ(p[2].paramdesc.pparamdescex->varDefaultValue.lVal, 1);
    ASSERT_NE(p[3].paramdesc.pparamdescex, nullptr);
    const VARIANT& kind = p[3].paramdesc.pparamdescex->varDefaultValue;
    ASSERT_EQ(kind.vt, VT_BSTR);
    EXPECT_EQ(BstrToUtf8(kind.bstrVal), "box");
    EXPECT_EQ(SysStringLen(kind.bstrVal), 3u);

    // A negative default does not fit in place and is stored with its type.
    int place = FuncNamed(shapes.Get(), "Place");
    ASSERT_GE(place, 0);
    FuncDescPtr pd;
    ASSERT_EQ(shapes->GetFuncDesc(UINT(place), pd.Put(shapes.Get())), S_OK);
    ASSERT_EQ(pd->cParams, 2);
    ASSERT_NE(pd->lprgelemdescParam[1].paramdesc.pparamdescex, nullptr);
    const VARIANT& depth = pd->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue;
    EXPECT_TRUE(depth.vt == VT_I2 || depth.vt == VT_I4);
    EXPECT_EQ(depth.vt == VT_I2 ? depth.iVal : depth.lVal, -7);
    EXPECT_EQ(pd->lprgelemdescParam[0].paramdesc.pparamdescex, nullptr);

    int log = FuncNamed(shapes.Get(), "Log");
    ASSERT_GE(log, 0);
    FuncDescPtr ld;
    ASSERT_EQ(shapes->GetFuncDesc(UINT(log), ld.Put(shapes.Get())), S_OK);
    EXPECT_EQ(ld->cParamsOpt, -1);  // vararg
}

TEST_F(ReaderApi, ConstantsKeepTheirFullRange) {
    ComPtr<ITypeInfo> dir = TypeNamed(lib_.Get(), "Direction");
    ASSERT_TRUE(dir);
    TypeAttrPtr attr;
    ASSERT_EQ(dir->GetTypeAttr(attr.Put(dir.Get())), S_OK);
    ASSERT_EQ(attr->cVars, 5);
    const LONG want[] = {-1, 0, 1, 0x7FFFFFFF, LONG(0x80000000u)};
    for (UINT i = 0; i < 5; ++i) {
        VarDescPtr vd;
        ASSERT_EQ(dir->GetVarDesc(i, vd.Put(dir.Get())), S_OK);
        EXPECT_EQ(vd->varkind, VAR_CONST);
        ASSERT_NE(vd->lpvarValue, nullptr);
        EXPECT_EQ(vd->lpvarValue->vt, VT_I4);
        EXPECT_EQ(vd->lpvarValue->lVal, want[i]) << i;
    }
    VarDescPtr none;
    EXPECT_EQ(dir->GetVarDesc(5, none.Put(dir.Get())), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_FALSE(none);
}

TEST_F(ReaderApi, DualInterfaceHasADispatchSideAndAnInterfaceSide) {
    ComPtr<ITypeInfo> disp = TypeNamed(lib_.Get(), "IShapes2");
    ASSERT_TRUE(disp);
    TypeAttrPtr da;
    ASSERT_EQ(disp->GetTypeAttr(da.Put(disp.Get())), S_OK);
    EXPECT_EQ(da->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(da->wTypeFlags & TYPEFLAG_FDUAL);

    HREFTYPE other;
    ASSERT_EQ(disp->GetRefTypeOfImplType(UINT(-1), &other), S_OK);
    ComPtr<ITypeInfo> iface;
    ASSERT_EQ(disp->GetRefTypeInfo(other, iface.Put()), S_OK);
    TypeAttrPtr ia;
    ASSERT_EQ(iface->GetTypeAttr(ia.Put(iface.Get())), S_OK);
    EXPECT_EQ(ia->typekind, TKIND_INTERFACE);
    EXPECT_EQ(ia->cFuncs, 2);  // only its own: Rotate, Revision
    // IUnknown's 3, IDispatch's 4, IShapes' own, then its own 2.
    ComPtr<ITypeInfo> base = TypeNamed(lib_.Get(), "IShapes");
    ComPtr<ITypeInfo> baseIface;
    HREFTYPE baseOther;
    ASSERT_EQ(base->GetRefTypeOfImplType(UINT(-1), &baseOther), S_OK);
    ASSERT_EQ(base->GetRefTypeInfo(baseOther, baseIface.Put()), S_OK);
    TypeAttrPtr ba;
    ASSERT_EQ(baseIface->GetTypeAttr(ba.Put(baseIface.Get())), S_OK);
    EXPECT_EQ(da->cFuncs, 7 + ba->cFuncs + 2);

    FuncDescPtr vtable, dispatch;
    ASSERT_EQ(iface->GetFuncDesc(1, vtable.Put(iface.Get())), S_OK);
    EXPECT_EQ(vtable->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(vtable->cParams, 1);
    EXPECT_EQ(vtable->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(disp->GetFuncDesc(da->cFuncs - 1, dispatch.Put(disp.Get())), S_OK);
    EXPECT_EQ(dispatch->funckind, FUNC_DISPATCH);
    EXPECT_EQ(dispatch->memid, vtable->memid);
    EXPECT_EQ(dispatch->invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(dispatch->cParams, 0);
    EXPECT_EQ(dispatch->elemdescFunc.tdesc.vt, VT_I2);

    // The interface side's base is the base as the library lists it; it has no other side itself.
    HREFTYPE up;
    ASSERT_EQ(iface->GetRefTypeOfImplType(0, &up), S_OK);
    ComPtr<ITypeInfo> upInfo;
    ASSERT_EQ(iface->GetRefTypeInfo(up, upInfo.Put()), S_OK);
    EXPECT_EQ(Name(upInfo.Get()), "IShapes");
    HREFTYPE none;
    EXPECT_EQ(iface->GetRefTypeOfImplType(UINT(-1), &none), TYPE_E_ELEMENTNOTFOUND);
    // A type that is not dual has no other side.
    ComPtr<ITypeInfo> plain = TypeNamed(lib_.Get(), "DPanel");
    EXPECT_EQ(plain->GetRefTypeOfImplType(UINT(-1), &none), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(ReaderApi, InheritedFunctionsFromAnImportedLibraryKeepWorkingReferences) {
    ComPtr<ITypeInfo> thing = TypeNamed(lib_.Get(), "IDerivedThing");
    ASSERT_TRUE(thing);
    int paint = FuncNamed(thing.Get(), "Paint");  // declared by ISharedThing in QuibrelShared
    ASSERT_GE(paint, 0);
    FuncDescPtr fd;
    ASSERT_EQ(thing->GetFuncDesc(UINT(paint), fd.Put(thing.Get())), S_OK);
    ASSERT_EQ(fd->cParams, 2);
    ASSERT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_USERDEFINED);
    ComPtr<ITypeInfo> colour;
    ASSERT_EQ(thing->GetRefTypeInfo(fd->lprgelemdescParam[0].tdesc.hreftype, colour.Put()), S_OK);
    EXPECT_EQ(Name(colour.Get()), "SharedColour");
    ComPtr<ITypeLib> owner;
    UINT index = 99;
    ASSERT_EQ(colour->GetContainingTypeLib(owner.Put(), &index), S_OK);
    BStr libName;
    ASSERT_EQ(owner->GetDocumentation(-1, libName.Put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(libName.Utf8(), "QuibrelShared");
    ComPtr<ITypeInfo> same;
    ASSERT_EQ(owner->GetTypeInfo(index, same.Put()), S_OK);
    EXPECT_EQ(same.Get(), colour.Get());
}

TEST_F(ReaderApi, GetNamesHonoursTheCapacity) {
    ComPtr<ITypeInfo> shapes = TypeNamed(lib_.Get(), "IShapes");
    int add = FuncNamed(shapes.Get(), "Add");
    FuncDescPtr fd;
    ASSERT_EQ(shapes->GetFuncDesc(UINT(add), fd.Put(shapes.Get())), S_OK);
    BSTR names[8] = {};
    UINT count = 99;
    ASSERT_EQ(shapes->GetNames(fd->memid, names, 8, &count), S_OK);
    ASSERT_EQ(count, 5u);  // Add label where copies kind: not the retval
    EXPECT_EQ(BstrToUtf8(names[4]), "kind");
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
    ASSERT_EQ(shapes->GetNames(fd->memid, names, 2, &count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(BstrToUtf8(names[1]), "label");
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
    EXPECT_EQ(shapes->GetNames(fd->memid, nullptr, 0, &count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(shapes->GetNames(0x7654321, names, 8, &count), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(count, 0u);
}

TEST_F(ReaderApi, LookupsAndOutOfRangeRequests) {
    ComPtr<ITypeInfo> panel = TypeNamed(lib_.Get(), "DPanel");
    TypeAttrPtr attr;
    ASSERT_EQ(panel->GetTypeAttr(attr.Put(panel.Get())), S_OK);
    ComPtr<ITypeInfo> byGuid;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(attr->guid, byGuid.Put()), S_OK);
    EXPECT_EQ(byGuid.Get(), panel.Get());
    EXPECT_EQ(lib_->GetTypeInfoOfGuid(IID_ITypeLib, byGuid.Put()), TYPE_E_ELEMENTNOTFOUND);

    UINT count = lib_->GetTypeInfoCount();
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(lib_->GetTypeInfo(count, none.Put()), TYPE_E_ELEMENTNOTFOUND);
    TYPEKIND kind;
    EXPECT_EQ(lib_->GetTypeInfoType(count, &kind), TYPE_E_ELEMENTNOTFOUND);
    ComPtr<ITypeInfo> shapes = TypeNamed(lib_.Get(), "IShapes");
    UINT index;
    ComPtr<ITypeLib> owner;
    ASSERT_EQ(shapes->GetContainingTypeLib(owner.Put(), &index), S_OK);
    EXPECT_EQ(owner.Get(), lib_.Get());
    ASSERT_EQ(lib_->GetTypeInfoType(index, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_DISPATCH);  // dual: listed by its dispatch side

    FuncDescPtr fd;
    EXPECT_EQ(panel->GetFuncDesc(attr->cFuncs, fd.Put(panel.Get())), TYPE_E_ELEMENTNOTFOUND);
    BStr name;
    EXPECT_EQ(panel->GetDocumentation(0x7654321, name.Put(), nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
    HREFTYPE href;
    EXPECT_EQ(panel->GetRefTypeOfImplType(attr->cImplTypes, &href), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_NE(panel->GetRefTypeInfo(0x7FFFFFF0, none.Put()), S_OK);

    LibAttrPtr la;
    ASSERT_EQ(lib_->GetLibAttr(la.Put(lib_.Get())), S_OK);
    EXPECT_EQ(la->wMajorVerNum, 2);
    EXPECT_EQ(la->wMinorVerNum, 5);
    EXPECT_EQ(la->syskind, SYS_WIN64);
    EXPECT_TRUE(la->wLibFlags & LIBFLAG_FHASDISKIMAGE);

    // Names of types, members and parameters, letter case aside, given the library's spelling.
    for (auto [asked, spelled] : {std::pair{u"dpanel", u"DPanel"}, {u"ADD", u"Add"}, {u"ISHAPES", u"IShapes"}}) {
        std::u16string buf(asked);
        BOOL found = FALSE;
        ASSERT_EQ(lib_->IsName(buf.data(), 0, &found), S_OK);
        EXPECT_TRUE(found);
        EXPECT_EQ(buf, spelled);
    }
    std::u16string unknown(u"NoSuchNameAnywhere");
    BOOL found = TRUE;
    EXPECT_EQ(lib_->IsName(unknown.data(), 0, &found), S_OK);
    EXPECT_FALSE(found);
    EXPECT_EQ(unknown, u"NoSuchNameAnywhere");
}

TEST_F(ReaderApi, TypeInfosKeepTheirLibraryAlive) {
    ComPtr<ITypeInfo> thing = TypeNamed(lib_.Get(), "IDerivedThing");
    HREFTYPE href;
    ASSERT_EQ(thing->GetRefTypeOfImplType(0, &href), S_OK);
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(thing->GetRefTypeInfo(href, dispatch.Put()), S_OK);
    lib_.Reset();
    thing.Reset();
    // The imported library's type outlives the library that imported it.
    EXPECT_EQ(Name(dispatch.Get()), "IDispatch");
    TypeAttrPtr attr;
    ASSERT_EQ(dispatch->GetTypeAttr(attr.Put(dispatch.Get())), S_OK);
    EXPECT_EQ(attr->cFuncs, 4);
}

TEST(ReaderText, LibraryTextIsUtf8OrElseWindows1252) {
    std::vector<std::uint8_t> bytes = ReadFile(Fixture("QuibrelTest.tlb"));
    ASSERT_FALSE(bytes.empty());
    // A doc string rewritten in place with a Windows-1252 quote and e-acute.
    const char* doc = "A rectangle";
    auto at = std::search(bytes.begin(), bytes.end(), doc, doc + std::strlen(doc));
    ASSERT_NE(at, bytes.end());
    at[1] = 0x92;
    at[3] = 0xE9;
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(tlb::LoadTypeLibFromBytes(bytes, "", 0, lib.Put()), S_OK);
    BStr text;
    ComPtr<ITypeInfo> bounds = TypeNamed(lib.Get(), "Bounds");
    ASSERT_TRUE(bounds);
    ASSERT_EQ(bounds->GetDocumentation(MEMBERID_NIL, nullptr, text.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(text.View(), std::u16string_view(u"A\u2019r\u00E9ctangle"));
    // Text that is valid UTF-8 is read as UTF-8.
    BStr libDoc;
    ASSERT_EQ(lib->GetDocumentation(-1, nullptr, libDoc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(libDoc.Utf8(), "Quibrel test library: \"every\" construct, Größe");
}

}  // namespace

namespace {

TEST(ReaderApi2, SecondInterfacesAnswerFromTheSameData) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(Load(Fixture("QuibrelTest.tlb"), &lib), S_OK);
    ComPtr<ITypeLib2> lib2;
    ASSERT_EQ(lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2.Put())), S_OK);
    BStr doc;
    ASSERT_EQ(lib2->GetDocumentation2(-1, 0, doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(doc.Utf8(), "Quibrel test library: \"every\" construct, Größe");
    VARIANT v;
    v.vt = VT_I4;
    EXPECT_EQ(lib2->GetCustData(IID_NULL, &v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    ComPtr<ITypeInfo> disp = TypeNamed(lib.Get(), "IShapes2");
    ASSERT_TRUE(disp);
    ComPtr<ITypeInfo2> disp2;
    ASSERT_EQ(disp->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(disp2.Put())), S_OK);
    TYPEKIND kind = TKIND_MAX;
    ASSERT_EQ(disp2->GetTypeKind(&kind), S_OK);
    EXPECT_EQ(kind, TKIND_DISPATCH);
    // Every function of the view is found again by its id and invoke kind.
    TypeAttrPtr attr;
    ASSERT_EQ(disp->GetTypeAttr(attr.Put(disp.Get())), S_OK);
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FuncDescPtr fd;
        ASSERT_EQ(disp->GetFuncDesc(i, fd.Put(disp.Get())), S_OK);
        UINT at = 99999;
        ASSERT_EQ(disp2->GetFuncIndexOfMemId(fd->memid, fd->invkind, &at), S_OK);
        EXPECT_EQ(at, i);
    }
    UINT none;
    EXPECT_EQ(disp2->GetFuncIndexOfMemId(0x7654321, INVOKE_FUNC, &none), TYPE_E_ELEMENTNOTFOUND);

    ComPtr<ITypeLibImports> imports;
    EXPECT_EQ(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put())), S_OK);
}

}  // namespace
