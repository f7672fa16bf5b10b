// Type and signature formatting, the row order, and the texts of the error box.
#include "appenv.h"

#include "text/typetext.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(RowOrder, FoldsOnlyAsciiLettersToUpperCase) {
    EXPECT_LT(CompareCaptions(u"alpha", u"Beta"), 0);   // lower-case a before upper-case B
    EXPECT_GT(CompareCaptions(u"_Foo", u"Zed"), 0);     // '_' sorts after the upper-case letters
    EXPECT_EQ(CompareCaptions(u"Item", u"ITEM"), 0);
    EXPECT_LT(CompareCaptions(u"Item", u"Items"), 0);
    EXPECT_NE(CompareCaptions(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);  // é is not folded

    // Icons first; names that differ only in letter case end up next to each other.
    struct Row { int icon; QString caption; };
    std::vector<Row> rows = {{6, "beta"}, {5, "Zoom"}, {6, "Alpha"}, {6, "BETA"}, {6, "b"}, {6, "_x"}};
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return RowLess(a.icon, a.caption, b.icon, b.caption); });
    QStringList order;
    for (const Row& r : rows) order << r.caption;
    EXPECT_EQ(order, QStringList({"Zoom", "Alpha", "b", "beta", "BETA", "_x"}));
}

TEST(ErrorText, FullStopRuleAndTrimming) {
    EXPECT_EQ(ErrorBoxText("Element not found"), "Element not found.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Look (here)"), "Look (here)");  // ')' is below '.'
    EXPECT_EQ(ErrorBoxText(""), "");
    EXPECT_EQ(LoadErrorText(TYPE_E_INVDATAREAD), "Old format or invalid type library");
    EXPECT_EQ(LoadErrorText(HRESULT(0x8BADF00Du)), "");
    EXPECT_EQ(TypeNameOf(VT_I4), "Long");
    EXPECT_EQ(TypeNameOf(15), "15");
    EXPECT_EQ(TypeNameOf(VT_LPWSTR), "String");
    EXPECT_EQ(TypeNameOf(VT_NULL), "");
    EXPECT_EQ(TypeNameOf(VT_RECORD), "");
}

namespace {

// A type whose member names cannot be read beyond the member's own name, over a real one.
class TNamelessTypeInfo : public ITypeInfo {
public:
    TNamelessTypeInfo(ITypeInfo* inner, bool fail) : FInner(inner), FFail(fail) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override { return --FRefs; }  // lives on the stack
    HRESULT GetTypeAttr(TYPEATTR** p) override { return FInner->GetTypeAttr(p); }
    HRESULT GetTypeComp(ITypeComp** p) override { return FInner->GetTypeComp(p); }
    HRESULT GetFuncDesc(UINT i, FUNCDESC** p) override { return FInner->GetFuncDesc(i, p); }
    HRESULT GetVarDesc(UINT i, VARDESC** p) override { return FInner->GetVarDesc(i, p); }
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override {
        if (FFail) return TYPE_E_ELEMENTNOTFOUND;
        return FInner->GetNames(memid, names, std::min<UINT>(max, 1), count);
    }
    HRESULT GetRefTypeOfImplType(UINT i, HREFTYPE* p) override { return FInner->GetRefTypeOfImplType(i, p); }
    HRESULT GetImplTypeFlags(UINT i, INT* p) override { return FInner->GetImplTypeFlags(i, p); }
    HRESULT GetIDsOfNames(LPOLESTR* n, UINT c, MEMBERID* m) override { return FInner->GetIDsOfNames(n, c, m); }
    HRESULT Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT GetDocumentation(MEMBERID m, BSTR* a, BSTR* b, DWORD* c, BSTR* d) override {
        return FInner->GetDocumentation(m, a, b, c, d);
    }
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE h, ITypeInfo** p) override { return FInner->GetRefTypeInfo(h, p); }
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, PVOID*) override { return E_NOTIMPL; }
    HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetContainingTypeLib(ITypeLib** p, UINT* i) override { return FInner->GetContainingTypeLib(p, i); }
    void ReleaseTypeAttr(TYPEATTR* p) override { FInner->ReleaseTypeAttr(p); }
    void ReleaseFuncDesc(FUNCDESC* p) override { FInner->ReleaseFuncDesc(p); }
    void ReleaseVarDesc(VARDESC* p) override { FInner->ReleaseVarDesc(p); }

private:
    ITypeInfo* FInner;
    bool FFail;
    ULONG FRefs = 1;
};

ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, const QString& name) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        QString n;
        if (SUCCEEDED(lib->GetTypeInfo(i, ti.Put())) && GetMemberName(ti.Get(), MEMBERID_NIL, &n) && n == name)
            return ti;
    }
    return nullptr;
}

// The signature of the function of that name, through the wrapper.
QString SignatureOf(ITypeInfo* ti, const QString& member, bool failNames) {
    TNamelessTypeInfo wrapper(ti, failNames);
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti)))) return "?";
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FuncDescPtr f;
        QString n;
        if (SUCCEEDED(ti->GetFuncDesc(i, f.Put(ti))) && GetMemberName(ti, f->memid, &n) && n == member)
            return FormatSignature(&wrapper, *f.Get(), nullptr);
    }
    return "?";
}

}  // namespace

TEST(Signature, MissingParameterNamesBecomeParamN) {
    ComPtr<ITypeLib> lib;
    const std::u16string path = Fixture("QuibrelTest.tlb").toStdU16String();
    ASSERT_EQ(LoadTypeLib(path.c_str(), lib.Put()), S_OK);
    ComPtr<ITypeInfo> events = TypeNamed(lib.Get(), "DCanvasEvents");
    ASSERT_TRUE(events);
    // Only the member's name came back: the parameters count from 1.
    EXPECT_EQ(SignatureOf(events.Get(), "ShapeAdded", false), "(Param1 As Long, Param2 As String) ");
    // GetNames failed: no name at all, so the first parameter is slot 1 all the same.
    EXPECT_EQ(SignatureOf(events.Get(), "KeyDown", true),
              "(Param1 As Integer, Param2 As Object, Param3 As String, Param4 As Double) ");
    EXPECT_EQ(SignatureOf(events.Get(), "Cleared", true), "() ");
}
