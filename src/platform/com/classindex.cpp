#include "platform/com/classindex.h"

#include "platform/oleauto/typelib_load.h"
#include "platform/registry/registry.h"

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string>

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct TClassIndexScope::Index {
    bool built = false;
    std::map<GUID, ComPtr<ITypeLib>, GuidLess> byClass;
};

namespace {

thread_local TClassIndexScope::Index* g_index = nullptr;
std::atomic<TClassLibraryLocator> g_locator{nullptr};

// The library the locator names, when it really declares the class.
bool LocatedLibrary(const CLSID& clsid, ComPtr<ITypeLib>* typeLib) {
    TClassLibraryLocator locator = g_locator.load();
    if (!locator) return false;
    const std::string path = locator(clsid);
    if (path.empty()) return false;
    ComPtr<ITypeLib> lib;
    const std::u16string wide = Utf8ToUtf16(path);
    if (FAILED(LoadTypeLib(wide.c_str(), lib.Put())) || !lib) return false;
    ComPtr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfoOfGuid(clsid, info.Put())) || !info) return false;
    TypeAttrPtr attr;
    if (FAILED(info->GetTypeAttr(attr.Put(info.Get()))) || !attr || attr->typekind != TKIND_COCLASS) return false;
    *typeLib = lib;
    return true;
}

bool IsHexNumber(const std::string& s) {
    return !s.empty() && s.size() <= 8 && s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Records the coclasses of one library.
void AddClasses(ITypeLib* lib, TClassIndexScope::Index* index) {
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
        ComPtr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfo(i, info.Put()))) continue;
        TypeAttrPtr attr;
        if (FAILED(info->GetTypeAttr(attr.Put(info.Get()))) || !attr) continue;
        // A later registration (a newer version, in the registry's order) wins.
        index->byClass.insert_or_assign(attr->guid, ComPtr<ITypeLib>(lib));
    }
}

// Every file registered under HKEY_CLASSES_ROOT\TypeLib\{guid}\version\locale\win32|win64,
// each loaded once.
void Build(TClassIndexScope::Index* index) {
    index->built = true;
    ScopedHKEY typeLibs;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, typeLibs.Put()) != ERROR_SUCCESS) return;
    std::set<std::pair<std::string, int>> seen;
    for (const std::string& guid : RegSubKeyNames(typeLibs.Get())) {
        ScopedHKEY lib;
        if (RegOpenKeyEx(typeLibs.Get(), guid.c_str(), 0, KEY_READ, lib.Put()) != ERROR_SUCCESS) continue;
        for (const std::string& version : RegSubKeyNames(lib.Get())) {
            ScopedHKEY ver;
            if (RegOpenKeyEx(lib.Get(), version.c_str(), 0, KEY_READ, ver.Put()) != ERROR_SUCCESS) continue;
            for (const std::string& locale : RegSubKeyNames(ver.Get())) {
                if (!IsHexNumber(locale)) continue;  // FLAGS, HELPDIR
                for (const char* platform : {"win64", "win32"}) {
                    std::string path, host;
                    int resource = 0;
                    if (!RegReadString(ver.Get(), (locale + "\\" + platform).c_str(), nullptr, &path) ||
                        !tlb::HostFileOfPath(path, &host, &resource) ||
                        !seen.emplace(host, resource <= 1 ? 0 : resource).second)
                        continue;
                    ComPtr<ITypeLib> typeLib;
                    const std::u16string wide = Utf8ToUtf16(path);
                    if (SUCCEEDED(LoadTypeLib(wide.c_str(), typeLib.Put())) && typeLib)
                        AddClasses(typeLib.Get(), index);
                }
            }
        }
    }
}

}  // namespace

TClassIndexScope::TClassIndexScope() : FIndex(new Index), FOuter(g_index) { g_index = FIndex; }

TClassIndexScope::~TClassIndexScope() {
    g_index = FOuter;
    delete FIndex;
}

HRESULT LibraryDeclaringClass(const CLSID& clsid, ComPtr<ITypeLib>* typeLib) {
    typeLib->Reset();
    if (LocatedLibrary(clsid, typeLib)) return S_OK;
    TClassIndexScope::Index once;
    TClassIndexScope::Index* index = g_index ? g_index : &once;
    if (!index->built) Build(index);
    auto it = index->byClass.find(clsid);
    if (it == index->byClass.end()) return REGDB_E_CLASSNOTREG;
    *typeLib = it->second;
    return S_OK;
}

void SetClassLibraryLocator(TClassLibraryLocator locator) { g_locator.store(locator); }
