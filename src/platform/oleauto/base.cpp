// Strings, variants, GUIDs and status texts of the automation service.
#include "platform/oleauto/comptr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib2 = {0x00020411, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo2 = {0x00020412, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// Our own interface: a GUID of the program's.
const IID IID_ITypeLibImports = {0x5b0e7c1a, 0x3d4f, 0x4a8e, {0x9c, 0x21, 0x6e, 0x0b, 0x7a, 0x53, 0xd2, 0x19}};

// ---- BSTR ---------------------------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    if (cch > 0x3FFFFFF0u) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + (cch + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    std::uint32_t bytes = cch * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
    if (pch) std::memcpy(text, pch, cch * sizeof(OLECHAR));
    else std::memset(text, 0, cch * sizeof(OLECHAR));
    text[cch] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    UINT n = 0;
    while (psz[n]) ++n;
    return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(std::uint32_t));
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    std::uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - sizeof(std::uint32_t), sizeof bytes);
    return bytes;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

// ---- UTF conversion -----------------------------------------------------------------------

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // lone surrogate
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = s[i];
        char32_t c;
        int extra;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else { out += u'\uFFFD'; ++i; continue; }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        if (!ok) { out += u'\uFFFD'; ++i; continue; }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

BSTR SysAllocStringUtf8(std::string_view s) {
    std::u16string w = Utf8ToUtf16(s);
    return SysAllocStringLen(w.data(), UINT(w.size()));
}

// ---- GUIDs --------------------------------------------------------------------------------

std::string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return buf;
}

bool GuidFromString(std::string_view t, GUID* out) {
    if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' || t[19] != '-' || t[24] != '-')
        return false;
    auto hex = [&](size_t pos, int digits, std::uint64_t* v) {
        *v = 0;
        for (int i = 0; i < digits; ++i) {
            char c = t[pos + i];
            int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            *v = (*v << 4) | unsigned(d);
        }
        return true;
    };
    std::uint64_t v;
    GUID g{};
    if (!hex(1, 8, &v)) return false;
    g.Data1 = DWORD(v);
    if (!hex(10, 4, &v)) return false;
    g.Data2 = WORD(v);
    if (!hex(15, 4, &v)) return false;
    g.Data3 = WORD(v);
    const size_t pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hex(pos[i], 2, &v)) return false;
        g.Data4[i] = BYTE(v);
    }
    *out = g;
    return true;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39) return 0;
    std::string s = GuidToString(rguid);
    for (int i = 0; i < 38; ++i) lpsz[i] = OLECHAR(s[i]);
    lpsz[38] = 0;
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    if (!lpsz || !pclsid) return E_INVALIDARG;
    std::u16string_view w(lpsz);
    std::string s;
    for (char16_t c : w) {
        if (c > 0x7F) return CO_E_CLASSSTRING;
        s += char(c);
    }
    return GuidFromString(s, pclsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
    HRESULT hr = CLSIDFromString(lpsz, lpiid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

// ---- VARIANT ------------------------------------------------------------------------------

void VariantInit(VARIANT* v) {
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_UNKNOWN: if (v->punkVal) v->punkVal->Release(); break;
        case VT_DISPATCH: if (v->pdispVal) v->pdispVal->Release(); break;
        default: break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    VariantClear(dest);
    *dest = *src;
    if (!(src->vt & VT_BYREF)) {
        switch (src->vt) {
        case VT_BSTR:
            dest->bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
            if (src->bstrVal && !dest->bstrVal) { VariantInit(dest); return E_OUTOFMEMORY; }
            break;
        case VT_UNKNOWN: if (dest->punkVal) dest->punkVal->AddRef(); break;
        case VT_DISPATCH: if (dest->pdispVal) dest->pdispVal->AddRef(); break;
        default: break;
        }
    }
    return S_OK;
}

void ClearCustData(CUSTDATA* pCustData) {
    if (!pCustData) return;
    for (DWORD i = 0; pCustData->prgCustData && i < pCustData->cCustData; ++i)
        VariantClear(&pCustData->prgCustData[i].varValue);
    std::free(pCustData->prgCustData);
    pCustData->prgCustData = nullptr;
    pCustData->cCustData = 0;
}

// ---- status texts -------------------------------------------------------------------------

std::string SysErrorMessage(HRESULT hr) {
    switch (std::uint32_t(hr)) {
    case 0x00000000: return "The operation completed successfully.";
    case 0x80004001: return "Not implemented.";
    case 0x80004002: return "No such interface supported.";
    case 0x80004003: return "Invalid pointer.";
    case 0x80004005: return "Unspecified error.";
    case 0x8000FFFF: return "Catastrophic failure.";
    case 0x80070005: return "Access is denied.";
    case 0x8007000E: return "Not enough memory resources are available to complete this operation.";
    case 0x80070057: return "The parameter is incorrect.";
    case 0x80030001: return "Unable to perform requested operation.";
    case 0x80030002: return "%1 could not be found.";
    case 0x80030003: return "The path %1 could not be found.";
    case 0x80030005: return "Access Denied.";
    case 0x80030008: return "There is insufficient memory available to complete operation.";
    case 0x8003001E: return "A disk error occurred during a read operation.";
    case 0x80020001: return "Unknown interface.";
    case 0x80020003: return "Member not found.";
    case 0x80020004: return "Parameter not found.";
    case 0x80020005: return "Type mismatch.";
    case 0x80020006: return "Unknown name.";
    case 0x80020009: return "Exception occurred.";
    case 0x8002000B: return "Invalid index.";
    case 0x8002000E: return "Invalid number of parameters.";
    case 0x80028016: return "Buffer too small.";
    case 0x80028017: return "Field name not defined in the record.";
    case 0x80028018: return "Old format or invalid type library.";
    case 0x80028019: return "Old format or invalid type library.";
    case 0x8002801C: return "Error accessing the OLE registry.";
    case 0x8002801D: return "Library not registered.";
    case 0x80028027: return "Bound to unknown type.";
    case 0x80028028: return "Qualified name disallowed.";
    case 0x80028029: return "Invalid forward reference, or reference to uncompiled type.";
    case 0x8002802A: return "Type mismatch.";
    case 0x8002802B: return "Element not found.";
    case 0x8002802C: return "Ambiguous name.";
    case 0x8002802D: return "Name already exists in the library.";
    case 0x8002802E: return "Unknown LCID.";
    case 0x8002802F: return "Function not defined in specified DLL.";
    case 0x800288BD: return "Wrong module kind for the operation.";
    case 0x800288C5: return "Size may not exceed 64K.";
    case 0x800288C6: return "Duplicate ID in inheritance hierarchy.";
    case 0x800288CF: return "Incorrect inheritance depth in standard OLE hmember.";
    case 0x80028CA0: return "Type mismatch.";
    case 0x80028CA1: return "Invalid number of arguments.";
    case 0x80028CA2: return "I/O Error.";
    case 0x80028CA3: return "Error creating unique tmp file.";
    case 0x80029C4A: return "Error loading type library/DLL.";
    case 0x80029C83: return "Inconsistent property functions.";
    case 0x80029C84: return "Circular dependency between types/modules.";
    case 0x80040150: return "Could not read key from registry";
    case 0x80040151: return "Could not write key to registry";
    case 0x80040152: return "Could not find the key in the registry";
    case 0x80040153: return "Invalid value for registry";
    case 0x80040154: return "Class not registered";
    case 0x800401F3: return "Invalid class string";
    case 0x800401F5: return "Application not found";
    case 0x80080005: return "Server execution failed";
    default: return std::string();
    }
}
