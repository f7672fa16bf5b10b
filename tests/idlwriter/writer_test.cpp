// The IDL writer on the fixtures: what a library's IDL holds, its order, its comments for what
// IDL cannot say, and where types and members land.
#include "writers/idl.h"
#include "platform/oleauto/comptr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Fixture(const std::string& name) { return std::string(QUIBREL_FIXTURE_DIR) + "/" + name; }

ComPtr<ITypeLib> Load(const std::string& path) {
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(Utf8ToUtf16(path).c_str(), lib.Put()), S_OK) << path;
    return lib;
}

std::string LibraryIdl(const std::string& name) {
    ComPtr<ITypeLib> lib = Load(Fixture(name));
    if (!lib) return std::string();
    TIdlWriter w(lib.Get());
    w.WriteLibrary();
    return w.Text();
}

std::string LineOf(const std::string& text, int line) {
    std::size_t at = 0;
    for (int i = 0; i < line && at != std::string::npos; ++i) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos) return std::string();
    return text.substr(at, text.find('\n', at) - at);
}

bool Before(const std::string& text, const std::string& a, const std::string& b) {
    std::size_t pa = text.find(a), pb = text.find(b);
    return pa != std::string::npos && pb != std::string::npos && pa < pb;
}

TEST(IdlWriter, LibraryAttributesImportsCustomDataAndModules) {
    const std::string idl = LibraryIdl("QuibrelExtras.tlb");
    for (const char* piece : {
             "uuid(7A0C5E00-1F2B-4C3D-8E9F-000000300000), version(3.1), lcid(0x0409)",
             "helpstring(\"Quibrel extras\"), helpfile(\"extras.hlp\"), helpcontext(0x0000000C), "
             "helpstringcontext(0x00000077), control",
             "custom(7A0C5E00-1F2B-4C3D-8E9F-0000003000C0, \"library text\")",
             "library QuibrelExtras\n{\n    importlib(\"QuibrelShared.tlb\");",
             "custom(7A0C5E00-1F2B-4C3D-8E9F-0000003000C2, 35)] enum Mode {",
             "[dllname(\"extras.dll\"), uuid(7A0C5E00-1F2B-4C3D-8E9F-000000300002), helpstringcontext(0x00000009)]",
             "entry(17)]\n        void ByOrdinal([in] BSTR s);",
             "[in, custom(7A0C5E00-1F2B-4C3D-8E9F-0000003000C5, \"param\")] long how",
             "[in, defaultvalue(-3)] long scale",  // optional by its default value
             "interface IDualExtras : IDispatch {",
             "[in, lcid] long locale",
             "appobject, licensed, aggregatable]\n    coclass Extras {\n        [default] interface IDualExtras;",
             "typedef [public] OuterAlias* OuterRef;",
             "        Inner rest[4];",
             "        short b[2][3];"}) {
        EXPECT_NE(idl.find(piece), std::string::npos) << piece << "\n" << idl;
    }
    // The dual interface is written once, as its interface side.
    EXPECT_EQ(idl.find("dispinterface IDualExtras"), std::string::npos);
    // Records after what they hold; a record pointed to before its definition is named by its
    // tag.
    EXPECT_TRUE(Before(idl, "} Inner;", "typedef struct Outer {"));
    EXPECT_TRUE(Before(idl, "HRESULT Next([in] ILater* other, [in] struct Outer* data);", "typedef struct Outer {"));
    // The imported record is defined before the library block, for compilers to match it with
    // the importlib.
    EXPECT_TRUE(Before(idl, "struct SharedPoint {", "\nlibrary QuibrelExtras"));
}

TEST(IdlWriter, EveryKindOfTypeAndMember) {
    const std::string idl = LibraryIdl("QuibrelTest.tlb");
    for (const char* piece : {
             "dirBack = -2147483648", "typedef [uuid(7A0C5E00-1F2B-4C3D-8E9F-000000200004), "
             "helpstring(\"A number in one of three forms\")] union Number {",
             "double Matrix[2][3];", "SAFEARRAY(long) Points;", "CURRENCY Price;",
             "typedef [public, uuid(7A0C5E00-1F2B-4C3D-8E9F-000000200008), hidden] Handle32 OldHandle;",
             "dispinterface DPanel {\n    properties:\n        [id(0x00000001)] long Width;",
             "[id(0x00000002), readonly] BSTR Caption;", "methods:",
             "[id(0x00000006), vararg]", "[in, defaultvalue(\"box\")] BSTR kind",
             "[id(0xFFFFFFFC), propget, restricted, hidden]", "[default, source] dispinterface DCanvasEvents;",
             "noncreatable", "helpstring(\"Quibrel test library: \\\"every\\\" construct, Größe\")",
             "interface IDerivedThing : ISharedThing {"}) {
        EXPECT_NE(idl.find(piece), std::string::npos) << piece;
    }
}

TEST(IdlWriter, WhatIdlCannotSayBecomesAComment) {
    // Without its imported library a type's base cannot be named: a comment says so, and the
    // rest of the library is written.
    ComPtr<ITypeLib> lib = Load(Fixture("lonely/QuibrelTest.tlb"));
    ASSERT_TRUE(lib);
    TIdlWriter w(lib.Get());
    w.WriteLibrary();
    const std::string& idl = w.Text();
    EXPECT_NE(idl.find("/* IDerivedThing: its base interface cannot be resolved */"), std::string::npos) << idl;
    EXPECT_NE(idl.find("/* Blend parameter 1: a type that cannot be resolved"), std::string::npos);
    EXPECT_NE(idl.find("interface IShapes {"), std::string::npos);
    EXPECT_NE(idl.find("/* IShapes: its base interface cannot be resolved */"), std::string::npos);
    // A property put whose value has no name in the library.
    EXPECT_NE(LibraryIdl("QuibrelTest.tlb").find("/* Scale parameter 1 has no name */"), std::string::npos);
}

TEST(IdlWriter, NamedTypesListWhatTheyNeed) {
    ComPtr<ITypeLib> lib = Load(Fixture("QuibrelExtras.tlb"));
    ASSERT_TRUE(lib);
    TIdlWriter w(lib.Get());
    ASSERT_GE(w.FindType("outer"), 0);  // letter case ignored
    EXPECT_EQ(w.FindType("NoSuchType"), -1);
    w.WriteTypes({w.FindType("Outer")});
    EXPECT_EQ(w.Text().rfind("/* needs: struct Inner, struct SharedPoint (imported), interface ILater */\n", 0), 0u)
        << w.Text();
    EXPECT_EQ(w.Text().find("library"), std::string::npos);
}

TEST(IdlWriter, SpansAndTypeReferencesPointIntoTheText) {
    ComPtr<ITypeLib> lib = Load(Fixture("QuibrelTest.tlb"));
    ASSERT_TRUE(lib);
    TIdlWriter w(lib.Get());
    const int shapes = w.FindType("IShapes");
    w.WriteTypes({shapes});
    const std::string& text = w.Text();
    ASSERT_EQ(w.TypeSpans().size(), 1u);
    const TIdlTypeSpan& span = w.TypeSpans()[0];
    EXPECT_EQ(span.TypeIndex, shapes);
    EXPECT_NE(LineOf(text, span.FirstLine).find("uuid("), std::string::npos);
    EXPECT_EQ(LineOf(text, span.LastLine), "};");
    int found = 0;
    for (const TIdlMemberSpan& m : span.Members) {
        if (m.Name != "Add") continue;
        ++found;
        EXPECT_EQ(m.MemberId, 5);
        EXPECT_EQ(m.InvokeKind, 1);
        EXPECT_NE(LineOf(text, m.LastLine).find(" Add("), std::string::npos);
    }
    EXPECT_EQ(found, 1);
    // Every reference names a type of the library at its place.
    ASSERT_FALSE(w.TypeRefs().empty());
    bool bounds = false;
    for (const TIdlTypeRef& r : w.TypeRefs()) {
        const std::string name = LineOf(text, r.Line).substr(std::size_t(r.Column), std::size_t(r.Length));
        BStr expected;
        lib->GetDocumentation(r.TypeIndex, expected.Put(), nullptr, nullptr, nullptr);
        EXPECT_EQ(name, expected.Utf8());
        bounds = bounds || name == "Bounds";
    }
    EXPECT_TRUE(bounds);
}

TEST(IdlWriter, StringsAreQuotedAndEscaped) {
    EXPECT_EQ(IdlQuote("plain"), "\"plain\"");
    EXPECT_EQ(IdlQuote("a \"b\" \\ c"), "\"a \\\"b\\\" \\\\ c\"");
    EXPECT_EQ(IdlQuote("line\nnext\ttab\r"), "\"line\\nnext\\ttab\\r\"");
    EXPECT_EQ(IdlQuote(std::string("\x01z", 2)), "\"\\001z\"");
    EXPECT_EQ(IdlQuote("Größe"), "\"Größe\"");
}

}  // namespace
