// The JSON document of a type library. Every read goes through the type-library service; a
// call that fails puts {"error": "0xHHHHHHHH"} where its item would be. The document is
// streamed through RapidJSON's writer (large libraries give tens of megabytes of JSON).
#include "writers/libjson.h"
#include "text/typetext.h"

#include "platform/oleauto/comptr.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

// RAPIDJSON_SSE2 stays off: the 1.1.0 writer's SSE2 string scan lets control characters
// through unescaped.
#include <rapidjson/filewritestream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// Type descriptions nested deeper than this are cut off (an error in place of the rest).
constexpr int kMaxNesting = 16;
// Reported in place of a type description nested too deep to follow.
constexpr HRESULT kTooDeep = TYPE_E_CIRCULARTYPE;
// Functions and variables written in all before the remaining types are reported as too big:
// far above any real library, it bounds the output of one whose entries all repeat a huge type.
constexpr long kMemberBudget = 500'000;

struct FlagName {
    unsigned bit;
    const char* name;
};

constexpr FlagName kLibFlags[] = {{0x1, "LIBFLAG_FRESTRICTED"}, {0x2, "LIBFLAG_FCONTROL"},
                                  {0x4, "LIBFLAG_FHIDDEN"}, {0x8, "LIBFLAG_FHASDISKIMAGE"}};
constexpr FlagName kTypeFlags[] = {
    {0x1, "TYPEFLAG_FAPPOBJECT"},      {0x2, "TYPEFLAG_FCANCREATE"},    {0x4, "TYPEFLAG_FLICENSED"},
    {0x8, "TYPEFLAG_FPREDECLID"},      {0x10, "TYPEFLAG_FHIDDEN"},      {0x20, "TYPEFLAG_FCONTROL"},
    {0x40, "TYPEFLAG_FDUAL"},          {0x80, "TYPEFLAG_FNONEXTENSIBLE"}, {0x100, "TYPEFLAG_FOLEAUTOMATION"},
    {0x200, "TYPEFLAG_FRESTRICTED"},   {0x400, "TYPEFLAG_FAGGREGATABLE"}, {0x800, "TYPEFLAG_FREPLACEABLE"},
    {0x1000, "TYPEFLAG_FDISPATCHABLE"}, {0x2000, "TYPEFLAG_FREVERSEBIND"}, {0x4000, "TYPEFLAG_FPROXY"}};
constexpr FlagName kFuncFlags[] = {
    {0x1, "FUNCFLAG_FRESTRICTED"},     {0x2, "FUNCFLAG_FSOURCE"},         {0x4, "FUNCFLAG_FBINDABLE"},
    {0x8, "FUNCFLAG_FREQUESTEDIT"},    {0x10, "FUNCFLAG_FDISPLAYBIND"},   {0x20, "FUNCFLAG_FDEFAULTBIND"},
    {0x40, "FUNCFLAG_FHIDDEN"},        {0x80, "FUNCFLAG_FUSESGETLASTERROR"}, {0x100, "FUNCFLAG_FDEFAULTCOLLELEM"},
    {0x200, "FUNCFLAG_FUIDEFAULT"},    {0x400, "FUNCFLAG_FNONBROWSABLE"}, {0x800, "FUNCFLAG_FREPLACEABLE"},
    {0x1000, "FUNCFLAG_FIMMEDIATEBIND"}};
constexpr FlagName kVarFlags[] = {
    {0x1, "VARFLAG_FREADONLY"},        {0x2, "VARFLAG_FSOURCE"},          {0x4, "VARFLAG_FBINDABLE"},
    {0x8, "VARFLAG_FREQUESTEDIT"},     {0x10, "VARFLAG_FDISPLAYBIND"},    {0x20, "VARFLAG_FDEFAULTBIND"},
    {0x40, "VARFLAG_FHIDDEN"},         {0x80, "VARFLAG_FRESTRICTED"},     {0x100, "VARFLAG_FDEFAULTCOLLELEM"},
    {0x200, "VARFLAG_FUIDEFAULT"},     {0x400, "VARFLAG_FNONBROWSABLE"},  {0x800, "VARFLAG_FREPLACEABLE"},
    {0x1000, "VARFLAG_FIMMEDIATEBIND"}};
constexpr FlagName kImplFlags[] = {{0x1, "IMPLTYPEFLAG_FDEFAULT"}, {0x2, "IMPLTYPEFLAG_FSOURCE"},
                                   {0x4, "IMPLTYPEFLAG_FRESTRICTED"}, {0x8, "IMPLTYPEFLAG_FDEFAULTVTABLE"}};
constexpr FlagName kParamFlags[] = {{0x1, "PARAMFLAG_FIN"},      {0x2, "PARAMFLAG_FOUT"},
                                    {0x4, "PARAMFLAG_FLCID"},    {0x8, "PARAMFLAG_FRETVAL"},
                                    {0x10, "PARAMFLAG_FOPT"},    {0x20, "PARAMFLAG_FHASDEFAULT"},
                                    {0x40, "PARAMFLAG_FHASCUSTDATA"}};


using NameTable = std::initializer_list<std::pair<int, const char*>>;

// An enumeration value's name; null for a value without one.
const char* EnumName(int value, NameTable names) {
    for (const auto& [v, n] : names)
        if (v == value) return n;
    return nullptr;
}

const NameTable kKindNames = {{TKIND_ENUM, "TKIND_ENUM"}, {TKIND_RECORD, "TKIND_RECORD"},
                              {TKIND_MODULE, "TKIND_MODULE"}, {TKIND_INTERFACE, "TKIND_INTERFACE"},
                              {TKIND_DISPATCH, "TKIND_DISPATCH"}, {TKIND_COCLASS, "TKIND_COCLASS"},
                              {TKIND_ALIAS, "TKIND_ALIAS"}, {TKIND_UNION, "TKIND_UNION"}};
const NameTable kSysKindNames = {{SYS_WIN16, "SYS_WIN16"}, {SYS_WIN32, "SYS_WIN32"}, {SYS_MAC, "SYS_MAC"},
                                 {SYS_WIN64, "SYS_WIN64"}};
const NameTable kInvKindNames = {{INVOKE_FUNC, "INVOKE_FUNC"}, {INVOKE_PROPERTYGET, "INVOKE_PROPERTYGET"},
                                 {INVOKE_PROPERTYPUT, "INVOKE_PROPERTYPUT"},
                                 {INVOKE_PROPERTYPUTREF, "INVOKE_PROPERTYPUTREF"}};
const NameTable kFuncKindNames = {{FUNC_VIRTUAL, "FUNC_VIRTUAL"}, {FUNC_PUREVIRTUAL, "FUNC_PUREVIRTUAL"},
                                  {FUNC_NONVIRTUAL, "FUNC_NONVIRTUAL"}, {FUNC_STATIC, "FUNC_STATIC"},
                                  {FUNC_DISPATCH, "FUNC_DISPATCH"}};
const NameTable kCallConvNames = {{CC_FASTCALL, "CC_FASTCALL"}, {CC_CDECL, "CC_CDECL"}, {CC_PASCAL, "CC_PASCAL"},
                                  {CC_MACPASCAL, "CC_MACPASCAL"}, {CC_STDCALL, "CC_STDCALL"},
                                  {CC_FPFASTCALL, "CC_FPFASTCALL"}, {CC_SYSCALL, "CC_SYSCALL"},
                                  {CC_MPWCDECL, "CC_MPWCDECL"}, {CC_MPWPASCAL, "CC_MPWPASCAL"}};
const NameTable kVarKindNames = {{VAR_PERINSTANCE, "VAR_PERINSTANCE"}, {VAR_STATIC, "VAR_STATIC"},
                                 {VAR_CONST, "VAR_CONST"}, {VAR_DISPATCH, "VAR_DISPATCH"}};

std::string HexStatus(HRESULT hr) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", unsigned(hr));
    return b;
}

// A 96-bit magnitude scaled by a power of ten, as exact decimal text.
std::string DecimalText(const DECIMAL& d) {
    unsigned __int128 m = (unsigned __int128)(d.Hi32) << 64 | d.Lo64;
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(m % 10)));
        m /= 10;
    } while (m);
    unsigned scale = std::min<unsigned>(d.scale, 60);
    if (scale > 0) {
        if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - scale, 1, '.');
    }
    if (d.sign & 0x80) digits.insert(0, 1, '-');
    return digits;
}

std::string CurrencyText(LONGLONG v) {
    unsigned long long a = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    char b[40];
    std::snprintf(b, sizeof b, "%s%llu.%04llu", v < 0 ? "-" : "", a / 10000, a % 10000);
    return b;
}

// Releases what a GetAll...CustData call filled.
class CustData {
public:
    CustData() = default;
    CustData(const CustData&) = delete;
    CustData& operator=(const CustData&) = delete;
    ~CustData() { ClearCustData(&data_); }
    CUSTDATA* Put() { ClearCustData(&data_); return &data_; }
    const CUSTDATA& Get() const { return data_; }

private:
    CUSTDATA data_{0, nullptr};
};

// What a type reference names, worked out once per referenced type.
struct RefFacts {
    ComPtr<ITypeInfo> keep;  // keeps the key's object alive, so the address stays its own
    std::optional<std::string> name;
    enum { Unknown, Self, Other } library = Unknown;
    UINT index = 0;
    std::string libGuid;
    WORD major = 0, minor = 0;
};

template <class W>
class LibraryWriter {
public:
    LibraryWriter(ITypeLib* lib, W& w) : lib_(lib), w_(w) {}

    void Document() {
        w_.StartObject();
        Key("library");
        Library();
        Key("types");
        w_.StartArray();
        UINT count = lib_->GetTypeInfoCount();
        for (UINT i = 0; i < count; ++i) TypeAt(i);
        w_.EndArray();
        w_.EndObject();
    }

private:
    // ---- scalars ----
    void Key(const char* k) { w_.Key(k, rapidjson::SizeType(std::strlen(k))); }
    void Str(std::string_view s) { w_.String(s.data(), rapidjson::SizeType(s.size())); }
    void Null() { w_.Null(); }
    void Int(long long v) { w_.Int64(v); }
    void Field(const char* k, long long v) { Key(k); Int(v); }
    void Field(const char* k, std::string_view s) { Key(k); Str(s); }
    // Text the service returned; null when it gave none.
    void Text(BSTR b) {
        if (!b) return Null();
        Str(Utf16ToUtf8(std::u16string_view(b, SysStringLen(b))));
    }
    void TextField(const char* k, const BStr& b) { Key(k); Text(b.Get()); }
    void Double(double d) {
        if (std::isnan(d)) Str("NaN");
        else if (std::isinf(d)) Str(d > 0 ? "Infinity" : "-Infinity");
        else w_.Double(d);
    }
    void Guid(const GUID& g) { Str(GuidToString(g)); }
    void Version(WORD major, WORD minor) {
        w_.StartObject();
        Field("major", major);
        Field("minor", minor);
        w_.EndObject();
    }
    void Error(HRESULT hr, std::optional<long long> index = std::nullopt) {
        w_.StartObject();
        if (index) Field("index", *index);
        Field("error", HexStatus(hr));
        w_.EndObject();
    }
    template <std::size_t N>
    void Flags(unsigned value, const FlagName (&names)[N]) {
        w_.StartObject();
        Field("value", value);
        Key("names");
        w_.StartArray();
        for (const FlagName& f : names)
            if (value & f.bit) Str(f.name);
        w_.EndArray();
        w_.EndObject();
    }
    // An enumeration value by its platform name; a value without one stays a number.
    void Enum(const char* k, int value, NameTable names) {
        Key(k);
        if (const char* n = EnumName(value, names)) Str(n);
        else Int(value);
    }

    // A VARIANT as {"vt": NAME, "value": ...}: 64-bit integers, currency and decimals as
    // decimal text, floating point exactly (non-finite ones as text); types without a JSON
    // form carry no value.
    void Value(const VARIANT& v) {
        w_.StartObject();
        Field("vt", VtName(v.vt));
        switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL: Key("value"); Null(); break;
        case VT_I1: Field("value", v.cVal); break;
        case VT_UI1: Field("value", v.bVal); break;
        case VT_I2: Field("value", v.iVal); break;
        case VT_UI2: Field("value", v.uiVal); break;
        case VT_I4: Field("value", v.lVal); break;
        case VT_UI4: Field("value", v.ulVal); break;
        case VT_INT: Field("value", v.intVal); break;
        case VT_UINT: Field("value", v.uintVal); break;
        case VT_ERROR: Field("value", v.scode); break;
        case VT_BOOL: Field("value", v.boolVal); break;
        case VT_I8: Field("value", std::to_string(v.llVal)); break;
        case VT_UI8: Field("value", std::to_string(v.ullVal)); break;
        case VT_R4: Key("value"); Double(double(v.fltVal)); break;
        case VT_R8: Key("value"); Double(v.dblVal); break;
        case VT_DATE: Key("value"); Double(v.date); break;
        case VT_CY: Field("value", CurrencyText(v.cyVal.int64)); break;
        case VT_DECIMAL: Field("value", DecimalText(v.decVal)); break;
        case VT_BSTR:
            Key("value");
            if (v.bstrVal) Text(v.bstrVal);
            else Str("");
            break;
        default: break;
        }
        w_.EndObject();
    }

    // "customData": [{"guid": ..., "value": {...}}], or an error in place of the list.
    template <class Call>
    void CustomData(Call call) {
        Key("customData");
        CustData cd;
        HRESULT hr = call(cd.Put());
        if (FAILED(hr)) return Error(hr);
        w_.StartArray();
        const CUSTDATA& d = cd.Get();
        if (d.prgCustData)
            for (DWORD i = 0; i < d.cCustData; ++i) {
                w_.StartObject();
                Key("guid");
                Guid(d.prgCustData[i].guid);
                Key("value");
                Value(d.prgCustData[i].varValue);
                w_.EndObject();
            }
        w_.EndArray();
    }

    // helpString, helpStringContext and helpStringDll from a GetDocumentation2 call.
    template <class Call>
    void HelpStrings(Call call) {
        BStr s, dll;
        DWORD context = 0;
        if (FAILED(call(s.Put(), &context, dll.Put()))) {
            s.Reset();
            dll.Reset();
            context = 0;
        }
        TextField("helpString", s);
        Field("helpStringContext", context);
        TextField("helpStringDll", dll);
    }

    // Name, doc and help of a type (MEMBERID_NIL) or member.
    void Documentation(ITypeInfo* ti, ITypeInfo2* ti2, MEMBERID memid) {
        BStr name, doc;
        DWORD helpContext = 0;
        if (FAILED(ti->GetDocumentation(memid, name.Put(), doc.Put(), &helpContext, nullptr))) {
            name.Reset();
            doc.Reset();
            helpContext = 0;
        }
        TextField("name", name);
        TextField("doc", doc);
        Field("helpContext", helpContext);
        HelpStrings([&](BSTR* s, DWORD* c, BSTR* dll) {
            return ti2 ? ti2->GetDocumentation2(memid, 0, s, c, dll) : E_NOINTERFACE;
        });
    }

    // ---- the library ----
    void Library() {
        w_.StartObject();
        BStr name, doc, helpFile;
        DWORD helpContext = 0;
        if (FAILED(lib_->GetDocumentation(-1, name.Put(), doc.Put(), &helpContext, helpFile.Put()))) {
            name.Reset();
            doc.Reset();
            helpFile.Reset();
            helpContext = 0;
        }
        TextField("name", name);
        TextField("doc", doc);
        TextField("helpFile", helpFile);
        Field("helpContext", helpContext);
        ComPtr<ITypeLib2> lib2;
        lib_->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2.Put()));
        HelpStrings([&](BSTR* s, DWORD* c, BSTR* dll) {
            return lib2 ? lib2->GetDocumentation2(-1, 0, s, c, dll) : E_NOINTERFACE;
        });

        LibAttrPtr attr;
        HRESULT hr = lib_->GetLibAttr(attr.Put(lib_));
        if (SUCCEEDED(hr) && attr) {
            selfGuid_ = attr->guid;
            Key("guid");
            Guid(attr->guid);
            Key("version");
            Version(attr->wMajorVerNum, attr->wMinorVerNum);
            Field("lcid", attr->lcid);
            Enum("syskind", attr->syskind, kSysKindNames);
            Key("flags");
            Flags(attr->wLibFlags, kLibFlags);
        } else {
            Field("error", HexStatus(FAILED(hr) ? hr : E_POINTER));
        }
        CustomData([&](CUSTDATA* d) { return lib2 ? lib2->GetAllCustData(d) : E_NOINTERFACE; });
        Imports();
        w_.EndObject();
    }

    void Imports() {
        Key("imports");
        w_.StartArray();
        ComPtr<ITypeLibImports> imports;
        if (SUCCEEDED(lib_->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put()))) && imports) {
            UINT count = imports->GetImportCount();
            for (UINT i = 0; i < count; ++i) {
                GUID guid{};
                WORD major = 0, minor = 0;
                LCID lcid = 0;
                BStr recorded, path;
                HRESULT hr = imports->GetImport(i, &guid, &major, &minor, &lcid, recorded.Put(), path.Put());
                if (FAILED(hr)) {
                    Error(hr, i);
                    continue;
                }
                w_.StartObject();
                Field("index", i);
                Key("guid");
                Guid(guid);
                Key("version");
                Version(major, minor);
                Field("lcid", lcid);
                TextField("recordedName", recorded);
                TextField("path", path);
                w_.EndObject();
            }
        }
        w_.EndArray();
    }

    // ---- types ----
    void TypeAt(UINT index) {
        if (members_ > kMemberBudget) return Error(TYPE_E_SIZETOOBIG, index);
        ComPtr<ITypeInfo> ti;
        HRESULT hr = lib_->GetTypeInfo(index, ti.Put());
        if (FAILED(hr) || !ti) return Error(FAILED(hr) ? hr : E_POINTER, index);
        Type(ti.Get(), index, true);
    }

    // One type; the dispatch view of a dual interface also gives its interface side.
    void Type(ITypeInfo* ti, UINT index, bool withInterfaceSide) {
        TypeAttrPtr attr;
        HRESULT hr = ti->GetTypeAttr(attr.Put(ti));
        if (FAILED(hr) || !attr) return Error(FAILED(hr) ? hr : E_POINTER, index);
        ComPtr<ITypeInfo2> ti2;
        ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(ti2.Put()));
        members_ += attr->cFuncs + attr->cVars;

        w_.StartObject();
        Field("index", index);
        Enum("kind", attr->typekind, kKindNames);
        Documentation(ti, ti2.Get(), MEMBERID_NIL);
        Key("guid");
        Guid(attr->guid);
        Key("version");
        Version(attr->wMajorVerNum, attr->wMinorVerNum);
        Field("lcid", attr->lcid);
        Key("flags");
        Flags(attr->wTypeFlags, kTypeFlags);
        Key("sizes");
        w_.StartObject();
        Field("cbSizeInstance", attr->cbSizeInstance);
        Field("cbAlignment", attr->cbAlignment);
        Field("cbSizeVft", attr->cbSizeVft);
        w_.EndObject();
        if (attr->typekind == TKIND_ALIAS) {
            Key("alias");
            TypeDesc(ti, attr->tdescAlias, 1);
        }
        CustomData([&](CUSTDATA* d) { return ti2 ? ti2->GetAllCustData(d) : E_NOINTERFACE; });

        Key("implTypes");
        w_.StartArray();
        for (UINT j = 0; j < attr->cImplTypes; ++j) ImplType(ti, ti2.Get(), j);
        w_.EndArray();
        Key("functions");
        w_.StartArray();
        for (UINT j = 0; j < attr->cFuncs; ++j) Function(ti, ti2.Get(), j);
        w_.EndArray();
        Key("variables");
        w_.StartArray();
        for (UINT j = 0; j < attr->cVars; ++j) Variable(ti, ti2.Get(), j);
        w_.EndArray();

        if (withInterfaceSide && attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
            Key("interface");
            HREFTYPE href = 0;
            ComPtr<ITypeInfo> side;
            hr = ti->GetRefTypeOfImplType(UINT(-1), &href);
            if (SUCCEEDED(hr)) hr = ti->GetRefTypeInfo(href, side.Put());
            if (SUCCEEDED(hr) && !side) hr = E_POINTER;
            if (FAILED(hr)) Error(hr, index);
            else Type(side.Get(), index, false);
        }
        w_.EndObject();
    }

    void ImplType(ITypeInfo* ti, ITypeInfo2* ti2, UINT j) {
        w_.StartObject();
        Field("index", j);
        Key("flags");
        INT flags = 0;
        HRESULT hr = ti->GetImplTypeFlags(j, &flags);
        if (FAILED(hr)) Error(hr);
        else Flags(unsigned(flags), kImplFlags);
        Key("type");
        HREFTYPE href = 0;
        hr = ti->GetRefTypeOfImplType(j, &href);
        if (FAILED(hr)) {
            Error(hr);
        } else {
            w_.StartObject();
            Reference(ti, href);
            w_.EndObject();
        }
        CustomData([&](CUSTDATA* d) { return ti2 ? ti2->GetAllImplTypeCustData(j, d) : E_NOINTERFACE; });
        w_.EndObject();
    }

    void Function(ITypeInfo* ti, ITypeInfo2* ti2, UINT j) {
        FuncDescPtr fd;
        HRESULT hr = ti->GetFuncDesc(j, fd.Put(ti));
        if (FAILED(hr) || !fd) return Error(FAILED(hr) ? hr : E_POINTER, j);
        w_.StartObject();
        Field("index", j);
        Documentation(ti, ti2, fd->memid);
        Field("memid", fd->memid);
        Enum("invkind", fd->invkind, kInvKindNames);
        Enum("funckind", fd->funckind, kFuncKindNames);
        Enum("callconv", fd->callconv, kCallConvNames);
        Key("flags");
        Flags(fd->wFuncFlags, kFuncFlags);
        Field("oVft", fd->oVft);
        Field("cParamsOpt", fd->cParamsOpt);
        Key("returns");
        TypeDesc(ti, fd->elemdescFunc.tdesc, 1);
        CustomData([&](CUSTDATA* d) { return ti2 ? ti2->GetAllFuncCustData(j, d) : E_NOINTERFACE; });

        // GetNames: the function's name, then its parameters'; room for every parameter and
        // never fewer than 64, as the browser asks.
        int cParams = fd->lprgelemdescParam ? std::max<int>(fd->cParams, 0) : 0;
        UINT max = UINT(std::max(64, cParams + 1));
        names_.assign(max, nullptr);
        UINT count = 0;
        if (FAILED(ti->GetNames(fd->memid, names_.data(), max, &count))) count = 0;
        count = std::min(count, max);
        Key("names");
        w_.StartArray();
        for (UINT k = 0; k < count; ++k) Text(names_[k]);
        w_.EndArray();

        Key("params");
        w_.StartArray();
        for (int k = 0; k < cParams; ++k) {
            const ELEMDESC& e = fd->lprgelemdescParam[k];
            const PARAMDESC& pd = e.paramdesc;
            w_.StartObject();
            Field("index", k);
            Key("name");
            if (UINT(k) + 1 < count) Text(names_[k + 1]);
            else Null();
            Key("flags");
            Flags(pd.wParamFlags, kParamFlags);
            Key("type");
            TypeDesc(ti, e.tdesc, 1);
            if ((pd.wParamFlags & PARAMFLAG_FHASDEFAULT) && pd.pparamdescex) {
                Key("default");
                Value(pd.pparamdescex->varDefaultValue);
            }
            CustomData([&](CUSTDATA* d) { return ti2 ? ti2->GetAllParamCustData(j, UINT(k), d) : E_NOINTERFACE; });
            w_.EndObject();
        }
        w_.EndArray();
        for (BSTR& n : names_) SysFreeString(std::exchange(n, nullptr));
        w_.EndObject();
    }

    void Variable(ITypeInfo* ti, ITypeInfo2* ti2, UINT j) {
        VarDescPtr vd;
        HRESULT hr = ti->GetVarDesc(j, vd.Put(ti));
        if (FAILED(hr) || !vd) return Error(FAILED(hr) ? hr : E_POINTER, j);
        w_.StartObject();
        Field("index", j);
        Documentation(ti, ti2, vd->memid);
        Field("memid", vd->memid);
        Enum("varkind", vd->varkind, kVarKindNames);
        Key("flags");
        Flags(vd->wVarFlags, kVarFlags);
        Key("type");
        TypeDesc(ti, vd->elemdescVar.tdesc, 1);
        // The union holds the value only for a constant; for the other kinds it is the offset.
        if (vd->varkind == VAR_CONST) {
            if (vd->lpvarValue) {
                Key("value");
                Value(*vd->lpvarValue);
            }
        } else {
            Field("oInst", vd->oInst);
        }
        CustomData([&](CUSTDATA* d) { return ti2 ? ti2->GetAllVarCustData(j, d) : E_NOINTERFACE; });
        w_.EndObject();
    }

    // {"vt": NAME} with "of" for pointers and safe arrays, "bounds" and "of" for C arrays, and
    // the reference for user-defined types; nesting is depth-limited.
    void TypeDesc(ITypeInfo* ti, const TYPEDESC& td, int level) {
        if (level > kMaxNesting) return Error(kTooDeep);
        w_.StartObject();
        Field("vt", VtName(td.vt));
        switch (td.vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            Key("of");
            if (td.lptdesc) TypeDesc(ti, *td.lptdesc, level + 1);
            else Error(E_POINTER);
            break;
        case VT_CARRAY:
            if (td.lpadesc) {
                Key("bounds");
                w_.StartArray();
                for (USHORT i = 0; i < td.lpadesc->cDims; ++i) {
                    w_.StartObject();
                    Field("lLbound", td.lpadesc->rgbounds[i].lLbound);
                    Field("cElements", td.lpadesc->rgbounds[i].cElements);
                    w_.EndObject();
                }
                w_.EndArray();
                Key("of");
                TypeDesc(ti, td.lpadesc->tdescElem, level + 1);
            } else {
                Field("error", HexStatus(E_POINTER));
            }
            break;
        case VT_USERDEFINED: Reference(ti, td.hreftype); break;
        default: break;
        }
        w_.EndObject();
    }

    // The fields of the type a reference names: "library" ("self", its library's GUID, or
    // null when that cannot be told), "type" (its index here, else its name), "name", and
    // "version" of another library; or "error" when the reference cannot be followed.
    void Reference(ITypeInfo* ti, HREFTYPE href) {
        ComPtr<ITypeInfo> ref;
        HRESULT hr = ti->GetRefTypeInfo(href, ref.Put());
        if (FAILED(hr) || !ref) return Field("error", HexStatus(FAILED(hr) ? hr : E_POINTER));
        auto it = refs_.find(ref.Get());
        if (it == refs_.end()) it = refs_.emplace(ref.Get(), Facts(ref)).first;
        const RefFacts& f = it->second;
        Key("library");
        if (f.library == RefFacts::Self) Str("self");
        else if (f.library == RefFacts::Other) Str(f.libGuid);
        else Null();
        Key("type");
        if (f.library == RefFacts::Self) Int(f.index);
        else if (f.name) Str(*f.name);
        else Null();
        Key("name");
        if (f.name) Str(*f.name);
        else Null();
        if (f.library == RefFacts::Other) {
            Key("version");
            Version(f.major, f.minor);
        }
    }

    RefFacts Facts(const ComPtr<ITypeInfo>& ref) {
        RefFacts f;
        f.keep = ref;
        BStr name;
        if (SUCCEEDED(ref->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr)) && !name.IsNull())
            f.name = name.Utf8();
        ComPtr<ITypeLib> owner;
        if (FAILED(ref->GetContainingTypeLib(owner.Put(), &f.index)) || !owner) return f;
        LibAttrPtr attr;
        bool haveAttr = SUCCEEDED(owner->GetLibAttr(attr.Put(owner.Get()))) && attr;
        if (owner.Get() == lib_ || (haveAttr && selfGuid_ && attr->guid == *selfGuid_)) {
            f.library = RefFacts::Self;
        } else if (haveAttr) {
            f.library = RefFacts::Other;
            f.libGuid = GuidToString(attr->guid);
            f.major = attr->wMajorVerNum;
            f.minor = attr->wMinorVerNum;
        }
        return f;
    }

    ITypeLib* lib_;
    W& w_;
    std::optional<GUID> selfGuid_;
    std::map<ITypeInfo*, RefFacts> refs_;
    std::vector<BSTR> names_;
    long members_ = 0;
};

}  // namespace

namespace {

template <class Stream>
void WriteDocument(ITypeLib* lib, bool pretty, Stream& out) {
    if (pretty) {
        rapidjson::PrettyWriter<Stream> w(out);
        w.SetIndent(' ', 2);
        LibraryWriter(lib, w).Document();
    } else {
        rapidjson::Writer<Stream> w(out);
        LibraryWriter(lib, w).Document();
    }
    out.Put('\n');
    out.Flush();
}

}  // namespace

QByteArray LibraryJsonText(ITypeLib* Lib, bool Pretty) {
    rapidjson::StringBuffer out;
    WriteDocument(Lib, Pretty, out);
    return QByteArray(out.GetString(), qsizetype(out.GetSize()));
}

bool WriteLibraryJson(ITypeLib* Lib, bool Pretty, std::FILE* File) {
    char buffer[1 << 16];
    rapidjson::FileWriteStream out(File, buffer, sizeof buffer);
    WriteDocument(Lib, Pretty, out);
    return std::fflush(File) == 0 && !std::ferror(File);
}

namespace {

QString ValidUnicode(const QString& s) {
    // Utf16ToUtf8 is the library document's conversion: it writes U+FFFD for a lone surrogate.
    const std::u16string_view units(reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size()));
    bool lone = false;
    for (std::size_t i = 0; i < units.size() && !lone; ++i) {
        const char16_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) ++i;
        else lone = c >= 0xD800 && c <= 0xDFFF;
    }
    return lone ? QString::fromStdString(Utf16ToUtf8(units)) : s;
}

QJsonValue WithValidStrings(const QJsonValue& v) {
    if (v.isString()) return ValidUnicode(v.toString());
    if (v.isArray()) {
        QJsonArray out;
        for (const QJsonValue& item : v.toArray()) out.append(WithValidStrings(item));
        return out;
    }
    if (v.isObject()) {
        QJsonObject out;
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) out.insert(ValidUnicode(it.key()), WithValidStrings(it.value()));
        return out;
    }
    return v;
}

}  // namespace

QByteArray JsonDocumentText(const QJsonObject& Document, bool Pretty) {
    return QJsonDocument(WithValidStrings(Document).toObject())
        .toJson(Pretty ? QJsonDocument::Indented : QJsonDocument::Compact);
}
