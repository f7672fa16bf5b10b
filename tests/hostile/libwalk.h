// Touches everything a library offers through the automation API: what `quibrel-tlb dump`
// reads and a little more (type descriptions followed to their referenced types, default
// values, implemented types followed one level). Used on damaged libraries, where the only
// requirement is that every call returns and nothing reads outside its data.
#pragma once

#include "platform/oleauto/comptr.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace libwalk {

struct Counts {
    std::uint64_t types = 0, funcs = 0, vars = 0, names = 0, refs = 0, failures = 0;
};

// Reads every character of a string so that a bad one shows up under the sanitizers.
inline void TouchString(BSTR b, Counts& c) {
    if (!b) return;
    UINT n = SysStringLen(b);
    unsigned sum = 0;
    for (UINT i = 0; i < n; ++i) sum += b[i];
    if (sum == 0xFFFFFFFFu) ++c.names;  // keeps the loop
    ++c.names;
}

inline void TouchVariant(const VARIANT* v, Counts& c) {
    if (!v) return;
    if (v->vt == VT_BSTR) TouchString(v->bstrVal, c);
}

inline void WalkTypeDesc(ITypeInfo* owner, const TYPEDESC* td, Counts& c, int depth = 0) {
    if (!td || depth > 16) return;
    switch (td->vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        WalkTypeDesc(owner, td->lptdesc, c, depth + 1);
        break;
    case VT_CARRAY:
        if (td->lpadesc) {
            unsigned long long cells = 0;
            for (USHORT d = 0; d < td->lpadesc->cDims; ++d)
                cells += td->lpadesc->rgbounds[d].cElements + static_cast<unsigned>(td->lpadesc->rgbounds[d].lLbound);
            if (cells == 0xFFFFFFFFFFFFull) ++c.refs;
            WalkTypeDesc(owner, &td->lpadesc->tdescElem, c, depth + 1);
        }
        break;
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> ref;
        if (SUCCEEDED(owner->GetRefTypeInfo(td->hreftype, ref.Put())) && ref) {
            ++c.refs;
            BStr name;
            if (SUCCEEDED(ref->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr)))
                TouchString(name.Get(), c);
            TypeAttrPtr attr;
            if (SUCCEEDED(ref->GetTypeAttr(attr.Put(ref.Get()))) && attr) {
                if (attr->typekind == TKIND_ALIAS) WalkTypeDesc(ref.Get(), &attr->tdescAlias, c, depth + 1);
            }
        } else {
            ++c.failures;
        }
        break;
    }
    default:
        break;
    }
}

inline void WalkElem(ITypeInfo* owner, const ELEMDESC& e, bool isParam, Counts& c) {
    WalkTypeDesc(owner, &e.tdesc, c);
    if (isParam && (e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
        TouchVariant(&e.paramdesc.pparamdescex->varDefaultValue, c);
}

// Custom data as a GetAll... call gives it; a failure is counted, never read.
// Out-of-range probes (inRange false) must fail without reading; they are not counted.
template <class F>
inline void WalkCustData(F get, Counts& c, bool inRange = true) {
    CUSTDATA cd{};
    if (FAILED(get(&cd))) {
        if (inRange) ++c.failures;
        return;
    }
    for (DWORD i = 0; i < cd.cCustData; ++i) TouchVariant(&cd.prgCustData[i].varValue, c);
    ClearCustData(&cd);
}

// One type: attributes, names, docs, functions, variables, implemented types.
inline void WalkType(ITypeInfo* ti, Counts& c, bool followImpls = true) {
    ++c.types;
    BStr name, doc, helpFile;
    DWORD ctx = 0;
    if (SUCCEEDED(ti->GetDocumentation(MEMBERID_NIL, name.Put(), doc.Put(), &ctx, helpFile.Put()))) {
        TouchString(name.Get(), c);
        TouchString(doc.Get(), c);
    }
    {
        ComPtr<ITypeLib> owner;
        UINT index = 0;
        if (SUCCEEDED(ti->GetContainingTypeLib(owner.Put(), &index)) && owner) ++c.refs;
    }
    TypeAttrPtr attr;
    if (FAILED(ti->GetTypeAttr(attr.Put(ti))) || !attr) {
        ++c.failures;
        return;
    }
    if (attr->typekind == TKIND_ALIAS) WalkTypeDesc(ti, &attr->tdescAlias, c);
    ComPtr<ITypeInfo2> ti2;
    ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(ti2.Put()));
    if (ti2) {
        WalkCustData([&](CUSTDATA* cd) { return ti2->GetAllCustData(cd); }, c);
        for (UINT f = 0; f <= attr->cFuncs; ++f) {
            WalkCustData([&](CUSTDATA* cd) { return ti2->GetAllFuncCustData(f, cd); }, c, f < attr->cFuncs);
            for (UINT p = 0; p < 3; ++p)
                WalkCustData([&](CUSTDATA* cd) { return ti2->GetAllParamCustData(f, p, cd); }, c, false);
        }
        for (UINT v = 0; v <= attr->cVars; ++v)
            WalkCustData([&](CUSTDATA* cd) { return ti2->GetAllVarCustData(v, cd); }, c, v < attr->cVars);
        for (UINT j = 0; j <= attr->cImplTypes; ++j)
            WalkCustData([&](CUSTDATA* cd) { return ti2->GetAllImplTypeCustData(j, cd); }, c, false);
    }
    for (UINT f = 0; f < attr->cFuncs; ++f) {
        FuncDescPtr fd;
        if (FAILED(ti->GetFuncDesc(f, fd.Put(ti))) || !fd) {
            ++c.failures;
            continue;
        }
        ++c.funcs;
        BStr fname, fdoc;
        if (SUCCEEDED(ti->GetDocumentation(fd->memid, fname.Put(), fdoc.Put(), nullptr, nullptr))) {
            TouchString(fname.Get(), c);
            TouchString(fdoc.Get(), c);
        }
        BSTR names[64] = {};
        UINT got = 0;
        if (SUCCEEDED(ti->GetNames(fd->memid, names, 64, &got))) {
            for (UINT k = 0; k < got && k < 64; ++k) {
                TouchString(names[k], c);
                SysFreeString(names[k]);
            }
        }
        WalkElem(ti, fd->elemdescFunc, false, c);
        for (SHORT p = 0; p < fd->cParams; ++p) WalkElem(ti, fd->lprgelemdescParam[p], true, c);
        if (attr->typekind == TKIND_MODULE) {
            BStr dll, entry;
            WORD ordinal = 0;
            if (SUCCEEDED(ti->GetDllEntry(fd->memid, fd->invkind, dll.Put(), entry.Put(), &ordinal))) {
                TouchString(dll.Get(), c);
                TouchString(entry.Get(), c);
            }
        }
        for (SHORT s = 0; s < fd->cScodes; ++s)
            if (fd->lprgscode[s] == 0x7FFFFFFF) ++c.refs;
    }
    for (UINT v = 0; v < attr->cVars; ++v) {
        VarDescPtr vd;
        if (FAILED(ti->GetVarDesc(v, vd.Put(ti))) || !vd) {
            ++c.failures;
            continue;
        }
        ++c.vars;
        BStr vname, vdoc;
        if (SUCCEEDED(ti->GetDocumentation(vd->memid, vname.Put(), vdoc.Put(), nullptr, nullptr))) {
            TouchString(vname.Get(), c);
            TouchString(vdoc.Get(), c);
        }
        BSTR names[2] = {};
        UINT got = 0;
        if (SUCCEEDED(ti->GetNames(vd->memid, names, 2, &got)))
            for (UINT k = 0; k < got && k < 2; ++k) SysFreeString(names[k]);
        WalkElem(ti, vd->elemdescVar, false, c);
        if (vd->varkind == VAR_CONST) TouchVariant(vd->lpvarValue, c);
    }
    // Implemented types, and the vtable side of a dual interface (index -1). A damaged list
    // may name the same types thousands of times: each distinct one is walked once.
    std::set<HREFTYPE> followed;
    for (int j = (attr->typekind == TKIND_DISPATCH ? -1 : 0); j < static_cast<int>(attr->cImplTypes); ++j) {
        INT flags = 0;
        if (j >= 0 && FAILED(ti->GetImplTypeFlags(static_cast<UINT>(j), &flags))) ++c.failures;
        HREFTYPE href = 0;
        if (FAILED(ti->GetRefTypeOfImplType(static_cast<UINT>(j), &href))) continue;
        ComPtr<ITypeInfo> ref;
        if (FAILED(ti->GetRefTypeInfo(href, ref.Put())) || !ref) {
            ++c.failures;
            continue;
        }
        ++c.refs;
        if (followImpls && followed.insert(href).second && followed.size() <= 64) WalkType(ref.Get(), c, false);
    }
}

inline Counts WalkLibrary(ITypeLib* lib) {
    Counts c;
    BStr name, doc, helpFile;
    DWORD ctx = 0;
    if (SUCCEEDED(lib->GetDocumentation(-1, name.Put(), doc.Put(), &ctx, helpFile.Put()))) {
        TouchString(name.Get(), c);
        TouchString(doc.Get(), c);
    }
    LibAttrPtr la;
    if (SUCCEEDED(lib->GetLibAttr(la.Put(lib))) && la) {
        ComPtr<ITypeInfo> byGuid;
        lib->GetTypeInfoOfGuid(la->guid, byGuid.Put());
    }
    ComPtr<ITypeLib2> lib2;
    if (SUCCEEDED(lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2.Put()))) && lib2)
        WalkCustData([&](CUSTDATA* cd) { return lib2->GetAllCustData(cd); }, c);
    ComPtr<ITypeLibImports> imports;
    if (SUCCEEDED(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put()))) && imports) {
        for (UINT i = 0, n = imports->GetImportCount(); i <= n && i < 4096; ++i) {
            BStr recorded, path;
            if (SUCCEEDED(imports->GetImport(i, nullptr, nullptr, nullptr, nullptr, recorded.Put(), path.Put()))) {
                TouchString(recorded.Get(), c);
                TouchString(path.Get(), c);
            }
        }
    }
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        lib->GetTypeInfoType(i, &kind);
        BStr tname;
        lib->GetDocumentation(static_cast<INT>(i), tname.Put(), nullptr, nullptr, nullptr);
        TouchString(tname.Get(), c);
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || !ti) {
            ++c.failures;
            continue;
        }
        WalkType(ti.Get(), c);
    }
    // Out-of-range requests must fail, not read.
    ComPtr<ITypeInfo> none;
    lib->GetTypeInfo(count, none.Put());
    lib->GetTypeInfo(0xFFFFFFFFu, none.Put());
    return c;
}

// Where scratch files go: memory-backed when the system has it.
inline std::filesystem::path ScratchRoot() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

inline bool WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Loads the bytes as the file `path` (written first) and walks the library when it loads.
// Returns the load status.
inline HRESULT LoadAndWalk(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                           Counts* counts = nullptr, const std::string& suffix = "") {
    if (!WriteFile(path, data, size)) return E_FAIL;
    std::u16string wide = Utf8ToUtf16(path.string() + suffix);
    ITypeLib* raw = nullptr;
    HRESULT hr = LoadTypeLib(reinterpret_cast<LPCOLESTR>(wide.c_str()), &raw);
    ComPtr<ITypeLib> lib = ComPtr<ITypeLib>::Attach(raw);
    if (SUCCEEDED(hr) && lib) {
        Counts c = WalkLibrary(lib.Get());
        if (counts) *counts = c;
    }
    return hr;
}

}  // namespace libwalk
