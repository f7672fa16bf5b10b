// What the second-level service reads beyond the first: custom data on every kind of item,
// help-string contexts, module entries and the list of imported libraries.
#include "reader_util.h"

#include <cstring>
#include <fstream>

using namespace readertest;

namespace {

GUID Cust(std::uint8_t last) {
    GUID g{0x7A0C5E00, 0x1F2B, 0x4C3D, {0x8E, 0x9F, 0x00, 0x00, 0x00, 0x30, 0x00, last}};
    return g;
}

std::string Text(const VARIANT& v) { return v.vt == VT_BSTR ? BstrToUtf8(v.bstrVal) : std::string("<not text>"); }

class ReaderExtras : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_EQ(Load(Fixture(GetParam()), &lib_), S_OK);
        ASSERT_EQ(lib_->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2_.Put())), S_OK);
    }
    ComPtr<ITypeInfo2> Info2(const std::string& name) {
        ComPtr<ITypeInfo> ti = TypeNamed(lib_.Get(), name);
        ComPtr<ITypeInfo2> t2;
        if (ti) ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(t2.Put()));
        return t2;
    }
    ComPtr<ITypeLib> lib_;
    ComPtr<ITypeLib2> lib2_;
};

TEST_P(ReaderExtras, LibraryCustomDataAndHelpStringContext) {
    VARIANT v;
    ASSERT_EQ(lib2_->GetCustData(Cust(0xC0), &v), S_OK);
    EXPECT_EQ(Text(v), "library text");
    VariantClear(&v);
    ASSERT_EQ(lib2_->GetCustData(Cust(0xC1), &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
    ASSERT_EQ(lib2_->GetCustData(Cust(0x01), &v), S_OK);  // no such item
    EXPECT_EQ(v.vt, VT_EMPTY);

    // The compiler adds items of its own (its version, the time).
    CUSTDATA all{};
    ASSERT_EQ(lib2_->GetAllCustData(&all), S_OK);
    ASSERT_GE(all.cCustData, 2u);
    int ours = 0;
    for (DWORD i = 0; i < all.cCustData; ++i)
        if (all.prgCustData[i].guid == Cust(0xC0) || all.prgCustData[i].guid == Cust(0xC1)) ++ours;
    EXPECT_EQ(ours, 2);
    ClearCustData(&all);
    EXPECT_EQ(all.prgCustData, nullptr);

    DWORD context = 0;
    BSTR doc = nullptr;
    ASSERT_EQ(lib2_->GetDocumentation2(-1, 0, &doc, &context, nullptr), S_OK);
    EXPECT_EQ(context, 0x77u);
    EXPECT_EQ(BstrToUtf8(doc), "Quibrel extras");
    SysFreeString(doc);
}

TEST_P(ReaderExtras, CustomDataOfTypesMembersParametersAndImplementedTypes) {
    VARIANT v;
    ComPtr<ITypeInfo2> mode = Info2("Mode");
    ASSERT_TRUE(mode);
    ASSERT_EQ(mode->GetCustData(Cust(0xC2), &v), S_OK);
    EXPECT_EQ(v.lVal, 35);

    ComPtr<ITypeInfo2> later = Info2("ILater");
    ASSERT_TRUE(later);
    ASSERT_EQ(later->GetCustData(Cust(0xC3), &v), S_OK);
    EXPECT_EQ(Text(v), "on a type");
    VariantClear(&v);
    ASSERT_EQ(later->GetFuncCustData(0, Cust(0xC4), &v), S_OK);
    EXPECT_EQ(v.lVal, 7);
    ASSERT_EQ(later->GetParamCustData(0, 0, Cust(0xC5), &v), S_OK);
    EXPECT_EQ(Text(v), "param");
    VariantClear(&v);
    CUSTDATA none{};
    ASSERT_EQ(later->GetAllParamCustData(0, 1, &none), S_OK);
    EXPECT_EQ(none.cCustData, 0u);
    ASSERT_EQ(later->GetAllFuncCustData(1, &none), S_OK);
    EXPECT_EQ(none.cCustData, 0u);
    EXPECT_EQ(later->GetAllParamCustData(0, 9, &none), TYPE_E_ELEMENTNOTFOUND);
    DWORD context = 0;
    ASSERT_EQ(later->GetDocumentation2(0x60010000, 0, nullptr, &context, nullptr), S_OK);
    EXPECT_EQ(context, 33u);

    ComPtr<ITypeInfo2> fields = Info2("DFields");
    ASSERT_EQ(fields->GetVarCustData(0, Cust(0xC8), &v), S_OK);
    EXPECT_EQ(Text(v), "var");
    VariantClear(&v);

    // widl does not record custom data of implemented types: none is read.
    ComPtr<ITypeInfo2> extras = Info2("Extras");
    ASSERT_EQ(extras->GetImplTypeCustData(0, Cust(0xC9), &v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    ASSERT_EQ(extras->GetAllImplTypeCustData(1, &none), S_OK);
    EXPECT_EQ(none.cCustData, 0u);
    EXPECT_EQ(extras->GetAllImplTypeCustData(2, &none), TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(ReaderExtras, DualInterfaceCustomDataOnBothSides) {
    // The dispatch view shows the function without its locale parameter: parameter 0 there is
    // the interface side's parameter 1.
    ComPtr<ITypeInfo2> disp = Info2("IDualExtras");
    ASSERT_TRUE(disp);
    TYPEKIND kind;
    ASSERT_EQ(disp->GetTypeKind(&kind), S_OK);
    ASSERT_EQ(kind, TKIND_DISPATCH);
    UINT tell = 0;
    ASSERT_EQ(disp->GetFuncIndexOfMemId(1, INVOKE_FUNC, &tell), S_OK);
    VARIANT v;
    ASSERT_EQ(disp->GetFuncCustData(tell, Cust(0xC6), &v), S_OK);
    EXPECT_EQ(v.lVal, 8);
    ASSERT_EQ(disp->GetParamCustData(tell, 0, Cust(0xC7), &v), S_OK);
    EXPECT_EQ(v.lVal, 9);

    HREFTYPE twin;
    ASSERT_EQ(disp->GetRefTypeOfImplType(UINT(-1), &twin), S_OK);
    ComPtr<ITypeInfo> iface;
    ASSERT_EQ(disp->GetRefTypeInfo(twin, iface.Put()), S_OK);
    ComPtr<ITypeInfo2> iface2;
    ASSERT_EQ(iface->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(iface2.Put())), S_OK);
    ASSERT_EQ(iface2->GetParamCustData(0, 1, Cust(0xC7), &v), S_OK);
    EXPECT_EQ(v.lVal, 9);
    ASSERT_EQ(iface2->GetParamCustData(0, 0, Cust(0xC7), &v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST_P(ReaderExtras, ModuleEntriesByNameAndOrdinal) {
    ComPtr<ITypeInfo> fns = TypeNamed(lib_.Get(), "ExtrasFns");
    ASSERT_TRUE(fns);
    FuncDescPtr byName, byOrdinal;
    ASSERT_EQ(fns->GetFuncDesc(0, byName.Put(fns.Get())), S_OK);
    ASSERT_EQ(fns->GetFuncDesc(1, byOrdinal.Put(fns.Get())), S_OK);
    BSTR dll = nullptr, entry = nullptr;
    WORD ordinal = 99;
    // widl records entry names wrongly (entry names are checked on a real library below).
    ASSERT_EQ(fns->GetDllEntry(byName->memid, INVOKE_FUNC, &dll, &entry, &ordinal), S_OK);
    EXPECT_EQ(BstrToUtf8(dll), "extras.dll");
    EXPECT_NE(entry, nullptr);
    EXPECT_EQ(ordinal, 0);
    SysFreeString(dll);
    SysFreeString(entry);
    ASSERT_EQ(fns->GetDllEntry(byOrdinal->memid, INVOKE_FUNC, &dll, &entry, &ordinal), S_OK);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(ordinal, 17);
    SysFreeString(dll);
    EXPECT_EQ(fns->GetDllEntry(byName->memid, INVOKE_PROPERTYGET, &dll, &entry, &ordinal), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(fns->GetDllEntry(12345, INVOKE_FUNC, &dll, &entry, &ordinal), TYPE_E_ELEMENTNOTFOUND);

    ComPtr<ITypeInfo> later = TypeNamed(lib_.Get(), "ILater");
    EXPECT_EQ(later->GetDllEntry(0x60010000, INVOKE_FUNC, &dll, &entry, &ordinal), TYPE_E_BADMODULEKIND);
}

TEST_P(ReaderExtras, ImportsInTheLibrarysOrderWithWhereTheyWereFound) {
    ComPtr<ITypeLibImports> imports;
    ASSERT_EQ(lib_->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put())), S_OK);
    ASSERT_EQ(imports->GetImportCount(), 1u);
    GUID guid{};
    WORD major = 0, minor = 0;
    LCID lcid = 1;
    BSTR recorded = nullptr, path = nullptr;
    ASSERT_EQ(imports->GetImport(0, &guid, &major, &minor, &lcid, &recorded, &path), S_OK);
    EXPECT_EQ(guid.Data1, 0x7A0C5E00u);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 2);
    EXPECT_EQ(BstrToUtf8(recorded), "QuibrelShared.tlb");
    std::string found = BstrToUtf8(path);
    EXPECT_NE(found.find("QuibrelShared.tlb"), std::string::npos) << found;
    SysFreeString(recorded);
    SysFreeString(path);
    EXPECT_EQ(imports->GetImport(1, &guid, nullptr, nullptr, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

INSTANTIATE_TEST_SUITE_P(BothWidths, ReaderExtras, ::testing::Values("QuibrelExtras.tlb", "win32/QuibrelExtras.tlb"));

TEST(ReaderImports, NotFoundBesideIsReportedWithoutAPath) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(Load(Fixture("lonely/QuibrelTest.tlb"), &lib), S_OK);
    ComPtr<ITypeLibImports> imports;
    ASSERT_EQ(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put())), S_OK);
    ASSERT_EQ(imports->GetImportCount(), 1u);
    BSTR recorded = nullptr, path = nullptr;
    EXPECT_EQ(imports->GetImport(0, nullptr, nullptr, nullptr, nullptr, &recorded, &path), S_FALSE);
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(BstrToUtf8(recorded), "QuibrelShared.tlb");
    SysFreeString(recorded);
}

TEST(ReaderModules, EntryNamesOfARealLibrary) {
    const std::string path = std::string(QUIBREL_TYPELIBS_DIR) + "/files/stdole2.tlb";
    if (!std::ifstream(path)) GTEST_SKIP() << "the real-world libraries are not at " << QUIBREL_TYPELIBS_DIR;
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(Load(path, &lib), S_OK);
    ComPtr<ITypeInfo> fns = TypeNamed(lib.Get(), "StdFunctions");
    ASSERT_TRUE(fns);
    FuncDescPtr fd;
    ASSERT_EQ(fns->GetFuncDesc(0, fd.Put(fns.Get())), S_OK);
    BSTR dll = nullptr, entry = nullptr;
    WORD ordinal = 1;
    ASSERT_EQ(fns->GetDllEntry(fd->memid, fd->invkind, &dll, &entry, &ordinal), S_OK);
    EXPECT_EQ(BstrToUtf8(dll), "oleaut32.dll");
    EXPECT_EQ(BstrToUtf8(entry), "OleLoadPictureFileEx");
    EXPECT_EQ(ordinal, 0);
    SysFreeString(dll);
    SysFreeString(entry);
}

}  // namespace
