// Header speed: the header of a large library (mshtml.tlb: 1,451 types, 54,548 functions),
// with and without loading the library, as the command does once per run.
#include "writers/header.h"
#include "platform/oleauto/comptr.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>

namespace {

bool HaveMshtml(benchmark::State& state) {
    if (std::ifstream(QUIBREL_MSHTML_TLB)) return true;
    state.SkipWithError("mshtml.tlb is not beside the project");
    return false;
}

void BM_WriteMshtmlHeader(benchmark::State& state) {
    if (!HaveMshtml(state)) return;
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLib(Utf8ToUtf16(QUIBREL_MSHTML_TLB).c_str(), lib.Put()))) std::abort();
    std::size_t bytes = 0;
    for (auto _ : state) {
        THeaderWriter writer(lib.Get());
        writer.WriteLibrary();
        bytes = writer.Text().size();
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_WriteMshtmlHeader)->Unit(benchmark::kMillisecond);

void BM_LoadAndWriteMshtmlHeader(benchmark::State& state) {
    if (!HaveMshtml(state)) return;
    for (auto _ : state) {
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadTypeLib(Utf8ToUtf16(QUIBREL_MSHTML_TLB).c_str(), lib.Put()))) std::abort();
        THeaderWriter writer(lib.Get());
        writer.WriteLibrary();
        benchmark::DoNotOptimize(writer.Text().data());
    }
}
BENCHMARK(BM_LoadAndWriteMshtmlHeader)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
