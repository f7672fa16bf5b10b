// The JSON document of a library: as `quibrel-tlb json` writes it (loading the library and
// writing the text), and the text alone of a library already loaded. mshtml.tlb when the real-world set is present
// (target: under 150 ms), and the generated large library.
#include "writers/libjson.h"
#include "platform/oleauto/comptr.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

ComPtr<ITypeLib> Load(const std::u16string& path) {
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLib(path.c_str(), &lib))) return nullptr;
    return ComPtr<ITypeLib>::Attach(lib);
}

// What `quibrel-tlb json FILE` does: load the library and write the document (to /dev/null).
void BM_JsonCommand(benchmark::State& state, std::u16string path) {
    std::FILE* sink = std::fopen("/dev/null", "wb");
    if (!sink) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    for (auto _ : state) {
        ComPtr<ITypeLib> lib = Load(path);
        if (!lib) {
            state.SkipWithError("LoadTypeLib failed");
            break;
        }
        if (!WriteLibraryJson(lib.Get(), false, sink)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    std::fclose(sink);
}

// The text alone, of a library loaded once (the reader keeps what it has read).
void BM_JsonTextLoaded(benchmark::State& state, std::u16string path) {
    ComPtr<ITypeLib> lib = Load(path);
    if (!lib) {
        state.SkipWithError("LoadTypeLib failed");
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        QByteArray text = LibraryJsonText(lib.Get(), false);
        bytes = std::size_t(text.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = double(bytes);
}

void Register(const char* name, const std::string& file) {
    std::u16string path = Utf8ToUtf16(file);
    benchmark::RegisterBenchmark((std::string("JsonCommand/") + name).c_str(), BM_JsonCommand, path)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("JsonTextLoaded/") + name).c_str(), BM_JsonTextLoaded, path)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path mshtml = std::filesystem::path(QUIBREL_TYPELIBS_DIR) / "files" / "mshtml.tlb";
    if (std::filesystem::exists(mshtml)) Register("mshtml", mshtml.string());
    else std::fprintf(stderr, "no %s: its benchmarks are skipped\n", mshtml.string().c_str());
    Register("QuibrelBig", QUIBREL_BIG_TLB);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
