// The IDL writer on the fixtures: what a library's IDL holds, its order, its comments for what
// IDL cannot say, and where types and members land.
#include "writers/idl.h"
#include "platform/oleauto/comptr.h"
#include "text/escape.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
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
             "helpstring(\"Quibrel extras\"), helpfile(\"extras.hlp\"), helpcontext(0x0000000C),\n"
             "    helpstringcontext(0x00000077), control",
             "custom(7A0C5E00-1F2B-4C3D-8E9F-0000003000C0, \"library text\")",
             "library QuibrelExtras\n{\n    importlib(\"QuibrelShared.tlb\");",
             "custom(7A0C5E00-1F2B-4C3D-8E9F-0000003000C2, 35)] enum Mode {",
             "[dllname(\"extras.dll\"), uuid(7A0C5E00-1F2B-4C3D-8E9F-000000300002),\n"
             "        helpstringcontext(0x00000009)]",
             "entry(17)]\n        void ByOrdinal([in] BSTR s);",
             "[in, custom(7A0C5E00-1F2B-4C3D-8E9F-0000003000C5, \"param\")] long how",
             "[in, defaultvalue(-3)] long scale",  // optional by its default value
             "interface IDualExtras : IDispatch {",
             "[in, lcid] long locale",
             "appobject, licensed, aggregatable]\n    coclass Extras {\n        [default] interface IDualExtras;",
             "typedef [public] OuterAlias* OuterRef;",
             "        struct Inner {\n            long a;",  // defined where first used, as widl numbers it
             "        struct Inner rest[4];",
             "} Outer;\n    typedef struct Inner Inner;",
             "    short b[2][3];"}) {
        EXPECT_NE(idl.find(piece), std::string::npos) << piece << "\n" << idl;
    }
    // The dual interface is written once, as its interface side.
    EXPECT_EQ(idl.find("dispinterface IDualExtras"), std::string::npos);
    // Records after what they hold; a record pointed to before its definition is named by its
    // tag.
    EXPECT_TRUE(Before(idl, "typedef struct Outer {", "struct Inner {"));
    EXPECT_TRUE(Before(idl, "HRESULT Next([in] ILater* other, [in] struct Outer* data);", "typedef struct Outer {"));
    // The imported record is defined before the library block, for compilers to match it with
    // the importlib.
    EXPECT_TRUE(Before(idl, "struct SharedPoint {", "\nlibrary QuibrelExtras"));
}

TEST(IdlWriter, EveryKindOfTypeAndMember) {
    const std::string idl = LibraryIdl("QuibrelTest.tlb");
    for (const char* piece : {
             "dirBack = -2147483648", "typedef [uuid(7A0C5E00-1F2B-4C3D-8E9F-000000200004),\n"
             "        helpstring(\"A number in one of three forms\")] union Number {",
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

// ---- compiled back with widl ----------------------------------------------------------------

struct Compiled {
    bool ok = false;
    std::string path, messages;
};

// Compiles IDL text with widl into DIR/NAME.tlb, with the stand-in stdole2 beside it.
Compiled Widl(const QString& dir, const std::string& name, const std::string& idl, bool win64 = false) {
    QFile::copy(QUIBREL_FIXTURE_DIR "/stdole/stdole2.tlb", dir + "/stdole2.tlb");
    const QString source = dir + "/" + QString::fromStdString(name) + ".idl";
    QFile f(source);
    if (!f.open(QIODevice::WriteOnly) || f.write(idl.data(), qint64(idl.size())) != qint64(idl.size())) return {};
    f.close();
    Compiled c;
    c.path = (dir + "/" + QString::fromStdString(name) + ".tlb").toStdString();
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(QUIBREL_WIDL),
            {"--nostdinc", "-t", win64 ? "--win64" : "--win32", "-I", QUIBREL_SOURCE_DIR "/tests/idl", "-L", dir, "-o",
             QString::fromStdString(c.path), source});
    p.waitForFinished(60000);
    c.messages = p.readAll().toStdString();
    c.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return c;
}

std::string WholeIdl(ITypeLib* lib) {
    TIdlWriter w(lib);
    w.WriteLibrary();
    return w.Text();
}

// The index in its own library of the type a reference leads to; -1 when it leads elsewhere.
int RefIndex(ITypeInfo* owner, HREFTYPE href, ITypeLib* lib) {
    ComPtr<ITypeInfo> ref;
    ComPtr<ITypeLib> container;
    UINT index = 0;
    if (FAILED(owner->GetRefTypeInfo(href, ref.Put())) || !ref ||
        FAILED(ref->GetContainingTypeLib(container.Put(), &index)) || container.Get() != lib)
        return -1;
    return int(index);
}

void TypeFacts(ITypeInfo* ti, ITypeLib* lib, const TYPEDESC& td, std::string* out, int depth = 0) {
    *out += std::to_string(td.vt);
    if (depth > 8) return;
    if ((td.vt == VT_PTR || td.vt == VT_SAFEARRAY) && td.lptdesc) TypeFacts(ti, lib, *td.lptdesc, &(*out += "<"), depth + 1);
    if (td.vt == VT_CARRAY && td.lpadesc) {
        for (USHORT i = 0; i < td.lpadesc->cDims; ++i) *out += "[" + std::to_string(td.lpadesc->rgbounds[i].cElements) + "]";
        TypeFacts(ti, lib, td.lpadesc->tdescElem, &(*out += "<"), depth + 1);
    }
    if (td.vt == VT_USERDEFINED) *out += "#" + std::to_string(RefIndex(ti, td.hreftype, lib));
}

std::string ValueFacts(const VARIANT& v) {
    std::string s = "vt" + std::to_string(v.vt);
    if (v.vt == VT_BSTR) return s + "=" + BstrToUtf8(v.bstrVal);
    if (v.vt == VT_R4) return s + "=" + std::to_string(v.fltVal);
    if (v.vt == VT_R8) return s + "=" + std::to_string(v.dblVal);
    return s + "=" + std::to_string(v.llVal);
}

// What a rebuilt library must keep: per type its kind, name, flags, size and alignment, bases,
// functions (flags, optional count, parameters with their flags, types and defaults) and
// variables (types, offsets). Types by index, so that the order counts too; names and help
// strings only withText.
std::string Facts(ITypeLib* lib, bool withText = true) {
    std::string s;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        TypeAttrPtr a;
        BStr name, doc;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || FAILED(ti->GetTypeAttr(a.Put(ti.Get())))) {
            s += "unreadable\n";
            continue;
        }
        ti->GetDocumentation(MEMBERID_NIL, name.Put(), doc.Put(), nullptr, nullptr);
        s += "type " + std::to_string(i) + (withText ? " " + name.Utf8() : "") + " kind=" +
             std::to_string(a->typekind) + " flags=" + std::to_string(a->wTypeFlags) +
             " size=" + std::to_string(a->cbSizeInstance) + " align=" + std::to_string(a->cbAlignment) +
             (withText ? " doc=" + doc.Utf8() : "") + "\n";
        if (a->typekind == TKIND_ALIAS) TypeFacts(ti.Get(), lib, a->tdescAlias, &(s += "  alias "));
        for (UINT k = 0; k < a->cImplTypes; ++k) {
            HREFTYPE h = 0;
            INT flags = 0;
            ti->GetRefTypeOfImplType(k, &h);
            ti->GetImplTypeFlags(k, &flags);
            s += "  impl #" + std::to_string(RefIndex(ti.Get(), h, lib)) + " " + std::to_string(flags) + "\n";
        }
        for (UINT k = 0; k < a->cFuncs; ++k) {
            FuncDescPtr fd;
            if (FAILED(ti->GetFuncDesc(k, fd.Put(ti.Get())))) continue;
            BStr fname;
            ti->GetDocumentation(fd->memid, fname.Put(), nullptr, nullptr, nullptr);
            s += "  func " + (withText ? fname.Utf8() : "") + " flags=" + std::to_string(fd->wFuncFlags) +
                 " opt=" + std::to_string(fd->cParamsOpt) + " ret=";
            TypeFacts(ti.Get(), lib, fd->elemdescFunc.tdesc, &s);
            for (SHORT p = 0; p < fd->cParams; ++p) {
                const ELEMDESC& e = fd->lprgelemdescParam[p];
                s += " (" + std::to_string(e.paramdesc.wParamFlags) + " ";
                TypeFacts(ti.Get(), lib, e.tdesc, &s);
                if ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
                    s += " default " + ValueFacts(e.paramdesc.pparamdescex->varDefaultValue);
                s += ")";
            }
            s += "\n";
        }
        for (UINT k = 0; k < a->cVars; ++k) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(k, vd.Put(ti.Get())))) continue;
            s += "  var kind=" + std::to_string(vd->varkind) + " ";
            TypeFacts(ti.Get(), lib, vd->elemdescVar.tdesc, &s);
            s += vd->varkind == VAR_CONST && vd->lpvarValue ? " = " + ValueFacts(*vd->lpvarValue)
                                                            : " at " + std::to_string(vd->oInst);
            s += "\n";
        }
    }
    return s;
}

bool HasRawControlBytes(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
    return false;
}

std::string DataFile(const char* name) { return std::string(QUIBREL_SOURCE_DIR "/tests/idlwriter/data/") + name; }

// Libraries whose names and texts carry IDL, preprocessor lines and terminal controls: the IDL
// compiles back to the same types, each under its cleaned name at its definition and at every
// use (bases, coclass members, parameter types), with nothing added.
TEST(IdlWriter, LibraryTextNeverBecomesIdl) {
    QTemporaryDir dir;
    for (const char* file : {"idl-inject-names.tlb", "idl-inject-include.tlb"}) {
        SCOPED_TRACE(file);
        // Beside the stdole2 it imports.
        const QString copy = dir.filePath(QString::fromLatin1(file));
        QFile::copy(QUIBREL_FIXTURE_DIR "/stdole/stdole2.tlb", dir.filePath("stdole2.tlb"));
        ASSERT_TRUE(QFile::copy(QString::fromStdString(DataFile(file)), copy));
        ComPtr<ITypeLib> original = Load(copy.toStdString());
        ASSERT_TRUE(original);
        LibAttrPtr la;
        ASSERT_EQ(original->GetLibAttr(la.Put(original.Get())), S_OK);
        const std::string idl = WholeIdl(original.Get());
        EXPECT_FALSE(HasRawControlBytes(idl));
        EXPECT_EQ(idl.find("\n#"), std::string::npos);  // no preprocessor line of the library's
        const Compiled rebuilt = Widl(dir.path(), "rebuilt", idl, la->syskind == SYS_WIN64);
        ASSERT_TRUE(rebuilt.ok) << rebuilt.messages << idl;
        ComPtr<ITypeLib> back = Load(rebuilt.path);
        ASSERT_TRUE(back);
        ASSERT_EQ(back->GetTypeInfoCount(), original->GetTypeInfoCount());
        // The same types, members and references; names come back cleaned (widl keeps at most
        // 255 bytes of one), help strings with their escapes as text (widl does not read them).
        EXPECT_EQ(Facts(back.Get(), false), Facts(original.Get(), false));
        for (UINT i = 0; i < original->GetTypeInfoCount(); ++i) {
            BStr a, b;
            original->GetDocumentation(int(i), a.Put(), nullptr, nullptr, nullptr);
            back->GetDocumentation(int(i), b.Put(), nullptr, nullptr, nullptr);
            EXPECT_TRUE(IsSafeName(b.Utf8(), NameDialect::Idl)) << b.Utf8();
            EXPECT_EQ(CleanIdentifier(a.Utf8(), NameDialect::Idl).rfind(b.Utf8(), 0), 0u) << b.Utf8();
        }
        const std::string text = Facts(back.Get());
        EXPECT_EQ(text.find("INJECTED"), std::string::npos);
        EXPECT_EQ(text.find("PWNED "), std::string::npos);
    }
}

TEST(IdlWriter, StringsAreQuotedAndEscaped) {
    // Help strings with quotes, line breaks and terminal controls stay inside their literal.
    ComPtr<ITypeLib> lib = Load(DataFile("idl-inject-names.tlb"));
    ASSERT_TRUE(lib);
    const std::string idl = WholeIdl(lib.Get());
    EXPECT_NE(idl.find("helpstring(\"a\\\"b\\\\c*/d/*e\\012f]g;importlib(\\\"x\\\");"), std::string::npos) << idl;
    EXPECT_NE(idl.find("helpstring(\"k\\015\\012\\011\\001\\177\\033[31m end*/k"), std::string::npos);
    EXPECT_EQ(idl.rfind("// Generated by quibrel-tlb from the library X\\n#define helpstring(s) ", 0), 0u);
}

// A damaged library may give a record as an interface's base: only interfaces are written as
// bases, and a comment says what the library claimed.
TEST(IdlWriter, OnlyInterfacesAreWrittenAsBases) {
    ComPtr<ITypeLib> lib = Load(DataFile("idl-struct-as-base.stdole2.tlb"));
    ASSERT_TRUE(lib);
    const std::string idl = WholeIdl(lib.Get());
    EXPECT_NE(idl.find("/* stdole: the library gives struct GUID as its base, written without a base */"),
              std::string::npos) << idl;
    EXPECT_NE(idl.find("interface stdole {"), std::string::npos);
    QTemporaryDir dir;
    const Compiled rebuilt = Widl(dir.path(), "rebuilt", idl);
    EXPECT_TRUE(rebuilt.ok) << rebuilt.messages;
}

// Small libraries made by widl come back from our IDL as widl made them. Each case is the
// library block of one; the IDL we write must show `written` and rebuild the same facts.
TEST(IdlWriter, RebuildsWhatWidlMade) {
    struct Case {
        const char* what;
        const char* library;  // inside "library L { ... }"
        const char* written;  // a piece of our IDL
        const char* notWritten = nullptr;
        const char* imported = nullptr;  // a library imp.tlb the case imports, whole
        const char* outside = "";        // declarations before the library block
    } cases[] = {
        {"a conformant array in a record",
         "typedef struct Buf { long cb; [size_is(cb)] unsigned char data[]; } Buf;\n"
         "[odl, uuid(5B000000-0000-0000-0000-000000000011)] interface IBuf : IUnknown { HRESULT Put([in] Buf* b); }",
         "unsigned char data[];"},
        {"a whole-number default of a float parameter",
         "[odl, uuid(5B000000-0000-0000-0000-000000000012)] interface IF : IUnknown {"
         " HRESULT Scale([in, defaultvalue(2)] float f, [in, defaultvalue(0)] float g); }",
         "[in, defaultvalue(2)] float f, [in, defaultvalue(0)] float g"},
        {"a VARIANT default",
         "[odl, uuid(5B000000-0000-0000-0000-000000000013)] interface IV : IUnknown {"
         " HRESULT Take([in, defaultvalue(0)] VARIANT* v); }",
         "[in, defaultvalue(0)] VARIANT* v", "default value of variant type"},
        {"custom data in the library's order, and the compiler's help context of a field",
         "typedef [uuid(5B000000-0000-0000-0000-00000000001D), custom(5B000000-0000-0000-0000-0000000000C1, \"one\"),"
         " custom(5B000000-0000-0000-0000-0000000000C2, 2)] struct CD {"
         " [custom(5B000000-0000-0000-0000-0000000000C3, 3)] long a; long b; } CD;\n"
         "[odl, uuid(5B000000-0000-0000-0000-00000000001E)] interface ICD : IUnknown { HRESULT Put([in] CD* c); }",
         "[custom(5B000000-0000-0000-0000-0000000000C3, 3)] long a;",
         "helpcontext(0xFFFFFFFF)"},
        {"a type without attributes after the record holding it, with what it holds before that record",
         "typedef [public] struct S2 { long a; } AL;\n"
         "typedef struct X { long k; union U { AL a; long b; } u; } X;\n"
         "[odl, uuid(5B000000-0000-0000-0000-00000000001F)] interface IX : IUnknown { HRESULT Put([in] X* x); }",
         "union U {"},
        {"arrays of interface pointers, and of a record defined later",
         "[odl, uuid(5B000000-0000-0000-0000-000000000020)] interface IA : IUnknown { HRESULT G(); }\n"
         "[odl, uuid(5B000000-0000-0000-0000-000000000021)] interface IS : IUnknown {"
         " HRESULT F([in] SAFEARRAY(PA) a, [out] SAFEARRAY(struct R)* b); }\n"
         "typedef [uuid(5B000000-0000-0000-0000-000000000022)] struct R { long r; } R;",
         "[in] SAFEARRAY(_quibrel_ptr_IA) a, [out] SAFEARRAY(struct R)* b", nullptr, nullptr,
         "interface IA;\ntypedef IA* PA;\n"},
        {"optional beside a default value",
         "[odl, uuid(5B000000-0000-0000-0000-000000000014)] interface IO : IUnknown {"
         " HRESULT Opt([in] long a, [in, optional, defaultvalue(5)] long o, [in, defaultvalue(6)] long d); }",
         "optional, defaultvalue("},
        {"a VARIANT in a record, aligned on 8 bytes",
         "typedef struct Holder { long a; VARIANT v; short b; } Holder;\n"
         "[odl, uuid(5B000000-0000-0000-0000-000000000015)] interface IH : IUnknown { HRESULT Put([in] Holder* h); }",
         "union { double d;"},
        {"interfaces with what the library holds, without an invented local",
         "[odl, uuid(5B000000-0000-0000-0000-000000000016), oleautomation, dual] interface ID : IDispatch {"
         " [id(1)] HRESULT Go([in] long a); }\n"
         "[odl, uuid(5B000000-0000-0000-0000-000000000017)] interface IP : IUnknown { HRESULT Raw([in] void* p); }",
         "[odl, uuid(5B000000-0000-0000-0000-000000000017)]\n    interface IP : IUnknown {", "local, uuid(5B"},
        {"a name of the library's own that an imported type has too",
         "importlib(\"imp.tlb\");\n"
         "typedef struct MyG { long a; } MyG;\ntypedef [public] MyG GUID;\n"
         "[odl, uuid(5B000000-0000-0000-0000-000000000018)] interface IMine : IBase { HRESULT G([in] GUID* g); }",
         "typedef struct GUID_imported {", nullptr,
         "[uuid(5B000000-0000-0000-0000-000000000002), version(1.0)] library Imp { importlib(\"stdole2.tlb\");\n"
         " typedef struct GUID { long d1; short d2; short d3; unsigned char d4[8]; } GUID;\n"
         " [odl, uuid(5B000000-0000-0000-0000-000000000019)] interface IBase : IUnknown { HRESULT F([in] GUID* g); } }\n"},
        {"widl's repeated aliases, and types numbered after their first use",
         "[odl, uuid(5B000000-0000-0000-0000-00000000001A)] interface IW : IUnknown {"
         " HRESULT F([in] wireHWND h); HRESULT G([in] wireHWND h); }\n"
         "[odl, uuid(5B000000-0000-0000-0000-00000000001B)] interface IX : IUnknown { HRESULT F([in] wireHWND h); }\n"
         "typedef [public] enum { One = 1 } Kind;\n"
         "[odl, uuid(5B000000-0000-0000-0000-00000000001C)] interface IK : IUnknown { HRESULT F([in] Kind k); }",
         "typedef [public] struct _RemotableHandle* wireHWND;", nullptr, nullptr,
         "typedef struct _RemotableHandle { long fContext; } _RemotableHandle;\n"
         "typedef [public] _RemotableHandle* wireHWND;\n"},
    };
    // Base types for widl, VARIANT of the platform's size and alignment.
    static const char kBase[] =
        "typedef long HRESULT;\n"
        "typedef [wire_marshal(unsigned long)] struct tagVARIANT { unsigned short vt; unsigned short r1;"
        " unsigned short r2; unsigned short r3; union { double d; struct { void *p; void *q; } r; } u; } VARIANT;\n"
        "[object, uuid(00000000-0000-0000-C000-000000000046), local] interface IUnknown {"
        " HRESULT QueryInterface([in] void *riid, [out] void **ppv); unsigned long AddRef(); unsigned long Release(); }\n"
        "[object, uuid(00020400-0000-0000-C000-000000000046), local] interface IDispatch : IUnknown {"
        " HRESULT GetTypeInfoCount([out] unsigned int *n); }\n";
    // What the importing source sees of imp.tlb: its interface (matched by name), and a record
    // of its own under another name.
    static const char kImportedBase[] =
        "typedef struct _G { long d1; short d2; short d3; unsigned char d4[8]; } G;\n"
        "[odl, uuid(5B000000-0000-0000-0000-000000000019)] interface IBase : IUnknown { HRESULT F([in] G* g); }\n";
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.imported) {
            const Compiled imp = Widl(dir.path(), "imp", std::string(kBase) + c.imported);
            ASSERT_TRUE(imp.ok) << imp.messages;
        }
        const std::string source = std::string(kBase) + (c.imported ? kImportedBase : "") + c.outside + std::string(
                                               "[uuid(5B000000-0000-0000-0000-000000000001), version(1.0)]\n"
                                               "library L {\n importlib(\"stdole2.tlb\");\n") + c.library + "\n}\n";
        const Compiled first = Widl(dir.path(), "first", source);
        ASSERT_TRUE(first.ok) << first.messages;
        ComPtr<ITypeLib> made = Load(first.path);
        ASSERT_TRUE(made);
        const std::string idl = WholeIdl(made.Get());
        EXPECT_NE(idl.find(c.written), std::string::npos) << idl;
        if (c.notWritten) {
            EXPECT_EQ(idl.find(c.notWritten), std::string::npos) << idl;
        }
        const Compiled second = Widl(dir.path(), "second", idl);
        ASSERT_TRUE(second.ok) << second.messages << idl;
        ComPtr<ITypeLib> back = Load(second.path);
        ASSERT_TRUE(back);
        EXPECT_EQ(Facts(back.Get()), Facts(made.Get())) << idl;
    }
}

// Attribute lists that would run past 100 columns are broken after a comma, indented.
TEST(IdlWriter, LongAttributeListsAreBroken) {
    const std::string idl = LibraryIdl("QuibrelExtras.tlb");
    std::size_t longest = 0;
    for (std::size_t at = 0, next; at < idl.size(); at = next + 1) {
        next = idl.find('\n', at);
        if (next == std::string::npos) next = idl.size();
        const std::string line = idl.substr(at, next - at);
        if (line.find_first_not_of(' ') != std::string::npos && line[line.find_first_not_of(' ')] == '[')
            longest = std::max(longest, line.size());
    }
    EXPECT_LE(longest, 100u);
    EXPECT_NE(idl.find("helpstring(\"Quibrel extras\"), helpfile(\"extras.hlp\"), helpcontext(0x0000000C),\n"
                       "    helpstringcontext(0x00000077), control"), std::string::npos) << idl;
}

}  // namespace
