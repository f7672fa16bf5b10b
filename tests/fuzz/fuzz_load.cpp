// libFuzzer target: loads a library from arbitrary bytes and walks everything it offers.
// Imports are looked for in a scratch folder that holds the files named by
// QUIBREL_FUZZ_BESIDE (a folder; run.sh fills it), so import resolution is exercised too.
#include "../hostile/libwalk.h"
#include "platform/oleauto/typelib_load.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

static std::string g_path;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::path dir = libwalk::ScratchRoot() / ("quibrel-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    if (const char* beside = std::getenv("QUIBREL_FUZZ_BESIDE")) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(beside, ec))
            fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing, ec);
    }
    g_path = (dir / "Input.tlb").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first library, and (for images) the second, which takes a different path.
    for (int resource : {0, 2}) {
        ITypeLib* raw = nullptr;
        HRESULT hr = tlb::LoadTypeLibFromBytes(std::vector<std::uint8_t>(data, data + size), g_path, resource, &raw);
        ComPtr<ITypeLib> lib = ComPtr<ITypeLib>::Attach(raw);
        if (SUCCEEDED(hr) != static_cast<bool>(lib)) std::abort();  // a status and a library must agree
        if (lib) libwalk::WalkLibrary(lib.Get());
        if (size < 2 || data[0] != 'M' || data[1] != 'Z') break;
    }
    return 0;
}
