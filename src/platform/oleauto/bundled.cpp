// Type libraries that ship with the program.
#include "platform/oleauto/bundled.h"

#include "platform/oleauto/comptr.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef QUIBREL_DATADIR
#define QUIBREL_DATADIR "/usr/share/quibrel"
#endif

namespace {

// The OLE Automation library, version 2.0.
constexpr GUID kStdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct Shipped {
    const GUID* guid;
    WORD major, minor;
    const char* file;
};
constexpr Shipped kShipped[] = {{&kStdole, 2, 0, "stdole2.tlb"}};

bool IsFolder(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

}  // namespace

std::string BundledDataDir() {
    if (const char* dir = std::getenv("QUIBREL_DATA_DIR"); dir && *dir) return dir;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = exe.parent_path().parent_path() / "share" / "quibrel";
        if (IsFolder(beside)) return beside.string();
    }
    return QUIBREL_DATADIR;
}

std::string BundledLibraryFile(const GUID& guid, WORD major, WORD minor) {
    for (const Shipped& s : kShipped) {
        if (std::memcmp(&guid, s.guid, sizeof guid) != 0 || major != s.major || minor > s.minor) continue;
        const std::filesystem::path file = std::filesystem::path(BundledDataDir()) / s.file;
        std::error_code ec;
        if (std::filesystem::is_regular_file(file, ec)) return file.string();
    }
    return std::string();
}

std::vector<MissingImport> MissingImports(ITypeLib* lib) {
    std::vector<MissingImport> missing;
    ComPtr<ITypeLibImports> imports;
    if (!lib || FAILED(lib->QueryInterface(IID_ITypeLibImports, reinterpret_cast<void**>(imports.Put()))) || !imports)
        return missing;
    const UINT count = imports->GetImportCount();
    for (UINT i = 0; i < count; ++i) {
        MissingImport m;
        BStr recorded, path;
        if (imports->GetImport(i, &m.guid, &m.major, &m.minor, nullptr, recorded.Put(), path.Put()) != S_FALSE) continue;
        m.recordedName = recorded.Utf8();
        missing.push_back(std::move(m));
    }
    return missing;
}

std::string MissingImportText(const std::string& file, const MissingImport& import) {
    return file + " imports " + (import.recordedName.empty() ? std::string("?") : import.recordedName) + " " +
           GuidToString(import.guid) + " " + std::to_string(import.major) + "." + std::to_string(import.minor) +
           ", which was not found; its types show as ?";
}
