// Why a library named on the command line could not be loaded, in the one wording every
// command uses ("cannot load FILE: REASON"); the browser's message box says only that loading
// failed. The reasons are listed in docs/cli-formats.md.
#pragma once

#include "platform/oleauto/bundled.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/oleauto.h"
#include "platform/oleauto/pe_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli_detail {

inline std::string StatusCode(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", unsigned(hr));
    return code;
}

// The system's text for a status, without its full stop; the code alone when it has none.
inline std::string StatusWords(HRESULT hr) {
    std::string text = SysErrorMessage(hr);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) text.pop_back();
    return text.empty() ? StatusCode(hr) : text + ", " + StatusCode(hr);
}

}  // namespace cli_detail

// The reason, e.g. "no such file", "permission denied", "empty file", "not a type library",
// "no TYPELIB resource 9 (the file has 1)", "damaged library (MESSAGE, 0xXXXXXXXX)".
// A trailing "\N" (a resource of an image) is looked through.
inline std::string LoadProblem(const std::string& path, HRESULT hr) {
    using namespace cli_detail;
    std::string file = path;
    long resource = 0;
    struct stat st {};
    int rc = ::stat(file.c_str(), &st);
    const std::size_t slash = path.find_last_of('\\');
    if (rc != 0 && slash != std::string::npos && slash + 1 < path.size() && path.size() - slash <= 6 &&
        path.find_first_not_of("0123456789", slash + 1) == std::string::npos) {
        file = path.substr(0, slash);
        resource = std::strtol(path.c_str() + slash + 1, nullptr, 10);
        rc = ::stat(file.c_str(), &st);
    }
    if (rc != 0) return errno == ENOENT ? "no such file" : errno == EACCES ? "permission denied" : std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == EACCES ? "permission denied" : std::strerror(errno);
    std::string reason;
    tlb::FileImage image(fd, std::uint64_t(st.st_size));
    char magic[4] = {};
    const bool haveMagic = image.Read(0, magic, 4);
    std::vector<std::uint32_t> ids;
    if (st.st_size == 0) {
        reason = "empty file";
    } else if (tlb::LooksLikePe(image)) {
        if (!tlb::ListTypeLibResources(image, &ids)) {
            reason = "damaged image (its resources cannot be read)";
        } else if (ids.empty()) {
            reason = "no TYPELIB resource";
        } else if (resource > 0 && std::find(ids.begin(), ids.end(), std::uint32_t(resource)) == ids.end()) {
            reason = "no TYPELIB resource " + std::to_string(resource) + " (the file has " + std::to_string(ids.size()) + ")";
        }
    } else if (resource > 0) {
        reason = "no TYPELIB resource " + std::to_string(resource) + " (not an image)";
    } else if (!haveMagic || (std::memcmp(magic, "MSFT", 4) != 0 && std::memcmp(magic, "SLTG", 4) != 0)) {
        reason = "not a type library";
    }
    ::close(fd);
    if (reason.empty()) reason = "damaged library (" + StatusWords(hr) + ")";
    return reason;
}

// A control character of a path shown as \xHH, so the message stays one line.
inline std::string PathForMessage(const std::string& path) {
    std::string out;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else {
            out += char(c);
        }
    }
    return out;
}

// The line every command prints on standard error when FILE does not load.
inline void PrintLoadFailure(const std::string& path, HRESULT hr) {
    std::fprintf(stderr, "cannot load %s: %s\n", PathForMessage(path).c_str(), LoadProblem(path, hr).c_str());
}

// Says once, on standard error, which of the library's imports were not found (their types
// show as "?").
inline void ReportMissingImports(const std::string& path, ITypeLib* lib) {
    for (const MissingImport& m : MissingImports(lib))
        std::fprintf(stderr, "quibrel-tlb: %s\n", PathForMessage(MissingImportText(path, m)).c_str());
}
