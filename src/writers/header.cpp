// The header writer. It reads the library through ITypeLib/ITypeInfo only.
//
// C needs a type defined before it is used by value and declared before it is pointed to.
// The header therefore declares every interface, coclass, record and union first, then
// writes enums, then records, unions and aliases with what they hold by value first, then
// interfaces with their bases first, then coclasses and modules. Types of imported libraries
// that the library uses are written the same way: in full when used by value or as a base,
// declared only when pointed to.
//
// Interfaces follow the layout the platform's IDL compiler writes: a C++ struct with pure
// virtual methods deriving from the base, and for C a "…Vtbl" struct of function pointers
// with every inherited slot, placed at the slot the library gives (gaps are filled), so that
// the struct has the library's layout even where the library's own order is not the slots'.
#include "writers/header.h"

#include "platform/oleauto/comptr.h"
#include "text/escape.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int kMaxTypeDepth = 32;   // deeper type descriptions are written as void *
constexpr int kMaxChain = 64;       // base interfaces followed at most this far
constexpr int kMaxOrderDepth = 256; // nesting of by-value needs followed while ordering
// Members (functions, variables, slots, constants) read or written at most: a library far larger
// than any real one, such as one whose entries all repeat a huge type, is cut short there.
constexpr long kMemberBudget = 500'000;

std::string Hex(std::uint64_t v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*" PRIX64, digits, v);
    return buf;
}

// The arguments of DEFINE_GUID after the name.
std::string GuidArgs(const GUID& g) {
    std::string s = Hex(g.Data1, 8) + ", " + Hex(g.Data2, 4) + ", " + Hex(g.Data3, 4);
    for (BYTE b : g.Data4) s += ", " + Hex(b, 2);
    return s;
}

std::string LibKey(ITypeLib* lib) {
    LibAttrPtr attr;
    if (!lib || FAILED(lib->GetLibAttr(attr.Put(lib))) || !attr) return std::string();
    return GuidToString(attr->guid) + "/" + std::to_string(attr->wMajorVerNum) + "." +
           std::to_string(attr->wMinorVerNum) + "/" + std::to_string(attr->lcid);
}

bool IsPlatformMacro(const std::string& name);

// A set of names: open addressing over one array, so that a lookup in a scope of tens of
// thousands of names (a large library's constants) touches little memory.
class NameSet {
public:
    bool Contains(std::string_view name) const { return Find(name, Hash(name)) != kEmpty; }
    // False when the name is there already.
    bool Insert(std::string_view name) {
        if ((names_.size() + 1) * 2 > slots_.size()) Rehash(slots_.empty() ? 64 : slots_.size() * 2);
        const std::uint64_t h = Hash(name);
        std::size_t i = h & (slots_.size() - 1);
        for (; slots_[i].index != kEmpty; i = (i + 1) & (slots_.size() - 1))
            if (slots_[i].hash == h && names_[slots_[i].index] == name) return false;
        slots_[i] = {h, std::uint32_t(names_.size())};
        names_.emplace_back(name);
        return true;
    }
    void Reserve(std::size_t count) {
        std::size_t n = 64;
        while (n < count * 2) n *= 2;
        if (n > slots_.size()) Rehash(n);
    }

private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t index = kEmpty;
    };
    static std::uint64_t Hash(std::string_view s) {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
        // Mixed so that the low bits, which pick the slot, depend on every byte.
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ull;
        return h ^ (h >> 33);
    }
    std::uint32_t Find(std::string_view name, std::uint64_t h) const {
        if (slots_.empty()) return kEmpty;
        for (std::size_t i = h & (slots_.size() - 1); slots_[i].index != kEmpty; i = (i + 1) & (slots_.size() - 1))
            if (slots_[i].hash == h && names_[slots_[i].index] == name) return slots_[i].index;
        return kEmpty;
    }
    void Rehash(std::size_t size) {
        std::vector<Slot> old(size);
        old.swap(slots_);
        for (const Slot& o : old) {
            if (o.index == kEmpty) continue;
            std::size_t i = o.hash & (slots_.size() - 1);
            while (slots_[i].index != kEmpty) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = o;
        }
    }
    std::vector<Slot> slots_;
    std::vector<std::string> names_;
};

// Names in one C scope: the escaping rule's form of each name, with "_2", "_3"... added while
// another item of the scope holds it.
class UniqueNames {
public:
    void Reserve(const std::string& name) { Insert(name); }
    // For a scope that will hold many names.
    void Expect(std::size_t count) {
        Grow();
        used_.Reserve(count);
    }
    bool Has(const std::string& name) const {
        if (!big_) return std::find(small_.begin(), small_.end(), name) != small_.end();
        return used_.Contains(name);
    }
    // Also avoids the names of outer, when given.
    std::string Take(std::string_view original, const UniqueNames* outer = nullptr) {
        const std::string base = CleanIdentifier(original, NameDialect::C);
        // The usual case, a name nobody holds, costs one lookup.
        if (big_ && !(outer && outer->Has(base)) && !IsPlatformMacro(base)) {
            if (used_.Insert(base)) return base;
        }
        std::string name = base;
        if (Taken(name, outer)) {
            // Suffixes go on from the last one given for this base, so many items of one name
            // cost no more than one each.
            unsigned& n = next_[base];
            if (n < 2) n = 2;
            do name = base + "_" + std::to_string(n++);
            while (Taken(name, outer));
        }
        Insert(name);
        return name;
    }

private:
    // Most scopes (a function's parameters, a record's fields) hold a few names: a list until
    // it grows, then a hash set.
    void Insert(const std::string& name) {
        if (!big_ && small_.size() < 16) {
            small_.push_back(name);
            return;
        }
        Grow();
        used_.Insert(name);
    }
    void Grow() {
        if (big_) return;
        big_ = true;
        for (const std::string& n : small_) used_.Insert(n);
        small_.clear();
    }
    bool big_ = false;
    std::vector<std::string> small_;
    bool Taken(const std::string& name, const UniqueNames* outer) const {
        return Has(name) || (outer && outer->Has(name)) || IsPlatformMacro(name);
    }
    NameSet used_;
    std::unordered_map<std::string, unsigned> next_;
};

// What the base declarations of the header declare (and the platform's headers do): a type of
// the library under one of these names is the platform's and is not written again.
const char* const kBaseTypes[] = {
    "BYTE", "WORD", "DWORD", "LONG", "ULONG", "SHORT", "USHORT", "INT", "UINT", "CHAR", "WCHAR", "BOOL",
    "FLOAT", "DOUBLE", "LONGLONG", "ULONGLONG", "INT_PTR", "UINT_PTR", "LONG_PTR", "ULONG_PTR", "HRESULT",
    "SCODE", "LCID", "DISPID", "MEMBERID", "VARTYPE", "VARIANT_BOOL", "DATE", "OLECHAR", "BSTR", "LPSTR",
    "LPWSTR", "LPOLESTR", "LPCOLESTR", "PVOID", "GUID", "IID", "CLSID", "REFGUID", "REFIID", "REFCLSID",
    "CY", "CURRENCY", "tagCY", "DECIMAL", "tagDEC", "VARIANT", "VARIANTARG", "tagVARIANT", "SAFEARRAY",
    "tagSAFEARRAY", "SAFEARRAYBOUND", "tagSAFEARRAYBOUND", "DISPPARAMS", "tagDISPPARAMS", "EXCEPINFO",
    "tagEXCEPINFO", "_GUID", "IUnknown", "IDispatch", "ITypeInfo", "IUnknownVtbl", "IDispatchVtbl",
    "IID_IUnknown", "IID_IDispatch", "IID_ITypeInfo", "FILETIME", "_FILETIME"};

// Guards of the platform's headers, for types of a library that they also declare: after
// those headers the library's definition yields to theirs.
struct PlatformType {
    const char* name;
    const char* guard;  // empty for a macro
    char kind;          // 'T'ype; a 'S'truct, 'U'nion or e'N'um tag only; 'E'numerator; 'F'unction;
                        // 'M'acro; 'A'lias macro (its guard is the name itself)
};
const PlatformType kPlatformTypes[] = {
#include "writers/header_platform.inc"
};

// The declaration of the platform's headers under name, if any.
const PlatformType* FindPlatformType(const std::string& name) {
    static const std::unordered_map<std::string, const PlatformType*> map = [] {
        std::unordered_map<std::string, const PlatformType*> m;
        for (const PlatformType& p : kPlatformTypes) m.emplace(p.name, &p);
        return m;
    }();
    auto it = map.find(name);
    return it == map.end() ? nullptr : it->second;
}

// A macro of the platform's headers that a name in the header cannot share.
bool IsPlatformMacro(const std::string& name) {
    static const std::vector<std::string> macros = [] {
        std::vector<std::string> m;
        for (const PlatformType& p : kPlatformTypes)
            if (p.kind == 'M') m.emplace_back(p.name);
        return m;
    }();
    for (const std::string& m : macros)
        if (m == name) return true;
    return false;
}

// The guard of the platform header that declares name as a kind of thing; null when none does.
const char* PlatformGuard(const std::string& name, char kind) {
    const PlatformType* p = FindPlatformType(name);
    return p && p->kind == kind && *p->guard ? p->guard : nullptr;
}

// The platform's struct and union tags among the base types, and the names they are used under.
const char* PlatformTypedefOf(const std::string& tag) {
    static const std::pair<const char*, const char*> tags[] = {
        {"_FILETIME", "FILETIME"}, {"_GUID", "GUID"}, {"tagVARIANT", "VARIANT"}, {"tagDEC", "DECIMAL"},
        {"tagCY", "CY"}, {"tagSAFEARRAY", "SAFEARRAY"}, {"tagSAFEARRAYBOUND", "SAFEARRAYBOUND"},
        {"tagDISPPARAMS", "DISPPARAMS"}, {"tagEXCEPINFO", "EXCEPINFO"}};
    for (const auto& [t, n] : tags)
        if (tag == t) return n;
    return nullptr;
}

const char kBaseDeclarations[] = R"(/* The OLE Automation base types, for compilers without the platform's headers; each part
   yields to the platform's own declarations when those came first. */
#ifndef __cplusplus
#ifndef EXTERN_C
#define EXTERN_C extern
#endif
#else
#ifndef EXTERN_C
#define EXTERN_C extern "C"
#endif
#endif
#ifndef interface
#define interface struct
#endif
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE __stdcall
#endif
#ifndef BEGIN_INTERFACE
#define BEGIN_INTERFACE
#endif
#ifndef END_INTERFACE
#define END_INTERFACE
#endif
#ifndef CONST_VTBL
#define CONST_VTBL
#endif
#ifndef _WINDEF_
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned long ULONG;
typedef short SHORT;
typedef unsigned short USHORT;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef int BOOL;
typedef float FLOAT;
typedef double DOUBLE;
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;
#ifdef _WIN64
typedef long long INT_PTR;
typedef unsigned long long UINT_PTR;
typedef long long LONG_PTR;
typedef unsigned long long ULONG_PTR;
#else
typedef int INT_PTR;
typedef unsigned int UINT_PTR;
typedef long LONG_PTR;
typedef unsigned long ULONG_PTR;
#endif
#ifdef __cplusplus
typedef wchar_t WCHAR;
#else
typedef unsigned short WCHAR;
#endif
typedef void *PVOID;
typedef char *LPSTR;
typedef WCHAR *LPWSTR;
typedef LONG HRESULT;
typedef LONG SCODE;
typedef DWORD LCID;
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;
#endif
#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    unsigned long Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
} GUID;
#endif
#ifndef DEFINE_GUID
#ifdef INITGUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    EXTERN_C const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const GUID name
#endif
#endif
#ifndef __wtypes_h__
typedef GUID IID;
typedef GUID CLSID;
#ifdef __cplusplus
typedef const GUID &REFGUID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;
#else
typedef const GUID *REFGUID;
typedef const IID *REFIID;
typedef const CLSID *REFCLSID;
#endif
typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef OLECHAR *BSTR;
typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef double DATE;
typedef union tagCY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
} CY;
typedef CY CURRENCY;
typedef struct tagDEC {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
} DECIMAL;
#endif
#ifndef __oaidl_h__
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef struct tagSAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
} SAFEARRAYBOUND;
typedef struct tagSAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;
typedef interface IUnknown IUnknown;
typedef interface IDispatch IDispatch;
typedef interface ITypeInfo ITypeInfo;
typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown *punkVal;
                IDispatch *pdispVal;
                SAFEARRAY *parray;
                VARIANT *pvarVal;
                PVOID byref;
                struct {
                    PVOID pvRecord;
                    PVOID pRecInfo;
                } brecVal;
            } u;
        } s;
        DECIMAL decVal;
    } n;
};
typedef VARIANT VARIANTARG;
typedef struct tagDISPPARAMS {
    VARIANTARG *rgvarg;
    DISPID *rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
} DISPPARAMS;
typedef struct tagEXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT (STDMETHODCALLTYPE *pfnDeferredFillIn)(struct tagEXCEPINFO *);
    SCODE scode;
} EXCEPINFO;
#endif
#ifndef __IUnknown_INTERFACE_DEFINED__
#define __IUnknown_INTERFACE_DEFINED__
DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
#if defined(__cplusplus) && !defined(CINTERFACE)
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef(void) = 0;
    virtual ULONG STDMETHODCALLTYPE Release(void) = 0;
};
#else
typedef struct IUnknownVtbl {
    BEGIN_INTERFACE
    HRESULT (STDMETHODCALLTYPE *QueryInterface)(IUnknown *This, REFIID riid, void **ppvObject);
    ULONG (STDMETHODCALLTYPE *AddRef)(IUnknown *This);
    ULONG (STDMETHODCALLTYPE *Release)(IUnknown *This);
    END_INTERFACE
} IUnknownVtbl;
interface IUnknown {
    CONST_VTBL IUnknownVtbl *lpVtbl;
};
#endif
#endif
#ifndef __IDispatch_INTERFACE_DEFINED__
#define __IDispatch_INTERFACE_DEFINED__
DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
#if defined(__cplusplus) && !defined(CINTERFACE)
struct IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames, LCID lcid,
                                                    DISPID *rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                             DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                             EXCEPINFO *pExcepInfo, UINT *puArgErr) = 0;
};
#else
typedef struct IDispatchVtbl {
    BEGIN_INTERFACE
    HRESULT (STDMETHODCALLTYPE *QueryInterface)(IDispatch *This, REFIID riid, void **ppvObject);
    ULONG (STDMETHODCALLTYPE *AddRef)(IDispatch *This);
    ULONG (STDMETHODCALLTYPE *Release)(IDispatch *This);
    HRESULT (STDMETHODCALLTYPE *GetTypeInfoCount)(IDispatch *This, UINT *pctinfo);
    HRESULT (STDMETHODCALLTYPE *GetTypeInfo)(IDispatch *This, UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo);
    HRESULT (STDMETHODCALLTYPE *GetIDsOfNames)(IDispatch *This, REFIID riid, LPOLESTR *rgszNames, UINT cNames,
                                               LCID lcid, DISPID *rgDispId);
    HRESULT (STDMETHODCALLTYPE *Invoke)(IDispatch *This, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                        DISPPARAMS *pDispParams, VARIANT *pVarResult, EXCEPINFO *pExcepInfo,
                                        UINT *puArgErr);
    END_INTERFACE
} IDispatchVtbl;
interface IDispatch {
    CONST_VTBL IDispatchVtbl *lpVtbl;
};
#endif
#endif
)";

// One slot of a flattened vtable: a method or a filler for a slot the library leaves out.
struct Slot {
    std::string name;     // member name in the Vtbl struct
    std::string ret;      // C return type
    std::string callconv;
    std::vector<std::pair<std::string, std::string>> params;  // (C declaration, name) after This
    std::vector<std::string> notes;  // comments before the member
    int offset = 0;       // bytes
    bool filler = false;
};

// IUnknown's and IDispatch's slots, as the platform declares them.
std::vector<Slot> PlatformSlots(bool dispatch, int ptr) {
    struct M {
        const char* name;
        const char* ret;
        std::vector<std::pair<std::string, std::string>> params;
    };
    std::vector<M> ms = {
        {"QueryInterface", "HRESULT", {{"REFIID riid", "riid"}, {"void **ppvObject", "ppvObject"}}},
        {"AddRef", "ULONG", {}},
        {"Release", "ULONG", {}}};
    if (dispatch) {
        ms.push_back({"GetTypeInfoCount", "HRESULT", {{"UINT *pctinfo", "pctinfo"}}});
        ms.push_back({"GetTypeInfo", "HRESULT",
                      {{"UINT iTInfo", "iTInfo"}, {"LCID lcid", "lcid"}, {"ITypeInfo **ppTInfo", "ppTInfo"}}});
        ms.push_back({"GetIDsOfNames", "HRESULT",
                      {{"REFIID riid", "riid"}, {"LPOLESTR *rgszNames", "rgszNames"}, {"UINT cNames", "cNames"},
                       {"LCID lcid", "lcid"}, {"DISPID *rgDispId", "rgDispId"}}});
        ms.push_back({"Invoke", "HRESULT",
                      {{"DISPID dispIdMember", "dispIdMember"}, {"REFIID riid", "riid"}, {"LCID lcid", "lcid"},
                       {"WORD wFlags", "wFlags"}, {"DISPPARAMS *pDispParams", "pDispParams"},
                       {"VARIANT *pVarResult", "pVarResult"}, {"EXCEPINFO *pExcepInfo", "pExcepInfo"},
                       {"UINT *puArgErr", "puArgErr"}}});
    }
    std::vector<Slot> slots;
    for (std::size_t i = 0; i < ms.size(); ++i) {
        Slot s;
        s.name = ms[i].name;
        s.ret = ms[i].ret;
        s.callconv = "STDMETHODCALLTYPE";
        s.params = ms[i].params;
        s.offset = int(i) * ptr;
        slots.push_back(std::move(s));
    }
    return slots;
}

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A C declarator: the type before the name and what follows it (array bounds).
struct CDecl {
    std::string before, after;
    std::string problem;
    std::vector<std::string> names;  // type names it uses, which a parameter or field must not shadow
    std::string Join(const std::string& name) const {
        std::string s = before;
        if (!name.empty()) {
            if (s.empty() || (s.back() != '*' && s.back() != '(')) s += ' ';
            s += name;
        }
        return s + after;
    }
};

// The text of a constant for a static const declaration: its C type and initialiser; false
// when C has no literal for it.
bool ConstantText(const VARIANT& v, std::string* type, std::string* value, bool* array) {
    *array = false;
    char buf[64];
    auto real = [&](double d) {
        if (!std::isfinite(d)) return false;
        std::snprintf(buf, sizeof buf, "%.17g", d);
        *value = buf;
        if (value->find_first_of(".eE") == std::string::npos) *value += ".0";
        return true;
    };
    switch (v.vt) {
    case VT_I1: *type = "signed char"; *value = std::to_string(int(v.cVal)); return true;
    case VT_UI1: *type = "BYTE"; *value = std::to_string(unsigned(v.bVal)); return true;
    case VT_I2: *type = "SHORT"; *value = std::to_string(v.iVal); return true;
    case VT_UI2: *type = "USHORT"; *value = std::to_string(v.uiVal); return true;
    case VT_I4: *type = "LONG"; *value = v.lVal == INT32_MIN ? "(-2147483647L - 1)" : std::to_string(v.lVal) + "L"; return true;
    case VT_INT: *type = "INT"; *value = v.lVal == INT32_MIN ? "(-2147483647 - 1)" : std::to_string(v.lVal); return true;
    case VT_UI4: *type = "ULONG"; *value = std::to_string(v.ulVal) + "UL"; return true;
    case VT_UINT: *type = "UINT"; *value = std::to_string(v.ulVal) + "U"; return true;
    case VT_ERROR: *type = "SCODE"; *value = "(SCODE)" + Hex(std::uint32_t(v.scode), 8); return true;
    case VT_HRESULT: *type = "HRESULT"; *value = "(HRESULT)" + Hex(std::uint32_t(v.scode), 8); return true;
    case VT_BOOL: *type = "VARIANT_BOOL"; *value = std::to_string(v.boolVal); return true;
    case VT_I8: *type = "LONGLONG"; *value = v.llVal == INT64_MIN ? "(-9223372036854775807LL - 1)" : std::to_string(v.llVal) + "LL"; return true;
    case VT_UI8: *type = "ULONGLONG"; *value = std::to_string(v.ullVal) + "ULL"; return true;
    case VT_R4: *type = "FLOAT"; return real(v.fltVal);
    case VT_R8: *type = "DOUBLE"; return real(v.dblVal);
    case VT_DATE: *type = "DATE"; return real(v.dblVal);
    case VT_BSTR: case VT_LPWSTR:
        *type = "WCHAR";
        *value = "L" + StringLiteral(BstrToUtf8(v.bstrVal));
        *array = true;
        return true;
    default: return false;
    }
}

}  // namespace

// ---- the writer -----------------------------------------------------------------------------

struct THeaderWriter::Impl {
    enum Want { kNone = 0, kDeclared = 1, kFull = 2 };

    struct Type {
        ComPtr<ITypeInfo> info;   // as the library lists it
        ComPtr<ITypeInfo> write;  // what is written: the interface side of a dual interface
        ComPtr<ITypeLib> lib;
        TYPEKIND kind = TKIND_MAX;  // of `write`
        bool local = false, dual = false;
        int index = -1;
        std::string original, name;  // the library's name and the one written
        HRESULT status = S_OK;
        GUID guid{};
        ULONG size = 0;
        WORD align = 0, funcs = 0, vars = 0, impls = 0, vft = 0;
        bool platform = false;     // the platform's own type: not written
        const char* guard = nullptr;  // the platform header's guard when it also declares it
        char guardKind = 0;           // what that header declares under the name
        int want = kNone;
        bool scanned = false;
        bool cut = false;          // beyond the member budget: named in a comment only
        int state = 0;             // while ordering: 0 new, 1 in progress, 2 written
        std::vector<Type*> needs;  // written before this one
        Type* base = nullptr;      // interface: its base
        bool baseMissing = false;
        bool flatDone = false, flatBusy = false;
        std::vector<Slot> flat;    // interface: every slot, inherited ones first
        std::size_t inherited = 0; // how many of `flat` come from the base
        std::string vtbl;          // name of the Vtbl struct
    };

    THeaderWriter* w;
    ComPtr<ITypeLib> lib;
    std::string libKey;
    int ptr = 4;
    SYSKIND syskind = SYS_WIN32;
    std::vector<std::unique_ptr<Type>> locals;
    std::map<std::pair<std::string, int>, std::unique_ptr<Type>> foreign;
    std::vector<Type*> foreignOrder;
    std::unordered_map<ITypeInfo*, Type*> byInfo;
    std::unordered_map<ITypeLib*, std::string> libKeys;
    std::vector<ComPtr<ITypeLib>> keptLibs;
    std::vector<Type*> work;  // full types not scanned yet
    UniqueNames global;
    long members = 0;  // read while scanning, then written
    std::string& out;

    Impl(THeaderWriter* writer, ITypeLib* l) : w(writer), lib(l), out(writer->Out) {
        if (!l) return;
        libKey = LibKey(l);
        {
            LibAttrPtr attr;
            if (SUCCEEDED(l->GetLibAttr(attr.Put(l))) && attr) syskind = attr->syskind;
            ptr = syskind == SYS_WIN64 ? 8 : 4;
        }
        global.Expect(1 << 16);
        for (const char* n : kBaseTypes) global.Reserve(n);
        const UINT count = l->GetTypeInfoCount();
        locals.reserve(count);
        for (UINT i = 0; i < count; ++i) {
            auto t = std::make_unique<Type>();
            t->local = true;
            t->index = int(i);
            t->lib = lib;
            t->status = l->GetTypeInfo(i, t->info.Put());
            if (SUCCEEDED(t->status) && t->info) Prepare(t.get());
            locals.push_back(std::move(t));
        }
        // Safe names first, so that no cleaned name takes one of them.
        for (auto& t : locals)
            if (t->info && IsSafeName(t->original, NameDialect::C)) NameType(t.get());
        for (auto& t : locals)
            if (t->info && t->name.empty()) NameType(t.get());
    }

    void Prepare(Type* t) {
        BStr name;
        t->info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
        t->original = name.Utf8();
        TypeAttrPtr attr;
        t->status = t->info->GetTypeAttr(attr.Put(t->info.Get()));
        byInfo[t->info.Get()] = t;
        if (FAILED(t->status) || !attr) return;
        t->write = t->info;
        t->kind = attr->typekind;
        if (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
            HREFTYPE twin;
            ComPtr<ITypeInfo> side;
            TypeAttrPtr sideAttr;
            if (SUCCEEDED(t->info->GetRefTypeOfImplType(UINT(-1), &twin)) &&
                SUCCEEDED(t->info->GetRefTypeInfo(twin, side.Put())) && side &&
                SUCCEEDED(side->GetTypeAttr(sideAttr.Put(side.Get()))) && sideAttr &&
                sideAttr->typekind == TKIND_INTERFACE) {
                t->write = side;
                t->kind = TKIND_INTERFACE;
                t->dual = true;
                byInfo[side.Get()] = t;
                Attributes(t, *sideAttr.Get());
                return;
            }
        }
        Attributes(t, *attr.Get());
    }

    void Attributes(Type* t, const TYPEATTR& a) {
        t->guid = a.guid;
        t->size = a.cbSizeInstance;
        t->align = a.cbAlignment;
        t->funcs = a.cFuncs;
        t->vars = a.cVars;
        t->impls = a.cImplTypes;
        t->vft = a.cbSizeVft;
    }

    void NameType(Type* t) {
        const bool valueKind = t->kind == TKIND_RECORD || t->kind == TKIND_UNION || t->kind == TKIND_ALIAS ||
                               t->kind == TKIND_ENUM;
        const bool iface = t->kind == TKIND_INTERFACE || t->kind == TKIND_DISPATCH;
        if (iface && (t->guid == kIidUnknown || t->guid == kIidDispatch)) {
            t->platform = true;
            t->name = t->guid == kIidUnknown ? "IUnknown" : "IDispatch";
            return;
        }
        if (valueKind && global.Has(t->original) && IsSafeName(t->original, NameDialect::C)) {
            bool base = false;
            for (const char* n : kBaseTypes) base = base || t->original == n;
            if (base) {
                t->platform = true;
                const char* typedefName = PlatformTypedefOf(t->original);
                t->name = typedefName ? typedefName : t->original;
                return;
            }
        }
        t->name = global.Take(t->original.empty() ? "_type" + std::to_string(t->index) : t->original);
        if (t->name == t->original && (valueKind || t->kind == TKIND_COCLASS)) {
            const PlatformType* p = FindPlatformType(t->name);
            if (p && *p->guard && std::string_view("TSUN").find(p->kind) != std::string_view::npos) {
                t->guard = p->guard;
                t->guardKind = p->kind;
            }
        }
    }

    const std::string& KeyOf(ITypeLib* l) {
        auto it = libKeys.find(l);
        if (it != libKeys.end()) return it->second;
        keptLibs.emplace_back(l);
        return libKeys.emplace(l, LibKey(l)).first->second;
    }

    Type* Ref(ITypeInfo* owner, HREFTYPE href) {
        ComPtr<ITypeInfo> ref;
        if (FAILED(owner->GetRefTypeInfo(href, ref.Put())) || !ref) return nullptr;
        return OfInfo(ref);
    }

    Type* OfInfo(const ComPtr<ITypeInfo>& ref) {
        auto it = byInfo.find(ref.Get());
        if (it != byInfo.end()) return it->second->info ? it->second : nullptr;
        ComPtr<ITypeLib> container;
        UINT index = 0;
        if (FAILED(ref->GetContainingTypeLib(container.Put(), &index)) || !container) return nullptr;
        const std::string& key = KeyOf(container.Get());
        if (key == libKey) {
            if (index < locals.size() && locals[index]->info) {
                byInfo[ref.Get()] = locals[index].get();
                return locals[index].get();
            }
            return nullptr;
        }
        auto f = foreign.find({key, int(index)});
        if (f != foreign.end()) {
            byInfo[ref.Get()] = f->second.get();
            return f->second.get();
        }
        auto t = std::make_unique<Type>();
        t->index = int(index);
        t->lib = container;
        if (FAILED(container->GetTypeInfo(index, t->info.Put())) || !t->info) t->info = ref;
        Prepare(t.get());
        byInfo[ref.Get()] = t.get();
        if (!t->write) return nullptr;
        NameType(t.get());
        Type* raw = t.get();
        foreignOrder.push_back(raw);
        foreign.emplace(std::make_pair(key, int(index)), std::move(t));
        return raw;
    }

    // ---- what is written ------------------------------------------------------------------------

    void Want(Type* t, int level) {
        if (!t || t->platform || t->want >= level) return;
        t->want = level;
        if (level == kFull) work.push_back(t);
    }

    // A use of a type: what it names must be declared, and defined when held by value.
    void Use(Type* owner, ITypeInfo* ti, const TYPEDESC& td, bool viaPointer, bool byValue, int depth) {
        if (depth > kMaxTypeDepth) return;
        switch (td.vt) {
        case VT_PTR:
            if (td.lptdesc) Use(owner, ti, *td.lptdesc, true, false, depth + 1);
            return;
        case VT_CARRAY:
            if (td.lpadesc) Use(owner, ti, td.lpadesc->tdescElem, viaPointer, byValue, depth + 1);
            return;
        case VT_USERDEFINED: {
            Type* r = Ref(ti, td.hreftype);
            if (!r || r == owner) return;
            const bool declarable = r->kind == TKIND_INTERFACE || r->kind == TKIND_DISPATCH ||
                                    r->kind == TKIND_COCLASS || r->kind == TKIND_RECORD || r->kind == TKIND_UNION;
            if (declarable && (viaPointer || !byValue)) {
                Want(r, kDeclared);
                return;
            }
            Want(r, kFull);
            owner->needs.push_back(r);
            return;
        }
        default:
            return;
        }
    }

    void Scan(Type* t) {
        if (t->scanned || !t->write) return;
        t->scanned = true;
        ITypeInfo* ti = t->write.Get();
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
        members += long(attr->cFuncs) + attr->cVars + attr->cImplTypes;
        if (members > kMemberBudget) {
            t->cut = true;
            return;
        }
        if (attr->typekind == TKIND_ALIAS) Use(t, ti, attr->tdescAlias, false, true, 0);
        if (t->kind == TKIND_INTERFACE && attr->cImplTypes) {
            HREFTYPE href;
            if (SUCCEEDED(ti->GetRefTypeOfImplType(0, &href))) t->base = Ref(ti, href);
            // Only an interface can be a base; a damaged library may name anything.
            if (t->base == t || (t->base && t->base->kind != TKIND_INTERFACE && t->base->kind != TKIND_DISPATCH))
                t->base = nullptr;
            t->baseMissing = !t->base;
            if (t->base) {
                Want(t->base, kFull);
                t->needs.push_back(t->base);
            }
        }
        if (t->kind == TKIND_COCLASS) {
            for (UINT i = 0; i < attr->cImplTypes; ++i) {
                HREFTYPE href;
                if (SUCCEEDED(ti->GetRefTypeOfImplType(i, &href))) Want(Ref(ti, href), kDeclared);
            }
        }
        const bool record = t->kind == TKIND_RECORD || t->kind == TKIND_UNION;
        if (t->kind != TKIND_DISPATCH) {
            for (UINT i = 0; i < attr->cFuncs; ++i) {
                FuncDescPtr fd;
                if (FAILED(ti->GetFuncDesc(i, fd.Put(ti))) || !fd) continue;
                Use(t, ti, fd->elemdescFunc.tdesc, false, false, 0);
                for (SHORT p = 0; p < fd->cParams; ++p) Use(t, ti, fd->lprgelemdescParam[p].tdesc, false, false, 0);
            }
        }
        if (t->kind == TKIND_DISPATCH || t->kind == TKIND_ENUM) return;
        for (UINT i = 0; i < attr->cVars; ++i) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(i, vd.Put(ti))) || !vd) continue;
            Use(t, ti, vd->elemdescVar.tdesc, false, record, 0);
        }
    }

    void Collect(const std::vector<Type*>& roots) {
        for (Type* t : roots) Want(t, kFull);
        while (!work.empty()) {
            Type* t = work.back();
            work.pop_back();
            Scan(t);
        }
    }

    // ---- type text ------------------------------------------------------------------------------

    void TypeText(ITypeInfo* owner, const TYPEDESC& td, CDecl* d, bool cpp, int depth) {
        if (depth > kMaxTypeDepth) {
            d->problem = "type description too deep";
            d->before += "void *";
            return;
        }
        switch (td.vt) {
        case VT_PTR:
            if (!td.lptdesc) {
                d->problem = "pointer without a target";
                d->before += "void *";
                return;
            }
            TypeText(owner, *td.lptdesc, d, cpp, depth + 1);
            if (!d->after.empty()) {
                d->before += " (*";
                d->after = ")" + d->after;
            } else {
                d->before += d->before.empty() || d->before.back() != '*' ? " *" : "*";
            }
            return;
        case VT_SAFEARRAY:
            d->before += "SAFEARRAY *";
            d->names.push_back("SAFEARRAY");
            return;
        case VT_CARRAY: {
            if (!td.lpadesc) {
                d->problem = "array without a description";
                d->before += "void *";
                return;
            }
            TypeText(owner, td.lpadesc->tdescElem, d, cpp, depth + 1);
            std::string bounds;
            for (USHORT i = 0; i < td.lpadesc->cDims; ++i)
                bounds += "[" + std::to_string(td.lpadesc->rgbounds[i].cElements) + "]";
            d->after = bounds + d->after;
            return;
        }
        case VT_USERDEFINED: {
            Type* r = Ref(owner, td.hreftype);
            if (!r || r->kind == TKIND_MODULE || r->kind == TKIND_MAX) {
                d->problem = "a type that cannot be resolved (reference " + Hex(td.hreftype, 8) + ")";
                d->before += "void *";
                return;
            }
            if (cpp) d->before += "::";
            d->before += r->name;
            d->names.push_back(r->name);
            return;
        }
        default:
            break;
        }
        const char* base = nullptr;
        switch (td.vt) {
        case VT_I1: base = "signed char"; break;
        case VT_UI1: base = "BYTE"; break;
        case VT_I2: base = "SHORT"; break;
        case VT_UI2: base = "USHORT"; break;
        case VT_I4: base = "LONG"; break;
        case VT_UI4: base = "ULONG"; break;
        case VT_I8: base = "LONGLONG"; break;
        case VT_UI8: base = "ULONGLONG"; break;
        case VT_INT: base = "INT"; break;
        case VT_UINT: base = "UINT"; break;
        case VT_R4: base = "FLOAT"; break;
        case VT_R8: base = "DOUBLE"; break;
        case VT_CY: base = "CY"; break;
        case VT_DATE: base = "DATE"; break;
        case VT_BSTR: base = "BSTR"; break;
        case VT_DISPATCH: base = "IDispatch *"; break;
        case VT_UNKNOWN: base = "IUnknown *"; break;
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
        case VT_FILETIME: base = "FILETIME"; break;
        case VT_CLSID: base = "CLSID"; break;
        default: break;
        }
        if (!base) {
            d->problem = "variant type " + std::to_string(td.vt) + " has no C form";
            base = "void *";
        }
        std::string b = base;
        if (b.back() == '*') d->names.push_back(b.substr(0, b.find(' ')));
        else if (b.find(' ') == std::string::npos) d->names.push_back(b);
        d->before += b;
    }

    // ---- output ---------------------------------------------------------------------------------

    void Comment(const std::string& text, const char* indent = "") {
        out += indent;
        out += "/* ";
        out += CommentText(text);
        out += " */\n";
    }

    std::string SlotComment(int offset) const {
        return "/* slot " + std::to_string(offset / ptr) + ", offset " + std::to_string(offset) + " */";
    }

    std::string DocOf(ITypeInfo* ti, MEMBERID id) {
        BStr doc;
        ti->GetDocumentation(id, nullptr, doc.Put(), nullptr, nullptr);
        return doc.Utf8();
    }

    void Banner(Type* t, const char* what) {
        out += "/*****************************************************************************\n * ";
        out += t->name;
        out += ' ';
        out += what;
        if (t->name != t->original) out += " (" + CommentText(t->original) + " in the library)";
        const std::string doc = DocOf(t->write.Get(), MEMBERID_NIL);
        if (!doc.empty()) out += ": " + CommentText(doc);
        out += "\n */\n";
    }

    void GuardOpen(Type* t) {
        if (t->guard) out += std::string("#ifndef ") + t->guard + "\n";
    }
    // With typedefName, a platform that declares only a tag of the name gets the typedef that
    // the header's other declarations use.
    void GuardClose(Type* t, bool typedefName = false) {
        if (!t->guard) return;
        if (typedefName && t->guardKind != 'T') {
            const char* tag = t->guardKind == 'U' ? "union " : t->guardKind == 'N' ? "enum " : "struct ";
            out += "#else\ntypedef " + std::string(tag) + t->name + " " + t->name + ";\n";
        }
        out += std::string("#endif /* ") + t->guard + " */\n";
    }

    void Forward(Type* t) {
        switch (t->kind) {
        case TKIND_INTERFACE:
        case TKIND_DISPATCH:
            out += "#ifndef __" + t->name + "_FWD_DEFINED__\n#define __" + t->name + "_FWD_DEFINED__\n";
            out += "typedef interface " + t->name + " " + t->name + ";\n#endif\n";
            break;
        case TKIND_COCLASS:
            GuardOpen(t);
            out += "#ifndef __" + t->name + "_FWD_DEFINED__\n#define __" + t->name + "_FWD_DEFINED__\n";
            out += "#ifdef __cplusplus\ntypedef class " + t->name + " " + t->name + ";\n#else\ntypedef struct " +
                   t->name + " " + t->name + ";\n#endif\n#endif\n";
            GuardClose(t, true);
            break;
        case TKIND_RECORD:
        case TKIND_UNION: {
            const std::string decl = std::string("typedef ") + (t->kind == TKIND_RECORD ? "struct " : "union ") +
                                     t->name + " " + t->name + ";\n";
            // Where the platform declares a tag of the same kind only, the typedef names theirs.
            if (t->guard && t->guardKind == (t->kind == TKIND_RECORD ? 'S' : 'U')) {
                out += decl;
                break;
            }
            GuardOpen(t);
            out += decl;
            GuardClose(t, true);
            break;
        }
        default:
            break;
        }
    }

    std::string Signed32(std::int64_t v) {
        if (v >= INT_MIN && v <= INT_MAX) return v == INT_MIN ? "(-2147483647 - 1)" : std::to_string(v);
        if (v >= 0 && v <= 0xFFFFFFFFLL) return "(int)" + Hex(std::uint64_t(v), 8);
        return std::to_string(v);
    }

    static bool IntegerOf(const VARIANT& v, std::int64_t* n) {
        switch (v.vt) {
        case VT_I1: *n = v.cVal; return true;
        case VT_UI1: *n = v.bVal; return true;
        case VT_I2: *n = v.iVal; return true;
        case VT_UI2: *n = v.uiVal; return true;
        case VT_I4: case VT_INT: case VT_ERROR: case VT_HRESULT: *n = v.lVal; return true;
        case VT_UI4: case VT_UINT: *n = v.ulVal; return true;
        case VT_I8: *n = v.llVal; return true;
        case VT_UI8: *n = std::int64_t(v.ullVal); return true;
        case VT_BOOL: *n = v.boolVal; return true;
        default: return false;
        }
    }

    void WriteEnum(Type* t) {
        ITypeInfo* ti = t->write.Get();
        Banner(t, "enumeration");
        GuardOpen(t);
        std::vector<std::string> lines;
        for (UINT i = 0; i < t->vars; ++i) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(i, vd.Put(ti))) || !vd) {
                lines.push_back("    /* value " + std::to_string(i) + " cannot be read */");
                continue;
            }
            BStr n;
            ti->GetDocumentation(vd->memid, n.Put(), nullptr, nullptr, nullptr);
            const std::string original = n.Utf8();
            const std::string name = global.Take(original.empty() ? t->name + "_" + std::to_string(i) : original);
            std::int64_t value = 0;
            std::string line = "    " + name;
            if (vd->varkind == VAR_CONST && vd->lpvarValue && IntegerOf(*vd->lpvarValue, &value))
                line += " = " + Signed32(value);
            else
                line += " /* value not an integer */";
            line += ",";
            if (name != original) line += " /* " + CommentText(original) + " */";
            // A constant the platform's headers also declare yields to theirs.
            if (const char* g = PlatformGuard(name, 'E')) line = std::string("#ifndef ") + g + "\n" + line + "\n#endif";
            lines.push_back(std::move(line));
        }
        bool any = false;
        for (const std::string& l : lines) any = any || l.compare(0, 6, "    /*") != 0;
        // Inside guards only: the enum could be empty after the platform's headers.
        bool unguarded = false;
        for (const std::string& l : lines) unguarded = unguarded || l.compare(0, 4, "    ") == 0;
        if (any && !unguarded) lines.push_back("    " + global.Take(t->name + "_none_") + " = 0,");
        if (!any) {
            for (const std::string& l : lines) out += l + "\n";
            out += "typedef int " + t->name + "; /* an enumeration without values */\n";
        } else {
            out += "typedef enum " + t->name + "\n{\n";
            for (const std::string& l : lines) out += l + "\n";
            out += "} " + t->name + ";\n";
        }
        GuardClose(t, true);
        out += "\n";
    }

    void WriteRecord(Type* t) {
        ITypeInfo* ti = t->write.Get();
        const bool isUnion = t->kind == TKIND_UNION;
        Banner(t, isUnion ? "union" : "record");
        GuardOpen(t);
        out += "/* size " + std::to_string(t->size) + ", alignment " + std::to_string(t->align) + " */\n";
        const bool pack = t->align == 1 || t->align == 2 || t->align == 4 || t->align == 8 || t->align == 16;
        if (pack) out += "#pragma pack(push, " + std::to_string(t->align) + ")\n";
        out += std::string(isUnion ? "union " : "struct ") + t->name + "\n{\n";
        THeaderLayout layout;
        layout.TypeIndex = t->index;
        layout.Struct = t->name;
        layout.Size = t->size;
        struct Field {
            CDecl d;
            std::string original;
            std::uint32_t offset = 0;
            bool ok = false;
            std::string error;
        };
        std::vector<Field> fields(t->vars);
        UniqueNames used;  // type names the fields use: a field must not take one (C++)
        for (UINT i = 0; i < t->vars; ++i) {
            VarDescPtr vd;
            HRESULT hr = ti->GetVarDesc(i, vd.Put(ti));
            if (FAILED(hr) || !vd) {
                fields[i].error = "field " + std::to_string(i) + " cannot be read (" + Hex(std::uint32_t(hr), 8) + ")";
                continue;
            }
            BStr n;
            ti->GetDocumentation(vd->memid, n.Put(), nullptr, nullptr, nullptr);
            fields[i].original = n.Utf8();
            fields[i].offset = vd->oInst;
            TypeText(ti, vd->elemdescVar.tdesc, &fields[i].d, false, 0);
            for (const std::string& u : fields[i].d.names) used.Reserve(u);
            fields[i].ok = true;
        }
        UniqueNames names;
        std::size_t written = 0;
        for (UINT i = 0; i < t->vars; ++i) {
            Field& f = fields[i];
            if (!f.ok) {
                Comment(f.error, "    ");
                continue;
            }
            const std::string name = names.Take(f.original.empty() ? "field" + std::to_string(i) : f.original, &used);
            if (!f.d.problem.empty()) Comment(name + ": " + f.d.problem, "    ");
            out += "    " + f.d.Join(name) + "; /* offset " + std::to_string(f.offset);
            if (name != f.original) out += ", " + CommentText(f.original);
            out += " */\n";
            layout.Members.push_back({name, f.offset});
            ++written;
        }
        if (!written) out += "    char _empty; /* a record without fields */\n";
        out += "};\n";
        if (pack) out += "#pragma pack(pop)\n";
        GuardClose(t);
        out += "\n";
        if (t->local) w->Layout.push_back(std::move(layout));
    }

    void WriteAlias(Type* t) {
        ITypeInfo* ti = t->write.Get();
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) return;
        CDecl d;
        TypeText(ti, attr->tdescAlias, &d, false, 0);
        const std::string doc = DocOf(ti, MEMBERID_NIL);
        if (!doc.empty()) Comment(t->name + ": " + doc);
        if (t->name != t->original) Comment(t->original);
        if (!d.problem.empty()) Comment(t->name + ": " + d.problem);
        GuardOpen(t);
        if (d.before == "void") d.before = "void *";
        out += "typedef " + d.Join(t->name) + ";\n";
        GuardClose(t, true);
        out += "\n";
    }

    // ---- interfaces -----------------------------------------------------------------------------

    // A function of an interface or module as a slot (its offset is oVft).
    bool FuncSlot(ITypeInfo* ti, UINT index, bool property, UniqueNames* members, Slot* s, FUNCDESC* copy) {
        FuncDescPtr fd;
        HRESULT hr = ti->GetFuncDesc(index, fd.Put(ti));
        if (FAILED(hr) || !fd) {
            s->notes.push_back("function " + std::to_string(index) + " cannot be read (" + Hex(std::uint32_t(hr), 8) + ")");
            return false;
        }
        const FUNCDESC& f = *fd.Get();
        if (copy) *copy = f;
        std::vector<BSTR> raw(std::size_t(std::max<SHORT>(f.cParams, 0)) + 1, nullptr);
        UINT got = 0;
        ti->GetNames(f.memid, raw.data(), UINT(raw.size()), &got);
        std::vector<std::string> names;
        for (UINT i = 0; i < raw.size(); ++i) {
            names.push_back(i < got ? BstrToUtf8(raw[i]) : std::string());
            SysFreeString(raw[i]);
        }
        std::string original = names[0].empty() ? "Method" + std::to_string(index) : names[0];
        if (property) {
            if (f.invkind == INVOKE_PROPERTYGET) original = "get_" + original;
            else if (f.invkind == INVOKE_PROPERTYPUT) original = "put_" + original;
            else if (f.invkind == INVOKE_PROPERTYPUTREF) original = "putref_" + original;
        }
        s->name = members->Take(original);
        if (s->name != original) s->notes.push_back(s->name + " is " + original + " in the library");
        s->offset = f.oVft;
        s->callconv = f.callconv == CC_CDECL ? "__cdecl" : "STDMETHODCALLTYPE";
        if (f.callconv != CC_STDCALL && f.callconv != CC_CDECL)
            s->notes.push_back("calling convention " + std::to_string(f.callconv) + ", written as __stdcall");
        CDecl ret;
        TypeText(ti, f.elemdescFunc.tdesc, &ret, false, 0);
        if (!ret.problem.empty()) s->notes.push_back("result: " + ret.problem);
        s->ret = ret.Join("");
        std::vector<CDecl> params(std::size_t(std::max<SHORT>(f.cParams, 0)));
        UniqueNames reserved;  // what a parameter must not be called
        reserved.Reserve("This");
        reserved.Reserve("lpVtbl");
        reserved.Reserve(s->name);
        for (const std::string& n : ret.names) reserved.Reserve(n);
        for (SHORT i = 0; i < f.cParams; ++i) {
            TypeText(ti, f.lprgelemdescParam[i].tdesc, &params[std::size_t(i)], false, 0);
            for (const std::string& n : params[std::size_t(i)].names) reserved.Reserve(n);
        }
        UniqueNames pnames;
        for (SHORT i = 0; i < f.cParams; ++i) {
            CDecl& d = params[std::size_t(i)];
            const std::string& pn = names[std::size_t(i) + 1];
            const std::string name = pnames.Take(pn.empty() ? "p" + std::to_string(i + 1) : pn, &reserved);
            if (!d.problem.empty()) s->notes.push_back(name + ": " + d.problem);
            if (d.before == "void") d.before = "void *";
            s->params.emplace_back(d.Join(name), name);
        }
        return true;
    }

    // The slots of an interface, inherited ones first; the interface's own from index `inherited`.
    const std::vector<Slot>& Flat(Type* t, int depth = 0) {
        if (t->flatDone) return t->flat;
        static const std::vector<Slot> none;
        if (t->flatBusy || depth > kMaxChain) return none;
        t->flatBusy = true;
        if (t->platform || t->kind == TKIND_DISPATCH) {
            const bool dispatch = t->name != "IUnknown";
            std::vector<Slot>& cached = platformSlots[dispatch];
            if (cached.empty()) cached = PlatformSlots(dispatch, ptr);
            t->flat = cached;
            t->inherited = t->flat.size();
            if (t->name == "IUnknown" || t->name == "IDispatch") t->inherited = 0;
        } else if (t->kind == TKIND_INTERFACE) {
            if (t->base) t->flat = Flat(t->base, depth + 1);
            t->inherited = t->flat.size();
            UniqueNames members;
            members.Reserve(t->name);  // a C++ member of the struct's name would be a constructor
            for (const Slot& s : t->flat) members.Reserve(s.name);
            std::vector<Slot> own;
            ITypeInfo* ti = t->write.Get();
            for (UINT i = 0; i < t->funcs; ++i) {
                Slot s;
                FUNCDESC f{};
                if (!FuncSlot(ti, i, true, &members, &s, &f)) {
                    s.filler = true;
                    s.offset = -1;
                    own.push_back(std::move(s));
                    continue;
                }
                if (f.funckind != FUNC_VIRTUAL && f.funckind != FUNC_PUREVIRTUAL) {
                    s.notes.push_back(s.name + " is not a virtual function: it has no slot");
                    s.filler = true;
                    s.offset = -1;
                }
                own.push_back(std::move(s));
            }
            std::stable_sort(own.begin(), own.end(), [](const Slot& a, const Slot& b) { return a.offset < b.offset; });
            int next = int(t->flat.size()) * ptr;
            std::vector<std::string> pending;
            for (Slot& s : own) {
                if (s.filler) {
                    for (std::string& n : s.notes) pending.push_back(std::move(n));
                    continue;
                }
                if (s.offset < next || s.offset % ptr) {
                    pending.push_back(s.name + " has offset " + std::to_string(s.offset) +
                                      ", which another slot holds or no slot starts at: left out");
                    continue;
                }
                while (next < s.offset) {
                    Slot fill;
                    fill.filler = true;
                    fill.offset = next;
                    fill.name = members.Take("reserved_slot" + std::to_string(next / ptr));
                    t->flat.push_back(std::move(fill));
                    next += ptr;
                }
                for (std::string& n : pending) s.notes.insert(s.notes.begin(), std::move(n));
                pending.clear();
                t->flat.push_back(std::move(s));
                next += ptr;
            }
            if (!pending.empty() && !t->flat.empty())
                for (std::string& n : pending) t->flat.back().notes.push_back(std::move(n));
        }
        t->flatBusy = false;
        t->flatDone = true;
        return t->flat;
    }

    std::string ParamList(const Slot& s, const std::string& self, bool cpp, const char* indent) {
        std::vector<std::string> ps;
        if (!self.empty()) ps.push_back(self + " *This");
        for (const auto& p : s.params) ps.push_back(cpp ? CppQualified(p.first) : p.first);
        if (ps.empty()) return "(void)";
        std::string r = "(\n";
        for (std::size_t i = 0; i < ps.size(); ++i) r += indent + ps[i] + (i + 1 < ps.size() ? ",\n" : ")");
        return r;
    }

    // Library type names in a C declaration, qualified for C++ ("::Name").
    std::string CppQualified(const std::string& c) {
        // The C text names a library type only at the start (after "const "), as TypeText writes it.
        std::size_t at = 0;
        std::size_t end = c.find_first_of(" *([");
        std::string first = c.substr(at, end);
        if (!first.empty() && qualify.count(first)) return "::" + c;
        return c;
    }
    std::unordered_set<std::string> qualify;  // names of the library's types written
    std::vector<Slot> platformSlots[2];         // IUnknown's and IDispatch's

    void WriteInterface(Type* t) {
        const bool dispatch = t->kind == TKIND_DISPATCH;
        Banner(t, dispatch ? "dispatch interface" : "interface");
        // The guard the platform's headers use for the same interface.
        const std::string guard = "__" + t->name + (dispatch ? "_DISPINTERFACE_DEFINED__" : "_INTERFACE_DEFINED__");
        out += "#ifndef " + guard + "\n#define " + guard + "\n\n";
        const std::string iid = global.Take((dispatch ? "DIID_" : "IID_") + t->name);
        out += "DEFINE_GUID(" + iid + ", " + GuidArgs(t->guid) + ");\n\n";
        const std::vector<Slot>& flat = Flat(t);
        if (dispatch) WriteDispids(t);
        // C++
        std::string baseName = "IDispatch";
        if (!dispatch) baseName = t->base ? (t->base->kind == TKIND_DISPATCH && !t->base->dual ? "IDispatch" : t->base->name)
                                          : std::string();
        out += "#if defined(__cplusplus) && !defined(CINTERFACE)\n";
        out += "struct " + t->name + (baseName.empty() ? "" : " : public " + baseName) + "\n{\n";
        const std::size_t own = dispatch ? flat.size() : t->inherited;
        for (std::size_t i = own; i < flat.size(); ++i) {
            const Slot& s = flat[i];
            for (const std::string& n : s.notes) Comment(n, "    ");
            out += "    " + SlotComment(s.offset) + "\n";
            if (s.filler) {
                out += "    virtual void STDMETHODCALLTYPE " + s.name + "(void) = 0;\n\n";
                continue;
            }
            out += "    virtual " + CppQualified(s.ret) + " " + s.callconv + " " + s.name +
                   ParamList(s, "", true, "        ") + " = 0;\n\n";
        }
        out += "};\n#else\n";
        // C
        t->vtbl = global.Take(t->name + "Vtbl");
        out += "typedef struct " + t->vtbl + "\n{\n    BEGIN_INTERFACE\n\n";
        THeaderLayout layout;
        layout.TypeIndex = t->index;
        layout.IsInterface = true;
        layout.Struct = t->vtbl;
        layout.Size = t->vft;
        for (const Slot& s : flat) {
            for (const std::string& n : s.notes) Comment(n, "    ");
            out += "    " + SlotComment(s.offset) + "\n";
            if (s.filler) {
                out += "    void *" + s.name + ";\n\n";
                continue;
            }
            out += "    " + s.ret + " (" + s.callconv + " *" + s.name + ")" + ParamList(s, t->name, false, "        ") +
                   ";\n\n";
            layout.Members.push_back({s.name, std::uint32_t(s.offset)});
        }
        out += "    END_INTERFACE\n} " + t->vtbl + ";\n\n";
        out += "interface " + t->name + "\n{\n    CONST_VTBL " + t->vtbl + " *lpVtbl;\n};\n\n";
        out += "#ifdef COBJMACROS\n";
        for (const Slot& s : flat) {
            if (s.filler) continue;
            std::string args = "This";
            for (const auto& p : s.params) args += "," + p.second;
            out += "#define " + t->name + "_" + s.name + "(" + args + ") (This)->lpVtbl->" + s.name + "(" + args + ")\n";
        }
        out += "#endif\n\n#endif\n\n#endif /* " + guard + " */\n\n";
        if (t->local && !dispatch) w->Layout.push_back(std::move(layout));
    }

    // The member ids of a dispatch interface, one constant per member.
    void WriteDispids(Type* t) {
        ITypeInfo* ti = t->write.Get();
        std::vector<std::pair<std::string, std::int32_t>> ids;
        std::unordered_set<std::int32_t> seen;
        auto add = [&](MEMBERID id) {
            if (!seen.insert(id).second) return;
            BStr n;
            ti->GetDocumentation(id, n.Put(), nullptr, nullptr, nullptr);
            const std::string original = n.Utf8();
            ids.emplace_back(global.Take("DISPID_" + t->name + "_" + (original.empty() ? std::to_string(unsigned(id)) : original)), id);
        };
        for (UINT i = 0; i < t->funcs; ++i) {
            FuncDescPtr fd;
            if (SUCCEEDED(ti->GetFuncDesc(i, fd.Put(ti))) && fd && fd->funckind == FUNC_DISPATCH) add(fd->memid);
        }
        for (UINT i = 0; i < t->vars; ++i) {
            VarDescPtr vd;
            if (SUCCEEDED(ti->GetVarDesc(i, vd.Put(ti))) && vd) add(vd->memid);
        }
        if (ids.empty()) return;
        out += "/* The member ids of " + t->name + " */\nenum\n{\n";
        for (const auto& [name, id] : ids) {
            out += "    " + name + " = " + Signed32(id) + ",";
            if (id < 0) out += " /* " + Hex(std::uint32_t(id), 8) + " */";
            out += "\n";
        }
        out += "};\n\n";
    }

    void WriteCoclass(Type* t) {
        ITypeInfo* ti = t->write.Get();
        Banner(t, "coclass");
        for (UINT i = 0; i < t->impls; ++i) {
            HREFTYPE href;
            INT flags = 0;
            if (FAILED(ti->GetRefTypeOfImplType(i, &href))) continue;
            ti->GetImplTypeFlags(i, &flags);
            Type* r = Ref(ti, href);
            std::string line = r ? r->name : std::string("an interface that cannot be resolved");
            if (flags & IMPLTYPEFLAG_FDEFAULT) line = "[default] " + line;
            if (flags & IMPLTYPEFLAG_FSOURCE) line = "[source] " + line;
            Comment("implements " + line);
        }
        out += "DEFINE_GUID(" + global.Take("CLSID_" + t->name) + ", " + GuidArgs(t->guid) + ");\n\n";
    }

    void WriteModule(Type* t) {
        ITypeInfo* ti = t->write.Get();
        Banner(t, "module");
        for (UINT i = 0; i < t->vars; ++i) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(i, vd.Put(ti))) || !vd) continue;
            BStr n;
            ti->GetDocumentation(vd->memid, n.Put(), nullptr, nullptr, nullptr);
            const std::string original = n.Utf8();
            const std::string name = global.Take(original.empty() ? t->name + "_const" + std::to_string(i) : original);
            std::string type, value;
            bool array = false;
            if (vd->varkind != VAR_CONST || !vd->lpvarValue || !ConstantText(*vd->lpvarValue, &type, &value, &array)) {
                Comment(name + ": a constant C has no literal for");
                continue;
            }
            if (name != original) Comment(name + " is " + original + " in the library");
            const char* g = PlatformGuard(name, 'E');
            if (!g) g = PlatformGuard(name, 'F');
            if (!g) g = PlatformGuard(name, 'A');
            if (g) out += std::string("#ifndef ") + g + "\n";
            out += "static const " + type + " " + name + (array ? "[]" : "") + " = " + value + ";\n";
            if (g) out += "#endif\n";
        }
        for (UINT i = 0; i < t->funcs; ++i) {
            Slot s;
            UniqueNames scope;
            FUNCDESC f{};
            if (!FuncSlot(ti, i, false, &scope, &s, &f)) {
                for (const std::string& n : s.notes) Comment(n);
                continue;
            }
            // The declaration takes a global name; the slot's name was only unique in the function.
            BStr entry, dll;
            WORD ordinal = 0;
            std::string where;
            if (SUCCEEDED(ti->GetDllEntry(f.memid, f.invkind, dll.Put(), entry.Put(), &ordinal)) && !dll.View().empty()) {
                where = "from " + dll.Utf8();
                if (!entry.IsNull()) where += ", entry " + entry.Utf8();
                else if (ordinal) where += ", ordinal " + std::to_string(ordinal);
            }
            std::string original = s.name;
            const std::string name = global.Take(s.name);
            for (const std::string& n : s.notes) Comment(n);
            if (!where.empty()) Comment(name + " " + where);
            if (name != original) Comment(name + ": " + original + " is taken by another declaration");
            // A function the platform's headers declare yields to their declaration.
            const char* g = PlatformGuard(name, 'F');
            if (!g) g = PlatformGuard(name, 'A');
            if (g) out += std::string("#ifndef ") + g + "\n";
            out += s.ret + " " + (f.callconv == CC_CDECL ? "__cdecl" : "__stdcall") + " " + name +
                   ParamList(s, "", false, "    ") + ";\n";
            if (g) out += "#endif\n";
        }
        out += "\n";
    }

    // ---- order ----------------------------------------------------------------------------------

    void Place(Type* t, const std::function<bool(Type*)>& phase, const std::function<void(Type*)>& write, int depth) {
        if (t->state != 0 || !phase(t)) return;
        t->state = 1;
        if (depth < kMaxOrderDepth)
            for (Type* n : t->needs)
                if (n->state == 0 && n->want == kFull) Place(n, phase, write, depth + 1);
        t->state = 2;
        write(t);
    }

    // False, with a comment in its place, once the header holds as many members as it may.
    bool WithinBudget(Type* t) {
        // An interface's Vtbl repeats its base's slots; the base is written first.
        const long size = long(t->funcs) + t->vars + t->impls + (t->base ? long(t->base->flat.size()) : 0);
        if (!t->cut && written + size <= kMemberBudget) {
            written += size;
            return true;
        }
        Comment(t->name + ": left out: the header holds " + std::to_string(kMemberBudget) +
                " members already (0x800288C5)");
        out += "\n";
        return false;
    }
    long written = 0;

    void Write(const std::vector<Type*>& roots) {
        Collect(roots);
        std::vector<Type*> all;
        for (Type* t : foreignOrder) all.push_back(t);
        for (auto& t : locals)
            if (t->info && t->write) all.push_back(t.get());
        for (Type* t : all)
            if (t->want && !t->platform) qualify.insert(t->name);

        // Header, guard and base declarations.
        BStr libName, libDoc;
        if (lib) lib->GetDocumentation(-1, libName.Put(), libDoc.Put(), nullptr, nullptr);
        LibAttrPtr la;
        GUID libid{};
        WORD major = 0, minor = 0;
        if (lib && SUCCEEDED(lib->GetLibAttr(la.Put(lib.Get()))) && la) {
            libid = la->guid;
            major = la->wMajorVerNum;
            minor = la->wMinorVerNum;
        }
        const std::string name = libName.Utf8();
        const std::string clean = CleanIdentifier(name.empty() ? "Library" : name, NameDialect::C);
        char id[16];
        std::snprintf(id, sizeof id, "%08X", unsigned(libid.Data1));
        const std::string guard = clean + "_" + id + "_H";
        out += "/* C and C++ declarations of type library " + CommentText(name) + " " + std::to_string(major) + "." +
               std::to_string(minor) + " " + GuidToString(libid) + (syskind == SYS_WIN64 ? ", Win64" : ", Win32") +
               " */\n";
        if (!libDoc.IsNull() && !libDoc.Utf8().empty()) Comment(libDoc.Utf8());
        out += "/* Method comments give the vtable slot and its byte offset for " + std::to_string(ptr * 8) +
               "-bit pointers; record fields their byte offset. */\n";
        out += "#ifndef " + guard + "\n#define " + guard + "\n\n";
        out += kBaseDeclarations;
        out += "\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
        out += "DEFINE_GUID(" + global.Take("LIBID_" + clean) + ", " + GuidArgs(libid) + ");\n\n";

        out += "/* Forward declarations */\n";
        for (Type* t : all)
            if (t->want && !t->platform) Forward(t);
        out += "\n";

        for (Type* t : all)
            if (t->want == kFull && !t->platform && t->kind == TKIND_ENUM) {
                t->state = 2;
                if (WithinBudget(t)) WriteEnum(t);
            }
        auto valueKind = [](Type* t) {
            return t->kind == TKIND_RECORD || t->kind == TKIND_UNION || t->kind == TKIND_ALIAS;
        };
        auto writeValue = [&](Type* t) {
            if (!WithinBudget(t)) return;
            if (t->kind == TKIND_ALIAS) WriteAlias(t);
            else WriteRecord(t);
        };
        for (Type* t : all)
            if (t->want == kFull && !t->platform) Place(t, valueKind, writeValue, 0);
        auto ifaceKind = [](Type* t) { return t->kind == TKIND_INTERFACE || t->kind == TKIND_DISPATCH; };
        auto writeIface = [&](Type* t) {
            if (WithinBudget(t)) WriteInterface(t);
        };
        for (Type* t : all)
            if (t->want == kFull && !t->platform) Place(t, ifaceKind, writeIface, 0);
        for (Type* t : all)
            if (t->want == kFull && !t->platform && t->kind == TKIND_COCLASS && WithinBudget(t)) WriteCoclass(t);
        for (Type* t : all)
            if (t->want == kFull && !t->platform && t->kind == TKIND_MODULE && WithinBudget(t)) WriteModule(t);
        for (auto& t : locals)
            if (!t->info || !t->write) {
                char hr[16];
                std::snprintf(hr, sizeof hr, "%08X", unsigned(t->status));
                Comment("type " + std::to_string(t->index) + " cannot be read (0x" + hr + ")");
            }

        out += "#ifdef __cplusplus\n}\n#endif\n\n#endif /* " + guard + " */\n";
    }
};

THeaderWriter::THeaderWriter(ITypeLib* Library) : D(new Impl(this, Library)) {}
THeaderWriter::~THeaderWriter() { delete D; }

int THeaderWriter::PointerSize() const { return D->ptr; }

void THeaderWriter::WriteLibrary() {
    Out.clear();
    Layout.clear();
    std::vector<Impl::Type*> roots;
    for (auto& t : D->locals)
        if (t->info && t->write) roots.push_back(t.get());
    D->Write(roots);
}

void THeaderWriter::WriteTypes(const std::vector<int>& TypeIndexes) {
    Out.clear();
    Layout.clear();
    std::vector<Impl::Type*> roots;
    for (int i : TypeIndexes)
        if (i >= 0 && std::size_t(i) < D->locals.size() && D->locals[std::size_t(i)]->write)
            roots.push_back(D->locals[std::size_t(i)].get());
    D->Write(roots);
}

int THeaderWriter::FindType(const std::string& Name) const {
    auto fold = [](std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        return s;
    };
    for (const auto& t : D->locals)
        if (t->original == Name) return t->index;
    const std::string f = fold(Name);
    for (const auto& t : D->locals)
        if (fold(t->original) == f) return t->index;
    return -1;
}
