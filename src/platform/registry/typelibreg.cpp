// Where a registered type library lives, as the platform looks it up.
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/typelib_load.h"
#include "platform/registry/registry.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace {

// Libraries registered by loading them during this run (see RememberLoadedLibrary).
struct LoadedRegistration {
    WORD major, minor;
    LCID lcid;
    std::string path;
};

struct LoadedRegistrations {
    std::mutex mutex;
    std::map<std::string, std::vector<LoadedRegistration>> byGuid;  // by GUID text
};

LoadedRegistrations& Loaded() {
    static LoadedRegistrations table;
    return table;
}

// The locales QueryPathOfRegTypeLib tries for lcid, in order.
std::vector<LCID> LocalesFor(LCID lcid) {
    std::vector<LCID> out;
    for (LCID l : {lcid, lcid & 0xFFFF, lcid & 0x3FF, LCID(0)})
        if (std::find(out.begin(), out.end(), l) == out.end()) out.push_back(l);
    return out;
}

// The path of a library registered by loading it, by the rules the registry lookup follows.
bool LoadedPath(const GUID& guid, USHORT wMaj, USHORT wMin, LCID lcid, std::string* path) {
    LoadedRegistrations& t = Loaded();
    std::lock_guard lock(t.mutex);
    auto it = t.byGuid.find(GuidToString(guid));
    if (it == t.byGuid.end()) return false;
    // The exact version, else the newest minor version of the same major version.
    long minor = -1;
    for (const LoadedRegistration& r : it->second) {
        if (r.major != wMaj) continue;
        if (r.minor == wMin) {
            minor = wMin;
            break;
        }
        minor = std::max(minor, long(r.minor));
    }
    if (minor < 0) return false;
    for (LCID l : LocalesFor(lcid))
        for (const LoadedRegistration& r : it->second)
            if (r.major == wMaj && long(r.minor) == minor && r.lcid == l) {
                *path = r.path;
                return true;
            }
    return false;
}

}  // namespace

void tlb::RememberLoadedLibrary(const GUID& guid, WORD major, WORD minor, LCID lcid, const std::string& path) {
    LoadedRegistrations& t = Loaded();
    std::lock_guard lock(t.mutex);
    std::vector<LoadedRegistration>& list = t.byGuid[GuidToString(guid)];
    for (LoadedRegistration& r : list)
        if (r.major == major && r.minor == minor && r.lcid == lcid) {
            r.path = path;  // loading registers again, over what was there
            return;
        }
    list.push_back({major, minor, lcid, path});
}

// "major.minor" of a version key, both hexadecimal.
static bool ParseVersionKey(const std::string& name, unsigned* major, unsigned* minor) {
    unsigned parts[2] = {0, 0};
    int part = 0, digits = 0;
    for (char c : name) {
        if (c == '.' && part == 0 && digits > 0) {
            part = 1;
            digits = 0;
            continue;
        }
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0 || ++digits > 4) return false;
        parts[part] = parts[part] * 16 + unsigned(d);
    }
    if (part != 1 || digits == 0) return false;
    *major = parts[0];
    *minor = parts[1];
    return true;
}

// The registry's entries, as the platform looks them up.
static HRESULT RegisteredPath(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName) {
    ScopedHKEY lib;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("TypeLib\\" + GuidToString(guid)).c_str(), 0, KEY_READ, lib.Put()) !=
        ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;

    // The exact version, else the newest minor version of the same major version.
    std::string version;
    long bestMinor = -1;
    for (const std::string& name : RegSubKeyNames(lib.Get())) {
        unsigned major = 0, minor = 0;
        if (!ParseVersionKey(name, &major, &minor) || major != wMaj) continue;
        if (minor == wMin) {
            version = name;
            break;
        }
        if (long(minor) > bestMinor) {
            bestMinor = long(minor);
            version = name;
        }
    }
    ScopedHKEY ver;
    if (version.empty() || RegOpenKeyExA(lib.Get(), version.c_str(), 0, KEY_READ, ver.Put()) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;

    // The locale, then its language-neutral forms, then neutral; 64-bit files before 32-bit ones.
    for (LCID locale : LocalesFor(lcid)) {
        for (const char* platform : {"win64", "win32"}) {
            char key[32];
            std::snprintf(key, sizeof key, "%x\\%s", unsigned(locale), platform);
            std::string path;
            if (RegReadString(ver.Get(), key, nullptr, &path) && !path.empty()) {
                *lpbstrPathName = SysAllocStringUtf8(path);
                return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
            }
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    HRESULT hr = RegisteredPath(guid, wMaj, wMin, lcid, lpbstrPathName);
    if (hr != TYPE_E_LIBNOTREGISTERED) return hr;
    std::string path;
    if (!LoadedPath(guid, wMaj, wMin, lcid, &path)) return hr;
    *lpbstrPathName = SysAllocStringUtf8(path);
    return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
}
