// The OLE Automation type-library surface, with the platform's names, values and layouts.
// Code above the platform layer is written against this header exactly as it would be
// against the system's own (oaidl.h, oleauto.h, winerror.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = int;
using CHAR = char;
using FLOAT = float;
using DOUBLE = double;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using PVOID = void*;
using HRESULT = std::int32_t;
using SCODE = LONG;
using LCID = DWORD;
using MEMBERID = LONG;
using DISPID = LONG;
using HREFTYPE = DWORD;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DATE = double;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

// ---- status codes -------------------------------------------------------------------------

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_HRESULT_(v) ((HRESULT)(std::uint32_t)(v))

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_(0x80004001);
constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_(0x80004002);
constexpr HRESULT E_POINTER = MAKE_HRESULT_(0x80004003);
constexpr HRESULT E_FAIL = MAKE_HRESULT_(0x80004005);
constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_(0x8007000E);
constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_(0x80070057);

constexpr HRESULT STG_E_INVALIDFUNCTION = MAKE_HRESULT_(0x80030001);
constexpr HRESULT STG_E_FILENOTFOUND = MAKE_HRESULT_(0x80030002);
constexpr HRESULT STG_E_PATHNOTFOUND = MAKE_HRESULT_(0x80030003);
constexpr HRESULT STG_E_ACCESSDENIED = MAKE_HRESULT_(0x80030005);
constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MAKE_HRESULT_(0x80030008);
constexpr HRESULT STG_E_READFAULT = MAKE_HRESULT_(0x8003001E);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MAKE_HRESULT_(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MAKE_HRESULT_(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MAKE_HRESULT_(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MAKE_HRESULT_(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MAKE_HRESULT_(0x80020006);
constexpr HRESULT DISP_E_EXCEPTION = MAKE_HRESULT_(0x80020009);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MAKE_HRESULT_(0x8002000E);
constexpr HRESULT DISP_E_BADINDEX = MAKE_HRESULT_(0x8002000B);

constexpr HRESULT TYPE_E_BUFFERTOOSMALL = MAKE_HRESULT_(0x80028016);
constexpr HRESULT TYPE_E_FIELDNOTFOUND = MAKE_HRESULT_(0x80028017);
constexpr HRESULT TYPE_E_INVDATAREAD = MAKE_HRESULT_(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = MAKE_HRESULT_(0x80028019);
constexpr HRESULT TYPE_E_REGISTRYACCESS = MAKE_HRESULT_(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MAKE_HRESULT_(0x8002801D);
constexpr HRESULT TYPE_E_UNDEFINEDTYPE = MAKE_HRESULT_(0x80028027);
constexpr HRESULT TYPE_E_QUALIFIEDNAMEDISALLOWED = MAKE_HRESULT_(0x80028028);
constexpr HRESULT TYPE_E_INVALIDSTATE = MAKE_HRESULT_(0x80028029);
constexpr HRESULT TYPE_E_WRONGTYPEKIND = MAKE_HRESULT_(0x8002802A);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MAKE_HRESULT_(0x8002802B);
constexpr HRESULT TYPE_E_AMBIGUOUSNAME = MAKE_HRESULT_(0x8002802C);
constexpr HRESULT TYPE_E_NAMECONFLICT = MAKE_HRESULT_(0x8002802D);
constexpr HRESULT TYPE_E_UNKNOWNLCID = MAKE_HRESULT_(0x8002802E);
constexpr HRESULT TYPE_E_DLLFUNCTIONNOTFOUND = MAKE_HRESULT_(0x8002802F);
constexpr HRESULT TYPE_E_BADMODULEKIND = MAKE_HRESULT_(0x800288BD);
constexpr HRESULT TYPE_E_SIZETOOBIG = MAKE_HRESULT_(0x800288C5);
constexpr HRESULT TYPE_E_DUPLICATEID = MAKE_HRESULT_(0x800288C6);
constexpr HRESULT TYPE_E_INVALIDID = MAKE_HRESULT_(0x800288CF);
constexpr HRESULT TYPE_E_TYPEMISMATCH = MAKE_HRESULT_(0x80028CA0);
constexpr HRESULT TYPE_E_OUTOFBOUNDS = MAKE_HRESULT_(0x80028CA1);
constexpr HRESULT TYPE_E_IOERROR = MAKE_HRESULT_(0x80028CA2);
constexpr HRESULT TYPE_E_CANTCREATETMPFILE = MAKE_HRESULT_(0x80028CA3);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MAKE_HRESULT_(0x80029C4A);
constexpr HRESULT TYPE_E_INCONSISTENTPROPFUNCS = MAKE_HRESULT_(0x80029C83);
constexpr HRESULT TYPE_E_CIRCULARTYPE = MAKE_HRESULT_(0x80029C84);

constexpr HRESULT REGDB_E_READREGDB = MAKE_HRESULT_(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MAKE_HRESULT_(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = MAKE_HRESULT_(0x80040152);
constexpr HRESULT REGDB_E_INVALIDVALUE = MAKE_HRESULT_(0x80040153);
constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = MAKE_HRESULT_(0x800401F3);
constexpr HRESULT CO_E_APPNOTFOUND = MAKE_HRESULT_(0x800401F5);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MAKE_HRESULT_(0x80080005);

// The system's message text for a status ("" when it has none), as FormatMessage gives it.
std::string SysErrorMessage(HRESULT hr);

// ---- GUIDs --------------------------------------------------------------------------------

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline BOOL IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_ITypeLib;
extern const IID IID_ITypeInfo;
extern const IID IID_ITypeLib2;
extern const IID IID_ITypeInfo2;
extern const IID IID_ITypeLibImports;

// ---- BSTR ---------------------------------------------------------------------------------
// A BSTR points at UTF-16 text preceded by its byte length (32 bits) and followed by a 0.

BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// ---- VARTYPE and VARIANT ------------------------------------------------------------------

enum VARENUM : VARTYPE {
    VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6,
    VT_DATE = 7, VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12,
    VT_UNKNOWN = 13, VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19,
    VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23, VT_VOID = 24, VT_HRESULT = 25,
    VT_PTR = 26, VT_SAFEARRAY = 27, VT_CARRAY = 28, VT_USERDEFINED = 29, VT_LPSTR = 30,
    VT_LPWSTR = 31, VT_RECORD = 36, VT_INT_PTR = 37, VT_UINT_PTR = 38, VT_FILETIME = 64,
    VT_BLOB = 65, VT_STREAM = 66, VT_STORAGE = 67, VT_STREAMED_OBJECT = 68,
    VT_STORED_OBJECT = 69, VT_BLOB_OBJECT = 70, VT_CF = 71, VT_CLSID = 72,
    VT_VERSIONED_STREAM = 73, VT_BSTR_BLOB = 0xfff, VT_VECTOR = 0x1000, VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000, VT_RESERVED = 0x8000, VT_ILLEGAL = 0xffff, VT_ILLEGALMASKED = 0xfff,
    VT_TYPEMASK = 0xfff
};

union CY {
    struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
};

struct DECIMAL {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
};

struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct ITypeLib;
struct ITypeComp;

struct VARIANT {
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
                IUnknown* punkVal;
                IDispatch* pdispVal;
                CHAR cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                PVOID byref;
            };
        };
        DECIMAL decVal;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// ---- type descriptions --------------------------------------------------------------------

// The kind enumerations have a fixed underlying type: a damaged library may carry any value,
// and holding it must not be undefined behaviour.
enum TYPEKIND : int {
    TKIND_ENUM = 0, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS,
    TKIND_ALIAS, TKIND_UNION, TKIND_MAX
};

enum SYSKIND : int { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };

enum FUNCKIND : int {
    FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH
};

enum INVOKEKIND : int {
    INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8
};

enum CALLCONV : int {
    CC_FASTCALL = 0, CC_CDECL = 1, CC_MSCPASCAL, CC_PASCAL = CC_MSCPASCAL, CC_MACPASCAL,
    CC_STDCALL, CC_FPFASTCALL, CC_SYSCALL, CC_MPWCDECL, CC_MPWPASCAL, CC_MAX
};

enum VARKIND : int { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };

enum DESCKIND : int {
    DESCKIND_NONE = 0, DESCKIND_FUNCDESC, DESCKIND_VARDESC, DESCKIND_TYPECOMP,
    DESCKIND_IMPLICITAPPOBJ, DESCKIND_MAX
};

enum TYPEFLAGS : WORD {
    TYPEFLAG_FAPPOBJECT = 0x1, TYPEFLAG_FCANCREATE = 0x2, TYPEFLAG_FLICENSED = 0x4,
    TYPEFLAG_FPREDECLID = 0x8, TYPEFLAG_FHIDDEN = 0x10, TYPEFLAG_FCONTROL = 0x20,
    TYPEFLAG_FDUAL = 0x40, TYPEFLAG_FNONEXTENSIBLE = 0x80, TYPEFLAG_FOLEAUTOMATION = 0x100,
    TYPEFLAG_FRESTRICTED = 0x200, TYPEFLAG_FAGGREGATABLE = 0x400, TYPEFLAG_FREPLACEABLE = 0x800,
    TYPEFLAG_FDISPATCHABLE = 0x1000, TYPEFLAG_FREVERSEBIND = 0x2000, TYPEFLAG_FPROXY = 0x4000
};

enum FUNCFLAGS : WORD {
    FUNCFLAG_FRESTRICTED = 0x1, FUNCFLAG_FSOURCE = 0x2, FUNCFLAG_FBINDABLE = 0x4,
    FUNCFLAG_FREQUESTEDIT = 0x8, FUNCFLAG_FDISPLAYBIND = 0x10, FUNCFLAG_FDEFAULTBIND = 0x20,
    FUNCFLAG_FHIDDEN = 0x40, FUNCFLAG_FUSESGETLASTERROR = 0x80, FUNCFLAG_FDEFAULTCOLLELEM = 0x100,
    FUNCFLAG_FUIDEFAULT = 0x200, FUNCFLAG_FNONBROWSABLE = 0x400, FUNCFLAG_FREPLACEABLE = 0x800,
    FUNCFLAG_FIMMEDIATEBIND = 0x1000
};

enum VARFLAGS : WORD {
    VARFLAG_FREADONLY = 0x1, VARFLAG_FSOURCE = 0x2, VARFLAG_FBINDABLE = 0x4,
    VARFLAG_FREQUESTEDIT = 0x8, VARFLAG_FDISPLAYBIND = 0x10, VARFLAG_FDEFAULTBIND = 0x20,
    VARFLAG_FHIDDEN = 0x40, VARFLAG_FRESTRICTED = 0x80, VARFLAG_FDEFAULTCOLLELEM = 0x100,
    VARFLAG_FUIDEFAULT = 0x200, VARFLAG_FNONBROWSABLE = 0x400, VARFLAG_FREPLACEABLE = 0x800,
    VARFLAG_FIMMEDIATEBIND = 0x1000
};

constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr INT IMPLTYPEFLAG_FSOURCE = 0x2;
constexpr INT IMPLTYPEFLAG_FRESTRICTED = 0x4;
constexpr INT IMPLTYPEFLAG_FDEFAULTVTABLE = 0x8;

constexpr USHORT PARAMFLAG_NONE = 0x0;
constexpr USHORT PARAMFLAG_FIN = 0x1;
constexpr USHORT PARAMFLAG_FOUT = 0x2;
constexpr USHORT PARAMFLAG_FLCID = 0x4;
constexpr USHORT PARAMFLAG_FRETVAL = 0x8;
constexpr USHORT PARAMFLAG_FOPT = 0x10;
constexpr USHORT PARAMFLAG_FHASDEFAULT = 0x20;
constexpr USHORT PARAMFLAG_FHASCUSTDATA = 0x40;

enum LIBFLAGS : WORD {
    LIBFLAG_FRESTRICTED = 0x1, LIBFLAG_FCONTROL = 0x2, LIBFLAG_FHIDDEN = 0x4,
    LIBFLAG_FHASDISKIMAGE = 0x8
};

constexpr MEMBERID MEMBERID_NIL = -1;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
constexpr DISPID DISPID_EVALUATE = -5;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr LCID LOCALE_NEUTRAL = 0;

struct ARRAYDESC;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;   // VT_PTR, VT_SAFEARRAY
        ARRAYDESC* lpadesc;  // VT_CARRAY
        HREFTYPE hreftype;   // VT_USERDEFINED
    };
    VARTYPE vt;
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct ARRAYDESC {
    TYPEDESC tdescElem;
    USHORT cDims;
    SAFEARRAYBOUND rgbounds[1];  // cDims entries
};

struct PARAMDESCEX {
    ULONG cBytes;
    VARIANTARG varDefaultValue;
};

struct PARAMDESC {
    PARAMDESCEX* pparamdescex;  // present when wParamFlags has PARAMFLAG_FHASDEFAULT
    USHORT wParamFlags;
};

struct IDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
};

struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    };
};

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;  // TKIND_ALIAS only
    IDLDESC idldescType;
};

struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;  // cParams entries
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct VARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;          // VAR_PERINSTANCE, VAR_DISPATCH
        VARIANT* lpvarValue;  // VAR_CONST
    };
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// ---- interfaces ---------------------------------------------------------------------------

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;

protected:
    virtual ~IUnknown() = default;
};

struct ITypeComp : IUnknown {};

struct ITypeLib : IUnknown {
    STDMETHOD_(UINT, GetTypeInfoCount)() = 0;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) = 0;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) = 0;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;
    // index -1 is the library itself; every out pointer may be null.
    STDMETHOD(GetDocumentation)(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    // Whether the library holds the name (letter case aside); when it does, szNameBuf is given
    // the library's spelling. lHashVal is not used. E_NOTIMPL for formats without a name table.
    STDMETHOD(IsName)(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) = 0;
    STDMETHOD(FindName)(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                        MEMBERID* rgMemId, USHORT* pcFound) = 0;
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) = 0;
};

struct ITypeInfo : IUnknown {
    STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) = 0;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) = 0;
    STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) = 0;
    STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) = 0;
    STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) = 0;
    STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) = 0;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    STDMETHOD(Invoke)(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    // memid MEMBERID_NIL (-1) is the type itself; every out pointer may be null.
    STDMETHOD(GetDocumentation)(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    STDMETHOD(GetDllEntry)(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                           BSTR* pBstrName, WORD* pwOrdinal) = 0;
    STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) = 0;
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) = 0;
    STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) = 0;
    STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) = 0;
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) = 0;
    STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) = 0;
    STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) = 0;
};

// Custom data: (GUID, value) pairs attached to a library, type, member, parameter or
// implemented type.
struct CUSTDATAITEM {
    GUID guid;
    VARIANTARG varValue;
};

struct CUSTDATA {
    DWORD cCustData;
    CUSTDATAITEM* prgCustData;
};

// Frees what a GetAll...CustData call filled and empties the block.
void ClearCustData(CUSTDATA* pCustData);

struct ITypeLib2 : ITypeLib {
    // VT_EMPTY and S_OK when the library has no data under `guid`.
    STDMETHOD(GetCustData)(REFGUID guid, VARIANT* pVarVal) = 0;
    STDMETHOD(GetLibStatistics)(ULONG* pcUniqueNames, ULONG* pcchUniqueNames) = 0;
    // index -1 is the library itself; every out pointer may be null.
    STDMETHOD(GetDocumentation2)(INT index, LCID lcid, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                 BSTR* pbstrHelpStringDll) = 0;
    STDMETHOD(GetAllCustData)(CUSTDATA* pCustData) = 0;
};

struct ITypeInfo2 : ITypeInfo {
    STDMETHOD(GetTypeKind)(TYPEKIND* pTypeKind) = 0;
    STDMETHOD(GetTypeFlags)(ULONG* pTypeFlags) = 0;
    STDMETHOD(GetFuncIndexOfMemId)(MEMBERID memid, INVOKEKIND invKind, UINT* pFuncIndex) = 0;
    STDMETHOD(GetVarIndexOfMemId)(MEMBERID memid, UINT* pVarIndex) = 0;
    // VT_EMPTY and S_OK when there is no data under `guid`.
    STDMETHOD(GetCustData)(REFGUID guid, VARIANT* pVarVal) = 0;
    STDMETHOD(GetFuncCustData)(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    STDMETHOD(GetParamCustData)(UINT indexFunc, UINT indexParam, REFGUID guid, VARIANT* pVarVal) = 0;
    STDMETHOD(GetVarCustData)(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    STDMETHOD(GetImplTypeCustData)(UINT index, REFGUID guid, VARIANT* pVarVal) = 0;
    // memid MEMBERID_NIL (-1) is the type itself; every out pointer may be null.
    STDMETHOD(GetDocumentation2)(MEMBERID memid, LCID lcid, BSTR* pbstrHelpString, DWORD* pdwHelpStringContext,
                                 BSTR* pbstrHelpStringDll) = 0;
    STDMETHOD(GetAllCustData)(CUSTDATA* pCustData) = 0;
    STDMETHOD(GetAllFuncCustData)(UINT index, CUSTDATA* pCustData) = 0;
    STDMETHOD(GetAllParamCustData)(UINT indexFunc, UINT indexParam, CUSTDATA* pCustData) = 0;
    STDMETHOD(GetAllVarCustData)(UINT index, CUSTDATA* pCustData) = 0;
    STDMETHOD(GetAllImplTypeCustData)(UINT index, CUSTDATA* pCustData) = 0;
};

// Beyond the platform's interfaces (reached by QueryInterface on a library): the libraries it
// imports types from, as it records them, in the order it lists them.
struct ITypeLibImports : IUnknown {
    STDMETHOD_(UINT, GetImportCount)() = 0;
    // The import's identity and the file name it recorded (as recorded, folder and all).
    // pbstrPath is the file the import was found at: null, and S_FALSE, when it was not found.
    // Every out pointer may be null.
    STDMETHOD(GetImport)(UINT index, GUID* pGuid, WORD* pwMajorVerNum, WORD* pwMinorVerNum, LCID* pLcid,
                         BSTR* pbstrRecordedName, BSTR* pbstrPath) = 0;
};

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                             DISPID* rgDispId) = 0;
    STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                      DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                      UINT* puArgErr) = 0;
};

// ---- functions ----------------------------------------------------------------------------

// Loads a type library from a file: a stand-alone library, or a TYPELIB resource of a PE
// image. A trailing "\N" selects resource N. Registered (drive-letter) paths of a Wine
// prefix are mapped to host paths.
HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);

// The path registered for a library, by the platform's version and locale fallbacks.
HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                              BSTR* lpbstrPathName);

// GUID text in registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; returns the characters
// written including the terminating 0, or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// Parses registry-form GUID text; CO_E_CLASSSTRING when it is not one.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
