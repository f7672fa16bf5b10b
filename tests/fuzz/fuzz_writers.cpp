// libFuzzer target for the writers and the index cache. An input that starts with the cache's
// magic is read as a cache file (with its length and checksum made right first, so that the
// records behind them are reached); any other input is loaded as a library and written as IDL
// (whole, and each type on its own) and as JSON, and its index entry is built and read back
// from its cache form. Imports are looked for beside the input as in fuzz_load.
#include "../hostile/libwalk.h"
#include "index/libindex.h"
#include "platform/oleauto/typelib_load.h"
#include "writers/idl.h"
#include "writers/libjson.h"

#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

static std::string g_path;
static constexpr char kCacheMagic[8] = {'Q', 'U', 'I', 'B', 'I', 'D', 'X', '\x1a'};
static constexpr std::size_t kCacheHeader = 32;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::path dir = libwalk::ScratchRoot() / ("quibrel-fuzz-writers-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    if (const char* beside = std::getenv("QUIBREL_FUZZ_BESIDE")) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(beside, ec))
            fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing, ec);
    }
    g_path = (dir / "Input.tlb").string();
    // Seeds for the cache side: the cache form of every library among the seeds, written beside them.
    if (const char* seeds = std::getenv("QUIBREL_FUZZ_CACHE_SEEDS"); seeds && *seeds) {
        std::error_code ec;
        std::vector<TIndexFilePtr> all;
        for (const auto& e : fs::directory_iterator(seeds, ec)) {
            if (e.path().filename().string().rfind("cache-", 0) == 0) continue;
            all.push_back(std::make_shared<const TIndexFile>(ReadIndexFile(QString::fromStdString(e.path().string()), true)));
            const QByteArray one = SerializeIndexFiles({all.back()});
            libwalk::WriteFile(fs::path(seeds) / ("cache-" + e.path().filename().string()),
                               reinterpret_cast<const std::uint8_t*>(one.constData()), std::size_t(one.size()));
        }
        const QByteArray joined = SerializeIndexFiles(all);
        libwalk::WriteFile(fs::path(seeds) / "cache-all", reinterpret_cast<const std::uint8_t*>(joined.constData()),
                           std::size_t(joined.size()));
    }
    return 0;
}

// The JSON must parse as JSON and be valid UTF-8 throughout.
static void CheckJson(const QByteArray& text) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.constData(), std::size_t(text.size()));
    if (doc.HasParseError() || !doc.IsObject()) std::abort();
}

// IDL carries no control character but line feeds: library text may not reach a terminal raw.
// QUIBREL_FUZZ_NO_IDL_TEXT_CHECK turns this off, to fuzz past a known fault of that kind.
static void CheckIdl(const std::string& text) {
    static const bool skip = std::getenv("QUIBREL_FUZZ_NO_IDL_TEXT_CHECK") != nullptr;
    if (skip) return;
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F) std::abort();
}

static void FuzzCache(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    std::vector<TIndexFilePtr> files;
    DeserializeIndexFiles(bytes, &files);  // as given: almost always refused by its checksum
    if (size < kCacheHeader) return;
    const quint64 length = quint64(size - kCacheHeader);
    const quint64 sum = IndexCacheChecksum(bytes.constData() + kCacheHeader, qsizetype(length));
    std::memcpy(bytes.data() + 16, &length, 8);
    std::memcpy(bytes.data() + 24, &sum, 8);
    if (!DeserializeIndexFiles(bytes, &files)) return;
    // What was accepted writes back to the same records.
    std::vector<TIndexFilePtr> again;
    if (!DeserializeIndexFiles(SerializeIndexFiles(files), &again) || again.size() != files.size()) std::abort();
}

static void FuzzLibrary(const std::uint8_t* data, std::size_t size) {
    ITypeLib* raw = nullptr;
    const HRESULT hr =
        tlb::LoadTypeLibFromBytes(std::vector<std::uint8_t>(data, data + size), g_path, 0, &raw);
    ComPtr<ITypeLib> lib = ComPtr<ITypeLib>::Attach(raw);
    if (FAILED(hr) || !lib) return;
    {
        TIdlWriter writer(lib.Get());
        writer.WriteLibrary();
        CheckIdl(writer.Text());
    }
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count && i < 16; ++i) {
        TIdlWriter writer(lib.Get());
        writer.WriteTypes({int(i)});
        CheckIdl(writer.Text());
    }
    CheckJson(LibraryJsonText(lib.Get(), false));
    // The index entry, through the file the loader was given, and back from its cache form.
    libwalk::WriteFile(g_path, data, size);
    auto file = std::make_shared<const TIndexFile>(ReadIndexFile(QString::fromStdString(g_path), true));
    std::vector<TIndexFilePtr> again;
    if (!DeserializeIndexFiles(SerializeIndexFiles({file}), &again) || again.size() != 1) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= sizeof kCacheMagic && std::memcmp(data, kCacheMagic, sizeof kCacheMagic) == 0)
        FuzzCache(data, size);
    else
        FuzzLibrary(data, size);
    return 0;
}
