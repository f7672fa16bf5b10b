// The comparison of two type libraries. Each library is first read into plain records through
// the type-library service (names, GUIDs, kinds, member signatures as text, layouts, values,
// documentation, custom data), then the records are matched: types by GUID where both have a
// non-zero one, else by name; members by name and invoke kind. Matching goes through hash
// maps, so the work grows with the libraries' size; a library far larger than any real one is
// compared up to a budget of members and the rest reported as not compared.
#include "writers/diff.h"

#include "platform/oleauto/comptr.h"
#include "text/escape.h"
#include "text/typetext.h"

// RAPIDJSON_SSE2 stays off: the 1.1.0 writer's SSE2 string scan lets control characters
// through unescaped.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace {

// Type descriptions nested deeper than this are cut off.
constexpr int kMaxNesting = 16;
// Functions, variables and implemented types read from one library before the rest of its
// types are reported as not compared (far above any real library).
constexpr long kMemberBudget = 500'000;

constexpr USHORT kParamShape = PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FLCID | PARAMFLAG_FRETVAL | PARAMFLAG_FOPT;

// Custom data the compilers stamp into every library (time of compilation, compiler version,
// command line): never a change.
bool IsCompilerStamp(const GUID& g) {
    static const GUID stamps[3] = {
        {0xDE77BA63, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}},
        {0xDE77BA64, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}},
        {0xDE77BA65, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}}};
    for (const GUID& s : stamps)
        if (g == s) return true;
    return false;
}

bool IsNullGuid(const GUID& g) { return g == GUID{}; }

// Names match with letter case ignored, as in the library's name table.
std::string Fold(std::string_view s) {
    std::string out(s);
    bool ascii = true;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
        else if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    if (ascii) return out;
    return QString::fromUtf8(s.data(), qsizetype(s.size())).toCaseFolded().toStdString();
}

std::string HexStatus(HRESULT hr) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", unsigned(hr));
    return b;
}

struct FlagName {
    unsigned bit;
    const char* name;
};
constexpr FlagName kLibFlags[] = {{0x1, "restricted"}, {0x2, "control"}, {0x4, "hidden"}, {0x8, "hasdiskimage"}};
constexpr FlagName kTypeFlags[] = {
    {0x1, "appobject"},     {0x2, "cancreate"},      {0x4, "licensed"},       {0x8, "predeclid"},
    {0x10, "hidden"},       {0x20, "control"},       {0x40, "dual"},          {0x80, "nonextensible"},
    {0x100, "oleautomation"}, {0x200, "restricted"}, {0x400, "aggregatable"}, {0x800, "replaceable"},
    {0x1000, "dispatchable"}, {0x2000, "reversebind"}, {0x4000, "proxy"}};
constexpr FlagName kFuncFlags[] = {
    {0x1, "restricted"},   {0x2, "source"},        {0x4, "bindable"},      {0x8, "requestedit"},
    {0x10, "displaybind"}, {0x20, "defaultbind"},  {0x40, "hidden"},       {0x80, "usesgetlasterror"},
    {0x100, "defaultcollelem"}, {0x200, "uidefault"}, {0x400, "nonbrowsable"}, {0x800, "replaceable"},
    {0x1000, "immediatebind"}};
constexpr FlagName kVarFlags[] = {
    {0x1, "readonly"},     {0x2, "source"},        {0x4, "bindable"},      {0x8, "requestedit"},
    {0x10, "displaybind"}, {0x20, "defaultbind"},  {0x40, "hidden"},       {0x80, "restricted"},
    {0x100, "defaultcollelem"}, {0x200, "uidefault"}, {0x400, "nonbrowsable"}, {0x800, "replaceable"},
    {0x1000, "immediatebind"}};
constexpr FlagName kImplFlags[] = {{0x1, "default"}, {0x2, "source"}, {0x4, "restricted"}, {0x8, "defaultvtable"}};
constexpr FlagName kParamFlags[] = {{0x1, "in"}, {0x2, "out"}, {0x4, "lcid"}, {0x8, "retval"}, {0x10, "optional"}};

template <std::size_t N>
std::string FlagText(unsigned value, const FlagName (&names)[N]) {
    std::string out;
    for (const FlagName& f : names)
        if (value & f.bit) {
            if (!out.empty()) out += ", ";
            out += f.name;
            value &= ~f.bit;
        }
    if (value) {
        char b[16];
        std::snprintf(b, sizeof b, "0x%X", value);
        if (!out.empty()) out += ", ";
        out += b;
    }
    return out.empty() ? "none" : out;
}

std::string CallConvText(CALLCONV cc) {
    static const char* const names[] = {nullptr, "cdecl", "pascal", "macpascal", "stdcall", "fpfastcall",
                                        "syscall", "mpwcdecl", "mpwpascal"};
    if (cc == CC_FASTCALL) return "fastcall";
    if (int(cc) > 0 && int(cc) < 9) return names[int(cc)];
    return "callconv " + std::to_string(int(cc));
}

std::string InvokeKindText(INVOKEKIND k) {
    switch (k) {
    case INVOKE_FUNC: return "method";
    case INVOKE_PROPERTYGET: return "property get";
    case INVOKE_PROPERTYPUT: return "property put";
    case INVOKE_PROPERTYPUTREF: return "property putref";
    }
    return "invkind " + std::to_string(int(k));
}

const char* InvokeSuffix(INVOKEKIND k) {
    switch (k) {
    case INVOKE_PROPERTYGET: return "(get)";
    case INVOKE_PROPERTYPUT: return "(put)";
    case INVOKE_PROPERTYPUTREF: return "(putref)";
    default: return "";
    }
}

std::string DispidText(MEMBERID id) {
    if (id > -0x10000 && id < 0x10000) return "DISPID " + std::to_string(id);
    char b[24];
    std::snprintf(b, sizeof b, "DISPID 0x%08X", unsigned(id));
    return b;
}

std::string DoubleText(double d, int digits) {
    char b[40];
    std::snprintf(b, sizeof b, "%.*g", digits, d);
    return b;
}

// A value as it would be written in IDL: numbers plain, text quoted.
std::string ValueText(const VARIANT& v) {
    switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I1: return std::to_string(int(v.cVal));
    case VT_UI1: return std::to_string(unsigned(v.bVal));
    case VT_I2: return std::to_string(v.iVal);
    case VT_UI2: return std::to_string(v.uiVal);
    case VT_I4: return std::to_string(v.lVal);
    case VT_UI4: return std::to_string(v.ulVal);
    case VT_INT: return std::to_string(v.intVal);
    case VT_UINT: return std::to_string(v.uintVal);
    case VT_ERROR: return std::to_string(v.scode);
    case VT_BOOL: return v.boolVal ? "TRUE" : "FALSE";
    case VT_I8: return std::to_string(v.llVal);
    case VT_UI8: return std::to_string(v.ullVal);
    case VT_R4: return DoubleText(double(v.fltVal), 9);
    case VT_R8: return DoubleText(v.dblVal, 17);
    case VT_DATE: return DoubleText(v.date, 17);
    case VT_CY: return DoubleText(double(v.cyVal.int64) / 10000.0, 17);
    case VT_BSTR: return "\"" + BstrToUtf8(v.bstrVal) + "\"";
    default: return VtName(v.vt);
    }
}

// A value with its variant type, for comparing.
std::string ValueKey(const VARIANT& v) { return VtName(v.vt) + ":" + ValueText(v); }

// ---- the records a library is read into ---------------------------------------------------

struct Param {
    std::string type;
    USHORT flags = 0;
    std::optional<std::string> defaultText, defaultKey;
    std::string custom;
};

struct Func {
    std::string name, key;
    MEMBERID memid = 0;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    SHORT oVft = 0, cParamsOpt = 0;
    WORD flags = 0;
    std::string returns;
    std::vector<Param> params;
    std::string doc, custom, entry;
};

struct Var {
    std::string name, key;
    MEMBERID memid = 0;
    VARKIND varkind = VAR_PERINSTANCE;
    WORD flags = 0;
    std::string type;
    std::optional<std::string> valueText, valueKey;
    ULONG oInst = 0;
    std::string doc, custom;
};

struct Impl {
    std::string name, key;
    int flags = 0;
    HRESULT unresolved = S_OK;  // the referenced type (in a library not found) could not be reached
};

struct Type {
    ComPtr<ITypeInfo> ti;  // for parameter names, asked for only when a change is shown
    std::string name, key;
    GUID guid{};
    TYPEKIND kind = TKIND_ENUM;
    WORD flags = 0, major = 0, minor = 0, align = 0;
    ULONG size = 0;
    std::string alias, doc, custom;
    std::vector<Impl> impls;
    std::vector<Func> funcs;
    std::vector<Var> vars;
    bool complete = true;        // every member and implemented type was read
    std::unique_ptr<Type> side;  // the interface side of a dual interface
    bool read = false;
};

struct Lib {
    std::string name, doc, custom;
    GUID guid{};
    WORD major = 0, minor = 0, flags = 0;
    int pointerSize = 4;
    SYSKIND syskind = SYS_WIN32;
    bool attrRead = false;
    std::vector<Type> types;
    std::unordered_set<std::string> unreadable;  // folded names of types that could not be read
};

std::string DocText(const BStr& doc, DWORD help) {
    std::string out = "\"" + doc.Utf8() + "\"";
    if (help) out += " helpcontext " + std::to_string(help);
    return out;
}

// Reads one library into records.
class Reader {
public:
    Reader(ITypeLib* lib, bool inNew, std::vector<TDiffProblem>& problems) : lib_(lib), inNew_(inNew), problems_(problems) {}

    Lib Read() {
        Lib l;
        BStr name, doc, helpFile;
        DWORD help = 0;
        if (FAILED(lib_->GetDocumentation(-1, name.Put(), doc.Put(), &help, helpFile.Put()))) {
            name.Reset();
            doc.Reset();
            helpFile.Reset();
            help = 0;
        }
        l.name = name.Utf8();
        l.doc = DocText(doc, help);
        if (!helpFile.IsNull()) l.doc += " helpfile \"" + helpFile.Utf8() + "\"";
        LibAttrPtr attr;
        HRESULT hr = lib_->GetLibAttr(attr.Put(lib_));
        if (SUCCEEDED(hr) && attr) {
            l.attrRead = true;
            l.guid = attr->guid;
            l.major = attr->wMajorVerNum;
            l.minor = attr->wMinorVerNum;
            l.flags = attr->wLibFlags;
            l.syskind = attr->syskind;
            l.pointerSize = attr->syskind == SYS_WIN64 ? 8 : 4;
        } else {
            Problem("library attributes", FAILED(hr) ? hr : E_POINTER);
        }
        ComPtr<ITypeLib2> lib2;
        lib_->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2.Put()));
        if (lib2) l.custom = Custom([&](CUSTDATA* d) { return lib2->GetAllCustData(d); }, "library");

        const UINT count = lib_->GetTypeInfoCount();
        l.types.resize(count);
        for (UINT i = 0; i < count; ++i) {
            if (members_ > kMemberBudget) {
                // Too much to compare: the rest is named, not read.
                Problem("types " + std::to_string(i) + " to " + std::to_string(count - 1), TYPE_E_SIZETOOBIG);
                for (UINT k = i; k < count; ++k) Unreadable(l, k);
                break;
            }
            Type& t = l.types[i];
            ComPtr<ITypeInfo> ti;
            hr = lib_->GetTypeInfo(i, ti.Put());
            if (FAILED(hr) || !ti) {
                Problem("type " + std::to_string(i), FAILED(hr) ? hr : E_POINTER);
                Unreadable(l, i);
                continue;
            }
            if (!ReadType(ti.Get(), t, "type " + std::to_string(i), true)) Unreadable(l, i);
        }
        return l;
    }

private:
    void Problem(std::string item, HRESULT hr) { problems_.push_back({inNew_, std::move(item), hr}); }

    void Unreadable(Lib& l, UINT index) {
        BStr name;
        if (SUCCEEDED(lib_->GetDocumentation(INT(index), name.Put(), nullptr, nullptr, nullptr)) && !name.IsNull())
            l.unreadable.insert(Fold(name.Utf8()));
    }

    // The custom data items as "{GUID}=value" in GUID order, compiler stamps left out.
    template <class Call>
    std::string Custom(Call call, const std::string& item) {
        CUSTDATA data{0, nullptr};
        const HRESULT hr = call(&data);
        if (FAILED(hr)) {
            if (hr != E_NOINTERFACE && hr != E_NOTIMPL) Problem(item + " custom data", hr);
            return {};
        }
        std::vector<std::string> items;
        for (DWORD i = 0; data.prgCustData && i < data.cCustData; ++i) {
            const CUSTDATAITEM& c = data.prgCustData[i];
            if (!IsCompilerStamp(c.guid)) items.push_back(GuidToString(c.guid) + "=" + ValueText(c.varValue));
        }
        ClearCustData(&data);
        std::sort(items.begin(), items.end());
        std::string out;
        for (const std::string& s : items) out += (out.empty() ? "" : ", ") + s;
        return out;
    }

    std::string RefName(ITypeInfo* ti, HREFTYPE href) {
        auto found = refNames_.find(href);
        if (found != refNames_.end()) return found->second;
        std::string name = "?";
        ComPtr<ITypeInfo> ref;
        BStr b;
        if (SUCCEEDED(ti->GetRefTypeInfo(href, ref.Put())) && ref &&
            SUCCEEDED(ref->GetDocumentation(MEMBERID_NIL, b.Put(), nullptr, nullptr, nullptr)) && !b.IsNull())
            name = b.Utf8();
        refNames_.emplace(href, name);
        return name;
    }

    // A type as IDL writes it: "long", "BSTR*", "SAFEARRAY(VARIANT)", "IFoo*", "short[4]".
    std::string TypeText(ITypeInfo* ti, const TYPEDESC& td, int depth) {
        if (depth > kMaxNesting) return "...";
        static const char* const base[32] = {
            "VT_EMPTY", "VT_NULL", "short", "long", "float", "double", "CURRENCY", "DATE", "BSTR",
            "IDispatch*", "SCODE", "VARIANT_BOOL", "VARIANT", "IUnknown*", "DECIMAL", "VT_15", "char",
            "unsigned char", "unsigned short", "unsigned long", "__int64", "unsigned __int64", "int",
            "unsigned int", "void", "HRESULT", "", "", "", "", "LPSTR", "LPWSTR"};
        switch (td.vt) {
        case VT_PTR: return (td.lptdesc ? TypeText(ti, *td.lptdesc, depth + 1) : std::string("?")) + "*";
        case VT_SAFEARRAY: return "SAFEARRAY(" + (td.lptdesc ? TypeText(ti, *td.lptdesc, depth + 1) : std::string("?")) + ")";
        case VT_CARRAY: {
            if (!td.lpadesc) return "?[]";
            std::string out = TypeText(ti, td.lpadesc->tdescElem, depth + 1);
            for (USHORT i = 0; i < td.lpadesc->cDims; ++i) {
                const SAFEARRAYBOUND& b = td.lpadesc->rgbounds[i];
                out += "[";
                if (b.lLbound) out += std::to_string(b.lLbound) + "..";
                out += std::to_string(b.cElements) + "]";
            }
            return out;
        }
        case VT_USERDEFINED: return RefName(ti, td.hreftype);
        case VT_INT_PTR: return "INT_PTR";
        case VT_UINT_PTR: return "UINT_PTR";
        default: return td.vt < 32 ? std::string(base[td.vt]) : VtName(td.vt);
        }
    }

    // Reads a type; false when its attributes cannot be read.
    bool ReadType(ITypeInfo* ti, Type& t, const std::string& label, bool withSide) {
        refNames_.clear();
        TypeAttrPtr attr;
        HRESULT hr = ti->GetTypeAttr(attr.Put(ti));
        if (FAILED(hr) || !attr) {
            Problem(label, FAILED(hr) ? hr : E_POINTER);
            return false;
        }
        t.read = true;
        t.ti = ComPtr<ITypeInfo>(ti);
        BStr name, doc;
        DWORD help = 0;
        if (FAILED(ti->GetDocumentation(MEMBERID_NIL, name.Put(), doc.Put(), &help, nullptr))) {
            name.Reset();
            doc.Reset();
            help = 0;
        }
        t.name = name.Utf8();
        t.key = Fold(t.name);
        t.doc = DocText(doc, help);
        t.guid = attr->guid;
        t.kind = attr->typekind;
        t.flags = attr->wTypeFlags;
        t.major = attr->wMajorVerNum;
        t.minor = attr->wMinorVerNum;
        t.size = attr->cbSizeInstance;
        t.align = attr->cbAlignment;
        if (t.kind == TKIND_ALIAS) t.alias = TypeText(ti, attr->tdescAlias, 1);
        const std::string where = label + " (" + t.name + ")";
        ComPtr<ITypeInfo2> ti2;
        ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(ti2.Put()));
        if (ti2) t.custom = Custom([&](CUSTDATA* d) { return ti2->GetAllCustData(d); }, where);
        members_ += long(attr->cFuncs) + attr->cVars + attr->cImplTypes;

        // A dual interface is compared by its interface side, which has the same members and
        // the interface's own base.
        const bool dualView = withSide && t.kind == TKIND_DISPATCH && (t.flags & TYPEFLAG_FDUAL);
        for (UINT j = 0; j < (dualView ? 0u : UINT(attr->cImplTypes)); ++j) {
            Impl impl;
            HREFTYPE href = 0;
            ComPtr<ITypeInfo> ref;
            hr = ti->GetImplTypeFlags(j, &impl.flags);
            if (SUCCEEDED(hr)) hr = ti->GetRefTypeOfImplType(j, &href);
            if (FAILED(hr)) {
                Problem(where + " implemented type " + std::to_string(j), hr);
                t.complete = false;
                continue;
            }
            hr = ti->GetRefTypeInfo(href, ref.Put());
            if (SUCCEEDED(hr) && !ref) hr = E_POINTER;
            if (FAILED(hr)) {
                // Most often an imported library that is not at hand: what the reference
                // names cannot be told, which the comparison says only where it matters.
                impl.name = "?";
                impl.key = "?";
                impl.unresolved = hr;
                t.impls.push_back(std::move(impl));
                continue;
            }
            BStr refName;
            ref->GetDocumentation(MEMBERID_NIL, refName.Put(), nullptr, nullptr, nullptr);
            impl.name = refName.IsNull() ? "?" : refName.Utf8();
            TypeAttrPtr refAttr;
            if (SUCCEEDED(ref->GetTypeAttr(refAttr.Put(ref.Get()))) && refAttr && !IsNullGuid(refAttr->guid))
                impl.key = GuidToString(refAttr->guid);
            else
                impl.key = Fold(impl.name);
            t.impls.push_back(std::move(impl));
        }

        const UINT cFuncs = dualView ? 0 : attr->cFuncs;
        t.funcs.reserve(cFuncs);
        for (UINT j = 0; j < cFuncs; ++j) {
            FuncDescPtr fd;
            hr = ti->GetFuncDesc(j, fd.Put(ti));
            if (FAILED(hr) || !fd) {
                Problem(where + " function " + std::to_string(j), FAILED(hr) ? hr : E_POINTER);
                t.complete = false;
                continue;
            }
            Func f;
            BStr fname, fdoc;
            DWORD fhelp = 0;
            if (FAILED(ti->GetDocumentation(fd->memid, fname.Put(), fdoc.Put(), &fhelp, nullptr))) {
                Problem(where + " function " + std::to_string(j) + " name", TYPE_E_ELEMENTNOTFOUND);
                t.complete = false;
                continue;
            }
            f.name = fname.Utf8();
            f.key = Fold(f.name);
            f.doc = DocText(fdoc, fhelp);
            f.memid = fd->memid;
            f.invkind = fd->invkind;
            f.callconv = fd->callconv;
            f.oVft = fd->oVft;
            f.cParamsOpt = fd->cParamsOpt;
            f.flags = fd->wFuncFlags;
            f.returns = TypeText(ti, fd->elemdescFunc.tdesc, 1);
            const int cParams = fd->lprgelemdescParam ? std::max<int>(fd->cParams, 0) : 0;
            f.params.resize(std::size_t(cParams));
            for (int k = 0; k < cParams; ++k) {
                const ELEMDESC& e = fd->lprgelemdescParam[k];
                Param& p = f.params[std::size_t(k)];
                p.type = TypeText(ti, e.tdesc, 1);
                p.flags = e.paramdesc.wParamFlags;
                if ((p.flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
                    p.defaultText = ValueText(e.paramdesc.pparamdescex->varDefaultValue);
                    p.defaultKey = ValueKey(e.paramdesc.pparamdescex->varDefaultValue);
                }
                if (ti2 && (p.flags & PARAMFLAG_FHASCUSTDATA))
                    p.custom = Custom([&](CUSTDATA* d) { return ti2->GetAllParamCustData(j, UINT(k), d); }, where);
            }
            if (ti2) f.custom = Custom([&](CUSTDATA* d) { return ti2->GetAllFuncCustData(j, d); }, where);
            if (t.kind == TKIND_MODULE) {
                BStr dll, entry;
                WORD ordinal = 0;
                if (SUCCEEDED(ti->GetDllEntry(fd->memid, fd->invkind, dll.Put(), entry.Put(), &ordinal)))
                    f.entry = "\"" + dll.Utf8() + "\" " + (entry.IsNull() ? "#" + std::to_string(ordinal) : entry.Utf8());
            }
            t.funcs.push_back(std::move(f));
        }

        t.vars.reserve(attr->cVars);
        for (UINT j = 0; j < attr->cVars; ++j) {
            VarDescPtr vd;
            hr = ti->GetVarDesc(j, vd.Put(ti));
            if (FAILED(hr) || !vd) {
                Problem(where + " variable " + std::to_string(j), FAILED(hr) ? hr : E_POINTER);
                t.complete = false;
                continue;
            }
            Var v;
            BStr vname, vdoc;
            DWORD vhelp = 0;
            if (FAILED(ti->GetDocumentation(vd->memid, vname.Put(), vdoc.Put(), &vhelp, nullptr))) {
                Problem(where + " variable " + std::to_string(j) + " name", TYPE_E_ELEMENTNOTFOUND);
                t.complete = false;
                continue;
            }
            v.name = vname.Utf8();
            v.key = Fold(v.name);
            v.doc = DocText(vdoc, vhelp);
            v.memid = vd->memid;
            v.varkind = vd->varkind;
            v.flags = vd->wVarFlags;
            v.type = TypeText(ti, vd->elemdescVar.tdesc, 1);
            if (vd->varkind == VAR_CONST) {
                if (vd->lpvarValue) {
                    v.valueText = ValueText(*vd->lpvarValue);
                    v.valueKey = ValueKey(*vd->lpvarValue);
                }
            } else {
                v.oInst = vd->oInst;
            }
            if (ti2) v.custom = Custom([&](CUSTDATA* d) { return ti2->GetAllVarCustData(j, d); }, where);
            t.vars.push_back(std::move(v));
        }

        if (dualView) {
            HREFTYPE href = 0;
            ComPtr<ITypeInfo> side;
            hr = ti->GetRefTypeOfImplType(UINT(-1), &href);
            if (SUCCEEDED(hr)) hr = ti->GetRefTypeInfo(href, side.Put());
            if (SUCCEEDED(hr) && !side) hr = E_POINTER;
            auto s = std::make_unique<Type>();
            if (FAILED(hr)) Problem(where + " interface side", hr);
            else if (ReadType(side.Get(), *s, label + " interface side", false)) t.side = std::move(s);
            if (!t.side) t.complete = false;
        }
        return true;
    }

    ITypeLib* lib_;
    bool inNew_;
    std::vector<TDiffProblem>& problems_;
    long members_ = 0;
    std::unordered_map<HREFTYPE, std::string> refNames_;  // of the type being read
};

// ---- matching -----------------------------------------------------------------------------

// Items with the same key are paired in their order; Take gives the first unpaired one.
class KeyIndex {
public:
    void Add(const std::string& key, int index) { map_[key].items.push_back(index); }
    // The first item under key for which free(item) holds, or -1; items passed over because
    // they are taken are dropped for good, so every item is looked at once.
    template <class Free>
    int Take(const std::string& key, Free free) {
        auto found = map_.find(key);
        if (found == map_.end()) return -1;
        Slot& s = found->second;
        while (s.next < s.items.size()) {
            const int item = s.items[s.next++];
            if (free(item)) return item;
        }
        return -1;
    }

private:
    struct Slot {
        std::vector<int> items;
        std::size_t next = 0;
    };
    std::unordered_map<std::string, Slot> map_;
};

struct Pairing {
    std::vector<std::pair<int, int>> pairs;  // old index, new index
    std::vector<std::pair<int, int>> byName; // the same name with another invoke kind
    std::vector<int> removed, added;
};

// Members by name and invoke kind, then what is left by name alone.
template <class M, class KeyOf>
Pairing PairMembers(const std::vector<M>& a, const std::vector<M>& b, KeyOf keyOf, bool secondPass) {
    Pairing p;
    std::vector<char> takenA(a.size()), takenB(b.size());
    KeyIndex index;
    for (std::size_t i = 0; i < a.size(); ++i) index.Add(keyOf(a[i]), int(i));
    for (std::size_t j = 0; j < b.size(); ++j) {
        const int i = index.Take(keyOf(b[j]), [&](int k) { return !takenA[std::size_t(k)]; });
        if (i < 0) continue;
        takenA[std::size_t(i)] = takenB[j] = 1;
        p.pairs.emplace_back(i, int(j));
    }
    if (secondPass) {
        KeyIndex names;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!takenA[i]) names.Add(a[i].key, int(i));
        for (std::size_t j = 0; j < b.size(); ++j) {
            if (takenB[j]) continue;
            const int i = names.Take(b[j].key, [&](int k) { return !takenA[std::size_t(k)]; });
            if (i < 0) continue;
            takenA[std::size_t(i)] = takenB[j] = 1;
            p.byName.emplace_back(i, int(j));
        }
    }
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!takenA[i]) p.removed.push_back(int(i));
    for (std::size_t j = 0; j < b.size(); ++j)
        if (!takenB[j]) p.added.push_back(int(j));
    return p;
}

std::string FuncKey(const Func& f) { return f.key + '\x01' + std::to_string(int(f.invkind)); }
std::string VarKey(const Var& v) { return v.key; }

std::string KindText(const Type& t) {
    switch (t.kind) {
    case TKIND_ENUM: return "enum";
    case TKIND_RECORD: return "struct";
    case TKIND_MODULE: return "module";
    case TKIND_INTERFACE: return "interface";
    case TKIND_DISPATCH: return (t.flags & TYPEFLAG_FDUAL) ? "dual interface" : "dispinterface";
    case TKIND_COCLASS: return "coclass";
    case TKIND_ALIAS: return "typedef";
    case TKIND_UNION: return "union";
    default: return "kind " + std::to_string(int(t.kind));
    }
}

std::string ImplText(const Impl& i) {
    std::string flags = i.flags ? "[" + FlagText(unsigned(i.flags), kImplFlags) + "] " : "";
    return flags + i.name;
}

// ---- comparing ----------------------------------------------------------------------------

class Comparer {
public:
    Comparer(TDiffResult& r, const Lib& a, const Lib& b) : r_(r), a_(a), b_(b) {}

    void Run() {
        Library();
        Types();
        bool breaking = false;
        for (const TDiffChange& c : r_.Changes) breaking |= c.Level == TDiffLevel::Breaking;
        // The builds of one version for two platforms differ in layout, not in version.
        if (breaking && a_.attrRead && b_.attrRead && a_.major == b_.major && a_.minor == b_.minor &&
            a_.syskind == b_.syskind)
            Add(TDiffLevel::Breaking, "version-not-raised", {}, {}, Version(a_), {});
    }

private:
    using Text = std::optional<std::string>;

    static std::string Version(const Lib& l) { return std::to_string(l.major) + "." + std::to_string(l.minor); }

    void Add(TDiffLevel level, const char* rule, const std::string& type, const std::string& member, Text old, Text now) {
        r_.Changes.push_back({level, rule, type, member, std::move(old), std::move(now)});
    }
    void Info(const char* rule, const std::string& type, const std::string& member, const std::string& old,
              const std::string& now) {
        if (old != now) Add(TDiffLevel::Info, rule, type, member, old, now);
    }

    void Library() {
        if (a_.attrRead && b_.attrRead) {
            if (a_.guid != b_.guid)
                Add(TDiffLevel::Breaking, "library-guid-changed", {}, {}, GuidToString(a_.guid), GuidToString(b_.guid));
            Info("version-changed", {}, {}, Version(a_), Version(b_));
            Info("flags-changed", {}, {}, FlagText(a_.flags, kLibFlags), FlagText(b_.flags, kLibFlags));
        }
        Info("doc-changed", {}, {}, a_.doc, b_.doc);
        Info("custom-changed", {}, {}, a_.custom, b_.custom);
    }

    void Types() {
        const auto& ta = a_.types;
        const auto& tb = b_.types;
        std::vector<char> takenA(ta.size()), takenB(tb.size());
        std::vector<std::pair<int, int>> pairs;
        auto freeA = [&](int k) { return !takenA[std::size_t(k)]; };
        // By GUID where both have one, then by name.
        KeyIndex byGuid, byName;
        for (std::size_t i = 0; i < ta.size(); ++i) {
            if (!ta[i].read) continue;
            if (!IsNullGuid(ta[i].guid)) byGuid.Add(GuidToString(ta[i].guid), int(i));
            byName.Add(ta[i].key, int(i));
        }
        for (std::size_t j = 0; j < tb.size(); ++j) {
            if (!tb[j].read || IsNullGuid(tb[j].guid)) continue;
            const int i = byGuid.Take(GuidToString(tb[j].guid), freeA);
            if (i < 0) continue;
            takenA[std::size_t(i)] = takenB[j] = 1;
            pairs.emplace_back(i, int(j));
        }
        for (std::size_t j = 0; j < tb.size(); ++j) {
            if (!tb[j].read || takenB[j]) continue;
            const int i = byName.Take(tb[j].key, freeA);
            if (i < 0) continue;
            takenA[std::size_t(i)] = takenB[j] = 1;
            pairs.emplace_back(i, int(j));
        }
        for (const auto& [i, j] : pairs) CompareType(ta[std::size_t(i)], tb[std::size_t(j)]);
        // A type that could not be read on the other side is a problem already, not a removal.
        for (std::size_t i = 0; i < ta.size(); ++i)
            if (ta[i].read && !takenA[i] && !b_.unreadable.count(ta[i].key))
                Add(TDiffLevel::Breaking, "type-removed", ta[i].name, {}, KindText(ta[i]), {});
        for (std::size_t j = 0; j < tb.size(); ++j)
            if (tb[j].read && !takenB[j] && !a_.unreadable.count(tb[j].key))
                Add(TDiffLevel::Compatible, "type-added", tb[j].name, {}, {}, KindText(tb[j]));
    }

    void CompareType(const Type& a, const Type& b) {
        const std::string& where = a.name;
        const bool sameGuid = a.guid == b.guid;
        if (!sameGuid) Add(TDiffLevel::Breaking, "guid-changed", where, {}, GuidToString(a.guid), GuidToString(b.guid));
        if (a.key != b.key) Add(TDiffLevel::Compatible, "name-changed", where, {}, a.name, b.name);
        Info("version-changed", where, {}, std::to_string(a.major) + "." + std::to_string(a.minor),
             std::to_string(b.major) + "." + std::to_string(b.minor));
        Info("flags-changed", where, {}, FlagText(a.flags & ~TYPEFLAG_FDUAL, kTypeFlags),
             FlagText(b.flags & ~TYPEFLAG_FDUAL, kTypeFlags));
        Info("doc-changed", where, {}, a.doc, b.doc);
        Info("custom-changed", where, {}, a.custom, b.custom);
        const std::string ka = KindText(a), kb = KindText(b);
        if (ka != kb) {
            Add(TDiffLevel::Breaking, "kind-changed", where, {}, ka, kb);
            return;
        }
        const bool complete = a.complete && b.complete;
        switch (a.kind) {
        case TKIND_ENUM: Constants(where, a, b, complete); break;
        case TKIND_RECORD:
        case TKIND_UNION: Layout(where, a, b, complete); break;
        case TKIND_MODULE:
            Functions(where, a, b, complete, Binding::Module, sameGuid);
            Constants(where, a, b, complete);
            break;
        case TKIND_INTERFACE: Vtable(where, a, b, complete, sameGuid, false); break;
        case TKIND_DISPATCH:
            if (a.flags & TYPEFLAG_FDUAL) {
                if (a.side && b.side) Vtable(where, *a.side, *b.side, a.side->complete && b.side->complete, sameGuid, true);
            } else {
                Functions(where, a, b, complete, Binding::Dispatch, sameGuid);
                Properties(where, a, b, complete);
            }
            break;
        case TKIND_COCLASS: Coclass(where, a, b, complete); break;
        case TKIND_ALIAS:
            if (a.alias != b.alias) Add(TDiffLevel::Breaking, "alias-changed", where, {}, a.alias, b.alias);
            break;
        default: break;
        }
    }

    enum class Binding { Vtable, Dual, Dispatch, Module };

    void Vtable(const std::string& where, const Type& a, const Type& b, bool complete, bool sameGuid, bool dual) {
        const std::string baseA = a.impls.empty() ? "none" : a.impls[0].name;
        const std::string baseB = b.impls.empty() ? "none" : b.impls[0].name;
        const std::string keyA = a.impls.empty() ? "" : a.impls[0].key;
        const std::string keyB = b.impls.empty() ? "" : b.impls[0].key;
        const HRESULT unresolvedA = a.impls.empty() ? S_OK : a.impls[0].unresolved;
        const HRESULT unresolvedB = b.impls.empty() ? S_OK : b.impls[0].unresolved;
        if (FAILED(unresolvedA) || FAILED(unresolvedB)) {
            // Both unknown: nothing to tell apart; one unknown: not comparable.
            if (SUCCEEDED(unresolvedA) || SUCCEEDED(unresolvedB))
                r_.Problems.push_back({FAILED(unresolvedB), where + " base interface", FAILED(unresolvedB) ? unresolvedB : unresolvedA});
        } else if (keyA != keyB && a.complete && b.complete) {
            Add(TDiffLevel::Breaking, "base-changed", where, {}, baseA, baseB);
        }
        // Members of a dual interface are also called by DISPID.
        Functions(where, a, b, complete, dual ? Binding::Dual : Binding::Vtable, sameGuid);
    }

    static std::string Member(const Func& f) { return f.name + InvokeSuffix(f.invkind); }

    // The parameter list "([in] long Index, [out, retval] BSTR* Value)", names as the library
    // gives them.
    std::string ParamList(const Type& t, const Func& f) {
        std::vector<std::string> names;
        if (t.ti && !f.params.empty()) {
            std::vector<BSTR> raw(f.params.size() + 1, nullptr);
            UINT count = 0;
            if (SUCCEEDED(t.ti->GetNames(f.memid, raw.data(), UINT(raw.size()), &count)))
                for (UINT k = 1; k < count && k < raw.size(); ++k) names.push_back(BstrToUtf8(raw[k]));
            for (BSTR s : raw) SysFreeString(s);
        }
        std::string out = "(";
        for (std::size_t k = 0; k < f.params.size(); ++k) {
            const Param& p = f.params[k];
            if (k) out += ", ";
            std::string attrs;
            if (p.flags & kParamShape) attrs = FlagText(p.flags & kParamShape, kParamFlags);
            if (p.defaultText) attrs += (attrs.empty() ? "" : ", ") + ("defaultvalue(" + *p.defaultText + ")");
            if (!attrs.empty()) out += "[" + attrs + "] ";
            out += p.type;
            if (k < names.size() && !names[k].empty()) out += " " + names[k];
        }
        out += ")";
        if (f.cParamsOpt) out += " optional " + std::to_string(f.cParamsOpt);
        return out;
    }

    std::string Declaration(const Type& t, const Func& f) { return f.returns + " " + f.name + ParamList(t, f); }

    static bool SameShape(const Func& a, const Func& b) {
        if (a.params.size() != b.params.size() || a.cParamsOpt != b.cParamsOpt) return false;
        for (std::size_t k = 0; k < a.params.size(); ++k)
            if (a.params[k].type != b.params[k].type || (a.params[k].flags & kParamShape) != (b.params[k].flags & kParamShape))
                return false;
        return true;
    }

    void Functions(const std::string& where, const Type& a, const Type& b, bool complete, Binding binding, bool sameGuid) {
        const Pairing p = PairMembers(a.funcs, b.funcs, FuncKey, true);
        for (const auto& [i, j] : p.pairs) Function(where, a, b, a.funcs[std::size_t(i)], b.funcs[std::size_t(j)], binding);
        for (const auto& [i, j] : p.byName) {
            const Func& fa = a.funcs[std::size_t(i)];
            const Func& fb = b.funcs[std::size_t(j)];
            Add(TDiffLevel::Breaking, "invkind-changed", where, Member(fa), InvokeKindText(fa.invkind), InvokeKindText(fb.invkind));
        }
        if (!complete) return;
        for (int i : p.removed) {
            const Func& f = a.funcs[std::size_t(i)];
            Add(TDiffLevel::Breaking, "member-removed", where, Member(f), Declaration(a, f), {});
        }
        // Implementers of a vtable interface whose IID stayed break when it grows.
        const bool implementers = sameGuid && (binding == Binding::Vtable || binding == Binding::Dual);
        for (int j : p.added) {
            const Func& f = b.funcs[std::size_t(j)];
            Add(implementers ? TDiffLevel::Breaking : TDiffLevel::Compatible, implementers ? "method-added" : "member-added",
                where, Member(f), {}, Declaration(b, f));
        }
    }

    void Function(const std::string& where, const Type& ta, const Type& tb, const Func& a, const Func& b, Binding binding) {
        const std::string member = Member(a);
        if (binding == Binding::Vtable || binding == Binding::Dual) {
            const int slotA = a.oVft / a_.pointerSize, slotB = b.oVft / b_.pointerSize;
            if (slotA != slotB)
                Add(TDiffLevel::Breaking, "vtable-slot-changed", where, member, "slot " + std::to_string(slotA),
                    "slot " + std::to_string(slotB));
        }
        if ((binding == Binding::Dual || binding == Binding::Dispatch) && a.memid != b.memid)
            Add(TDiffLevel::Breaking, "dispid-changed", where, member, DispidText(a.memid), DispidText(b.memid));
        const bool sameShape = SameShape(a, b);
        if (!sameShape) Add(TDiffLevel::Breaking, "params-changed", where, member, ParamList(ta, a), ParamList(tb, b));
        if (a.returns != b.returns) Add(TDiffLevel::Breaking, "return-changed", where, member, a.returns, b.returns);
        if (a.callconv != b.callconv)
            Add(TDiffLevel::Breaking, "callconv-changed", where, member, CallConvText(a.callconv), CallConvText(b.callconv));
        if (binding == Binding::Module && a.entry != b.entry)
            Add(TDiffLevel::Breaking, "module-entry-changed", where, member, a.entry, b.entry);
        if (sameShape) {
            for (std::size_t k = 0; k < a.params.size(); ++k)
                if (a.params[k].defaultKey != b.params[k].defaultKey) {
                    Add(TDiffLevel::Compatible, "default-value-changed", where, member, ParamList(ta, a), ParamList(tb, b));
                    break;
                }
        }
        Info("flags-changed", where, member, FlagText(a.flags, kFuncFlags), FlagText(b.flags, kFuncFlags));
        Info("doc-changed", where, member, a.doc, b.doc);
        std::string customA = a.custom, customB = b.custom;
        if (a.params.size() == b.params.size())
            for (std::size_t k = 0; k < a.params.size(); ++k) {
                if (!a.params[k].custom.empty() || !b.params[k].custom.empty()) {
                    customA += " param " + std::to_string(k) + ": " + a.params[k].custom;
                    customB += " param " + std::to_string(k) + ": " + b.params[k].custom;
                }
            }
        Info("custom-changed", where, member, customA, customB);
    }

    // Common to every kind of variable: flags, documentation, custom data.
    void VarInfo(const std::string& where, const Var& a, const Var& b) {
        Info("flags-changed", where, a.name, FlagText(a.flags, kVarFlags), FlagText(b.flags, kVarFlags));
        Info("doc-changed", where, a.name, a.doc, b.doc);
        Info("custom-changed", where, a.name, a.custom, b.custom);
    }

    static std::string ConstText(const Var& v) { return v.valueText ? *v.valueText : "?"; }

    void Constants(const std::string& where, const Type& a, const Type& b, bool complete) {
        const Pairing p = PairMembers(a.vars, b.vars, VarKey, false);
        for (const auto& [i, j] : p.pairs) {
            const Var& va = a.vars[std::size_t(i)];
            const Var& vb = b.vars[std::size_t(j)];
            if (va.valueKey != vb.valueKey || va.type != vb.type) {
                const bool showTypes = va.type != vb.type || ConstText(va) == ConstText(vb);
                Add(TDiffLevel::Breaking, "enum-value-changed", where, va.name,
                    showTypes ? va.type + " " + ConstText(va) : ConstText(va),
                    showTypes ? vb.type + " " + ConstText(vb) : ConstText(vb));
            }
            VarInfo(where, va, vb);
        }
        if (!complete) return;
        for (int i : p.removed) Add(TDiffLevel::Breaking, "member-removed", where, a.vars[std::size_t(i)].name, ConstText(a.vars[std::size_t(i)]), {});
        for (int j : p.added) Add(TDiffLevel::Compatible, "member-added", where, b.vars[std::size_t(j)].name, {}, ConstText(b.vars[std::size_t(j)]));
    }

    void Layout(const std::string& where, const Type& a, const Type& b, bool complete) {
        if (a.size != b.size)
            Add(TDiffLevel::Breaking, "record-layout-changed", where, {}, "size " + std::to_string(a.size), "size " + std::to_string(b.size));
        if (a.align != b.align)
            Add(TDiffLevel::Breaking, "record-layout-changed", where, {}, "alignment " + std::to_string(a.align),
                "alignment " + std::to_string(b.align));
        const Pairing p = PairMembers(a.vars, b.vars, VarKey, false);
        for (const auto& [i, j] : p.pairs) {
            const Var& va = a.vars[std::size_t(i)];
            const Var& vb = b.vars[std::size_t(j)];
            if (va.oInst != vb.oInst)
                Add(TDiffLevel::Breaking, "record-layout-changed", where, va.name, "offset " + std::to_string(va.oInst),
                    "offset " + std::to_string(vb.oInst));
            if (va.type != vb.type) Add(TDiffLevel::Breaking, "record-layout-changed", where, va.name, va.type, vb.type);
            VarInfo(where, va, vb);
        }
        if (!complete) return;
        for (int i : p.removed) {
            const Var& v = a.vars[std::size_t(i)];
            Add(TDiffLevel::Breaking, "member-removed", where, v.name, v.type + " at offset " + std::to_string(v.oInst), {});
        }
        for (int j : p.added) {
            const Var& v = b.vars[std::size_t(j)];
            Add(TDiffLevel::Breaking, "record-layout-changed", where, v.name, {}, v.type + " at offset " + std::to_string(v.oInst));
        }
    }

    // The properties of a dispinterface.
    void Properties(const std::string& where, const Type& a, const Type& b, bool complete) {
        const Pairing p = PairMembers(a.vars, b.vars, VarKey, false);
        for (const auto& [i, j] : p.pairs) {
            const Var& va = a.vars[std::size_t(i)];
            const Var& vb = b.vars[std::size_t(j)];
            if (va.memid != vb.memid) Add(TDiffLevel::Breaking, "dispid-changed", where, va.name, DispidText(va.memid), DispidText(vb.memid));
            if (va.type != vb.type) Add(TDiffLevel::Breaking, "return-changed", where, va.name, va.type, vb.type);
            VarInfo(where, va, vb);
        }
        if (!complete) return;
        for (int i : p.removed) Add(TDiffLevel::Breaking, "member-removed", where, a.vars[std::size_t(i)].name, a.vars[std::size_t(i)].type, {});
        for (int j : p.added) Add(TDiffLevel::Compatible, "member-added", where, b.vars[std::size_t(j)].name, {}, b.vars[std::size_t(j)].type);
    }

    void Coclass(const std::string& where, const Type& a, const Type& b, bool complete) {
        KeyIndex index;
        std::vector<char> takenA(a.impls.size()), takenB(b.impls.size());
        for (std::size_t i = 0; i < a.impls.size(); ++i) index.Add(a.impls[i].key, int(i));
        for (std::size_t j = 0; j < b.impls.size(); ++j) {
            const int i = index.Take(b.impls[j].key, [&](int k) { return !takenA[std::size_t(k)]; });
            if (i < 0) continue;
            takenA[std::size_t(i)] = takenB[j] = 1;
            const Impl& ia = a.impls[std::size_t(i)];
            const Impl& ib = b.impls[j];
            // Losing the default or source role is losing that interface in that role.
            const int roles = IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
            if ((ia.flags & roles) & ~(ib.flags & roles))
                Add(TDiffLevel::Breaking, "coclass-interface-removed", where, {}, ImplText(ia), ImplText(ib));
            else if (ia.flags != ib.flags)
                Add(TDiffLevel::Info, "flags-changed", where, {}, ImplText(ia), ImplText(ib));
        }
        if (!complete) return;
        // An entry that could not be followed may be any of the other side's: not comparable.
        for (std::size_t i = 0; i < a.impls.size(); ++i)
            if (!takenA[i] && FAILED(a.impls[i].unresolved)) {
                r_.Problems.push_back({false, where + " implemented type " + std::to_string(i), a.impls[i].unresolved});
                return;
            }
        for (std::size_t j = 0; j < b.impls.size(); ++j)
            if (!takenB[j] && FAILED(b.impls[j].unresolved)) {
                r_.Problems.push_back({true, where + " implemented type " + std::to_string(j), b.impls[j].unresolved});
                return;
            }
        for (std::size_t i = 0; i < a.impls.size(); ++i)
            if (!takenA[i]) Add(TDiffLevel::Breaking, "coclass-interface-removed", where, {}, ImplText(a.impls[i]), {});
        for (std::size_t j = 0; j < b.impls.size(); ++j)
            if (!takenB[j]) Add(TDiffLevel::Compatible, "coclass-interface-added", where, {}, {}, ImplText(b.impls[j]));
    }

    TDiffResult& r_;
    const Lib& a_;
    const Lib& b_;
};

TDiffLibrary Summary(const Lib& l) {
    TDiffLibrary s;
    s.Name = l.name;
    if (l.attrRead) s.Guid = GuidToString(l.guid);
    s.Major = l.major;
    s.Minor = l.minor;
    return s;
}

// Library first, then types by name, then members by name; the order found within those.
void Sort(std::vector<TDiffChange>& changes) {
    struct Keyed {
        std::string type, member;
        std::size_t at;
    };
    std::vector<Keyed> keys;
    keys.reserve(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) keys.push_back({Fold(changes[i].Type), Fold(changes[i].Member), i});
    std::stable_sort(keys.begin(), keys.end(), [&](const Keyed& x, const Keyed& y) {
        const TDiffChange& a = changes[x.at];
        const TDiffChange& b = changes[y.at];
        if (a.Type.empty() != b.Type.empty()) return a.Type.empty();
        if (x.type != y.type) return x.type < y.type;
        if (a.Type != b.Type) return a.Type < b.Type;
        if (x.member != y.member) return x.member < y.member;
        return a.Member < b.Member;
    });
    std::vector<TDiffChange> sorted;
    sorted.reserve(changes.size());
    for (const Keyed& k : keys) sorted.push_back(std::move(changes[k.at]));
    changes = std::move(sorted);
}

}  // namespace

TDiffResult DiffTypeLibs(ITypeLib* Old, ITypeLib* New) {
    TDiffResult r;
    if (!Old || !New) {
        if (!Old) r.Problems.push_back({false, "library", E_POINTER});
        if (!New) r.Problems.push_back({true, "library", E_POINTER});
        return r;
    }
    const Lib a = Reader(Old, false, r.Problems).Read();
    const Lib b = Reader(New, true, r.Problems).Read();
    r.Old = Summary(a);
    r.New = Summary(b);
    Comparer(r, a, b).Run();
    Sort(r.Changes);
    return r;
}

const char* DiffLevelName(TDiffLevel Level) {
    switch (Level) {
    case TDiffLevel::Breaking: return "breaking";
    case TDiffLevel::Compatible: return "compatible";
    case TDiffLevel::Info: return "info";
    }
    return "info";
}

std::string DiffWhere(const TDiffResult& Result, const TDiffChange& Change) {
    if (Change.Type.empty()) return Result.Old.Name;
    return Change.Member.empty() ? Change.Type : Change.Type + "." + Change.Member;
}

std::string DiffDetail(const TDiffChange& Change) {
    if (Change.Old && Change.New) return *Change.Old + " -> " + *Change.New;
    return Change.Old ? *Change.Old : Change.New ? *Change.New : std::string();
}

std::string DiffLine(const TDiffResult& Result, const TDiffChange& Change) {
    return OneLineText(DiffLevelName(Change.Level)) + "\t" + OneLineText(Change.Rule) + "\t" +
           OneLineText(DiffWhere(Result, Change)) + "\t" + OneLineText(DiffDetail(Change));
}

int DiffExitStatus(const TDiffResult& Result, bool All) {
    int status = Result.Problems.empty() ? 0 : 1;
    for (const TDiffChange& c : Result.Changes) {
        if (!DiffShown(c, All)) continue;
        status |= 4;
        if (c.Level == TDiffLevel::Breaking) status |= 8;
    }
    return status;
}

std::string DiffProblemText(const TDiffProblem& Problem) {
    return std::string(Problem.InNew ? "new" : "old") + " library: " + Problem.Item + ": " +
           LoadErrorText(Problem.Status).toStdString() + " (" + HexStatus(Problem.Status) + ")";
}

std::string DiffJson(const TDiffResult& Result, const std::string& OldPath, const std::string& NewPath, bool All) {
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    // Text that is not UTF-8 (a path given in another encoding) is written with replacement
    // characters, so the document stays valid.
    auto str = [&](std::string_view s) {
        const QByteArray clean = QString::fromUtf8(s.data(), qsizetype(s.size())).toUtf8();
        w.String(clean.constData(), rapidjson::SizeType(clean.size()));
    };
    auto optional = [&](const std::optional<std::string>& s) {
        if (s) str(*s);
        else w.Null();
    };
    auto library = [&](const char* key, const std::string& path, const TDiffLibrary& l) {
        w.Key(key);
        w.StartObject();
        w.Key("path");
        str(path);
        w.Key("name");
        str(l.Name);
        w.Key("guid");
        if (l.Guid.empty()) w.Null();
        else str(l.Guid);
        w.Key("version");
        str(std::to_string(l.Major) + "." + std::to_string(l.Minor));
        w.EndObject();
    };
    w.StartObject();
    library("old", OldPath, Result.Old);
    library("new", NewPath, Result.New);
    w.Key("changes");
    w.StartArray();
    for (const TDiffChange& c : Result.Changes) {
        if (!DiffShown(c, All)) continue;
        w.StartObject();
        w.Key("level");
        str(DiffLevelName(c.Level));
        w.Key("rule");
        str(c.Rule);
        w.Key("type");
        if (c.Type.empty()) w.Null();
        else str(c.Type);
        w.Key("member");
        if (c.Member.empty()) w.Null();
        else str(c.Member);
        w.Key("old");
        optional(c.Old);
        w.Key("new");
        optional(c.New);
        w.EndObject();
    }
    w.EndArray();
    w.Key("problems");
    w.StartArray();
    for (const TDiffProblem& p : Result.Problems) {
        w.StartObject();
        w.Key("library");
        str(p.InNew ? "new" : "old");
        w.Key("item");
        str(p.Item);
        w.Key("status");
        str(HexStatus(p.Status));
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(out.GetString(), out.GetSize()) + "\n";
}
