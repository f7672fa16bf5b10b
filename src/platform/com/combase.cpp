#include "platform/com/combase.h"

#include "platform/com/classindex.h"
#include "platform/oleauto/comptr.h"
#include "platform/registry/registry.h"

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// A CurVer chain longer than this is a loop in a damaged registry.
constexpr int kMaxCurVerDepth = 8;

HRESULT ClassOfProgID(const std::string& progID, CLSID* clsid, int depth) {
    // A backslash would reach into other keys of the classes root.
    if (progID.empty() || progID.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    std::string curVer;
    if (depth < kMaxCurVerDepth &&
        RegReadString(HKEY_CLASSES_ROOT, (progID + "\\CurVer").c_str(), nullptr, &curVer) &&
        !curVer.empty() && SUCCEEDED(ClassOfProgID(curVer, clsid, depth + 1)))
        return S_OK;
    std::string text;
    if (!RegReadString(HKEY_CLASSES_ROOT, (progID + "\\CLSID").c_str(), nullptr, &text))
        return CO_E_CLASSSTRING;
    return GuidFromString(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

// Version text "major.minor", hexadecimal as the type-library keys name versions.
std::optional<std::pair<USHORT, USHORT>> ParseVersion(const std::string& text) {
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size()) return std::nullopt;
    auto part = [](const std::string& s) -> std::optional<USHORT> {
        if (s.empty() || s.size() > 4) return std::nullopt;
        char* end = nullptr;
        const unsigned long v = std::strtoul(s.c_str(), &end, 16);
        if (*end != '\0' || s[0] == '-' || s[0] == '+') return std::nullopt;
        return USHORT(v);
    };
    const auto major = part(text.substr(0, dot));
    const auto minor = part(text.substr(dot + 1));
    if (!major || !minor) return std::nullopt;
    return std::make_pair(*major, *minor);
}

// The registered path of a library version: by the locale asked, else by any locale registered.
HRESULT RegisteredPath(const GUID& lib, USHORT major, USHORT minor, const std::string& versionKey,
                       LCID lcid, BStr* path) {
    HRESULT hr = QueryPathOfRegTypeLib(lib, major, minor, lcid, path->Put());
    if (SUCCEEDED(hr)) return hr;
    ScopedHKEY key;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return hr;
    for (const std::string& name : RegSubKeyNames(key.Get())) {
        char* end = nullptr;
        const unsigned long locale = std::strtoul(name.c_str(), &end, 16);
        if (name.empty() || *end != '\0' || locale == lcid) continue;
        if (SUCCEEDED(QueryPathOfRegTypeLib(lib, major, minor, LCID(locale), path->Put())))
            return S_OK;
    }
    return hr;
}

// The library the class's TypeLib and Version keys name.
HRESULT RegisteredLibraryOfClass(const CLSID& clsid, LCID lcid, ComPtr<ITypeLib>* typeLib) {
    const std::string classKey = "CLSID\\" + GuidToString(clsid);
    std::string text;
    if (!RegReadString(HKEY_CLASSES_ROOT, (classKey + "\\TypeLib").c_str(), nullptr, &text))
        return DISP_E_BADINDEX;  // the class names no type information
    GUID lib;
    if (!GuidFromString(text, &lib)) return TYPE_E_LIBNOTREGISTERED;
    const std::string libKey = "TypeLib\\" + GuidToString(lib);

    std::optional<std::pair<USHORT, USHORT>> version;
    std::string versionName;
    if (RegReadString(HKEY_CLASSES_ROOT, (classKey + "\\Version").c_str(), nullptr, &text)) {
        version = ParseVersion(text);
        versionName = text;
    }
    if (!version) {
        // No version given: the newest one registered.
        ScopedHKEY key;
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, libKey.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
            for (const std::string& name : RegSubKeyNames(key.Get())) {
                const auto v = ParseVersion(name);
                if (v && (!version || *v > *version)) {
                    version = v;
                    versionName = name;
                }
            }
        }
        if (!version) return TYPE_E_LIBNOTREGISTERED;
    }

    BStr path;
    HRESULT hr = RegisteredPath(lib, version->first, version->second, libKey + "\\" + versionName,
                                lcid, &path);
    if (FAILED(hr)) return hr;
    return LoadTypeLib(path.Get(), typeLib->Put());
}

// The type information of the default interface of the coclass `clsid` of a library.
HRESULT DefaultInterfaceInLibrary(ITypeLib* typeLib, const CLSID& clsid, ITypeInfo** result) {
    ComPtr<ITypeInfo> coclass;
    HRESULT hr = typeLib->GetTypeInfoOfGuid(clsid, coclass.Put());
    if (FAILED(hr)) return hr;
    TypeAttrPtr attr;
    hr = coclass->GetTypeAttr(attr.Put(coclass.Get()));
    if (FAILED(hr)) return hr;
    if (attr->typekind != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;

    // The interface marked default, else the first that is not an event source.
    std::optional<UINT> chosen;
    for (UINT j = 0; j < attr->cImplTypes; ++j) {
        INT flags = 0;
        if (FAILED(coclass->GetImplTypeFlags(j, &flags)) || (flags & IMPLTYPEFLAG_FSOURCE)) continue;
        if (flags & IMPLTYPEFLAG_FDEFAULT) {
            chosen = j;
            break;
        }
        if (!chosen) chosen = j;
    }
    if (!chosen) return TYPE_E_ELEMENTNOTFOUND;
    HREFTYPE ref = 0;
    hr = coclass->GetRefTypeOfImplType(*chosen, &ref);
    if (FAILED(hr)) return hr;
    return coclass->GetRefTypeInfo(ref, result);
}

// The type information of a class's default interface: through the library its registration
// names, else through a registered library that declares the class, as the live object would
// answer. The first way's status when neither finds it.
HRESULT DefaultInterfaceOfClass(const CLSID& clsid, LCID lcid, ITypeInfo** result) {
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = RegisteredLibraryOfClass(clsid, lcid, &typeLib);
    if (SUCCEEDED(hr)) {
        hr = DefaultInterfaceInLibrary(typeLib.Get(), clsid, result);
        if (SUCCEEDED(hr)) return hr;
    }
    ComPtr<ITypeLib> declaring;
    if (FAILED(LibraryDeclaringClass(clsid, &declaring)) || declaring.Get() == typeLib.Get()) return hr;
    return SUCCEEDED(DefaultInterfaceInLibrary(declaring.Get(), clsid, result)) ? S_OK : hr;
}

// The object a registered class gives: nothing runs behind it, so it answers only for its
// type information and knows no names.
class TStandInObject final : public IDispatch {
public:
    explicit TStandInObject(const CLSID& clsid) : FClsid(clsid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --FRefs;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        ComPtr<ITypeInfo> info;
        *pctinfo = SUCCEEDED(DefaultInterfaceOfClass(FClsid, LOCALE_SYSTEM_DEFAULT, info.Put())) ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        return DefaultInterfaceOfClass(FClsid, lcid, ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR*, UINT cNames, LCID,
                                            DISPID* rgDispId) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (rgDispId)
            for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID riid, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    ~TStandInObject() override = default;

    CLSID FClsid;
    std::atomic<ULONG> FRefs{1};
};

bool HasSubKey(const std::string& key, const char* sub) {
    ScopedHKEY k;
    return RegOpenKeyEx(HKEY_CLASSES_ROOT, (key + "\\" + sub).c_str(), 0, KEY_READ, k.Put()) ==
           ERROR_SUCCESS;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    *lpclsid = CLSID{};
    return ClassOfProgID(Utf16ToUtf8(lpszProgID), lpclsid, 0);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    const std::string classKey = "CLSID\\" + GuidToString(rclsid);
    const bool served =
        ((dwClsContext & CLSCTX_INPROC_SERVER) && HasSubKey(classKey, "InprocServer32")) ||
        ((dwClsContext & CLSCTX_INPROC_HANDLER) && HasSubKey(classKey, "InprocHandler32")) ||
        ((dwClsContext & CLSCTX_LOCAL_SERVER) && HasSubKey(classKey, "LocalServer32"));
    if (!served) return REGDB_E_CLASSNOTREG;
    auto* object = new TStandInObject(rclsid);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}
