// The registry over our hive files and a Wine prefix's (see registry.h).
#include "platform/registry/registry.h"

#include "platform/registry/hive.h"
#include "platform/registry/winepath.h"

#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

using namespace regstore;

struct HKEY__ {
    static constexpr std::uint32_t kMagic = 0x52454B59;
    std::uint32_t magic = kMagic;
    bool classes = false;
    std::vector<std::string> path;  // as spelled in the store
    REGSAM sam = 0;
    bool writer = false;  // counted in its hive's writers
    // Enumeration lists, valid while the generation is unchanged.
    std::uint64_t cacheGeneration = 0;
    std::vector<std::string> keyNames;
    std::vector<Value> values;
};

namespace {

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// The order the platform enumerates subkeys in: names compared with a-z folded to upper case.
bool SubKeyBefore(const std::string& a, const std::string& b) {
    auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return upper(x) < upper(y); });
}

// A key of HKEY_CLASSES_ROOT as our file and the Wine prefix's two files have it.
struct View {
    const Node* parts[3] = {nullptr, nullptr, nullptr};  // ours, Wine user, Wine system
    bool Exists() const { return parts[0] || parts[1] || parts[2]; }
    bool FromWine() const { return parts[1] || parts[2]; }
};

class Store {
public:
    Store()
        : user_(Dialect{false, {"HKEY_CURRENT_USER", "HKCU"}, {}}, "HKEY_CURRENT_USER"),
          classes_(Dialect{false,
                           {"HKEY_CLASSES_ROOT", "HKCR", "HKEY_LOCAL_MACHINE\\Software\\Classes",
                            "HKLM\\Software\\Classes", "HKEY_CURRENT_USER\\Software\\Classes",
                            "HKCU\\Software\\Classes"},
                           {}},
                   "HKEY_CLASSES_ROOT"),
          wineUser_(Dialect{true, {}, "Software\\Classes"}, {}),
          wineSystem_(Dialect{true, {}, "Software\\Classes"}, {}) {
        rootClasses_.classes = true;
        rootClasses_.sam = rootUser_.sam = KEY_ALL_ACCESS;
    }

    std::mutex mutex;

    // The handle behind hKey, or nullptr when it is not a live one.
    HKEY__* Handle(HKEY h) {
        if (h == HKEY_CLASSES_ROOT) return &rootClasses_;
        if (h == HKEY_CURRENT_USER) return &rootUser_;
        if (!h || !handles_.count(h) || h->magic != HKEY__::kMagic) return nullptr;
        return h;
    }
    bool IsRoot(const HKEY__* h) const { return h == &rootClasses_ || h == &rootUser_; }
    // The handle behind hKey when it was opened with all of access: ERROR_SUCCESS, or what the
    // call returns.
    LSTATUS Handle(HKEY hKey, REGSAM access, HKEY__** out) {
        HKEY__* h = Handle(hKey);
        if (!h) return ERROR_INVALID_HANDLE;
        if (!(h->sam & access)) return ERROR_ACCESS_DENIED;
        *out = h;
        return ERROR_SUCCESS;
    }
    // Whether the key of h is still there; a root key always is.
    bool Alive(HKEY__* h) { return IsRoot(h) || Resolve(h->classes, h->path).Exists(); }
    // Reloads the files of h's side; ERROR_KEY_DELETED when its key is gone.
    LSTATUS Refreshed(HKEY__* h) {
        Refresh(h->classes);
        return Alive(h) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }
    // The handle behind hKey for reading with access; the files are reloaded for a root key.
    LSTATUS ForReading(HKEY hKey, REGSAM access, HKEY__** out) {
        LSTATUS status = Handle(hKey, access, out);
        if (status != ERROR_SUCCESS) return status;
        if (IsRoot(*out)) Refresh((*out)->classes);
        return Alive(*out) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }

    HKEY__* NewHandle(bool classes, std::vector<std::string> path, REGSAM sam) {
        auto* h = new HKEY__;
        h->classes = classes;
        h->path = std::move(path);
        h->sam = sam;
        h->writer = (sam & kWriteAccess) != 0;
        if (h->writer) Own(classes).writers++;
        handles_.insert(h);
        return h;
    }

    LSTATUS Close(HKEY__* h) {
        handles_.erase(h);
        LSTATUS status = ERROR_SUCCESS;
        if (h->writer) {
            Hive& hive = Own(h->classes);
            if (--hive.writers == 0) status = hive.Save();
        }
        h->magic = 0;
        delete h;
        return status;
    }

    // Picks the files for the current environment and reloads those that changed on disk.
    void Refresh(bool classes) {
        Locate();
        if (classes) {
            classes_.Refresh();
            wineUser_.Refresh();
            wineSystem_.Refresh();
        } else {
            user_.Refresh();
        }
    }

    Hive& Own(bool classes) { return classes ? classes_ : user_; }

    View Resolve(bool classes, const std::vector<std::string>& path) {
        View v;
        if (!classes) {
            v.parts[0] = user_.Find(path);
            return v;
        }
        v.parts[0] = classes_.Find(path);
        v.parts[1] = wineUser_.Find(path);
        v.parts[2] = wineSystem_.Find(path);
        return v;
    }

    // The path with each existing key spelled as stored (ours first).
    std::vector<std::string> Spelled(bool classes, const std::vector<std::string>& path) {
        std::vector<std::string> out;
        const Node* nodes[3] = {classes ? &classes_.Root() : &user_.Root(), classes ? &wineUser_.Root() : nullptr,
                                classes ? &wineSystem_.Root() : nullptr};
        for (const std::string& part : path) {
            std::string spelled = part;
            bool found = false;
            for (const Node*& n : nodes) {
                n = n ? n->Child(part) : nullptr;
                if (n && !found) {
                    spelled = n->Name();
                    found = true;
                }
            }
            out.push_back(std::move(spelled));
        }
        return out;
    }

    // Saves at once unless a handle open for writing will save when it closes.
    LSTATUS Changed(bool classes) {
        Hive& hive = Own(classes);
        return hive.writers == 0 ? hive.Save() : ERROR_SUCCESS;
    }

    void FillCache(HKEY__* h) {
        if (h->cacheGeneration == CurrentGeneration()) return;
        h->keyNames.clear();
        h->values.clear();
        View v = Resolve(h->classes, h->path);
        std::unordered_set<std::string> seenKeys, seenValues;
        for (const Node* n : v.parts) {
            if (!n) continue;
            for (const auto& c : n->Children())
                if (seenKeys.insert(FoldName(c->Name())).second) h->keyNames.push_back(c->Name());
            for (const Value& val : n->Values())
                if (seenValues.insert(FoldName(val.name)).second) h->values.push_back(val);
        }
        // The platform keeps a key's subkeys sorted, whichever file each comes from.
        std::stable_sort(h->keyNames.begin(), h->keyNames.end(), SubKeyBefore);
        h->cacheGeneration = CurrentGeneration();
    }

    std::string UserFile() { Locate(); return user_.Path(); }
    std::string ClassesFile() { Locate(); return classes_.Path(); }

private:
    void Locate() {
        std::string ours = EnvOr("QUIBREL_REGISTRY_DIR", {});
        std::string config = ours.empty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() + "/quibrel"
            : ours;
        std::string data = ours.empty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() + "/quibrel"
            : ours;
        std::string prefix = WinePrefixDir();
        user_.SetPath(config + "/user.reg");
        classes_.SetPath(data + "/classes.reg");
        wineUser_.SetPath(prefix + "/user.reg");
        wineSystem_.SetPath(prefix + "/system.reg");
    }

    // Declared before the hives: the hives save pending changes as the store goes away.
    HKEY__ rootClasses_, rootUser_;
    std::unordered_set<HKEY> handles_;
    Hive user_, classes_, wineUser_, wineSystem_;
};

Store& TheStore() {
    static Store store;
    return store;
}

// Splits a subkey path; leading and trailing backslashes are ignored.
bool SplitSubKey(LPCSTR sub, std::vector<std::string>* parts) {
    parts->clear();
    if (!sub) return true;
    std::string_view s(sub);
    while (!s.empty() && s.front() == '\\') s.remove_prefix(1);
    while (!s.empty() && s.back() == '\\') s.remove_suffix(1);
    if (s.empty()) return true;
    size_t start = 0;
    while (true) {
        size_t end = s.find('\\', start);
        std::string_view part = s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty()) return false;
        parts->emplace_back(part);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts->size() <= kMaxDepth;
}

std::vector<std::string> Join(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::string> out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

LSTATUS CopyOut(const std::string& text, LPSTR buf, LPDWORD cch) {
    if (!buf || !cch) return ERROR_INVALID_PARAMETER;
    if (text.size() + 1 > *cch) return ERROR_MORE_DATA;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    *cch = DWORD(text.size());
    return ERROR_SUCCESS;
}

LSTATUS CopyData(const Value& v, LPDWORD type, LPBYTE data, LPDWORD cb) {
    if (type) *type = v.type;
    if (data && !cb) return ERROR_INVALID_PARAMETER;
    if (!cb) return ERROR_SUCCESS;
    DWORD size = DWORD(v.data.size());
    if (data && *cb < size) {
        *cb = size;
        return ERROR_MORE_DATA;
    }
    if (data) std::memcpy(data, v.data.data(), size);
    *cb = size;
    return ERROR_SUCCESS;
}

}  // namespace

// ---- the calls ------------------------------------------------------------------------------

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* base = s.Handle(hKey);
    if (!base) return ERROR_INVALID_HANDLE;
    std::vector<std::string> sub;
    if (!SplitSubKey(lpSubKey, &sub)) return ERROR_BAD_PATHNAME;
    if (LSTATUS status = s.Refreshed(base); status != ERROR_SUCCESS) return status;
    std::vector<std::string> path = Join(base->path, sub);
    if (!s.Resolve(base->classes, path).Exists()) return ERROR_FILE_NOT_FOUND;
    *phkResult = s.NewHandle(base->classes, s.Spelled(base->classes, path), samDesired);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired, const void*,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* base = s.Handle(hKey);
    if (!base) return ERROR_INVALID_HANDLE;
    std::vector<std::string> sub;
    if (!SplitSubKey(lpSubKey, &sub)) return ERROR_BAD_PATHNAME;
    for (const std::string& part : sub)
        if (!ValidKeyName(part)) return ERROR_INVALID_PARAMETER;
    if (!sub.empty() && !(base->sam & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    if (LSTATUS status = s.Refreshed(base); status != ERROR_SUCCESS) return status;
    std::vector<std::string> path = s.Spelled(base->classes, Join(base->path, sub));
    if (path.size() > kMaxDepth) return ERROR_BAD_PATHNAME;
    bool exists = s.Resolve(base->classes, path).Exists();
    if (!exists) s.Own(base->classes).Apply(Op{Op::CreateKey, path, {}, REG_NONE, {}});
    HKEY__* h = s.NewHandle(base->classes, path, samDesired);
    if (!exists && !h->writer) {
        LSTATUS status = s.Changed(base->classes);
        if (status != ERROR_SUCCESS) {
            s.Close(h);
            return status;
        }
    }
    if (lpdwDisposition) *lpdwDisposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = h;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass,
                      LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* h;
    LSTATUS status = s.ForReading(hKey, KEY_ENUMERATE_SUB_KEYS, &h);
    if (status != ERROR_SUCCESS) return status;
    s.FillCache(h);
    if (dwIndex >= h->keyNames.size()) return ERROR_NO_MORE_ITEMS;
    status = CopyOut(h->keyNames[dwIndex], lpName, lpcchName);
    if (status != ERROR_SUCCESS) return status;
    if (lpClass && lpcchClass && *lpcchClass) {
        *lpClass = '\0';
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* h;
    LSTATUS status = s.ForReading(hKey, KEY_QUERY_VALUE, &h);
    if (status != ERROR_SUCCESS) return status;
    s.FillCache(h);
    if (dwIndex >= h->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = h->values[dwIndex];
    status = CopyOut(v.name, lpValueName, lpcchValueName);
    if (status != ERROR_SUCCESS) return status;
    return CopyData(v, lpType, lpData, lpcbData);
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* h;
    if (LSTATUS status = s.ForReading(hKey, KEY_QUERY_VALUE, &h); status != ERROR_SUCCESS) return status;
    View v = s.Resolve(h->classes, h->path);
    std::string_view name = lpValueName ? lpValueName : "";
    for (const Node* n : v.parts) {
        if (!n) continue;
        if (const Value* val = n->FindValue(name)) return CopyData(*val, lpType, lpData, lpcbData);
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* h;
    if (LSTATUS status = s.Handle(hKey, KEY_SET_VALUE, &h); status != ERROR_SUCCESS) return status;
    std::string name = lpValueName ? lpValueName : "";
    if (!ValidValueName(name) || (!lpData && cbData) || cbData > (DWORD(1) << 24)) return ERROR_INVALID_PARAMETER;
    if (LSTATUS status = s.Refreshed(h); status != ERROR_SUCCESS) return status;
    std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
    if (IsStringType(dwType) && (data.empty() || data.back() != '\0')) data += '\0';
    s.Own(h->classes).Apply(Op{Op::SetValue, h->path, std::move(name), dwType, std::move(data)});
    return s.Changed(h->classes);
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* h;
    if (LSTATUS status = s.Handle(hKey, KEY_SET_VALUE, &h); status != ERROR_SUCCESS) return status;
    std::vector<std::string> sub;
    if (!SplitSubKey(lpSubKey, &sub)) return ERROR_BAD_PATHNAME;
    if (LSTATUS status = s.Refreshed(h); status != ERROR_SUCCESS) return status;
    std::vector<std::string> path = Join(h->path, sub);
    View v = s.Resolve(h->classes, path);
    if (!v.Exists()) return ERROR_FILE_NOT_FOUND;
    bool whole = !sub.empty();
    if (v.parts[0] && (whole || !v.parts[0]->Empty()))
        s.Own(h->classes).Apply(Op{whole ? Op::DeleteTree : Op::ClearKey, path, {}, REG_NONE, {}});
    LSTATUS status = s.Changed(h->classes);
    if (status != ERROR_SUCCESS) return status;
    // What the Wine prefix has stays: it is read only.
    bool wineLeft = false;
    for (int i = 1; i < 3; ++i) wineLeft = wineLeft || (v.parts[i] && (whole || !v.parts[i]->Empty()));
    return wineLeft ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    HKEY__* h = s.Handle(hKey);
    if (!h) return ERROR_INVALID_HANDLE;
    return s.Close(h);
}

// ---- conveniences -------------------------------------------------------------------------

LSTATUS ScopedHKEY::Reset() {
    HKEY k = key_;
    key_ = nullptr;
    return k ? RegCloseKey(k) : ERROR_SUCCESS;
}

bool RegReadString(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName, std::string* out) {
    ScopedHKEY sub;
    if (lpSubKey && *lpSubKey) {
        if (RegOpenKeyExA(hKey, lpSubKey, 0, KEY_READ, sub.Put()) != ERROR_SUCCESS) return false;
        hKey = sub.Get();
    }
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(hKey, lpValueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::string data(size, '\0');
    while (true) {
        LSTATUS st = RegQueryValueExA(hKey, lpValueName, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size);
        if (st == ERROR_MORE_DATA) {
            data.resize(size);
            continue;
        }
        if (st != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
        break;
    }
    data.resize(size);
    size_t nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    *out = std::move(data);
    return true;
}

std::vector<std::string> RegSubKeyNames(HKEY hKey) {
    std::vector<std::string> names;
    std::string buf(1024, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD cch = DWORD(buf.size());
        LSTATUS st = RegEnumKeyExA(hKey, i, buf.data(), &cch, nullptr, nullptr, nullptr, nullptr);
        if (st == ERROR_MORE_DATA) {
            buf.resize(buf.size() * 4);
            --i;
            continue;
        }
        if (st != ERROR_SUCCESS) break;
        names.emplace_back(buf.data(), cch);
    }
    return names;
}

LSTATUS RegWriteString(HKEY hKey, LPCSTR lpValueName, const std::string& value) {
    return RegSetValueExA(hKey, lpValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD(value.size() + 1));
}

std::string RegistryUserFile() {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.UserFile();
}

std::string RegistryClassesFile() {
    Store& s = TheStore();
    std::lock_guard lock(s.mutex);
    return s.ClassesFile();
}
