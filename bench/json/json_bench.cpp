// The JSON document of a library, as `quibrel-tlb json` writes it: loading the library,
// building the document and writing the text. mshtml.tlb when the real-world set is present
// (target: under 150 ms), and the generated large library.
#include "app/libjson.h"
#include "platform/oleauto/comptr.h"

#include <benchmark/benchmark.h>

#include <QJsonDocument>

#include <filesystem>
#include <string>

namespace {

ComPtr<ITypeLib> Load(const std::u16string& path) {
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLib(path.c_str(), &lib))) return nullptr;
    return ComPtr<ITypeLib>::Attach(lib);
}

// Load, document and text, as the command does them.
void BM_JsonText(benchmark::State& state, std::u16string path) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        ComPtr<ITypeLib> lib = Load(path);
        if (!lib) {
            state.SkipWithError("LoadTypeLib failed");
            return;
        }
        QByteArray text = LibraryJsonText(lib.Get(), false);
        bytes = std::size_t(text.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = double(bytes);
}

// The document alone, on a library loaded once.
void BM_JsonDocument(benchmark::State& state, std::u16string path) {
    ComPtr<ITypeLib> lib = Load(path);
    if (!lib) {
        state.SkipWithError("LoadTypeLib failed");
        return;
    }
    for (auto _ : state) {
        QJsonObject doc = LibraryJson(lib.Get());
        benchmark::DoNotOptimize(doc);
    }
}

void Register(const char* name, const std::string& file) {
    std::u16string path = Utf8ToUtf16(file);
    benchmark::RegisterBenchmark((std::string("JsonText/") + name).c_str(), BM_JsonText, path)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("JsonDocument/") + name).c_str(), BM_JsonDocument, path)
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
