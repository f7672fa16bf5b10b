// quibrel-tlb register FILE, unregister FILE, registered: recording type libraries under
// HKEY_CLASSES_ROOT as the platform's registration does, and listing them as the
// registered-library dialog does.
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "index/registered.h"
#include "text/escape.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/typelib_load.h"
#include "platform/registry/registry.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstdio>

namespace {

// Proxy classes the platform records for automation-compatible interfaces and for
// dispatch interfaces.
constexpr const char* kPSOAInterface = "{00020424-0000-0000-C000-000000000046}";
constexpr const char* kPSDispatch = "{00020420-0000-0000-C000-000000000046}";

struct InterfaceInfo {
    std::string iid;
    std::string name;
    bool dispatchOnly;
};

struct LibraryInfo {
    std::string path;  // absolute
    std::string name;
    std::string description;  // the doc string, else the name
    std::string guid;
    TLIBATTR attr{};
    std::vector<InterfaceInfo> interfaces;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

std::string Hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::string StatusText(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", unsigned(hr));
    std::string text = SysErrorMessage(hr);
    return text.empty() ? std::string("error ") + code : text + " (" + code + ")";
}

// The path as it is recorded: absolute; a Wine drive-letter path stays as given.
std::string RecordedPath(const std::string& file) {
    bool drive = file.size() >= 3 && std::isalpha((unsigned char)file[0]) && file[1] == ':' &&
                 (file[2] == '\\' || file[2] == '/');
    if (drive) return file;
    return QDir::cleanPath(QFileInfo(QString::fromStdString(file)).absoluteFilePath()).toStdString();
}

bool ReadLibrary(const std::string& file, LibraryInfo* info, std::string* error) {
    info->path = RecordedPath(file);
    std::u16string wide = Utf8ToUtf16(info->path);
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(wide.c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        *error = "cannot load " + PathForMessage(file) + ": " + LoadProblem(file, FAILED(hr) ? hr : E_FAIL);
        return false;
    }
    LibAttrPtr attr;
    hr = lib->GetLibAttr(attr.Put(lib.Get()));
    if (FAILED(hr) || !attr) {
        *error = file + ": " + StatusText(FAILED(hr) ? hr : E_FAIL);
        return false;
    }
    info->attr = *attr.Get();
    info->guid = GuidToString(info->attr.guid);
    BStr name, doc;
    if (SUCCEEDED(lib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr))) {
        info->name = name.Utf8();
        info->description = doc.IsNull() || doc.View().empty() ? info->name : doc.Utf8();
    }
    // Interfaces the automation marshaler serves: dispatch interfaces, and interfaces marked
    // oleautomation or dual.
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || !ti) continue;
        TypeAttrPtr ta;
        if (FAILED(ti->GetTypeAttr(ta.Put(ti.Get()))) || !ta) continue;
        bool dispatch = ta->typekind == TKIND_DISPATCH;
        bool automation = ta->typekind == TKIND_INTERFACE &&
                          (ta->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL));
        if (!dispatch && !automation) continue;
        std::string iid = GuidToString(ta->guid);
        if (std::any_of(info->interfaces.begin(), info->interfaces.end(),
                        [&](const InterfaceInfo& x) { return x.iid == iid; }))
            continue;
        BStr typeName;
        ti->GetDocumentation(MEMBERID_NIL, typeName.Put(), nullptr, nullptr, nullptr);
        info->interfaces.push_back({iid, typeName.Utf8(),
                                    dispatch && !(ta->wTypeFlags & TYPEFLAG_FDUAL)});
    }
    return true;
}

std::string VersionKey(const LibraryInfo& lib) {
    return "TypeLib\\" + lib.guid + "\\" + Hex(lib.attr.wMajorVerNum) + "." + Hex(lib.attr.wMinorVerNum);
}

// Creates the key below root and writes its default value (and more values when given).
LSTATUS WriteKey(HKEY root, const std::string& key, const std::string& defaultValue,
                 const std::vector<std::pair<std::string, std::string>>& more = {}) {
    ScopedHKEY k;
    LSTATUS st = RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                 k.Put(), nullptr);
    if (st == ERROR_SUCCESS) st = RegWriteString(k.Get(), nullptr, defaultValue);
    for (const auto& [name, value] : more)
        if (st == ERROR_SUCCESS) st = RegWriteString(k.Get(), name.c_str(), value);
    LSTATUS closed = k.Reset();
    return st != ERROR_SUCCESS ? st : closed;
}

int Register(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quibrel-tlb register FILE\n");
        return 2;
    }
    LibraryInfo lib;
    std::string error;
    if (!ReadLibrary(args[0], &lib, &error)) return Fail(error);

    // One handle open for writing over the whole registration, so it is saved once.
    ScopedHKEY root;
    LSTATUS st = RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, root.Put());
    const std::string version = VersionKey(lib);
    const std::string locale = version + "\\" + Hex(lib.attr.lcid);
    const std::string folder = QFileInfo(QString::fromStdString(lib.path)).absolutePath().toStdString();
    if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), version, lib.description);
    if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), locale + "\\win64", lib.path);
    if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), locale + "\\win32", lib.path);
    if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), version + "\\FLAGS", Hex(lib.attr.wLibFlags));
    if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), version + "\\HELPDIR", folder);
    const std::string libVersion = Hex(lib.attr.wMajorVerNum) + "." + Hex(lib.attr.wMinorVerNum);
    for (const InterfaceInfo& itf : lib.interfaces) {
        const std::string key = "Interface\\" + itf.iid;
        const char* proxy = itf.dispatchOnly ? kPSDispatch : kPSOAInterface;
        if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), key, itf.name);
        if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), key + "\\ProxyStubClsid", proxy);
        if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), key + "\\ProxyStubClsid32", proxy);
        if (st == ERROR_SUCCESS) st = WriteKey(root.Get(), key + "\\TypeLib", lib.guid, {{"Version", libVersion}});
    }
    LSTATUS saved = root.Reset();
    if (st == ERROR_SUCCESS) st = saved;
    if (st != ERROR_SUCCESS)
        return Fail("cannot record the library in " + RegistryClassesFile() + " (status " + std::to_string(st) + ")");
    std::printf("registered %s %s %u.%u %s\n", lib.name.empty() ? "?" : lib.name.c_str(), lib.guid.c_str(),
                unsigned(lib.attr.wMajorVerNum), unsigned(lib.attr.wMinorVerNum), lib.path.c_str());
    return 0;
}

// True when the key has a subkey other than those named.
bool HasSubKeysBesides(HKEY root, const std::string& key, std::initializer_list<const char*> besides) {
    ScopedHKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, k.Put()) != ERROR_SUCCESS) return false;
    for (const std::string& name : RegSubKeyNames(k.Get())) {
        bool listed = false;
        for (const char* b : besides) listed = listed || QString::fromStdString(name).compare(b, Qt::CaseInsensitive) == 0;
        if (!listed) return true;
    }
    return false;
}

int Unregister(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quibrel-tlb unregister FILE\n");
        return 2;
    }
    LibraryInfo lib;
    std::string error;
    if (!ReadLibrary(args[0], &lib, &error)) return Fail(error);

    ScopedHKEY root;
    LSTATUS st = RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, root.Put());
    if (st != ERROR_SUCCESS) return Fail("cannot open the registry (status " + std::to_string(st) + ")");
    const std::string guidKey = "TypeLib\\" + lib.guid;
    const std::string version = VersionKey(lib);
    LSTATUS removed = RegDeleteTreeA(root.Get(), (version + "\\" + Hex(lib.attr.lcid)).c_str());
    if (removed == ERROR_FILE_NOT_FOUND) return Fail(args[0] + ": not registered");
    // The version goes when no locale is left, the library when no version is left.
    if (!HasSubKeysBesides(root.Get(), version, {"FLAGS", "HELPDIR"})) RegDeleteTreeA(root.Get(), version.c_str());
    if (!HasSubKeysBesides(root.Get(), guidKey, {})) RegDeleteTreeA(root.Get(), guidKey.c_str());
    for (const InterfaceInfo& itf : lib.interfaces) {
        const std::string key = "Interface\\" + itf.iid;
        std::string owner;
        if (RegReadString(root.Get(), (key + "\\TypeLib").c_str(), nullptr, &owner) &&
            QString::fromStdString(owner).compare(QString::fromStdString(lib.guid), Qt::CaseInsensitive) == 0)
            RegDeleteTreeA(root.Get(), key.c_str());
    }
    st = root.Reset();
    if (st != ERROR_SUCCESS) return Fail("cannot save " + RegistryClassesFile() + " (status " + std::to_string(st) + ")");
    if (removed == ERROR_ACCESS_DENIED)
        return Fail(args[0] + ": registered in the Wine prefix " + "(read only); that registration stays");
    if (removed != ERROR_SUCCESS) return Fail(args[0] + ": cannot unregister (status " + std::to_string(removed) + ")");
    return 0;
}

// Every registration (library, version, locale, platform) whose file is missing or holds
// another library or version than its key says: the usual cause of "library not registered".
// One line each, STATE<TAB>DESCRIPTION<TAB>FILE; true when there was none.
bool CheckRegistrations() {
    bool clean = true;
    auto report = [&](const std::string& state, const std::string& description, const std::string& file) {
        clean = false;
        std::printf("%s\t%s\t%s\n", state.c_str(), OneLineField(QString::fromStdString(description)).c_str(),
                    OneLineField(QString::fromStdString(file)).c_str());
    };
    ScopedHKEY typeLibs;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, typeLibs.Put()) != ERROR_SUCCESS) return true;
    for (const std::string& guidKey : RegSubKeyNames(typeLibs.Get())) {
        GUID guid{};
        const bool guidOk = GuidFromString(guidKey, &guid);
        ScopedHKEY library;
        if (RegOpenKeyExA(typeLibs.Get(), guidKey.c_str(), 0, KEY_READ, library.Put()) != ERROR_SUCCESS) continue;
        for (const std::string& versionKey : RegSubKeyNames(library.Get())) {
            // "MAJ.MIN" in hexadecimal, as the registration writes it.
            unsigned major = 0, minor = 0;
            char rest = 0;
            const bool versionOk = std::sscanf(versionKey.c_str(), "%x.%x%c", &major, &minor, &rest) == 2;
            std::string description;
            RegReadString(library.Get(), versionKey.c_str(), nullptr, &description);
            ScopedHKEY version;
            if (RegOpenKeyExA(library.Get(), versionKey.c_str(), 0, KEY_READ, version.Put()) != ERROR_SUCCESS) continue;
            for (const std::string& locale : RegSubKeyNames(version.Get())) {
                if (locale.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) continue;  // FLAGS, HELPDIR
                for (const char* platform : {"win32", "win64"}) {
                    std::string file;
                    if (!RegReadString(version.Get(), (locale + "\\" + platform).c_str(), nullptr, &file)) continue;
                    std::string host;
                    int resource = 0;
                    if (file.empty() || !tlb::HostFileOfPath(file, &host, &resource)) {
                        report("MISSING", description, file);
                        continue;
                    }
                    ComPtr<ITypeLib> lib;
                    LibAttrPtr attr;
                    const HRESULT hr = LoadTypeLib(Utf8ToUtf16(file).c_str(), lib.Put());
                    if (FAILED(hr) || !lib || FAILED(lib->GetLibAttr(attr.Put(lib.Get()))) || !attr) {
                        report("UNREADABLE " + StatusText(FAILED(hr) ? hr : E_FAIL), description, file);
                        continue;
                    }
                    if (guidOk && !IsEqualGUID(guid, attr->guid)) {
                        report("MISMATCH " + GuidToString(guid) + " != " + GuidToString(attr->guid), description, file);
                    } else if (versionOk && (major != attr->wMajorVerNum || minor != attr->wMinorVerNum)) {
                        report("MISMATCH " + std::to_string(major) + "." + std::to_string(minor) + " != " +
                                   std::to_string(attr->wMajorVerNum) + "." + std::to_string(attr->wMinorVerNum),
                               description, file);
                    }
                }
            }
        }
    }
    return clean;
}

// The registered-library list, rows and order as the dialog shows them.
int Registered(const std::vector<std::string>& args) {
    CliArgs parsed;
    if (!ParseCliArgs("registered", "[--check]", args, &parsed) || !parsed.operands.empty()) {
        std::fprintf(stderr, "usage: quibrel-tlb registered [--check]\n");
        return 2;
    }
    if (parsed.Has("--check")) return CheckRegistrations() ? 0 : 1;
    for (const TRegisteredLibrary& row : ReadRegisteredLibraries())
        std::printf("%s\t%s\n", OneLineField(row.Description).c_str(), OneLineField(row.File).c_str());
    return 0;
}

CliRegistrar registerCommand({"register", "FILE", Register, "records the library in our registry (the Open... list)"});
CliRegistrar unregisterCommand({"unregister", "FILE", Unregister, "removes that record"});
CliRegistrar registeredCommand({"registered", "[--check]", Registered,
                                 "the registered libraries: DESCRIPTION<TAB>FILE (tab, line breaks, control characters as "
                                 "\\t \\n \\r \\xHH); with --check, the registrations whose file is missing or holds "
                                 "another library: STATE<TAB>DESCRIPTION<TAB>FILE, exit 1 when any"});

}  // namespace

std::string EscapedBytesAsText(const QString& text) {
    std::string out;
    std::u16string run;
    auto flush = [&] {
        out += QString::fromStdU16String(run).toStdString();
        run.clear();
    };
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0xDC80 && u <= 0xDCFF) {
            // A byte of a file name that is not UTF-8 (see platform/oleauto/hostpath.h).
            flush();
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", unsigned(u - 0xDC00));
            out += buf;
        } else {
            run += u;
        }
    }
    flush();
    return out;
}

std::string OneLineField(const QString& text) { return OneLineText(EscapedBytesAsText(text)); }
