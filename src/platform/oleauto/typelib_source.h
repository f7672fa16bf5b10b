// The format-neutral core of the type-library service.
//
// How a file format plugs in:
//  * A format provides a `LibrarySource`: an object over the library's bytes (owned by it)
//    that answers a few questions in the neutral terms below. It is created by the format's
//    open function, listed in OpenLibrarySource (loadtypelib.cpp), which checks the bytes'
//    signature and indexes the file cheaply; nothing is decoded at that point.
//  * The generic `ITypeLib`/`ITypeInfo` implementation (typelib_impl.cpp) asks the source for
//    the library attributes once, for a type's `TypeData` the first time the type is used, and
//    for a single function or variable (`FuncData`/`VarData`) each time one is needed. It builds
//    every block it hands out (TYPEATTR, FUNCDESC, VARDESC, TLIBATTR, BSTRs) from these, resolves
//    HREFTYPEs through `ResolveRef`, loads imported libraries, and makes the dispatch view of
//    dual interfaces. A source never allocates platform blocks and never loads other files.
//  * Every read a source makes is bounds-checked against its bytes; a damaged item makes that
//    call fail with a status (TYPE_E_INVDATAREAD, TYPE_E_ELEMENTNOTFOUND ...), nothing more.
//  * Texts are views into memory the source owns (normally its bytes), in the library's 8-bit
//    encoding: read as UTF-8 when they are valid UTF-8, else as Windows code page 1252. A view
//    whose data() is null is a missing text.
//  * HREFTYPE values are the source's own, below 0x80000000; the values from 0x80000000 up are
//    reserved for the generic layer.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tlb {

constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;

// Deeper type descriptions than this are treated as damaged (they are also how a cycle shows).
constexpr int kMaxTypeDepth = 64;

// One node of a type description; nodes refer to each other by index in their TypeTree.
struct TypeNode {
    VARTYPE vt = VT_EMPTY;
    std::uint16_t dims = 0;          // VT_CARRAY: number of bounds
    std::uint32_t child = kNoNode;   // VT_PTR, VT_SAFEARRAY, VT_CARRAY: the element type
    std::uint32_t firstBound = 0;    // VT_CARRAY: index of the first bound in `bounds`
    HREFTYPE href = 0;               // VT_USERDEFINED
};

// The type descriptions of one member or alias.
struct TypeTree {
    std::vector<TypeNode> nodes;
    std::vector<SAFEARRAYBOUND> bounds;

    void Clear() { nodes.clear(); bounds.clear(); }
    std::uint32_t Add(const TypeNode& n) { nodes.push_back(n); return std::uint32_t(nodes.size() - 1); }
};

// A constant or a parameter's default value. `v` holds the type and any scalar; for VT_BSTR
// the string is `text` (null data: a null string) and v.bstrVal stays null.
struct ValueData {
    VARIANT v{};
    std::string_view text;
};

struct ParamData {
    std::uint32_t type = kNoNode;  // root node in the member's TypeTree
    USHORT flags = 0;              // PARAMFLAG_*
    std::string_view name;
    bool hasDefault = false;       // a default value is present (also needs PARAMFLAG_FHASDEFAULT)
    ValueData defaultValue;
};

struct FuncData {
    MEMBERID memid = MEMBERID_NIL;
    FUNCKIND funckind = FUNC_PUREVIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    SHORT cParamsOpt = 0;
    SHORT oVft = 0;
    WORD flags = 0;                // FUNCFLAG_*
    std::uint32_t returnType = kNoNode;
    std::vector<ParamData> params;
    TypeTree types;
    std::string_view name, doc;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;

    // Empties it for the next member, keeping the vectors' storage unless a damaged member
    // made it large.
    void Clear() {
        memid = MEMBERID_NIL;
        funckind = FUNC_PUREVIRTUAL;
        invkind = INVOKE_FUNC;
        callconv = CC_STDCALL;
        cParamsOpt = 0;
        oVft = 0;
        flags = 0;
        returnType = kNoNode;
        name = doc = {};
        helpContext = helpStringContext = 0;
        params.clear();
        types.Clear();
        if (params.capacity() > 1024) std::vector<ParamData>().swap(params);
        if (types.nodes.capacity() > 4096) types = TypeTree();
    }
};

struct VarData {
    MEMBERID memid = MEMBERID_NIL;
    VARKIND varkind = VAR_PERINSTANCE;
    WORD flags = 0;                // VARFLAG_*
    ULONG oInst = 0;               // VAR_PERINSTANCE, VAR_DISPATCH
    bool hasValue = false;         // VAR_CONST
    ValueData value;
    std::uint32_t type = kNoNode;
    TypeTree types;
    std::string_view name, doc;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
};

struct ImplData {
    HREFTYPE href = 0;
    INT flags = 0;                 // IMPLTYPEFLAG_*
    std::uint32_t sourceData = 0;  // for the source's own use (where the item's record is ...)
};

// What the library keeps of one type for its whole life: attributes, implemented types and the
// member ids (functions first, then variables), which is all lookups by member id need.
//
// A dual interface is described by its interface side: `dual` set, kind TKIND_INTERFACE, its own
// functions in vtable form, `impls` its base interface. The library lists it as TKIND_DISPATCH;
// the generic layer builds that dispatch view (inherited functions first, dispatch form).
struct TypeData {
    TYPEKIND kind = TKIND_MAX;
    bool dual = false;
    // A dispatch interface declared from an interface ("dispinterface D { interface I; }"): it
    // shows I's functions, inherited ones first, in dispatch form, then its own; `impls` unused.
    bool hasDispatchOf = false;
    HREFTYPE dispatchOf = 0;
    GUID guid{};
    LCID lcid = 0;
    WORD flags = 0;                // TYPEFLAG_*
    WORD majorVersion = 0, minorVersion = 0;
    ULONG cbSizeInstance = 0;
    WORD cbAlignment = 0;
    WORD cbSizeVft = 0;
    WORD cFuncs = 0, cVars = 0;
    std::vector<ImplData> impls;
    std::vector<MEMBERID> memids;  // cFuncs + cVars entries
    TypeTree aliasTypes;           // TKIND_ALIAS
    std::uint32_t aliasType = kNoNode;
    std::string_view name, doc;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    std::uint64_t sourceData[2] = {};  // for the source's own use (where the members are ...)
};

struct LibraryData {
    GUID guid{};
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD majorVersion = 0, minorVersion = 0;
    WORD flags = 0;                // LIBFLAG_*, as the platform reports them
    std::string_view name, doc, helpFile;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    bool hasDispatchRef = false;   // IDispatch, which dispatch interfaces implement
    HREFTYPE dispatchRef = 0;
    // The size of the library's bytes: what the generic layer keeps of decoded types is bounded
    // by it, whatever the file claims (0: a fixed bound).
    std::size_t byteSize = 0;
};

// A library this one imports types from.
struct ImportData {
    GUID guid{};
    WORD majorVersion = 0, minorVersion = 0;
    LCID lcid = 0;
    std::string_view fileName;     // as recorded, usually without a folder
};

// One item of custom data: a GUID and its value.
struct CustItem {
    GUID guid{};
    ValueData value;
};

// What custom data is asked for: the library, a type, or a member, parameter or implemented
// type of one. `type` is what GetType gave for `typeIndex` (unused for the library).
struct CustOwner {
    enum class Kind { Library, Type, Func, Param, Var, ImplType };
    Kind kind = Kind::Library;
    std::uint32_t typeIndex = 0;
    const TypeData* type = nullptr;
    std::uint32_t index = 0;       // Func, Param: the function; Var: the variable; ImplType
    std::uint32_t param = 0;       // Param
};

// Where a module's function is found: its DLL and its entry point, by name or by ordinal.
struct DllEntryData {
    std::string_view dllName;      // null data: none recorded
    std::string_view entryName;    // null data: none recorded, or an ordinal
    bool byOrdinal = false;
    WORD ordinal = 0;
};

// Where an HREFTYPE leads.
struct RefTarget {
    enum class Kind { Local, Imported };
    Kind kind = Kind::Local;
    std::uint32_t index = 0;       // Local: type index; Imported with !byGuid: type index there
    std::uint32_t import = 0;      // Imported: the source's key for that library, the same for
                                   // every reference into it (GetImport takes it)
    bool byGuid = false;           // Imported: find the type by `guid`
    GUID guid{};
};

class LibrarySource {
public:
    virtual ~LibrarySource() = default;

    virtual HRESULT GetLibrary(LibraryData* out) = 0;
    virtual std::uint32_t TypeCount() = 0;
    virtual HRESULT GetType(std::uint32_t index, TypeData* out) = 0;
    // `type` is what GetType gave for `typeIndex`. With `namesOnly`, only memid, name and the
    // parameters' names need to be filled.
    virtual HRESULT GetFunc(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index,
                            FuncData* out, bool namesOnly) = 0;
    virtual HRESULT GetVar(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index,
                           VarData* out) = 0;
    virtual HRESULT ResolveRef(HREFTYPE href, RefTarget* out) = 0;
    virtual HRESULT GetImport(std::uint32_t key, ImportData* out) = 0;
    // The keys of the imported libraries, in the order the library lists them.
    virtual HRESULT ImportKeys(std::vector<std::uint32_t>* out) = 0;
    // The custom data of an item, in the order the library holds it (none: an empty list).
    virtual HRESULT GetCustData(const CustOwner& owner, std::vector<CustItem>* out) {
        (void)owner;
        out->clear();
        return S_OK;
    }
    // Every name of the library's name table (types, members, parameters), in its order.
    virtual HRESULT Names(std::vector<std::string_view>* out) {
        out->clear();
        return E_NOTIMPL;
    }
    // Function `index` of a module (TKIND_MODULE) type: where it is found.
    virtual HRESULT GetDllEntry(std::uint32_t typeIndex, const TypeData& type, std::uint32_t index,
                                DllEntryData* out) {
        (void)typeIndex;
        *out = DllEntryData();
        return index < type.cFuncs ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
};

}  // namespace tlb
