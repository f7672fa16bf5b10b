// The IDL writer. It reads the library through ITypeLib/ITypeInfo (and the second-level calls
// for custom data and help-string contexts), never the file.
//
// IDL compilers need every type they see named before its use, and a definition before a use by
// value, as a base interface or through a typedef. Types of the library are therefore written
// in the library's order; a type needed before its place is defined before the library block,
// where a compiler numbers it at its first use, as it numbered it in the library; interfaces
// used before their definition get a forward declaration. Types of imported libraries are declared before the
// library block (a compiler reading the importlib turns them into references to that library):
// a forward declaration for interfaces only pointed to, the full definition otherwise.
#include "writers/idl.h"

#include "platform/oleauto/comptr.h"
#include "text/escape.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int kMaxTypeDepth = 32;  // type descriptions deeper than this are written as a comment

std::string Hex(std::uint32_t v, int digits = 8) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s(std::size_t(digits < 8 && (v >> (digits * 4)) ? 8 : digits) + 2, '0');
    s[1] = 'x';
    for (std::size_t i = s.size() - 1; i >= 2; --i, v >>= 4) s[i] = kDigits[v & 15];
    return s;
}

std::string GuidText(const GUID& g) {
    std::string s = GuidToString(g);  // {XXXXXXXX-...}
    return s.size() == 38 ? s.substr(1, 36) : s;
}

std::string Str(BSTR b) { return BstrToUtf8(b); }

// What a value is written for: widl has no floating-point literal, but takes a whole number
// (not a negative one, which it stores as a NaN) as the default of a float parameter and
// stores it as a float.
enum class ValueUse { Constant, Default, Custom };

// A constant or default value; false (with a reason in *text) when IDL has no literal for it.
// paramType is the variant type of the parameter a default value belongs to.
bool ValueText(const VARIANT& v, std::string* text, ValueUse use = ValueUse::Constant, VARTYPE paramType = VT_EMPTY) {
    char buf[96];
    switch (v.vt) {
    case VT_I1: *text = std::to_string(int(v.cVal)); return true;
    case VT_UI1: *text = std::to_string(unsigned(v.bVal)); return true;
    case VT_I2: *text = std::to_string(v.iVal); return true;
    case VT_UI2: *text = std::to_string(v.uiVal); return true;
    case VT_I4: case VT_INT: *text = std::to_string(v.lVal); return true;
    case VT_UI4: case VT_UINT: *text = std::to_string(v.ulVal); return true;
    case VT_ERROR: case VT_HRESULT: *text = Hex(std::uint32_t(v.scode)); return true;
    case VT_BOOL: *text = std::to_string(v.boolVal); return true;
    case VT_I8: *text = std::to_string(v.llVal); return true;
    case VT_UI8: *text = std::to_string(v.ullVal); return true;
    case VT_R4: case VT_R8: case VT_DATE: {
        const double d = v.vt == VT_R4 ? double(v.fltVal) : v.dblVal;
        if (use == ValueUse::Default && v.vt == VT_R4 && paramType == VT_R4 && std::isfinite(d) &&
            d == std::floor(d) && d >= 0 && d <= 2147483647.0 && !std::signbit(d)) {
            *text = std::to_string(static_cast<long long>(d));
            return true;
        }
        std::snprintf(buf, sizeof buf, "floating-point value %.17g, which widl has no literal for", d);
        *text = buf;
        return false;
    }
    case VT_CY:
        if (v.cyVal.int64 % 10000 == 0) {
            *text = std::to_string(v.cyVal.int64 / 10000);
            return true;
        }
        std::snprintf(buf, sizeof buf, "currency value %.4f, which widl has no literal for", double(v.cyVal.int64) / 10000.0);
        *text = buf;
        return false;
    case VT_BSTR: *text = StringLiteral(Str(v.bstrVal)); return true;
    case VT_EMPTY: *text = "0"; return true;
    case VT_UNKNOWN: case VT_DISPATCH: *text = "0"; return true;
    case VT_VARIANT:
        // What defaultvalue(0) on a VARIANT parameter gives.
        if (use == ValueUse::Default) {
            *text = "0";
            return true;
        }
        [[fallthrough]];
    default:
        std::snprintf(buf, sizeof buf, "value of variant type %u", unsigned(v.vt));
        *text = buf;
        return false;
    }
}

// Where a type is: the library (by identity) and index.
struct TypeKey {
    std::string lib;
    int index = -1;
    bool operator<(const TypeKey& o) const { return lib != o.lib ? lib < o.lib : index < o.index; }
    bool operator==(const TypeKey& o) const { return lib == o.lib && index == o.index; }
};

std::string LibKey(ITypeLib* lib) {
    LibAttrPtr attr;
    if (!lib || FAILED(lib->GetLibAttr(attr.Put(lib))) || !attr) return std::string();
    return GuidText(attr->guid) + "/" + std::to_string(attr->wMajorVerNum) + "." +
           std::to_string(attr->wMinorVerNum) + "/" + std::to_string(attr->lcid);
}

// The OLE Automation library, stdole2.tlb.
const std::string kStdoleGuid = "00020430-0000-0000-C000-000000000046";

// Attributes of one item, written as "[a, b, ...]".
class Attrs {
public:
    void Add(std::string a) {
        if (list_.empty()) list_.reserve(8);
        list_.push_back(std::move(a));
    }
    bool Empty() const { return list_.empty(); }
    const std::vector<std::string>& Items() const { return list_; }

private:
    std::vector<std::string> list_;
};

// MIDL's custom data on a library it compiled (time, version, command line), which widl writes
// too: a compiler writes its own, so a library's are not written as attributes.
bool IsCompilerStamp(const GUID& g) {
    static const GUID stamp{0xDE77BA63, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}};
    return g.Data1 >= 0xDE77BA63 && g.Data1 <= 0xDE77BA65 && g.Data2 == stamp.Data2 && g.Data3 == stamp.Data3 &&
           std::equal(std::begin(g.Data4), std::end(g.Data4), std::begin(stamp.Data4));
}

// Written last to first: compilers put each entry ahead of those before it.
void AddCustom(Attrs* a, const CUSTDATA& c, std::vector<std::string>* notes, bool library = false) {
    for (DWORD i = c.cCustData; i-- > 0;) {
        std::string value;
        if (library && IsCompilerStamp(c.prgCustData[i].guid)) {
            ValueText(c.prgCustData[i].varValue, &value, ValueUse::Custom);
            notes->push_back("compiler stamp " + GuidText(c.prgCustData[i].guid) + " = " + value +
                             ": not written, the compiler writes its own");
        } else if (ValueText(c.prgCustData[i].varValue, &value, ValueUse::Custom))
            a->Add("custom(" + GuidText(c.prgCustData[i].guid) + ", " + value + ")");
        else
            notes->push_back("custom data " + GuidText(c.prgCustData[i].guid) + " holds a " + value);
    }
}

}  // namespace

// ---- the writer -------------------------------------------------------------------------------

struct TIdlWriter::Impl {
    // What the writer knows of one type, of this library or an imported one.
    struct Type {
        ComPtr<ITypeInfo> info;     // as the library lists it
        ComPtr<ITypeInfo> write;    // what is written: the interface side of a dual interface
        ComPtr<ITypeLib> lib;
        TYPEKIND kind = TKIND_MAX;  // of `write`
        bool local = false;
        bool dual = false;
        int index = -1;             // in its library
        std::string name;           // as the library has it
        std::string key;            // identifies the type in the name table
        Type* sameAs = nullptr;     // a repeated alias written once, under the first one's name
        HRESULT status = S_OK;
        bool scanned = false;
        // Other types this one needs: defined first (`needs`) or only named (`names`).
        std::vector<Type*> needs, names;
        int state = 0;              // while ordering: 0 new, 1 in progress, 2 placed
        bool declared = false;      // forward declaration written
        int pinned = -1;            // kept in the library block: -1 not known yet, 0 no, 1 yes
        bool written = false;       // definition written
        bool full = false;          // an imported type whose definition is written
        Type* dispatchOf = nullptr; // a dispatch interface declared from this interface
        Type* nestIn = nullptr;     // a type without attributes defined where `nestIn` uses it
        std::vector<Type*> nested;  // the types defined so in this one
        bool named = false;         // such a type's typedef name written
    };

    TIdlWriter* w;
    ComPtr<ITypeLib> lib;
    std::string libKey;
    std::vector<std::unique_ptr<Type>> locals;
    std::map<TypeKey, std::unique_ptr<Type>> foreign;
    std::unordered_map<ITypeInfo*, Type*> byInfo;
    std::string line;              // the line being built
    std::vector<TIdlTypeRef> pendingRefs;
    std::vector<std::string> notes;  // comments to write before the current item
    std::string indent;
    NameTable idents{NameDialect::Idl};  // the names written for types and the library
    Type* localDispatch = nullptr;  // the library's own IDispatch and IUnknown, when it has them
    Type* localUnknown = nullptr;
    std::unordered_set<std::string> localNames;
    std::size_t members = 0;  // functions and variables of the types scanned, to size the text

    Impl(TIdlWriter* writer, ITypeLib* l) : w(writer), lib(l) {
        libKey = LibKey(l);
        for (const char* n : {"HRESULT", "SCODE", "DATE", "VARIANT_BOOL", "BSTR", "LPSTR", "LPWSTR", "INT_PTR",
                              "UINT_PTR", "CURRENCY", "DECIMAL", "VARIANT", "GUID", "IUnknown", "IDispatch",
                              "_quibrel_CY", "_quibrel_DEC", "_quibrel_VARIANT", "_quibrel_GUID"})
            idents.Reserve(n);
        UINT count = l ? l->GetTypeInfoCount() : 0;
        locals.reserve(count);
        for (UINT i = 0; i < count; ++i) {
            auto t = std::make_unique<Type>();
            t->local = true;
            t->index = int(i);
            t->lib = lib;
            t->key = "#" + std::to_string(i);
            t->status = l->GetTypeInfo(i, t->info.Put());
            if (SUCCEEDED(t->status) && t->info) Prepare(t.get());
            localNames.insert(t->name);
            if (t->name == "IDispatch") localDispatch = t.get();
            if (t->name == "IUnknown") localUnknown = t.get();
            locals.push_back(std::move(t));
        }
        MarkRepeatedAliases();
    }

    // widl writes some public aliases twice; a second definition it would refuse, and it makes
    // the copies again itself. A repeated alias (same name, same target) is written once.
    void MarkRepeatedAliases() {
        std::unordered_map<std::string, Type*> first;
        for (auto& t : locals) {
            if (!t->write || t->kind != TKIND_ALIAS || t->name.empty()) continue;
            auto [it, inserted] = first.emplace(t->name, t.get());
            if (!inserted && SameAliasTarget(it->second, t.get())) t->sameAs = it->second;
        }
    }
    static bool SameTypeDesc(const TYPEDESC& a, const TYPEDESC& b, int depth) {
        if (a.vt != b.vt || depth > kMaxTypeDepth) return false;
        switch (a.vt) {
        case VT_PTR: case VT_SAFEARRAY:
            return a.lptdesc && b.lptdesc && SameTypeDesc(*a.lptdesc, *b.lptdesc, depth + 1);
        case VT_CARRAY:
            if (!a.lpadesc || !b.lpadesc || a.lpadesc->cDims != b.lpadesc->cDims) return false;
            for (USHORT i = 0; i < a.lpadesc->cDims; ++i)
                if (a.lpadesc->rgbounds[i].cElements != b.lpadesc->rgbounds[i].cElements ||
                    a.lpadesc->rgbounds[i].lLbound != b.lpadesc->rgbounds[i].lLbound)
                    return false;
            return SameTypeDesc(a.lpadesc->tdescElem, b.lpadesc->tdescElem, depth + 1);
        case VT_USERDEFINED: return a.hreftype == b.hreftype;
        default: return true;
        }
    }
    static bool SameAliasTarget(Type* a, Type* b) {
        TypeAttrPtr x, y;
        if (FAILED(a->write->GetTypeAttr(x.Put(a->write.Get()))) || !x ||
            FAILED(b->write->GetTypeAttr(y.Put(b->write.Get()))) || !y)
            return false;
        return x->guid == y->guid && x->wTypeFlags == y->wTypeFlags &&
               SameTypeDesc(x->tdescAlias, y->tdescAlias, 0);
    }

    // The name a type is written under, the same at its definition and at every use. A type of
    // an imported library that has the name of one of the library's own yields it (it is
    // written only for the compiler to see, and would be a second definition).
    const std::string& Name(Type* t) {
        if (t->sameAs) t = t->sameAs;
        if (t->name.empty()) return idents.Name(t->key, "_type" + std::to_string(t->index));
        if (!t->local && localNames.count(t->name)) {
            std::string other = t->name + "_imported";
            for (unsigned n = 2; idents.Taken(other); ++n) other = t->name + "_imported" + std::to_string(n);
            return idents.Name(t->key, other);
        }
        return idents.Name(t->key, t->name);
    }

    void Prepare(Type* t) {
        BStr name;
        t->info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
        t->name = name.Utf8();
        // A name of the library can be written as it is only if no cleaned name takes it.
        if (IsSafeName(t->name, NameDialect::Idl)) idents.Reserve(t->name);
        TypeAttrPtr attr;
        t->status = t->info->GetTypeAttr(attr.Put(t->info.Get()));
        if (FAILED(t->status) || !attr) return;
        t->kind = attr->typekind;
        t->write = t->info;
        if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
            HREFTYPE twin;
            ComPtr<ITypeInfo> side;
            if (SUCCEEDED(t->info->GetRefTypeOfImplType(UINT(-1), &twin)) &&
                SUCCEEDED(t->info->GetRefTypeInfo(twin, side.Put())) && side) {
                t->write = side;
                t->kind = TKIND_INTERFACE;
                t->dual = true;
            }
        }
        byInfo[t->info.Get()] = t;
        byInfo[t->write.Get()] = t;
    }

    // The writer's record of a type another type refers to; null when it cannot be reached.
    Type* TypeOf(ITypeInfo* owner, HREFTYPE href) {
        ComPtr<ITypeInfo> ref;
        if (FAILED(owner->GetRefTypeInfo(href, ref.Put())) || !ref) return nullptr;
        return TypeOfInfo(ref);
    }
    Type* TypeOfInfo(const ComPtr<ITypeInfo>& ref) {
        auto it = byInfo.find(ref.Get());
        if (it != byInfo.end()) return it->second;
        ComPtr<ITypeLib> container;
        UINT index = 0;
        if (FAILED(ref->GetContainingTypeLib(container.Put(), &index)) || !container) return nullptr;
        TypeKey key{LibKey(container.Get()), int(index)};
        if (key.lib == libKey) {
            if (index < locals.size() && locals[index]->info) return locals[index].get();
            return nullptr;
        }
        auto f = foreign.find(key);
        if (f != foreign.end()) {
            byInfo[ref.Get()] = f->second.get();
            return f->second.get();
        }
        auto t = std::make_unique<Type>();
        t->index = int(index);
        t->key = key.lib + "#" + std::to_string(index);
        t->lib = container;
        t->info = ComPtr<ITypeInfo>();
        if (FAILED(container->GetTypeInfo(index, t->info.Put())) || !t->info) t->info = ref;
        Prepare(t.get());
        byInfo[ref.Get()] = t.get();
        Type* raw = t.get();
        foreign.emplace(key, std::move(t));
        return raw;
    }

    // ---- what each type needs -----------------------------------------------------------------

    void NeedType(Type* t, ITypeInfo* owner, const TYPEDESC& td, bool viaPointer, int depth) {
        if (depth > kMaxTypeDepth) return;
        switch (td.vt) {
        case VT_PTR:
            if (td.lptdesc) NeedType(t, owner, *td.lptdesc, true, depth + 1);
            break;
        case VT_SAFEARRAY:
            if (td.lptdesc) {
                Type* r = nullptr;
                const std::string pointee = ArrayPointee(owner, *td.lptdesc, &r);
                if (!pointee.empty() && arrayPointeeNames.insert(pointee).second) arrayPointees.push_back({pointee, r});
                // An array holds its elements apart: a record is named by its tag until defined.
                NeedType(t, owner, *td.lptdesc, true, depth + 1);
            }
            break;
        case VT_CARRAY:
            if (td.lpadesc) NeedType(t, owner, td.lpadesc->tdescElem, viaPointer, depth + 1);
            break;
        case VT_DISPATCH:
            usesDispatch = true;
            break;
        case VT_UNKNOWN:
            usesUnknown = true;
            break;
        case VT_USERDEFINED: {
            Type* r = TypeOf(owner, td.hreftype);
            if (r && r->sameAs) r = r->sameAs;
            if (!r || r == t) break;
            // Records and unions of the library reached through a pointer are named with their tag
            // ("struct X*") when not defined yet, which breaks cycles between records.
            bool named = viaPointer && (r->kind == TKIND_INTERFACE || r->kind == TKIND_DISPATCH ||
                                        r->kind == TKIND_COCLASS ||
                                        (r->local && (r->kind == TKIND_RECORD || r->kind == TKIND_UNION)));
            (named ? t->names : t->needs).push_back(r);
            break;
        }
        default:
            break;
        }
    }

    void Scan(Type* t) {
        if (t->scanned || !t->write) return;
        t->scanned = true;
        ITypeInfo* ti = t->write.Get();
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
        members += attr->cFuncs + attr->cVars;
        if (attr->typekind == TKIND_ALIAS) NeedType(t, ti, attr->tdescAlias, false, 0);
        for (UINT i = 0; i < attr->cImplTypes; ++i) {
            HREFTYPE href;
            if (FAILED(ti->GetRefTypeOfImplType(i, &href))) continue;
            Type* r = TypeOf(ti, href);
            if (!r || r == t) continue;
            // A dispatch interface names no base: widl gives it stdole2.tlb's IDispatch (importing
            // that library by itself), and needs no more than the name known.
            if (attr->typekind == TKIND_DISPATCH && !t->dual && !r->local) {
                usesDispatch = true;
                continue;
            }
            // widl adds a coclass's imported interfaces to the library too: they must be defined.
            (attr->typekind == TKIND_COCLASS && r->local ? t->names : t->needs).push_back(r);
        }
        if (t->kind == TKIND_DISPATCH && !t->dual) {
            t->dispatchOf = DispatchSource(t, ti, *attr.Get());
            if (t->dispatchOf) {
                t->needs.push_back(t->dispatchOf);
                return;
            }
        }
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FuncDescPtr fd;
            if (FAILED(ti->GetFuncDesc(i, fd.Put(ti))) || !fd) continue;
            NeedType(t, ti, fd->elemdescFunc.tdesc, false, 0);
            for (SHORT p = 0; p < fd->cParams; ++p) NeedType(t, ti, fd->lprgelemdescParam[p].tdesc, false, 0);
        }
        for (UINT i = 0; i < attr->cVars; ++i) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(i, vd.Put(ti))) || !vd) continue;
            NeedType(t, ti, vd->elemdescVar.tdesc, false, 0);
        }
    }

    // The names of an interface's functions, its bases' first; false past a sane depth.
    static bool ChainNames(ITypeInfo* ti, std::vector<std::string>* names, int depth) {
        if (depth > 64) return false;
        TypeAttrPtr a;
        if (FAILED(ti->GetTypeAttr(a.Put(ti))) || !a || a->typekind != TKIND_INTERFACE) return false;
        HREFTYPE href;
        ComPtr<ITypeInfo> base;
        if (a->cImplTypes && SUCCEEDED(ti->GetRefTypeOfImplType(0, &href)) &&
            SUCCEEDED(ti->GetRefTypeInfo(href, base.Put())) && base && !ChainNames(base.Get(), names, depth + 1))
            return false;
        for (UINT i = 0; i < a->cFuncs; ++i) {
            FuncDescPtr fd;
            BStr n;
            if (FAILED(ti->GetFuncDesc(i, fd.Put(ti))) || !fd) return false;
            ti->GetDocumentation(fd->memid, n.Put(), nullptr, nullptr, nullptr);
            names->push_back(n.Utf8());
        }
        return true;
    }

    // A dispatch interface declared as "dispinterface D { interface I; }" lists I's functions,
    // IUnknown's first: the interface of the library whose functions are exactly those.
    Type* DispatchSource(Type* t, ITypeInfo* ti, const TYPEATTR& a) {
        if (a.cFuncs < 3 || a.cVars) return nullptr;
        std::vector<std::string> names;
        for (UINT i = 0; i < a.cFuncs; ++i) {
            FuncDescPtr fd;
            BStr n;
            if (FAILED(ti->GetFuncDesc(i, fd.Put(ti))) || !fd) return nullptr;
            if (i == 0 && (fd->memid != 0x60000000 || fd->funckind != FUNC_DISPATCH)) return nullptr;
            ti->GetDocumentation(fd->memid, n.Put(), nullptr, nullptr, nullptr);
            names.push_back(n.Utf8());
        }
        if (names[0] != "QueryInterface") return nullptr;
        for (auto& c : locals) {
            if (c.get() == t || !c->write || c->kind != TKIND_INTERFACE || c->dual) continue;
            std::vector<std::string> chain;
            if (ChainNames(c->write.Get(), &chain, 0) && chain == names) return c.get();
        }
        // An interface of an imported library.
        ComPtr<ITypeLibImports> imports;
        if (FAILED(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put()))) || !imports)
            return nullptr;
        for (UINT i = 0; i < imports->GetImportCount(); ++i) {
            BStr path;
            ComPtr<ITypeLib> other;
            if (imports->GetImport(i, nullptr, nullptr, nullptr, nullptr, nullptr, path.Put()) != S_OK ||
                FAILED(LoadTypeLib(Utf8ToUtf16(path.Utf8()).c_str(), other.Put())) || !other)
                continue;
            for (UINT k = 0; k < other->GetTypeInfoCount(); ++k) {
                TYPEKIND kind;
                ComPtr<ITypeInfo> c;
                if (FAILED(other->GetTypeInfoType(k, &kind)) || kind != TKIND_INTERFACE ||
                    FAILED(other->GetTypeInfo(k, c.Put())) || !c)
                    continue;
                std::vector<std::string> chain;
                if (ChainNames(c.Get(), &chain, 0) && chain == names) return TypeOfInfo(c);
            }
        }
        return nullptr;
    }

    // ---- output -------------------------------------------------------------------------------

    void Put(const std::string& s) { line += s; }
    void PutRef(const std::string& name, Type* t) {
        if (t && t->local) pendingRefs.push_back({w->Lines, int((indent.size()) + line.size()), int(name.size()), t->index});
        line += name;
    }
    void EndLine() {
        if (!line.empty()) w->Out += indent;
        w->Out += line;
        w->Out += '\n';
        line.clear();
        for (const TIdlTypeRef& r : pendingRefs) w->Refs.push_back(r);
        pendingRefs.clear();
        ++w->Lines;
    }
    void Line(const std::string& s) {
        Put(s);
        EndLine();
    }
    // Library text in a comment passes the escaping rule: it stays on its line and inside.
    void Comment(const std::string& s) { Line("/* " + CommentText(s) + " */"); }
    void FlushNotes() {
        for (const std::string& n : notes) Comment(n);
        notes.clear();
    }

    // An attribute list; one that would run past kLineWidth is broken after a comma, the rest
    // indented one step further.
    static constexpr std::size_t kLineWidth = 100;
    void PutAttrs(const Attrs& a, bool mayBreak = true) {
        const std::vector<std::string>& items = a.Items();
        Put("[");
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i) {
                Put(",");
                // +2: the blank before the item and the "]" or "," after it.
                if (mayBreak && indent.size() + line.size() + items[i].size() + 2 > kLineWidth && line.size() > 4) {
                    EndLine();
                    Put("    ");
                } else {
                    Put(" ");
                }
            }
            Put(items[i]);
        }
        Put("]");
    }
    void AttrsLine(const Attrs& a) {
        PutAttrs(a);
        EndLine();
    }

    // A name of an imported type's definition in the spelling this library gives it, letter case
    // aside: compilers keep one spelling of a name, the first they meet, and the definitions of
    // imported types come before the library's own.
    std::string Spelled(const Type* t, const std::string& name) {
        if (t->local || name.empty()) return name;
        std::u16string buf = Utf8ToUtf16(name);
        BOOL found = FALSE;
        if (FAILED(lib->IsName(buf.data(), 0, &found)) || !found) return name;
        return Utf16ToUtf8(buf.c_str());
    }

    // A member, parameter or library name: as it is when it is a safe IDL name, else its
    // cleaned form, with a note giving the original.
    std::string Ident(const std::string& name, const char* what) {
        if (IsSafeName(name, NameDialect::Idl)) return name;
        if (name.empty()) {
            notes.push_back(std::string("unnamed ") + what);
            return "";
        }
        const std::string cleaned = CleanIdentifier(name, NameDialect::Idl);
        notes.push_back(std::string(what) + " \"" + name + "\" is not an IDL identifier: written as " + cleaned);
        return cleaned;
    }

    // A type in C form: the part before the name and the part after it (array bounds).
    struct Decl {
        std::string before, after;
        std::vector<std::pair<std::size_t, Type*>> refs;  // positions in `before`
        std::string problem;
    };

    void TypeText(ITypeInfo* owner, const TYPEDESC& td, Decl* d, int depth) {
        if (depth > kMaxTypeDepth) {
            d->problem = "type description too deep";
            d->before += "void";
            return;
        }
        switch (td.vt) {
        case VT_PTR:
            if (!td.lptdesc) { d->problem = "pointer without a target"; d->before += "void*"; return; }
            TypeText(owner, *td.lptdesc, d, depth + 1);
            if (!d->after.empty()) {
                // A pointer to an array: "T (*name)[n]".
                d->before += " (*";
                d->after = ")" + d->after;
            } else {
                d->before += "*";
            }
            return;
        case VT_SAFEARRAY:
            d->before += "SAFEARRAY(";
            if (std::string pointee = td.lptdesc ? ArrayPointee(owner, *td.lptdesc, nullptr) : std::string();
                arrayPointeeNames.count(pointee))
                d->before += "_quibrel_ptr_" + pointee;
            else if (td.lptdesc) TypeText(owner, *td.lptdesc, d, depth + 1);
            else d->before += "VARIANT";
            d->before += ")";
            return;
        case VT_CARRAY: {
            if (!td.lpadesc) { d->problem = "array without a description"; d->before += "void"; return; }
            TypeText(owner, td.lpadesc->tdescElem, d, depth + 1);
            std::string bounds;
            for (USHORT i = 0; i < td.lpadesc->cDims; ++i) {
                const SAFEARRAYBOUND& b = td.lpadesc->rgbounds[i];
                if (b.lLbound != 0) d->problem = "array with a lower bound of " + std::to_string(b.lLbound);
                // No element count: a conformant array ("[size_is(n)] T a[]").
                bounds += b.cElements ? "[" + std::to_string(b.cElements) + "]" : std::string("[]");
            }
            d->after = bounds + d->after;
            return;
        }
        case VT_USERDEFINED: {
            Type* r = TypeOf(owner, td.hreftype);
            if (!r) {
                d->problem = "a type that cannot be resolved (reference " + Hex(td.hreftype) + ")";
                d->before += "void";
                return;
            }
            // A record or union of the library not defined yet (reached through a pointer or an
            // array), or one defined where it is used whose name is not written yet, is named by
            // its tag ("struct X"), which breaks cycles between records.
            if (r->local && ((!r->written && (r->kind == TKIND_RECORD || r->kind == TKIND_UNION)) ||
                             (r->nestIn && !r->named)))
                d->before += KindWord(r) + " ";
            d->refs.emplace_back(d->before.size(), r);
            d->before += Name(r);
            return;
        }
        default:
            break;
        }
        const char* base = nullptr;
        switch (td.vt) {
        case VT_I1: base = "char"; break;
        case VT_UI1: base = "unsigned char"; break;
        case VT_I2: base = "short"; break;
        case VT_UI2: base = "unsigned short"; break;
        case VT_I4: base = "long"; break;
        case VT_UI4: base = "unsigned long"; break;
        case VT_I8: base = "hyper"; break;
        case VT_UI8: base = "unsigned hyper"; break;
        case VT_INT: base = "int"; break;
        case VT_UINT: base = "unsigned int"; break;
        case VT_R4: base = "float"; break;
        case VT_R8: base = "double"; break;
        case VT_CY: base = "CURRENCY"; break;
        case VT_DATE: base = "DATE"; break;
        case VT_BSTR: base = "BSTR"; break;
        case VT_DISPATCH: base = "IDispatch*"; break;
        case VT_UNKNOWN: base = "IUnknown*"; break;
        case VT_ERROR: base = "SCODE"; break;
        case VT_BOOL: base = "VARIANT_BOOL"; break;
        case VT_VARIANT: base = "VARIANT"; break;
        case VT_DECIMAL: base = "DECIMAL"; break;
        case VT_VOID: base = "void"; break;
        case VT_HRESULT: base = "HRESULT"; break;
        case VT_LPSTR: base = "LPSTR"; break;
        case VT_LPWSTR: base = "LPWSTR"; break;
        case VT_INT_PTR: base = "INT_PTR"; break;
        case VT_UINT_PTR: base = "UINT_PTR"; break;
        case VT_CLSID: base = "GUID"; break;
        default: break;
        }
        if (!base) {
            d->problem = "variant type " + std::to_string(td.vt) + " has no IDL form";
            base = "void";
        }
        if (Type* known = td.vt == VT_DISPATCH ? localDispatch : td.vt == VT_UNKNOWN ? localUnknown : nullptr)
            d->refs.emplace_back(d->before.size(), known);
        d->before += base;
    }

    // Writes "type name[bounds]" into the line, with hot spots.
    void PutDecl(const Decl& d, const std::string& name) {
        std::size_t at = 0;
        for (const auto& [pos, t] : d.refs) {
            Put(d.before.substr(at, pos - at));
            const std::string& n = Name(t);
            PutRef(n, t);
            at = pos + n.size();
        }
        Put(d.before.substr(at));
        if (!name.empty()) Put(" " + name);
        Put(d.after);
    }

    // ---- items --------------------------------------------------------------------------------

    void TypeAttrs(Type* t, const TYPEATTR& a, Attrs* at, ITypeInfo* ti) {
        // An imported interface's definition goes without its GUID: widl refers to the imported
        // type by name, and a copy it makes for a coclass must not take the GUID from it.
        if (a.guid != GUID{} && !t->local && (a.typekind == TKIND_INTERFACE || a.typekind == TKIND_DISPATCH))
            notes.push_back("uuid(" + GuidText(a.guid) + ") of the imported type: not written, so that widl refers to it");
        else if (a.guid != GUID{})
            at->Add("uuid(" + GuidText(a.guid) + ")");
        if (a.wMajorVerNum || a.wMinorVerNum) {
            const std::string version = "version(" + std::to_string(a.wMajorVerNum) + "." + std::to_string(a.wMinorVerNum) + ")";
            if (a.typekind == TKIND_DISPATCH && !t->dual)
                notes.push_back(version + ": not written, widl takes no version on a dispinterface");
            else
                at->Add(version);
        }
        BStr doc;
        DWORD context = 0;
        ti->GetDocumentation(MEMBERID_NIL, nullptr, doc.Put(), &context, nullptr);
        if (!doc.IsNull()) at->Add("helpstring(" + StringLiteral(doc.Utf8()) + ")");
        if (context) at->Add("helpcontext(" + Hex(context) + ")");
        ComPtr<ITypeInfo2> t2;
        if (SUCCEEDED(ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(t2.Put()))) && t2) {
            DWORD stringContext = 0;
            if (SUCCEEDED(t2->GetDocumentation2(MEMBERID_NIL, 0, nullptr, &stringContext, nullptr)) && stringContext)
                at->Add("helpstringcontext(" + Hex(stringContext) + ")");
        }
        WORD f = a.wTypeFlags;
        if (a.typekind == TKIND_INTERFACE || a.typekind == TKIND_DISPATCH) {
            if (t->dual) at->Add("dual");
            if ((f & TYPEFLAG_FOLEAUTOMATION) && !t->dual && a.typekind == TKIND_INTERFACE) at->Add("oleautomation");
            if (t->dual && (f & TYPEFLAG_FOLEAUTOMATION)) at->Add("oleautomation");
        }
        if (f & TYPEFLAG_FAPPOBJECT) at->Add("appobject");
        if (f & TYPEFLAG_FLICENSED) at->Add("licensed");
        if (f & TYPEFLAG_FPREDECLID) notes.push_back("predeclid: not written, widl does not know it");
        if (f & TYPEFLAG_FHIDDEN) at->Add("hidden");
        if (f & TYPEFLAG_FCONTROL) at->Add("control");
        if ((f & TYPEFLAG_FNONEXTENSIBLE) && a.typekind == TKIND_DISPATCH && !t->dual)
            notes.push_back("nonextensible: not written, widl takes it on no dispinterface");
        else if (f & TYPEFLAG_FNONEXTENSIBLE)
            at->Add("nonextensible");
        if (f & TYPEFLAG_FRESTRICTED) at->Add("restricted");
        if (f & TYPEFLAG_FAGGREGATABLE) at->Add("aggregatable");
        if (f & TYPEFLAG_FREPLACEABLE) at->Add("replaceable");
        if (f & TYPEFLAG_FREVERSEBIND) at->Add("reversebind");
        if (f & TYPEFLAG_FPROXY) at->Add("proxy");
        if (a.typekind == TKIND_COCLASS && !(f & TYPEFLAG_FCANCREATE)) at->Add("noncreatable");
        if (t2) {
            CUSTDATA c{};
            if (SUCCEEDED(t2->GetAllCustData(&c))) AddCustom(at, c, &notes);
            ClearCustData(&c);
        }
    }

    // `compilerContext`: a help context of 0xFFFFFFFF is the compiler's own (widl writes
    // it on every variable that has custom data and no help context), not written.
    void MemberDocAttrs(ITypeInfo* ti, ITypeInfo2* t2, MEMBERID memid, Attrs* at, bool compilerContext = false) {
        BStr doc;
        DWORD context = 0;
        ti->GetDocumentation(memid, nullptr, doc.Put(), &context, nullptr);
        if (!doc.IsNull()) at->Add("helpstring(" + StringLiteral(doc.Utf8()) + ")");
        if (context && !(compilerContext && context == 0xFFFFFFFFu)) at->Add("helpcontext(" + Hex(context) + ")");
        if (t2) {
            DWORD stringContext = 0;
            if (SUCCEEDED(t2->GetDocumentation2(memid, 0, nullptr, &stringContext, nullptr)) && stringContext)
                at->Add("helpstringcontext(" + Hex(stringContext) + ")");
        }
    }

    static void VarFlagAttrs(WORD f, Attrs* at) {
        if (f & VARFLAG_FREADONLY) at->Add("readonly");
        if (f & VARFLAG_FSOURCE) at->Add("source");
        if (f & VARFLAG_FBINDABLE) at->Add("bindable");
        if (f & VARFLAG_FREQUESTEDIT) at->Add("requestedit");
        if (f & VARFLAG_FDISPLAYBIND) at->Add("displaybind");
        if (f & VARFLAG_FDEFAULTBIND) at->Add("defaultbind");
        if (f & VARFLAG_FHIDDEN) at->Add("hidden");
        if (f & VARFLAG_FRESTRICTED) at->Add("restricted");
        if (f & VARFLAG_FDEFAULTCOLLELEM) at->Add("defaultcollelem");
        if (f & VARFLAG_FUIDEFAULT) at->Add("uidefault");
        if (f & VARFLAG_FNONBROWSABLE) at->Add("nonbrowsable");
        if (f & VARFLAG_FREPLACEABLE) at->Add("replaceable");
        if (f & VARFLAG_FIMMEDIATEBIND) at->Add("immediatebind");
    }

    static void FuncFlagAttrs(WORD f, Attrs* at) {
        if (f & FUNCFLAG_FRESTRICTED) at->Add("restricted");
        if (f & FUNCFLAG_FSOURCE) at->Add("source");
        if (f & FUNCFLAG_FBINDABLE) at->Add("bindable");
        if (f & FUNCFLAG_FREQUESTEDIT) at->Add("requestedit");
        if (f & FUNCFLAG_FDISPLAYBIND) at->Add("displaybind");
        if (f & FUNCFLAG_FDEFAULTBIND) at->Add("defaultbind");
        if (f & FUNCFLAG_FHIDDEN) at->Add("hidden");
        if (f & FUNCFLAG_FUSESGETLASTERROR) at->Add("usesgetlasterror");
        if (f & FUNCFLAG_FDEFAULTCOLLELEM) at->Add("defaultcollelem");
        if (f & FUNCFLAG_FUIDEFAULT) at->Add("uidefault");
        if (f & FUNCFLAG_FNONBROWSABLE) at->Add("nonbrowsable");
        if (f & FUNCFLAG_FREPLACEABLE) at->Add("replaceable");
        if (f & FUNCFLAG_FIMMEDIATEBIND) at->Add("immediatebind");
    }

    // A variable of a record, union or dispatch interface, or a constant of an enum or module.
    void WriteVar(Type* t, ITypeInfo* ti, ITypeInfo2* t2, UINT index, TIdlTypeSpan* span) {
        VarDescPtr vd;
        HRESULT hr = ti->GetVarDesc(index, vd.Put(ti));
        if (FAILED(hr) || !vd) {
            Comment("variable " + std::to_string(index) + " cannot be read (" + Hex(std::uint32_t(hr)) + ")");
            return;
        }
        BStr nameB;
        ti->GetDocumentation(vd->memid, nameB.Put(), nullptr, nullptr, nullptr);
        std::string name = Ident(Spelled(t, nameB.Utf8()), "variable");
        if (name.empty()) name = "_var" + std::to_string(index);
        Attrs at;
        bool isEnum = t->kind == TKIND_ENUM;
        if (t->kind == TKIND_DISPATCH) at.Add("id(" + Hex(std::uint32_t(vd->memid)) + ")");
        VarFlagAttrs(vd->wVarFlags, &at);
        CUSTDATA custom{};
        if (t2 && FAILED(t2->GetAllVarCustData(index, &custom))) custom = CUSTDATA{};
        // widl takes no help attributes on a field, property or enum member: they are kept in a
        // comment before it.
        Attrs help;
        MemberDocAttrs(ti, t2, vd->memid, t->kind == TKIND_MODULE ? &at : &help, custom.cCustData > 0);
        if (!help.Empty()) {
            std::string text;
            for (const std::string& h : help.Items()) text += (text.empty() ? "" : ", ") + h;
            notes.push_back(text + ": not written, widl takes no help attributes on " +
                            (isEnum ? "an enum member" : t->kind == TKIND_DISPATCH ? "a property" : "a field"));
        }
        AddCustom(&at, custom, &notes);
        ClearCustData(&custom);
        Decl d;
        TypeText(ti, vd->elemdescVar.tdesc, &d, 0);
        if (!d.problem.empty()) notes.push_back(name + ": " + d.problem);
        std::string value;
        bool hasValue = vd->varkind == VAR_CONST && vd->lpvarValue;
        if (hasValue && !ValueText(*vd->lpvarValue, &value)) {
            notes.push_back(name + " holds a " + value + ", written as 0");
            value = "0";
        }
        FlushNotes();
        int first = w->Lines;
        if (!at.Empty()) {
            PutAttrs(at);
            Put(" ");
        }
        if (isEnum) {
            Put(name);
            if (hasValue) Put(" = " + value);
            Put(index + 1 < enumCount ? "," : "");
        } else if (Type* n = NestedAt(t, ti, vd->elemdescVar.tdesc)) {
            WriteNested(n, "} " + name + ";");
            if (span) span->Members.push_back({first, w->Lines - 1, vd->memid, 0, true, nameB.Utf8()});
            return;
        } else {
            if (vd->varkind == VAR_CONST) Put("const ");
            PutDecl(d, name);
            if (vd->varkind == VAR_CONST && hasValue) Put(" = " + value);
            Put(";");
        }
        EndLine();
        if (span) span->Members.push_back({first, w->Lines - 1, vd->memid, 0, true, nameB.Utf8()});
    }

    // The type defined at this use of it (a field's type, an alias's target), if any.
    Type* NestedAt(Type* t, ITypeInfo* ti, const TYPEDESC& td) {
        if (t->nested.empty() || td.vt != VT_USERDEFINED) return nullptr;
        Type* n = TypeOf(ti, td.hreftype);
        return n && n->nestIn == t && !n->written ? n : nullptr;
    }
    // "struct N {", its members, and `closing`, continuing the line begun.
    void WriteNested(Type* n, const std::string& closing) {
        ITypeInfo* ti = n->write.Get();
        TypeAttrPtr a;
        n->written = true;
        if (FAILED(ti->GetTypeAttr(a.Put(ti))) || !a) {
            Line("/* type cannot be read */ long");
            Line(closing);
            return;
        }
        ComPtr<ITypeInfo2> t2;
        ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(t2.Put()));
        Line(std::string(KindWord(n)) + " " + Name(n) + " {");
        indent += "    ";
        const UINT outerCount = enumCount;
        enumCount = a->cVars;
        for (UINT i = 0; i < a->cVars; ++i) WriteVar(n, ti, t2.Get(), i, nullptr);
        enumCount = outerCount;
        indent.resize(indent.size() - 4);
        Line(closing);
    }
    // After a type with types defined in it, their names, which add nothing to the library.
    void NameNested(Type* t, int depth) {
        if (depth > 16) return;
        for (Type* n : t->nested) {
            if (!n->written) continue;
            Line("typedef " + std::string(KindWord(n)) + " " + Name(n) + " " + Name(n) + ";");
            n->named = true;
            NameNested(n, depth + 1);
        }
    }
    UINT enumCount = 0;
    bool outsideBlock = true;  // writing before the library block (or types on their own)

    static bool IsVoidPointer(const TYPEDESC& td, int depth) {
        if (depth > kMaxTypeDepth || td.vt != VT_PTR || !td.lptdesc) return false;
        return td.lptdesc->vt == VT_VOID || IsVoidPointer(*td.lptdesc, depth + 1);
    }
    static bool UsesVoidPointers(ITypeInfo* ti, const TYPEATTR& a) {
        for (UINT i = 0; i < a.cFuncs; ++i) {
            FuncDescPtr fd;
            if (FAILED(ti->GetFuncDesc(i, fd.Put(ti))) || !fd) continue;
            if (IsVoidPointer(fd->elemdescFunc.tdesc, 0)) return true;
            for (SHORT p = 0; p < fd->cParams; ++p)
                if (IsVoidPointer(fd->lprgelemdescParam[p].tdesc, 0)) return true;
        }
        return false;
    }
    bool usesDispatch = false, usesUnknown = false;  // VT_DISPATCH, VT_UNKNOWN anywhere

    // widl reads no pointer in SAFEARRAY(...): arrays of interface pointers name a typedef of
    // the pointer, declared ahead of the library block (where it adds nothing to the library).
    // The interfaces pointed to, by name, with the writer's record of each (none for IUnknown
    // and IDispatch as VT_UNKNOWN and VT_DISPATCH), in the order first met.
    std::vector<std::pair<std::string, Type*>> arrayPointees;
    std::unordered_set<std::string> arrayPointeeNames;
    // The interface an array element points to ("" when it is no interface pointer).
    std::string ArrayPointee(ITypeInfo* owner, const TYPEDESC& elem, Type** type) {
        if (elem.vt == VT_UNKNOWN) return "IUnknown";
        if (elem.vt == VT_DISPATCH) return "IDispatch";
        if (elem.vt != VT_PTR || !elem.lptdesc || elem.lptdesc->vt != VT_USERDEFINED) return std::string();
        Type* r = TypeOf(owner, elem.lptdesc->hreftype);
        if (r && r->sameAs) r = r->sameAs;
        if (!r || (r->kind != TKIND_INTERFACE && r->kind != TKIND_DISPATCH && r->kind != TKIND_COCLASS)) return std::string();
        if (type) *type = r;
        return Name(r);
    }

    void WriteFunc(Type* t, ITypeInfo* ti, ITypeInfo2* t2, UINT index, TIdlTypeSpan* span) {
        FuncDescPtr fd;
        HRESULT hr = ti->GetFuncDesc(index, fd.Put(ti));
        if (FAILED(hr) || !fd) {
            Comment("function " + std::to_string(index) + " cannot be read (" + Hex(std::uint32_t(hr)) + ")");
            return;
        }
        const FUNCDESC& f = *fd.Get();
        std::vector<BSTR> names(std::size_t(f.cParams) + 1, nullptr);
        UINT got = 0;
        ti->GetNames(f.memid, names.data(), UINT(names.size()), &got);
        const std::string rawName = got ? Spelled(t, Str(names[0])) : std::string();
        std::string fname = Ident(rawName, "function");
        if (fname.empty()) fname = "_func" + std::to_string(index);
        Attrs at;
        at.Add("id(" + Hex(std::uint32_t(f.memid)) + ")");
        if (f.invkind == INVOKE_PROPERTYGET) at.Add("propget");
        if (f.invkind == INVOKE_PROPERTYPUT) at.Add("propput");
        if (f.invkind == INVOKE_PROPERTYPUTREF) at.Add("propputref");
        if (f.cParamsOpt == -1) at.Add("vararg");
        FuncFlagAttrs(f.wFuncFlags, &at);
        MemberDocAttrs(ti, t2, f.memid, &at);
        if (t2) {
            CUSTDATA c{};
            if (SUCCEEDED(t2->GetAllFuncCustData(index, &c))) AddCustom(&at, c, &notes);
            ClearCustData(&c);
        }
        if (t->kind == TKIND_MODULE) {
            BStr dll, entry;
            WORD ordinal = 0;
            if (SUCCEEDED(ti->GetDllEntry(f.memid, f.invkind, dll.Put(), entry.Put(), &ordinal))) {
                if (!entry.IsNull()) at.Add("entry(" + StringLiteral(entry.Utf8()) + ")");
                else if (ordinal) at.Add("entry(" + std::to_string(ordinal) + ")");
            }
        }
        if (f.callconv != CC_STDCALL && f.funckind != FUNC_DISPATCH)
            notes.push_back(fname + ": calling convention " + std::to_string(f.callconv) + ", written as __stdcall");
        Decl ret;
        TypeText(ti, f.elemdescFunc.tdesc, &ret, 0);
        if (!ret.problem.empty()) notes.push_back(fname + " result: " + ret.problem);

        // Parameters first, so that their notes come before the function.
        struct P {
            Attrs at;
            Decl d;
            std::string name;
            std::string comment;  // written after the parameter
        };
        std::vector<P> params(std::size_t(std::max<SHORT>(f.cParams, 0)));
        // A default value makes a parameter optional by itself; [optional] beside it counts it
        // among the optional parameters (cParamsOpt) as well. Parameters with a default get it
        // too, the last ones first, as far as the library's count needs beyond the parameters
        // that are optional without a default.
        std::vector<bool> alsoOptional(params.size(), false);
        if (f.cParamsOpt > 0) {
            auto hasDefault = [&](SHORT i) {
                const PARAMDESC& pd = f.lprgelemdescParam[i].paramdesc;
                return (pd.wParamFlags & PARAMFLAG_FHASDEFAULT) && pd.pparamdescex;
            };
            int extra = f.cParamsOpt;
            for (SHORT i = 0; i < f.cParams; ++i)
                if ((f.lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FOPT) && !hasDefault(i)) --extra;
            for (SHORT i = f.cParams; i-- > 0 && extra > 0;)
                if ((f.lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FOPT) && hasDefault(i)) {
                    alsoOptional[std::size_t(i)] = true;
                    --extra;
                }
        }
        for (SHORT i = 0; i < f.cParams; ++i) {
            P& p = params[std::size_t(i)];
            const ELEMDESC& e = f.lprgelemdescParam[i];
            USHORT pf = e.paramdesc.wParamFlags;
            if (pf & PARAMFLAG_FIN) p.at.Add("in");
            if (pf & PARAMFLAG_FOUT) p.at.Add("out");
            if (pf & PARAMFLAG_FLCID) p.at.Add("lcid");
            if (pf & PARAMFLAG_FRETVAL) p.at.Add("retval");
            if ((pf & PARAMFLAG_FOPT) &&
                (!((pf & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) || alsoOptional[std::size_t(i)]))
                p.at.Add("optional");
            if ((pf & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
                std::string v;
                const VARTYPE dv = e.paramdesc.pparamdescex->varDefaultValue.vt;
                const TYPEDESC* pt = &e.tdesc;
                if (pt->vt == VT_PTR && pt->lptdesc) pt = pt->lptdesc;
                const bool ok = ValueText(e.paramdesc.pparamdescex->varDefaultValue, &v, ValueUse::Default, e.tdesc.vt);
                if (ok && dv == VT_BSTR && pt->vt == VT_VARIANT) {
                    // widl refuses a string default on a VARIANT: kept as a comment at its place,
                    // the parameter still optional.
                    if ((pf & PARAMFLAG_FOPT) && !alsoOptional[std::size_t(i)]) p.at.Add("optional");
                    p.comment = "/* " + CommentText("defaultvalue(" + v + ")") + " */";
                }
                else if (ok)
                    p.at.Add("defaultvalue(" + v + ")");
                else
                    notes.push_back(fname + " parameter " + std::to_string(i + 1) + ": default " + v + " not written");
            }
            if (t2) {
                CUSTDATA c{};
                if (SUCCEEDED(t2->GetAllParamCustData(index, UINT(i), &c))) AddCustom(&p.at, c, &notes);
                ClearCustData(&c);
            }
            std::string pname = UINT(i) + 1 < got ? Spelled(t, Str(names[std::size_t(i) + 1])) : std::string();
            p.name = pname.empty() ? std::string() : Ident(pname, "parameter");
            if (p.name.empty()) {
                if (pname.empty())
                    notes.push_back(fname + " parameter " + std::to_string(i + 1) + " has no name");
                p.name = "";
            }
            TypeText(ti, e.tdesc, &p.d, 0);
            if (!p.d.problem.empty()) notes.push_back(fname + " parameter " + std::to_string(i + 1) + ": " + p.d.problem);
        }
        for (BSTR b : names) SysFreeString(b);

        FlushNotes();
        int first = w->Lines;
        AttrsLine(at);
        PutDecl(ret, "");
        if (f.callconv == CC_CDECL && f.funckind != FUNC_DISPATCH) Put(" __cdecl");
        Put(" " + fname + "(");
        if (params.empty()) Put("void");
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (i) Put(", ");
            if (!params[i].at.Empty()) {
                PutAttrs(params[i].at, false);
                Put(" ");
            }
            PutDecl(params[i].d, params[i].name);
            if (!params[i].comment.empty()) Put(" " + params[i].comment);
        }
        Put(");");
        EndLine();
        if (span) span->Members.push_back({first, w->Lines - 1, f.memid, int(f.invkind), false, rawName});
    }

    void WriteType(Type* t) {
        TIdlTypeSpan span;
        span.TypeIndex = t->index;
        span.FirstLine = w->Lines;
        WriteTypeBody(t, t->local ? &span : nullptr);
        t->written = true;
        NameNested(t, 0);
        span.LastLine = w->Lines - 1;
        if (t->local) w->Spans.push_back(std::move(span));
        Line("");
    }

    void WriteTypeBody(Type* t, TIdlTypeSpan* span) {
        if (!t->write) {
            Comment("type " + std::to_string(t->index) + " cannot be read (" + Hex(std::uint32_t(t->status)) + ")");
            return;
        }
        ITypeInfo* ti = t->write.Get();
        TypeAttrPtr attrP;
        HRESULT hr = ti->GetTypeAttr(attrP.Put(ti));
        if (FAILED(hr) || !attrP) {
            Comment("type " + Name(t) + " cannot be read (" + Hex(std::uint32_t(hr)) + ")");
            return;
        }
        const TYPEATTR& a = *attrP.Get();
        ComPtr<ITypeInfo2> t2;
        ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(t2.Put()));
        Attrs at;
        const std::string name = Name(t);
        if (idents.Renamed(t->key))
            notes.push_back("type \"" + t->name + "\" is not an IDL identifier: written as " + name);
        else if (t->name.empty())
            notes.push_back("unnamed type, written as " + name);
        switch (a.typekind) {
        case TKIND_ENUM: case TKIND_RECORD: case TKIND_UNION: {
            TypeAttrs(t, a, &at, ti);
            FlushNotes();
            const char* word = a.typekind == TKIND_ENUM ? "enum" : a.typekind == TKIND_RECORD ? "struct" : "union";
            Put("typedef ");
            if (!at.Empty()) {
                PutAttrs(at);
                Put(" ");
            }
            Line(std::string(word) + " " + name + " {");
            indent += "    ";
            enumCount = a.cVars;
            for (UINT i = 0; i < a.cVars; ++i) WriteVar(t, ti, t2.Get(), i, span);
            indent.resize(indent.size() - 4);
            Line("} " + name + ";");
            break;
        }
        case TKIND_ALIAS: {
            at.Add("public");
            TypeAttrs(t, a, &at, ti);
            Decl d;
            TypeText(ti, a.tdescAlias, &d, 0);
            if (!d.problem.empty()) notes.push_back(name + ": " + d.problem);
            FlushNotes();
            Put("typedef ");
            PutAttrs(at);
            Put(" ");
            if (Type* n = NestedAt(t, ti, a.tdescAlias)) {
                WriteNested(n, "} " + name + ";");
                break;
            }
            PutDecl(d, name);
            Put(";");
            EndLine();
            break;
        }
        case TKIND_MODULE: {
            BStr dll;
            if (a.cFuncs) {
                FuncDescPtr fd;
                BStr entry;
                WORD ord;
                if (SUCCEEDED(ti->GetFuncDesc(0, fd.Put(ti))) && fd)
                    ti->GetDllEntry(fd->memid, fd->invkind, dll.Put(), entry.Put(), &ord);
            }
            if (!dll.IsNull()) at.Add("dllname(" + StringLiteral(dll.Utf8()) + ")");
            TypeAttrs(t, a, &at, ti);
            FlushNotes();
            AttrsLine(at);
            Line("module " + name + " {");
            indent += "    ";
            for (UINT i = 0; i < a.cFuncs; ++i) WriteFunc(t, ti, t2.Get(), i, span);
            for (UINT i = 0; i < a.cVars; ++i) WriteVar(t, ti, t2.Get(), i, span);
            indent.resize(indent.size() - 4);
            Line("};");
            break;
        }
        case TKIND_INTERFACE: {
            at.Add("odl");
            // Outside a library block widl checks an interface as if for marshalling and refuses
            // void pointers; only there, and only then, the interface is marked local.
            if (outsideBlock && UsesVoidPointers(ti, a)) {
                at.Add("local");
                notes.push_back("local: widl refuses void pointers in an interface outside the library block");
            }
            TypeAttrs(t, a, &at, ti);
            Type* base = nullptr;
            HREFTYPE href;
            if (a.cImplTypes && SUCCEEDED(ti->GetRefTypeOfImplType(0, &href))) {
                base = TypeOf(ti, href);
                if (!base) {
                    notes.push_back(name + ": its base interface cannot be resolved");
                } else if (base->kind != TKIND_INTERFACE) {
                    // Only an interface can be a base; a damaged library may name anything.
                    notes.push_back(name + ": the library gives " + KindWord(base) + " " + Name(base) +
                                    " as its base, written without a base");
                    base = nullptr;
                }
            }
            FlushNotes();
            AttrsLine(at);
            Put("interface " + name);
            if (base) {
                Put(" : ");
                PutRef(Name(base), base);
            }
            Put(" {");
            EndLine();
            indent += "    ";
            for (UINT i = 0; i < a.cFuncs; ++i) WriteFunc(t, ti, t2.Get(), i, span);
            indent.resize(indent.size() - 4);
            Line("};");
            break;
        }
        case TKIND_DISPATCH: {
            TypeAttrs(t, a, &at, ti);
            FlushNotes();
            AttrsLine(at);
            Line("dispinterface " + name + " {");
            if (t->dispatchOf) {
                indent += "    ";
                Put("interface ");
                PutRef(Name(t->dispatchOf), t->dispatchOf);
                Put(";");
                EndLine();
                indent.resize(indent.size() - 4);
                Line("};");
                break;
            }
            Line("properties:");
            indent += "    ";
            for (UINT i = 0; i < a.cVars; ++i) WriteVar(t, ti, t2.Get(), i, span);
            indent.resize(indent.size() - 4);
            Line("methods:");
            indent += "    ";
            for (UINT i = 0; i < a.cFuncs; ++i) WriteFunc(t, ti, t2.Get(), i, span);
            indent.resize(indent.size() - 4);
            Line("};");
            break;
        }
        case TKIND_COCLASS: {
            TypeAttrs(t, a, &at, ti);
            FlushNotes();
            AttrsLine(at);
            Line("coclass " + name + " {");
            indent += "    ";
            for (UINT i = 0; i < a.cImplTypes; ++i) {
                HREFTYPE ref;
                INT flags = 0;
                Type* r = nullptr;
                if (SUCCEEDED(ti->GetRefTypeOfImplType(i, &ref))) r = TypeOf(ti, ref);
                ti->GetImplTypeFlags(i, &flags);
                if (!r) {
                    Comment("implemented type " + std::to_string(i) + " cannot be resolved");
                    continue;
                }
                Attrs ia;
                if (flags & IMPLTYPEFLAG_FDEFAULT) ia.Add("default");
                if (flags & IMPLTYPEFLAG_FSOURCE) ia.Add("source");
                if (flags & IMPLTYPEFLAG_FRESTRICTED) ia.Add("restricted");
                if (flags & IMPLTYPEFLAG_FDEFAULTVTABLE) ia.Add("defaultvtable");
                if (t2) {
                    CUSTDATA c{};
                    if (SUCCEEDED(t2->GetAllImplTypeCustData(i, &c))) AddCustom(&ia, c, &notes);
                    ClearCustData(&c);
                }
                FlushNotes();
                if (!ia.Empty()) {
                    PutAttrs(ia);
                    Put(" ");
                }
                Put(r->kind == TKIND_DISPATCH ? "dispinterface " : "interface ");
                PutRef(Name(r), r);
                Put(";");
                EndLine();
            }
            indent.resize(indent.size() - 4);
            Line("};");
            break;
        }
        default:
            Comment("type " + name + " is of an unknown kind " + std::to_string(a.typekind));
            break;
        }
    }

    // "interface X;" and the like, for types named before their definition.
    void Declare(Type* t) {
        if (t->declared) return;
        t->declared = true;
        if (t->kind == TKIND_RECORD || t->kind == TKIND_UNION) return;  // named by its tag where used
        if (t->kind == TKIND_INTERFACE) Line("interface " + Name(t) + ";");
        else if (t->kind == TKIND_DISPATCH) Line("dispinterface " + Name(t) + ";");
        else if (t->kind == TKIND_COCLASS) Line("coclass " + Name(t) + ";");
    }

    // Base types for compilers that know none by themselves, except names the output defines.
    void Prelude(const std::set<std::string>& defined, bool interfaces) {
        static const struct {
            const char* name;
            const char* text;
        } base[] = {
            {"HRESULT", "typedef long HRESULT;"},
            {"SCODE", "typedef long SCODE;"},
            {"DATE", "typedef double DATE;"},
            {"VARIANT_BOOL", "typedef short VARIANT_BOOL;"},
            {"BSTR", "typedef [wire_marshal(unsigned long)] wchar_t *BSTR;"},
            {"LPSTR", "typedef [string] char *LPSTR;"},
            {"LPWSTR", "typedef [string] wchar_t *LPWSTR;"},
            {"INT_PTR", "typedef __int3264 INT_PTR;"},
            {"UINT_PTR", "typedef unsigned __int3264 UINT_PTR;"},
            {"CURRENCY", "typedef struct _quibrel_CY { __int64 int64; } CURRENCY;"},
            {"DECIMAL", "typedef struct _quibrel_DEC { unsigned short wReserved; unsigned char scale; unsigned char sign; "
                        "unsigned long Hi32; unsigned __int64 Lo64; } DECIMAL;"},
            // Of the real one's size and alignment (a double in its union): 16 bytes on Win32, 24 on Win64.
            {"VARIANT", "typedef [wire_marshal(unsigned long)] struct _quibrel_VARIANT { unsigned short vt; unsigned short r1; "
                        "unsigned short r2; unsigned short r3; union { double d; struct { void *p1; void *p2; } r; } u; } VARIANT;"},
            {"GUID", "typedef struct _quibrel_GUID { unsigned long Data1; unsigned short Data2; unsigned short Data3; "
                     "unsigned char Data4[8]; } GUID;"},
            {"IUnknown", "[odl, uuid(00000000-0000-0000-C000-000000000046), local] interface IUnknown { "
                         "HRESULT QueryInterface([in] void *riid, [out] void **ppvObject); unsigned long AddRef(void); "
                         "unsigned long Release(void); };"},
            {"IDispatch", "[odl, uuid(00020400-0000-0000-C000-000000000046), local] interface IDispatch : IUnknown { "
                          "HRESULT GetTypeInfoCount([out] unsigned int *count); "
                          "HRESULT GetTypeInfo([in] unsigned int index, [in] unsigned long lcid, [out] void **info); "
                          "HRESULT GetIDsOfNames([in] void *riid, [in] void *names, [in] unsigned int count, "
                          "[in] unsigned long lcid, [out] long *ids); "
                          "HRESULT Invoke([in] long id, [in] void *riid, [in] unsigned long lcid, [in] unsigned short flags, "
                          "[in] void *params, [out] void *result, [out] void *exception, [out] unsigned int *argument); };"},
        };
        Line("// Base types, for IDL compilers used without the system headers");
        for (const auto& b : base) {
            std::string n = b.name;
            bool wanted = n == "IDispatch" ? usesDispatch : n == "IUnknown" ? usesUnknown || usesDispatch : true;
            if (interfaces != (n == "IUnknown" || n == "IDispatch") || !wanted || defined.count(n)) continue;
            std::string text = b.text;
            // The library's own IUnknown comes later, in the library block: this IDispatch, which
            // only makes the name known, goes without a base.
            if (n == "IDispatch" && localUnknown) text.replace(text.find(" : IUnknown"), 11, "");
            Line(text);
        }
        Line("");
    }

    // Local types needed (by value, as a base, through a typedef) by `t` before they come in
    // the library's order are defined before the library block, with what they need in turn;
    // a compiler adds them where they are first used, as it does for every type defined there.
    // Whether `t` stays in the block: a dual interface defined ahead of it becomes for widl an
    // import record without a GUID as a base, and so does what derives from it there. Such
    // types are placed just before the first type that needs them.
    bool Pinned(Type* t, int depth) {
        if (t->pinned >= 0) return t->pinned != 0;
        if (depth > 256) return false;
        Scan(t);
        t->pinned = t->dual ? 1 : 0;
        for (Type* n : t->needs)
            if (!t->pinned && n->local && n != t && Pinned(n, depth + 1)) t->pinned = 1;
        return t->pinned != 0;
    }

    void Hoist(Type* t, std::vector<Type*>* hoisted, int depth) {
        if (t->nestIn) {  // needed ahead of the library block after all
            auto& list = t->nestIn->nested;
            list.erase(std::remove(list.begin(), list.end(), t), list.end());
            t->nestIn = nullptr;
            t->state = 0;
        }
        if (t->state != 0 || depth > 256 || Pinned(t, 0)) return;
        t->state = 1;
        Scan(t);
        for (Type* n : t->needs)
            if (n->local) Hoist(n, hoisted, depth + 1);
        t->state = 2;
        hoisted->push_back(t);
    }

    // A record, union or enum `n` that `t` (a record, union or alias of the library block) uses
    // by value before n's place: defined at that use (a field's type, the alias's target) when n
    // has no attributes to write and what n needs comes before t, or can be defined so in turn.
    // widl numbers a type defined so right after the type using it, as MIDL did for the unnamed
    // types it gave names like __MIDL_itf_....
    bool Nest(Type* t, Type* n, int depth) {
        if (depth > 16 || n->sameAs || n->nestIn || !n->write || !t->write) return false;
        if (t->kind != TKIND_RECORD && t->kind != TKIND_UNION && t->kind != TKIND_ALIAS) return false;
        if (n->kind != TKIND_RECORD && n->kind != TKIND_UNION && n->kind != TKIND_ENUM) return false;
        ITypeInfo* ti = n->write.Get();
        TypeAttrPtr a;
        if (FAILED(ti->GetTypeAttr(a.Put(ti))) || !a) return false;
        // Nothing TypeAttrs would write, as a definition at its use takes no attributes.
        Attrs at;
        const std::size_t noted = notes.size();
        TypeAttrs(n, *a.Get(), &at, ti);
        const bool plain = at.Empty() && notes.size() == noted;
        notes.resize(noted);
        if (!plain || !UsesDirectly(t, n)) return false;
        Scan(n);
        n->state = 1;
        bool ok = true;
        for (Type* m : n->needs)
            if (m->local && m->state == 0 && !Nest(n, m, depth + 1)) ok = false;
            else if (m->local && m->state == 1) ok = false;
        if (!ok) {
            for (Type* m : n->nested) {
                m->nestIn = nullptr;
                m->state = 0;
            }
            n->nested.clear();
            n->state = 0;
            return false;
        }
        n->state = 2;
        n->nestIn = t;
        t->nested.push_back(n);
        return true;
    }

    // Whether `n` is the type of one of t's fields, or t's alias target, as it is.
    bool UsesDirectly(Type* t, Type* n) {
        ITypeInfo* ti = t->write.Get();
        TypeAttrPtr a;
        if (FAILED(ti->GetTypeAttr(a.Put(ti))) || !a) return false;
        auto is = [&](const TYPEDESC& td) {
            return td.vt == VT_USERDEFINED && TypeOf(ti, td.hreftype) == n;
        };
        if (a->typekind == TKIND_ALIAS) return is(a->tdescAlias);
        for (UINT i = 0; i < a->cVars; ++i) {
            VarDescPtr vd;
            if (SUCCEEDED(ti->GetVarDesc(i, vd.Put(ti))) && vd && is(vd->elemdescVar.tdesc)) return true;
        }
        return false;
    }

    // Places `t` in the block after what it needs there.
    void Early(Type* t, std::vector<Type*>* order, int depth) {
        if (t->nestIn) return;
        if (t->state != 0 || depth > 256) return;
        t->state = 1;
        Scan(t);
        for (Type* n : t->needs)
            if (n->local) Early(n, order, depth + 1);
        t->state = 2;
        order->push_back(t);
    }

    void WriteLibrary() {
        ComPtr<ITypeLib2> l2;
        lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(l2.Put()));
        LibAttrPtr la;
        BStr libName, libDoc, helpFile;
        DWORD helpContext = 0, helpStringContext = 0;
        lib->GetLibAttr(la.Put(lib.Get()));
        lib->GetDocumentation(-1, libName.Put(), libDoc.Put(), &helpContext, helpFile.Put());
        if (l2) l2->GetDocumentation2(-1, 0, nullptr, &helpStringContext, nullptr);

        // Local types in the library's order. Types needed (by value, as a base, through a typedef)
        // before their place are defined before the library block, with what they need; the
        // library block names interfaces and classes among them at their place.
        std::vector<Type*> hoisted, order;
        for (auto& t : locals) {
            if (!t->write || t->sameAs) continue;
            Scan(t.get());
            t->state = 2;
            for (Type* n : t->needs)
                if (n->local && n->state == 0 && n != t.get() && !Nest(t.get(), n, 0)) Hoist(n, &hoisted, 0);
        }
        for (auto& t : locals) t->state = 0;
        for (Type* t : hoisted) t->state = 2;
        std::vector<Type*> hoistedCopy = hoisted;
        hoisted.clear();
        for (Type* t : hoistedCopy) t->state = 0;
        for (Type* t : hoistedCopy) Hoist(t, &hoisted, 0);
        std::set<Type*> hoistedSet(hoisted.begin(), hoisted.end());
        for (auto& t : locals) t->state = 0;
        for (Type* t : hoisted) t->state = 2;
        for (auto& t : locals)
            if (t->write && !t->sameAs && !t->nestIn && !hoistedSet.count(t.get())) Early(t.get(), &order, 0);
        order.insert(order.begin(), hoisted.begin(), hoisted.end());

        // Room for the text at once (about 110 bytes a member in large libraries), so that it is
        // not copied as it grows; pages not written to cost nothing.
        w->Out.reserve(std::min<std::size_t>(members * 160 + locals.size() * 256 + 4096, std::size_t(1) << 30));

        // Imported types: definitions for what is needed by value, declarations for the rest.
        std::vector<Type*> importedOrder;
        std::set<Type*> importedSeen;
        std::function<void(Type*, bool, int)> pull = [&](Type* t, bool full, int depth) {
            if (t->local || depth > 256) return;
            if (full && !t->full) {
                t->full = true;
                Scan(t);
                for (Type* n : t->needs) pull(n, true, depth + 1);
                for (Type* n : t->names) pull(n, false, depth + 1);
                if (importedSeen.insert(t).second) importedOrder.push_back(t);
            } else if (!full && importedSeen.insert(t).second) {
                importedOrder.push_back(t);
            }
        };
        for (Type* t : order) {
            for (Type* n : t->needs) pull(n, true, 0);
            for (Type* n : t->names) pull(n, false, 0);
        }
        // Definitions come after what they need among the imported types, too.
        std::vector<Type*> imported;
        for (Type* t : importedOrder) t->state = 0;
        std::function<void(Type*, int)> placeImported = [&](Type* t, int depth) {
            if (t->state != 0 || depth > 256) return;
            t->state = 1;
            if (t->full)
                for (Type* n : t->needs)
                    if (!n->local) placeImported(n, depth + 1);
            t->state = 2;
            imported.push_back(t);
        };
        for (Type* t : importedOrder) placeImported(t, 0);

        // The imported libraries whose types are used, by GUID.
        std::set<std::string> usedLibs;
        for (Type* t : imported) {
            LibAttrPtr ia;
            if (t->lib && SUCCEEDED(t->lib->GetLibAttr(ia.Put(t->lib.Get()))) && ia) usedLibs.insert(GuidText(ia->guid));
        }
        std::set<std::string> defined;
        for (Type* t : order) defined.insert(Name(t));
        for (auto& t : locals)
            if (t->nestIn) defined.insert(Name(t.get()));
        for (Type* t : imported) defined.insert(Name(t));

        Line("// Generated by quibrel-tlb from the library " + CommentText(libName.Utf8()));
        Line("");
        Prelude(defined, false);
        if (!imported.empty()) {
            Line("// Types of imported libraries this library uses");
            // IUnknown and IDispatch (as VT_UNKNOWN and VT_DISPATCH) name the library's own.
            for (Type* t : {localUnknown, localDispatch})
                if (t) Declare(t);
            for (Type* t : imported)
                if (!t->full) Declare(t);
            Line("");
            for (Type* t : imported)
                if (t->full) {
                    for (Type* n : t->names)
                        if (!n->local && !n->full) Declare(n);
                    WriteType(t);
                }
        }
        if ((usesDispatch && !defined.count("IDispatch")) || (usesUnknown && !defined.count("IUnknown")))
            Prelude(defined, true);
        // Declarations (outside the library block, where they add nothing to it) for types named
        // before their definition.
        std::set<Type*> placed;
        std::vector<Type*> early;
        for (Type* t : order) {
            for (Type* n : t->names)
                if (n->local && !placed.count(n) && n != t && std::find(early.begin(), early.end(), n) == early.end())
                    early.push_back(n);
            placed.insert(t);
        }
        if (!early.empty()) {
            Line("// Types named before their definition");
            for (Type* t : early) Declare(t);
            Line("");
        }
        if (!arrayPointees.empty()) {
            Line("// Pointers that arrays hold (widl reads no pointer in SAFEARRAY(...))");
            for (const auto& [pointee, t] : arrayPointees) {
                if (t) Declare(t);
                else Line("interface " + pointee + ";");
                Line("typedef " + pointee + "* _quibrel_ptr_" + pointee + ";");
            }
            Line("");
        }
        if (!hoisted.empty()) {
            Line("// Types of the library needed before their place in it");
            Line("");
            for (Type* t : hoisted) WriteType(t);
        }

        Attrs at;
        if (la) {
            at.Add("uuid(" + GuidText(la->guid) + ")");
            at.Add("version(" + std::to_string(la->wMajorVerNum) + "." + std::to_string(la->wMinorVerNum) + ")");
            if (la->lcid) at.Add("lcid(" + Hex(la->lcid, 4) + ")");
        }
        if (!libDoc.IsNull()) at.Add("helpstring(" + StringLiteral(libDoc.Utf8()) + ")");
        if (!helpFile.IsNull()) at.Add("helpfile(" + StringLiteral(helpFile.Utf8()) + ")");
        if (helpContext) at.Add("helpcontext(" + Hex(helpContext) + ")");
        if (helpStringContext) at.Add("helpstringcontext(" + Hex(helpStringContext) + ")");
        if (la) {
            if (la->wLibFlags & LIBFLAG_FRESTRICTED) at.Add("restricted");
            if (la->wLibFlags & LIBFLAG_FCONTROL) at.Add("control");
            if (la->wLibFlags & LIBFLAG_FHIDDEN) at.Add("hidden");
        }
        if (l2) {
            CUSTDATA c{};
            if (SUCCEEDED(l2->GetAllCustData(&c))) AddCustom(&at, c, &notes, true);
            ClearCustData(&c);
        }
        FlushNotes();
        AttrsLine(at);
        const std::string rawName = libName.Utf8();
        const std::string name = idents.Name("library", rawName.empty() ? "_library" : rawName);
        if (idents.Renamed("library"))
            notes.push_back("library \"" + rawName + "\" is not an IDL identifier: written as " + name);
        FlushNotes();
        Line("library " + name);
        Line("{");
        indent += "    ";
        outsideBlock = false;
        ComPtr<ITypeLibImports> imports;
        if (SUCCEEDED(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put()))) && imports) {
            UINT n = imports->GetImportCount();
            for (UINT i = 0; i < n; ++i) {
                BStr recorded, path;
                GUID guid{};
                HRESULT hr = imports->GetImport(i, &guid, nullptr, nullptr, nullptr, recorded.Put(), path.Put());
                if (FAILED(hr)) {
                    Comment("imported library " + std::to_string(i) + " cannot be read");
                } else if (hr == S_OK && !usedLibs.count(GuidText(guid)) &&
                           (GuidText(guid) != kStdoleGuid || recorded.Utf8() == "stdole2.tlb")) {
                    // An import nothing here uses: compilers record imports as they are used (widl
                    // adds stdole2.tlb for a dispatch interface by itself), and importing it would
                    // turn this library's own types of the same names into references to it.
                    Comment("importlib(" + StringLiteral(recorded.Utf8()) + "): not written, no type of it is used");
                } else {
                    Line("importlib(" + StringLiteral(recorded.Utf8()) + ");");
                }
            }
            if (n) Line("");
        }
        // Every local type is named here in the library's order: compilers number the types in
        // the order the library block first uses them.
        std::size_t next = 0;
        std::vector<Type*> inBlock(order.begin() + std::ptrdiff_t(hoisted.size()), order.end());
        std::set<Type*> written;
        for (auto& t : locals) {
            if (t->sameAs || t->nestIn) {
                continue;  // a repeated alias, written once; a type defined where it is used
            } else if (!t->write) {
                WriteType(t.get());
            } else if (hoistedSet.count(t.get())) {
                Mention(t.get());
            } else if (!written.count(t.get())) {
                // What comes early for this type, then the type.
                while (next < inBlock.size()) {
                    Type* x = inBlock[next++];
                    written.insert(x);
                    WriteType(x);
                    if (x == t.get()) break;
                }
            }
        }
        indent.clear();
        outsideBlock = true;
        Line("};");
    }

    // A use, in the library block, of a type defined before it.
    void Mention(Type* t) {
        switch (t->kind) {
        case TKIND_INTERFACE: Line("interface " + Name(t) + ";"); break;
        case TKIND_DISPATCH: Line("dispinterface " + Name(t) + ";"); break;
        case TKIND_COCLASS: Line("coclass " + Name(t) + ";"); break;
        default:
            Comment(KindWord(t) + " " + Name(t) + " is defined before the library block");
            break;
        }
        Line("");
    }

    void WriteTypes(const std::vector<int>& indexes) {
        // Each type is shown as if the library's other types were declared before it.
        for (auto& t : locals) t->written = true;
        LibAttrPtr la;
        BStr libName;
        lib->GetDocumentation(-1, libName.Put(), nullptr, nullptr, nullptr);
        for (int i : indexes) {
            if (i < 0 || std::size_t(i) >= locals.size()) continue;
            Type* t = locals[std::size_t(i)].get();
            Scan(t);
            std::vector<std::string> needs;
            std::set<Type*> seen;
            for (Type* n : t->needs)
                if (seen.insert(n).second) needs.push_back(KindWord(n) + " " + Name(n) + (n->local ? "" : " (imported)"));
            for (Type* n : t->names)
                if (seen.insert(n).second) needs.push_back(KindWord(n) + " " + Name(n) + (n->local ? "" : " (imported)"));
            if (!needs.empty()) {
                std::string s = "needs: ";
                for (std::size_t k = 0; k < needs.size(); ++k) s += (k ? ", " : "") + needs[k];
                Comment(s);
            }
            WriteType(t);
        }
    }

    static std::string KindWord(Type* t) {
        switch (t->kind) {
        case TKIND_ENUM: return "enum";
        case TKIND_RECORD: return "struct";
        case TKIND_UNION: return "union";
        case TKIND_ALIAS: return "typedef";
        case TKIND_MODULE: return "module";
        case TKIND_INTERFACE: return "interface";
        case TKIND_DISPATCH: return "dispinterface";
        case TKIND_COCLASS: return "coclass";
        default: return "type";
        }
    }
};

TIdlWriter::TIdlWriter(ITypeLib* Library) : D(new Impl(this, Library)) {}
TIdlWriter::~TIdlWriter() { delete D; }

void TIdlWriter::WriteLibrary() { D->WriteLibrary(); }
void TIdlWriter::WriteTypes(const std::vector<int>& TypeIndexes) { D->WriteTypes(TypeIndexes); }

int TIdlWriter::FindType(const std::string& Name) const {
    auto fold = [](std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        return s;
    };
    for (const auto& t : D->locals)
        if (t->name == Name) return t->index;
    const std::string f = fold(Name);
    for (const auto& t : D->locals)
        if (fold(t->name) == f) return t->index;
    return -1;
}
