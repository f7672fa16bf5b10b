// tlbfacts FILE [--ignore NAME,...] | tlbfacts FILE --ignore-each NAME,... | tlbfacts FILE --imports: every field the type-library service gives for a library,
// one fact a line, for comparing a library with the one its IDL compiles to. Fields `dump`
// prints are here too, with help contexts, custom data, vtable offsets, default values,
// calling conventions, record sizes and module entries besides.
//
// --ignore leaves out what an IDL compiler is known not to reproduce (see limits.txt); each
// name is one such difference. --ignore-each prints, for each name, a section "=== NAME" with
// all the names ignored but that one (one load for what would be a run per name).
#include "platform/oleauto/comptr.h"

#include <cinttypes>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <algorithm>
#include <map>
#include <vector>

namespace {

std::set<std::string> g_ignore;
bool Ignored(const char* name) { return g_ignore.count(name) != 0; }
std::string g_libName;
const std::string kStdoleGuid = "{00020430-0000-0000-C000-000000000046}";
bool g_rebuilt = false;                  // the library compiled from our IDL
std::set<std::string> g_importedNames;   // types of the imported libraries

const std::set<std::string> kKeywords = {
    "FALSE", "NULL", "TRUE", "boolean", "byte", "case", "cdecl", "char", "coclass", "const", "cpp_quote", "default",
    "dispinterface", "double", "enum", "error_status_t", "extern", "float", "handle_t", "hyper", "import",
    "importlib", "inline", "int", "interface", "library", "long", "methods", "module", "pascal", "properties",
    "register", "short", "signed", "sizeof", "small", "static", "stdcall", "struct", "switch", "typedef", "union",
    "unsigned", "void", "wchar_t"};

// A name as the library holds it; an IDL keyword written with a trailing "_" reads as itself
// when keyword names are ignored.
std::string Named(const std::string& n) {
    if (Ignored("keyword-names") && n.size() > 1 && n.back() == '_' && kKeywords.count(n.substr(0, n.size() - 1)))
        return n.substr(0, n.size() - 1);
    return n;
}

// Text the rebuilt library holds as our IDL escaped it (widl keeps escapes as they are).
std::string Text(const std::string& t) {
    if (!g_rebuilt || !Ignored("string-escapes")) return t;
    std::string o;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '\\' || i + 1 >= t.size()) {
            o += t[i];
            continue;
        }
        char c = t[++i];
        if (c == 'n') o += '\n';
        else if (c == 'r') o += '\r';
        else if (c == 't') o += '\t';
        else if (c >= '0' && c <= '7' && i + 2 < t.size()) {
            o += char((c - '0') * 64 + (t[i + 1] - '0') * 8 + (t[i + 2] - '0'));
            i += 2;
        } else o += c;
    }
    return o;
}
// Lines of the type being gathered (printed once every type is read).
std::vector<std::string>* g_out = nullptr;


std::string Hex(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%08" PRIX32, v);
    return b;
}

std::string Value(const VARIANT& v, bool defaultValue = false) {
    std::ostringstream o;
    bool integer = v.vt == VT_I1 || v.vt == VT_UI1 || v.vt == VT_I2 || v.vt == VT_UI2 || v.vt == VT_I4 || v.vt == VT_UI4 ||
                   v.vt == VT_INT || v.vt == VT_UINT || v.vt == VT_BOOL || v.vt == VT_I8 || v.vt == VT_UI8;
    if (!(integer && ((defaultValue && Ignored("default-type")) || (!defaultValue && Ignored("custom-types")))))
        o << "vt" << v.vt;
    o << ":";
    switch (v.vt) {
    case VT_I1: o << int(v.cVal); break;
    case VT_UI1: o << unsigned(v.bVal); break;
    case VT_I2: o << v.iVal; break;
    case VT_UI2: o << v.uiVal; break;
    case VT_I4: case VT_INT: case VT_ERROR: case VT_HRESULT: o << v.lVal; break;
    case VT_UI4: case VT_UINT: o << v.ulVal; break;
    case VT_BOOL: o << v.boolVal; break;
    case VT_I8: o << v.llVal; break;
    case VT_UI8: o << v.ullVal; break;
    case VT_R4: o << v.fltVal; break;
    case VT_R8: case VT_DATE: o << v.dblVal; break;
    case VT_CY: o << v.cyVal.int64; break;
    case VT_BSTR: o << '"' << Text(BstrToUtf8(v.bstrVal)) << '"'; break;
    default: break;
    }
    return o.str();
}

std::string RefName(ITypeInfo* owner, HREFTYPE h, bool bare = false) {
    ComPtr<ITypeInfo> r;
    if (FAILED(owner->GetRefTypeInfo(h, r.Put())) || !r) return "?";
    BStr n;
    r->GetDocumentation(MEMBERID_NIL, n.Put(), nullptr, nullptr, nullptr);
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    std::string where;
    if (SUCCEEDED(r->GetContainingTypeLib(lib.Put(), &index)) && lib) {
        BStr ln;
        lib->GetDocumentation(-1, ln.Put(), nullptr, nullptr, nullptr);
        where = ln.Utf8() + ".";
        if (bare || (Ignored("imported-names") && g_importedNames.count(n.Utf8()))) return n.Utf8();
        if (Ignored("import-refs") && ln.Utf8() != g_libName) return "<imported>";
    }
    return where + n.Utf8();
}

std::string Type(ITypeInfo* owner, const TYPEDESC& t, int depth = 0) {
    if (depth > 40) return "<deep>";
    switch (t.vt) {
    case VT_PTR: return t.lptdesc ? Type(owner, *t.lptdesc, depth + 1) + "*" : "?*";
    case VT_SAFEARRAY: return "SAFEARRAY(" + (t.lptdesc ? Type(owner, *t.lptdesc, depth + 1) : "?") + ")";
    case VT_CARRAY: {
        if (!t.lpadesc) return "?[]";
        std::string s = Type(owner, t.lpadesc->tdescElem, depth + 1);
        for (USHORT i = 0; i < t.lpadesc->cDims; ++i)
            s += "[" + std::to_string(t.lpadesc->rgbounds[i].lLbound) + ":" +
                 std::to_string(t.lpadesc->rgbounds[i].cElements) + "]";
        return s;
    }
    case VT_USERDEFINED: return RefName(owner, t.hreftype);
    default: return "vt" + std::to_string(t.vt);
    }
}

template <class F>
std::string Cust(F get) {
    CUSTDATA c{};
    if (FAILED(get(&c))) return " cust:ERR";
    std::string s;
    for (DWORD i = 0; i < c.cCustData; ++i) {
        const GUID& g = c.prgCustData[i].guid;
        if (Ignored("compiler-stamps") && g.Data2 == 0x517C && g.Data1 >= 0xDE77BA63 && g.Data1 <= 0xDE77BA65) continue;
        s += " cust:" + GuidToString(c.prgCustData[i].guid) + "=" + Value(c.prgCustData[i].varValue);
    }
    ClearCustData(&c);
    return s;
}

void Emit(const std::string& line) {
    if (g_out) g_out->push_back(line);
    else std::printf("%s\n", line.c_str());
}

// `help`: false where the item's help string and contexts are not compared.
void Doc(ITypeInfo* ti, MEMBERID id, std::string* s, bool help = true) {
    BStr name, doc;
    DWORD ctx = 0, sctx = 0;
    ti->GetDocumentation(id, name.Put(), doc.Put(), &ctx, nullptr);
    *s += " name=" + Named(name.Utf8());
    if (!help) {
        *s += " doc=? hc=? hsc=?";
        return;
    }
    *s += " doc=" + (doc.IsNull() ? std::string("-") : "\"" + Text(doc.Utf8()) + "\"");
    if (!Ignored("helpcontext")) *s += " hc=" + Hex(ctx);
    ComPtr<ITypeInfo2> t2;
    if (SUCCEEDED(ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(t2.Put()))) && t2) {
        t2->GetDocumentation2(id, 0, nullptr, &sctx, nullptr);
        *s += " hsc=" + Hex(sctx);
    }
}

// Whether IDispatch is among the bases of an interface (or it is a dispatch interface).
bool DerivesFromDispatch(ITypeInfo* ti, int depth = 0) {
    TypeAttrPtr a;
    if (depth > 32 || FAILED(ti->GetTypeAttr(a.Put(ti))) || !a) return false;
    if (a->guid == IID_IDispatch) return true;
    HREFTYPE h;
    ComPtr<ITypeInfo> base;
    if (a->typekind == TKIND_DISPATCH) {
        if (FAILED(ti->GetRefTypeOfImplType(UINT(-1), &h)) || FAILED(ti->GetRefTypeInfo(h, base.Put())) || !base) return true;
        return DerivesFromDispatch(base.Get(), depth + 1);
    }
    if (!a->cImplTypes || FAILED(ti->GetRefTypeOfImplType(0, &h))) return false;
    // A base that leads nowhere is widl's IDispatch reference where that difference is ignored.
    if (FAILED(ti->GetRefTypeInfo(h, base.Put())) || !base)
        return Ignored("dispatch-reference") || Ignored("dispatch-import-order");
    return DerivesFromDispatch(base.Get(), depth + 1);
}

// Whether a type holds a VARIANT by value (in itself, an array, or a record or alias it holds).
bool HoldsVariant(ITypeInfo* ti, int depth = 0);
bool HoldsVariant(ITypeInfo* owner, const TYPEDESC& t, int depth) {
    if (depth > 16) return false;
    if (t.vt == VT_VARIANT) return true;
    if (t.vt == VT_CARRAY && t.lpadesc) return HoldsVariant(owner, t.lpadesc->tdescElem, depth + 1);
    if (t.vt != VT_USERDEFINED) return false;
    ComPtr<ITypeInfo> r;
    return SUCCEEDED(owner->GetRefTypeInfo(t.hreftype, r.Put())) && r && HoldsVariant(r.Get(), depth + 1);
}
bool HoldsVariant(ITypeInfo* ti, int depth) {
    TypeAttrPtr a;
    if (depth > 16 || FAILED(ti->GetTypeAttr(a.Put(ti))) || !a) return false;
    if (a->typekind == TKIND_ALIAS) return HoldsVariant(ti, a->tdescAlias, depth + 1);
    if (a->typekind != TKIND_RECORD && a->typekind != TKIND_UNION) return false;
    for (UINT i = 0; i < a->cVars; ++i) {
        VarDescPtr v;
        if (SUCCEEDED(ti->GetVarDesc(i, v.Put(ti))) && v && HoldsVariant(ti, v->elemdescVar.tdesc, depth + 1)) return true;
    }
    return false;
}

// Whether the layout of a record, union or alias (size, alignment, field offsets) is left out
// under record-layout. Those holding a VARIANT are always compared: our stand-in for it has the
// real VARIANT's shape, so a difference in them is ours.
bool LayoutIgnored(ITypeInfo* ti, TYPEKIND kind) {
    if (kind != TKIND_RECORD && kind != TKIND_UNION && kind != TKIND_ALIAS) return false;
    return Ignored("record-layout") && !HoldsVariant(ti);
}

void Facts(ITypeInfo* ti, const std::string& prefix) {
    TypeAttrPtr a;
    if (FAILED(ti->GetTypeAttr(a.Put(ti))) || !a) {
        Emit(prefix + " unreadable");
        return;
    }
    ComPtr<ITypeInfo2> t2;
    ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(t2.Put()));
    // widl sizes and aligns a dispinterface by its properties; MIDL by the pointer it is.
    const bool layoutIgnored = LayoutIgnored(ti, a->typekind) ||
                               (a->typekind == TKIND_DISPATCH && a->cVars > 0 && Ignored("dispinterface-layout"));
    BStr ownName;
    ti->GetDocumentation(MEMBERID_NIL, ownName.Put(), nullptr, nullptr, nullptr);
    const bool guidIgnored = Ignored("implicit-stdole") && ownName.Utf8() == "IDispatch";
    // A dispatch interface declared from an interface lists that interface's chain, which
    // dispatch-import-order leaves unreadable in the rebuilt library; the interface is compared
    // itself.
    bool chainView = false;
    if (Ignored("dispatch-import-order") && a->typekind == TKIND_DISPATCH && !(a->wTypeFlags & TYPEFLAG_FDUAL) &&
        a->cFuncs) {
        FuncDescPtr f0;
        chainView = FAILED(ti->GetFuncDesc(0, f0.Put(ti))) || !f0 || f0->memid == MEMBERID(0x60000000);
    }
    const bool dispatchRefs = Ignored("dispatch-reference") || Ignored("dispatch-import-order");
    const bool plainDispatch = a->typekind == TKIND_DISPATCH && !(a->wTypeFlags & TYPEFLAG_FDUAL);
    // A dispatch interface that lists IDispatch's own functions (or an interface chain).
    bool listsDispatch = false;
    if (plainDispatch && a->cFuncs && Ignored("dispatch-vtable")) {
        FuncDescPtr f0;
        listsDispatch = FAILED(ti->GetFuncDesc(0, f0.Put(ti))) || !f0 || f0->memid == MEMBERID(0x60000000);
    }
    std::string s = prefix + " kind=" + std::to_string(a->typekind) + " guid=" + (guidIgnored ? std::string("?") : GuidToString(a->guid)) +
                    " ver=" + (plainDispatch && Ignored("dispinterface-version") ? std::string("?")
                               : std::to_string(a->wMajorVerNum) + "." + std::to_string(a->wMinorVerNum)) +
                    " flags=" + Hex(a->wTypeFlags & ~(guidIgnored ? TYPEFLAG_FDISPATCHABLE : 0) &
                                     ~(plainDispatch && Ignored("nonextensible-dispinterface") ? TYPEFLAG_FNONEXTENSIBLE : 0) &
                                     ~(Ignored("predeclid") ? TYPEFLAG_FPREDECLID : 0)) + " lcid=" + (Ignored("type-lcid") ? std::string("?") : Hex(a->lcid)) + " size=" + (layoutIgnored || (a->typekind == TKIND_MODULE && Ignored("module-size"))
                                    ? std::string("?") : std::to_string(a->cbSizeInstance)) +
                    " align=" + (layoutIgnored
                                     ? std::string("?") : std::to_string(a->cbAlignment)) + " vft=" + (listsDispatch ? std::string("?") : std::to_string(a->cbSizeVft)) +
                    " funcs=" + ((a->typekind == TKIND_DISPATCH && (a->wTypeFlags & TYPEFLAG_FDUAL) && Ignored("dispatch-reference")) || chainView
                                     ? std::string("?") : std::to_string(a->cFuncs)) +
                    " vars=" + (a->typekind == TKIND_MODULE && Ignored("module-constants") ? std::string("?") : std::to_string(a->cVars)) +
                    " impls=" + std::to_string(a->cImplTypes);
    Doc(ti, MEMBERID_NIL, &s);
    if (t2) s += Cust([&](CUSTDATA* c) { return t2->GetAllCustData(c); });
    if (a->typekind == TKIND_ALIAS) s += " alias=" + Type(ti, a->tdescAlias);
    Emit(s);
    for (UINT i = 0; i < a->cImplTypes; ++i) {
        HREFTYPE h = 0;
        INT flags = 0;
        ti->GetRefTypeOfImplType(i, &h);
        ti->GetImplTypeFlags(i, &flags);
        std::string ref = RefName(ti, h, a->typekind == TKIND_COCLASS && Ignored("coclass-imports"));
        if (Ignored("dual-base") && (a->wTypeFlags & TYPEFLAG_FDUAL) && !DerivesFromDispatch(ti)) ref = "?";
        if (dispatchRefs && (a->typekind == TKIND_DISPATCH || ref == "IDispatch" || ref == "?" ||
                                             (ref.size() > 10 && ref.compare(ref.size() - 10, 10, ".IDispatch") == 0)))
            ref = "<dispatch>";
        std::string l = prefix + " impl" + std::to_string(i) + " " + ref + " flags=" + std::to_string(flags);
        if (t2) l += Cust([&](CUSTDATA* c) { return t2->GetAllImplTypeCustData(i, c); });
        Emit(l);
    }
    // The dispatch view of a dual interface is made from the interface chain, which is printed
    // with the interface side.
    const bool dispatchView = a->typekind == TKIND_DISPATCH && (a->wTypeFlags & TYPEFLAG_FDUAL);
    for (UINT i = 0; i < a->cFuncs && !(dispatchView && Ignored("dispatch-reference")) && !chainView; ++i) {
        FuncDescPtr f;
        if (FAILED(ti->GetFuncDesc(i, f.Put(ti))) || !f) {
            Emit(prefix + " func" + std::to_string(i) + " unreadable");
            continue;
        }
        std::string l = prefix + " func" + std::to_string(i) + " id=" + Hex(std::uint32_t(f->memid)) +
                        " inv=" + std::to_string(f->invkind) + " fk=" + std::to_string(f->funckind) +
                        " cc=" + std::to_string(f->callconv) + " vft=" +
                        (a->typekind == TKIND_MODULE && Ignored("module-vtable") ? std::string("?") : std::to_string(f->oVft)) +
                        " opt=" + (Ignored("optional-count") ? std::string("?") : std::to_string(f->cParamsOpt)) + " flags=" + Hex(f->wFuncFlags) +
                        " ret=" + Type(ti, f->elemdescFunc.tdesc);
        Doc(ti, f->memid, &l);
        if (t2) l += Cust([&](CUSTDATA* c) { return t2->GetAllFuncCustData(i, c); });
        if (a->typekind == TKIND_MODULE) {
            BStr dll, entry;
            WORD ord = 0;
            ti->GetDllEntry(f->memid, f->invkind, dll.Put(), entry.Put(), &ord);
            l += " dll=" + dll.Utf8() + " entry=" +
                 (entry.IsNull() ? "#" + std::to_string(ord) : Ignored("entry-names") ? std::string("?") : entry.Utf8());
        }
        BSTR names[260] = {};
        UINT got = 0;
        ti->GetNames(f->memid, names, 260, &got);
        Emit(l);
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            USHORT pflags = e.paramdesc.wParamFlags;
            if (Ignored("param-custom-flag")) pflags &= USHORT(~PARAMFLAG_FHASCUSTDATA);
            const TYPEDESC* pt = e.tdesc.vt == VT_PTR && e.tdesc.lptdesc ? e.tdesc.lptdesc : &e.tdesc;
            if (Ignored("variant-string-default") && pt->vt == VT_VARIANT && (pflags & PARAMFLAG_FHASDEFAULT) &&
                e.paramdesc.pparamdescex && e.paramdesc.pparamdescex->varDefaultValue.vt == VT_BSTR)
                pflags &= USHORT(~PARAMFLAG_FHASDEFAULT);
            std::string pl = prefix + " func" + std::to_string(i) + " param" + std::to_string(p) +
                             " name=" + ((f->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) && p + 1 == f->cParams &&
                                                 Ignored("propput-names")
                                             ? std::string("?")
                                         : UINT(p) + 1 < got ? Named(BstrToUtf8(names[p + 1]))
                                                             : std::string("-")) +
                             " flags=" + Hex(pflags) + " type=" + Type(ti, e.tdesc);
            if ((pflags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
                pl += " default=" + (e.tdesc.vt == VT_USERDEFINED && Ignored("alias-defaults")
                                         ? std::string("?")
                                         : Value(e.paramdesc.pparamdescex->varDefaultValue, true));
            if (t2) pl += Cust([&](CUSTDATA* c) { return t2->GetAllParamCustData(i, UINT(p), c); });
            Emit(pl);
        }
        for (UINT n = 0; n < got && n < 260; ++n) SysFreeString(names[n]);
    }
    for (UINT i = 0; i < a->cVars; ++i) {
        VarDescPtr v;
        if (FAILED(ti->GetVarDesc(i, v.Put(ti))) || !v) {
            Emit(prefix + " var" + std::to_string(i) + " unreadable");
            continue;
        }
        std::string l = prefix + " var" + std::to_string(i) + " id=" + Hex(std::uint32_t(v->memid)) +
                        " vk=" + std::to_string(v->varkind) + " flags=" + Hex(v->wVarFlags) +
                        " type=" + Type(ti, v->elemdescVar.tdesc);
        if (v->varkind == VAR_CONST && v->lpvarValue) l += " value=" + Value(*v->lpvarValue);
        else if (v->varkind != VAR_CONST && !layoutIgnored)
            l += " oinst=" + std::to_string(v->oInst);
        if (a->typekind == TKIND_MODULE && Ignored("module-constants")) continue;
        Doc(ti, v->memid, &l,
            !(a->typekind == TKIND_ENUM ? Ignored("enum-member-help")
                                        : a->typekind != TKIND_MODULE && Ignored("field-help")));
        if (t2) l += Cust([&](CUSTDATA* c) { return t2->GetAllVarCustData(i, c); });
        Emit(l);
    }
}

}  // namespace

// Every fact of the library, as --ignore leaves them.
static void PrintFacts(ITypeLib* lib) {
    g_importedNames.clear();
    LibAttrPtr la;
    lib->GetLibAttr(la.Put(lib));
    BStr name, doc, file;
    DWORD ctx = 0, sctx = 0;
    lib->GetDocumentation(-1, name.Put(), doc.Put(), &ctx, file.Put());
    g_libName = name.Utf8();
    ComPtr<ITypeLib2> l2;
    lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(l2.Put()));
    if (l2) l2->GetDocumentation2(-1, 0, nullptr, &sctx, nullptr);
    std::string libGuid = GuidToString(la->guid);
    if (Ignored("library-guid-byte")) libGuid.replace(libGuid.size() - 3, 2, "??");
    std::string s = "library guid=" + libGuid + " ver=" + std::to_string(la->wMajorVerNum) + "." +
                    std::to_string(la->wMinorVerNum) + " lcid=" + Hex(la->lcid) + " sys=" + std::to_string(la->syskind) +
                    " flags=" + Hex(la->wLibFlags & ~(Ignored("disk-image-flag") ? LIBFLAG_FHASDISKIMAGE : 0)) + " name=" + name.Utf8() + " doc=\"" + Text(doc.Utf8()) +
                    "\" file=\"" + Text(file.Utf8()) + "\" hc=" + Hex(ctx) + " hsc=" + Hex(sctx);
    if (l2) s += Cust([&](CUSTDATA* c) { return l2->GetAllCustData(c); });
    std::printf("%s\n", s.c_str());
    ComPtr<ITypeLibImports> imports;
    if (SUCCEEDED(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put())))) {
        for (UINT i = 0; i < imports->GetImportCount() && (Ignored("coclass-imports") || Ignored("imported-names")); ++i) {
            BStr path;
            ComPtr<ITypeLib> other;
            if (imports->GetImport(i, nullptr, nullptr, nullptr, nullptr, nullptr, path.Put()) != S_OK ||
                FAILED(LoadTypeLib(Utf8ToUtf16(path.Utf8()).c_str(), other.Put())) || !other)
                continue;
            for (UINT k = 0; k < other->GetTypeInfoCount(); ++k) {
                BStr n;
                if (SUCCEEDED(other->GetDocumentation(INT(k), n.Put(), nullptr, nullptr, nullptr))) g_importedNames.insert(n.Utf8());
            }
        }
        UINT shown = 0;
        for (UINT i = 0; i < imports->GetImportCount(); ++i) {
            GUID g{};
            WORD ma = 0, mi = 0;
            LCID lc = 0;
            BStr rec;
            imports->GetImport(i, &g, &ma, &mi, &lc, rec.Put(), nullptr);
            if (Ignored("implicit-stdole") && GuidToString(g) == kStdoleGuid) continue;
            const std::string locale = Ignored("import-lcid") ? std::string("?") : Hex(lc);
            std::printf("import%u %s %u.%u %s %s\n", shown++, GuidToString(g).c_str(), ma, mi, locale.c_str(), rec.Utf8().c_str());
        }
    }
    // Every type's lines are gathered first, so that the differences left out by --ignore drop
    // whole types whether or not the order of types is compared as well.
    struct TypeLines {
        std::string name;
        std::size_t prefix;  // length of the line prefix naming the type
        std::vector<std::string> lines;
    };
    const UINT count = lib->GetTypeInfoCount();
    std::vector<TypeLines> types;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        TypeLines t;
        g_out = &t.lines;
        BStr typeName;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || !ti) {
            t.name = "?";
            t.prefix = 5;
            Emit("type? unreadable");
        } else {
            ti->GetDocumentation(MEMBERID_NIL, typeName.Put(), nullptr, nullptr, nullptr);
            t.name = typeName.Utf8();
            const std::string prefix = "type:" + t.name;
            t.prefix = prefix.size();
            Facts(ti.Get(), prefix);
            HREFTYPE twin;
            ComPtr<ITypeInfo> side;
            if (SUCCEEDED(ti->GetRefTypeOfImplType(UINT(-1), &twin)) && SUCCEEDED(ti->GetRefTypeInfo(twin, side.Put())) && side)
                Facts(side.Get(), prefix + ".iface");
        }
        g_out = nullptr;
        types.push_back(std::move(t));
    }
    // Types left out: widl's second copy of an alias, modules that only held constants, local
    // copies of imported types.
    std::set<std::string> aliasesSeen;
    std::vector<const TypeLines*> kept;
    for (const TypeLines& t : types) {
        const std::string& head = t.lines.empty() ? std::string() : t.lines[0];
        if (Ignored("alias-duplicates") && head.find(" kind=6 ") != std::string::npos) {
            std::string body;
            for (const std::string& l : t.lines) body += l.substr(t.prefix) + "\n";
            // Copies after the first have no GUID: the key leaves it out.
            const std::size_t g = body.find(" guid={");
            if (g != std::string::npos) body.erase(g, body.find('}', g) + 1 - g);
            if (!aliasesSeen.insert(t.name + body).second) continue;
        }
        if (Ignored("module-constants") && head.find(" kind=2 ") != std::string::npos &&
            head.find(" funcs=0 ") != std::string::npos)
            continue;
        if (Ignored("coclass-imports") && g_rebuilt && g_importedNames.count(t.name)) continue;
        if (Ignored("imported-names") && g_importedNames.count(t.name)) continue;
        kept.push_back(&t);
    }
    // With type-order or type-hoisting ignored, interfaces (kinds 3 and 4) and the other types
    // are compared apart: interfaces sorted by name (in their order where names repeat) under
    // type-order, the other types so under type-hoisting, each group else in its order.
    const bool order = Ignored("type-order"), hoisting = Ignored("type-hoisting");
    auto byName = [](const TypeLines* a, const TypeLines* b) { return a->name < b->name; };
    // With coclass-order ignored, coclasses are compared apart, sorted by name, after the rest.
    std::vector<const TypeLines*> coclasses;
    if (Ignored("coclass-order")) {
        std::vector<const TypeLines*> rest;
        for (const TypeLines* t : kept)
            (!t->lines.empty() && t->lines[0].find(" kind=5 ") != std::string::npos ? coclasses : rest).push_back(t);
        kept.swap(rest);
        std::stable_sort(coclasses.begin(), coclasses.end(), byName);
    }
    auto print = [](const std::vector<const TypeLines*>& group, const char* numbered) {
        for (std::size_t k = 0; k < group.size(); ++k) {
            const std::string number = numbered ? numbered + std::to_string(k) : std::string();
            for (const std::string& l : group[k]->lines)
                std::printf("%s\n", (numbered ? number + l.substr(group[k]->prefix) : l).c_str());
        }
    };
    if (!order && !hoisting) {
        print(kept, "type");
    } else {
        std::vector<const TypeLines*> interfaces, others;
        for (const TypeLines* t : kept) {
            const std::string& head = t->lines.empty() ? std::string() : t->lines[0];
            const bool isInterface = head.find(" kind=3 ") != std::string::npos || head.find(" kind=4 ") != std::string::npos;
            (isInterface ? interfaces : others).push_back(t);
        }
        if (hoisting) std::stable_sort(others.begin(), others.end(), byName);
        if (order) std::stable_sort(interfaces.begin(), interfaces.end(), byName);
        print(others, hoisting ? nullptr : "type");
        print(interfaces, order ? nullptr : "interface");
    }
    print(coclasses, nullptr);
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tlbfacts FILE [--ignore NAME,...]\n");
        return 2;
    }
    bool importsOnly = false;
    std::vector<std::string> each;  // --ignore-each
    for (int i = 2; i < argc; i += 2) {
        if (std::string(argv[i]) == "--rebuilt") {
            g_rebuilt = true;
            --i;
            continue;
        }
        if (std::string(argv[i]) == "--imports") {
            importsOnly = true;
            --i;
            continue;
        }
        if ((std::string(argv[i]) != "--ignore" && std::string(argv[i]) != "--ignore-each") || i + 1 >= argc) return 2;
        std::stringstream in(argv[i + 1]);
        for (std::string n; std::getline(in, n, ',');)
            if (std::string(argv[i]) == "--ignore") g_ignore.insert(n);
            else each.push_back(n);
    }
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(Utf8ToUtf16(argv[1]).c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        std::fprintf(stderr, "error 0x%08X\n", unsigned(hr));
        return 1;
    }
    if (importsOnly) {
        // The imported libraries: the recorded name and where it was found, tab-separated.
        ComPtr<ITypeLibImports> imports;
        if (SUCCEEDED(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put()))))
            for (UINT i = 0; i < imports->GetImportCount(); ++i) {
                BStr rec, path;
                imports->GetImport(i, nullptr, nullptr, nullptr, nullptr, rec.Put(), path.Put());
                std::printf("%s\t%s\n", rec.Utf8().c_str(), path.Utf8().c_str());
            }
        return 0;
    }
    if (each.empty()) {
        PrintFacts(lib.Get());
        return 0;
    }
    // One section per name: every listed name ignored but that one.
    for (const std::string& name : each) {
        g_ignore = std::set<std::string>(each.begin(), each.end());
        g_ignore.erase(name);
        std::printf("=== %s\n", name.c_str());
        PrintFacts(lib.Get());
    }
    return 0;
}
