// LoadTypeLib: the file is judged by its content (a library, or a PE image holding one), never
// by its name.
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"
#include "platform/oleauto/msft_source.h"
#include "platform/oleauto/pe_image.h"
#include "platform/oleauto/sltg.h"
#include "platform/oleauto/typelib_load.h"
#include "platform/registry/winepath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace tlb {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

bool IsSltg(const std::vector<std::uint8_t>& b) {
    return b.size() >= 4 && b[0] == 'S' && b[1] == 'L' && b[2] == 'T' && b[3] == 'G';
}

}  // namespace

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HRESULT OpenLibrarySource(std::vector<std::uint8_t> bytes, std::unique_ptr<LibrarySource>* out) {
    out->reset();
    // Each format: how its bytes start, and its reader.
    if (IsMsft(bytes)) return OpenMsftSource(bytes, out);
    if (IsSltg(bytes)) return OpenSltgSource(std::move(bytes), out);
    return TYPE_E_CANTLOADLIBRARY;
}

HRESULT LoadTypeLibFromBytes(std::vector<std::uint8_t> bytes, std::string_view path, int resource, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (bytes.size() > kMaxFileSize) return TYPE_E_CANTLOADLIBRARY;
    MemoryImage image(bytes.data(), bytes.size());
    if (LooksLikePe(image)) {
        std::vector<std::uint8_t> lib;
        HRESULT hr = ReadTypeLibResource(image, resource, &lib);
        if (FAILED(hr)) return hr;
        bytes = std::move(lib);
    } else if (resource > 1) {
        return TYPE_E_CANTLOADLIBRARY;  // a stand-alone library holds only one
    }
    std::unique_ptr<LibrarySource> source;
    HRESULT hr = OpenLibrarySource(std::move(bytes), &source);
    if (FAILED(hr)) return hr;
    return CreateTypeLib(std::move(source), std::string(path), pptlib, resource);
}

HRESULT LoadTypeLibFromHostFile(const std::string& hostPath, int resource, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    Fd fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return TYPE_E_CANTLOADLIBRARY;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return TYPE_E_CANTLOADLIBRARY;
    std::uint64_t size = std::uint64_t(st.st_size);
    FileImage file(fd.Get(), size);
    std::vector<std::uint8_t> bytes;
    if (LooksLikePe(file)) {
        HRESULT hr = ReadTypeLibResource(file, resource, &bytes);
        if (FAILED(hr)) return hr;
    } else {
        if (resource > 1) return TYPE_E_CANTLOADLIBRARY;
        if (size > kMaxFileSize) return TYPE_E_CANTLOADLIBRARY;
        try {
            bytes.resize(std::size_t(size));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (!file.Read(0, bytes.data(), bytes.size())) return TYPE_E_CANTLOADLIBRARY;
    }
    std::unique_ptr<LibrarySource> source;
    HRESULT hr = OpenLibrarySource(std::move(bytes), &source);
    if (FAILED(hr)) return hr;
    return CreateTypeLib(std::move(source), hostPath, pptlib, resource);
}

}  // namespace tlb

bool tlb::HostFileOfPath(const std::string& path, std::string* host, int* resource) {
    *resource = 0;
    *host = HostPathFromWinePath(path);
    if (IsRegularFile(*host)) return true;
    // A trailing "\N" picks the image's resource N.
    std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos || slash + 1 >= path.size() || path.size() - slash > 6) return false;
    int number = 0;
    for (std::size_t i = slash + 1; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return false;
        number = number * 10 + (path[i] - '0');
    }
    if (number <= 0) return false;
    *host = HostPathFromWinePath(path.substr(0, slash));
    *resource = number;
    return IsRegularFile(*host);
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile) return E_INVALIDARG;
    std::string path = Utf16ToHostPath(szFile);
    std::string host;
    int resource;
    if (path.empty() || !tlb::HostFileOfPath(path, &host, &resource)) return TYPE_E_CANTLOADLIBRARY;
    return tlb::LoadTypeLibFromHostFile(host, resource, pptlib);
}
