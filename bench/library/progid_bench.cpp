// Finding the registered library that declares a class (what resolving a ProgID does for a
// class whose registration names no library), over a registry holding every library of the
// real-world collection, or of the Wine prefix given with --prefix DIR.
//   IndexAndLookup: what one dialog pays the first time (read every registered library once).
//   LookupInIndex: every further lookup in the same dialog.
#include "platform/com/classindex.h"
#include "platform/oleauto/comptr.h"
#include "platform/registry/registry.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Registers every library of `folder` in our classes file as `quibrel-tlb register` would;
// the CLSIDs of their coclasses, the last one registered last.
std::vector<CLSID> RegisterFolder(const std::filesystem::path& folder) {
    std::vector<CLSID> classes;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        ComPtr<ITypeLib> lib;
        const std::u16string path = Utf8ToUtf16(entry.path().string());
        if (FAILED(LoadTypeLib(path.c_str(), lib.Put()))) continue;
        LibAttrPtr attr;
        if (FAILED(lib->GetLibAttr(attr.Put(lib.Get())))) continue;
        char key[160];
        std::snprintf(key, sizeof key, "TypeLib\\%s\\%x.%x\\%x\\win32", GuidToString(attr->guid).c_str(),
                      unsigned(attr->wMajorVerNum), unsigned(attr->wMinorVerNum), unsigned(attr->lcid));
        ScopedHKEY k;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr) !=
            ERROR_SUCCESS)
            continue;
        RegWriteString(k.Get(), nullptr, entry.path().string());
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            TYPEKIND kind;
            ComPtr<ITypeInfo> info;
            TypeAttrPtr type;
            if (SUCCEEDED(lib->GetTypeInfoType(i, &kind)) && kind == TKIND_COCLASS &&
                SUCCEEDED(lib->GetTypeInfo(i, info.Put())) && SUCCEEDED(info->GetTypeAttr(type.Put(info.Get()))))
                classes.push_back(type->guid);
        }
    }
    return classes;
}

void BM_IndexAndLookup(benchmark::State& state, CLSID clsid) {
    for (auto _ : state) {
        TClassIndexScope scope;  // a new dialog
        ComPtr<ITypeLib> lib;
        if (FAILED(LibraryDeclaringClass(clsid, &lib))) {
            state.SkipWithError("not found");
            return;
        }
    }
}

void BM_LookupInIndex(benchmark::State& state, CLSID clsid) {
    TClassIndexScope scope;
    ComPtr<ITypeLib> lib;
    LibraryDeclaringClass(clsid, &lib);
    for (auto _ : state) {
        if (FAILED(LibraryDeclaringClass(clsid, &lib))) {
            state.SkipWithError("not found");
            return;
        }
    }
}

int CountRegistered() {
    ScopedHKEY typeLibs;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib", 0, KEY_READ, typeLibs.Put()) != ERROR_SUCCESS) return 0;
    return int(RegSubKeyNames(typeLibs.Get()).size());
}

}  // namespace

// progid_bench [--prefix WINEPREFIX] [benchmark flags]
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QTemporaryDir scratch;
    setenv("QUIBREL_REGISTRY_DIR", scratch.filePath("ours").toUtf8().constData(), 1);
    std::vector<CLSID> classes;
    if (argc == 3 && std::string(argv[1]) == "--prefix") {
        setenv("WINEPREFIX", argv[2], 1);
        // Every class the prefix registers a library for: the last library read decides.
        ScopedHKEY clsids;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, clsids.Put()) == ERROR_SUCCESS)
            for (const std::string& name : RegSubKeyNames(clsids.Get())) {
                CLSID c;
                if (GuidFromString(name, &c)) classes.push_back(c);
            }
        TClassIndexScope scope;
        std::erase_if(classes, [](const CLSID& c) {
            ComPtr<ITypeLib> lib;
            return FAILED(LibraryDeclaringClass(c, &lib));
        });
    } else {
        setenv("WINEPREFIX", scratch.filePath("no-wine").toUtf8().constData(), 1);
        classes = RegisterFolder(std::filesystem::path(QUIBREL_TYPELIBS_DIR) / "files");
    }
    if (classes.empty()) {
        std::fprintf(stderr, "no registered library declares a class; nothing to measure\n");
        return 0;
    }
    std::fprintf(stderr, "%d registered libraries, %zu classes\n", CountRegistered(), classes.size());
    benchmark::RegisterBenchmark("IndexAndLookup", BM_IndexAndLookup, classes.back())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LookupInIndex", BM_LookupInIndex, classes.back())->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
