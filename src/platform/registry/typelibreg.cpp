// Where a registered type library lives, as the platform looks it up.
#include "platform/oleauto/comptr.h"
#include "platform/registry/registry.h"

#include <cstdio>

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

HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
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
    const LCID locales[] = {lcid, lcid & 0xFFFF, lcid & 0x3FF, 0};
    for (size_t i = 0; i < std::size(locales); ++i) {
        bool tried = false;
        for (size_t j = 0; j < i; ++j) tried = tried || locales[j] == locales[i];
        if (tried) continue;
        for (const char* platform : {"win64", "win32"}) {
            char key[32];
            std::snprintf(key, sizeof key, "%x\\%s", unsigned(locales[i]), platform);
            std::string path;
            if (RegReadString(ver.Get(), key, nullptr, &path) && !path.empty()) {
                *lpbstrPathName = SysAllocStringUtf8(path);
                return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
            }
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}
