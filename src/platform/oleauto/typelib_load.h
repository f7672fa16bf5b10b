// Loading type libraries: from a file (what LoadTypeLib does after mapping the path) or from
// bytes already in memory (tests, the fuzz target).
#pragma once

#include "platform/oleauto/oleauto.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tlb {

class LibrarySource;

// Largest library or image read; anything bigger is not a type library we can hold.
constexpr std::size_t kMaxFileSize = std::size_t(1) << 30;

// Loads the library held by `bytes`: a stand-alone library, or a PE32/PE32+ image whose
// TYPELIB resource `resource` is used (0: the first one). `path` is the file the bytes came
// from; imported libraries are looked for beside it (may be empty).
HRESULT LoadTypeLibFromBytes(std::vector<std::uint8_t> bytes, std::string_view path, int resource,
                             ITypeLib** pptlib);

// Loads from a host path (no "\N" handling): TYPE_E_CANTLOADLIBRARY when it cannot be read.
HRESULT LoadTypeLibFromHostFile(const std::string& hostPath, int resource, ITypeLib** pptlib);

// A format's reader over the library bytes, or a failure status: TYPE_E_CANTLOADLIBRARY when no
// format recognises the bytes, a data status when a recognised library is damaged.
// The source takes the bytes over.
HRESULT OpenLibrarySource(std::vector<std::uint8_t> bytes, std::unique_ptr<LibrarySource>* out);

// The generic ITypeLib over a source; `hostPath` is where imports are looked for beside, and with
// `resource` names the library itself.
HRESULT CreateTypeLib(std::unique_ptr<LibrarySource> source, std::string hostPath, ITypeLib** pptlib,
                      int resource = 0);

// Where LoadTypeLib reads `path` (UTF-8; a registered Windows path is mapped to the host): the
// host file and the resource its trailing "\N" picks (0: none). False when there is no such file.
bool HostFileOfPath(const std::string& path, std::string* host, int* resource);

// Makes a library that was loaded by the file name an importer recorded known to
// QueryPathOfRegTypeLib for the rest of the process, as the platform's loading registers it.
// Kept in memory only; the registry's own entries are found first.
void RememberLoadedLibrary(const GUID& guid, WORD major, WORD minor, LCID lcid, const std::string& path);

}  // namespace tlb
