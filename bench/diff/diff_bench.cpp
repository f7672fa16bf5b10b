// Diff speed: mshtml.tlb (1,451 types, 54,548 functions) against a changed copy of itself,
// loading both and comparing, and the comparison of two loaded libraries alone.
#include "mutant.h"
#include "writers/diff.h"
#include "platform/oleauto/comptr.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// The changed copy, written once beside the system's temporary files.
const std::string& MutantPath() {
    static const std::string path = [] {
        std::ifstream in(QUIBREL_MSHTML_TLB, std::ios::binary);
        mutant::Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!mutant::Mutate(b)) std::abort();
        const char* tmp = std::getenv("TMPDIR");
        std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/quibrel-diff-bench-mshtml.tlb";
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return p;
    }();
    return path;
}

ComPtr<ITypeLib> Load(const std::string& path) {
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(Utf8ToUtf16(path).c_str(), lib.Put())) || !lib) std::abort();
    return lib;
}

bool HaveMshtml(benchmark::State& state) {
    if (std::ifstream(QUIBREL_MSHTML_TLB)) return true;
    state.SkipWithError("mshtml.tlb is not beside the project");
    return false;
}

void BM_LoadAndDiffMshtml(benchmark::State& state) {
    if (!HaveMshtml(state)) return;
    std::size_t changes = 0;
    for (auto _ : state) {
        ComPtr<ITypeLib> a = Load(QUIBREL_MSHTML_TLB), b = Load(MutantPath());
        changes = DiffTypeLibs(a.Get(), b.Get()).Changes.size();
    }
    state.counters["changes"] = double(changes);
}
BENCHMARK(BM_LoadAndDiffMshtml)->Unit(benchmark::kMillisecond);

void BM_DiffLoadedMshtml(benchmark::State& state) {
    if (!HaveMshtml(state)) return;
    ComPtr<ITypeLib> a = Load(QUIBREL_MSHTML_TLB), b = Load(MutantPath());
    for (auto _ : state) benchmark::DoNotOptimize(DiffTypeLibs(a.Get(), b.Get()).Changes.size());
}
BENCHMARK(BM_DiffLoadedMshtml)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
