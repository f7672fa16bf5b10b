// Loading a library, and loading it then walking it as `quibrel-tlb walk` does: every type's
// attributes and name, every function with GetNames(64), every variable with its name.
// Runs on the generated large library and on mshtml.tlb when the real-world set is present.
#include "platform/oleauto/comptr.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

ComPtr<ITypeLib> Load(const std::u16string& path) {
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLib(path.c_str(), &lib))) return nullptr;
    return ComPtr<ITypeLib>::Attach(lib);
}

struct WalkCounts {
    long types = 0, funcs = 0, vars = 0, names = 0;
};

WalkCounts Walk(ITypeLib* lib) {
    WalkCounts c;
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.Put()))) continue;
        ++c.types;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti.Get())))) continue;
        BStr name;
        if (SUCCEEDED(ti->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr))) ++c.names;
        for (UINT f = 0; f < attr->cFuncs; ++f) {
            FuncDescPtr fd;
            if (FAILED(ti->GetFuncDesc(f, fd.Put(ti.Get())))) continue;
            ++c.funcs;
            BSTR names[64];
            UINT got = 0;
            if (SUCCEEDED(ti->GetNames(fd->memid, names, 64, &got))) {
                c.names += got;
                for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
            }
        }
        for (UINT v = 0; v < attr->cVars; ++v) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(v, vd.Put(ti.Get())))) continue;
            ++c.vars;
            BStr vname;
            if (SUCCEEDED(ti->GetDocumentation(vd->memid, vname.Put(), nullptr, nullptr, nullptr))) ++c.names;
        }
    }
    return c;
}

void BM_Load(benchmark::State& state, std::u16string path) {
    for (auto _ : state) {
        ComPtr<ITypeLib> lib = Load(path);
        if (!lib) {
            state.SkipWithError("LoadTypeLib failed");
            return;
        }
        benchmark::DoNotOptimize(lib.Get());
    }
}

void BM_LoadAndWalk(benchmark::State& state, std::u16string path) {
    WalkCounts last;
    for (auto _ : state) {
        ComPtr<ITypeLib> lib = Load(path);
        if (!lib) {
            state.SkipWithError("LoadTypeLib failed");
            return;
        }
        last = Walk(lib.Get());
    }
    state.counters["types"] = last.types;
    state.counters["funcs"] = last.funcs;
    state.counters["vars"] = last.vars;
    state.counters["names"] = last.names;
}

void Register(const std::string& label, const std::filesystem::path& file) {
    if (!std::filesystem::exists(file)) return;
    std::u16string path = Utf8ToUtf16(file.string());
    benchmark::RegisterBenchmark(("Load/" + label).c_str(), BM_Load, path)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("LoadAndWalk/" + label).c_str(), BM_LoadAndWalk, path)->Unit(benchmark::kMillisecond);
}

}  // namespace

// library_bench [benchmark flags] [FILE...]: the given files are measured too.
// Resident memory is best read from `/usr/bin/time -v quibrel-tlb walk FILE`.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Register("QuibrelBig", QUIBREL_BIG_TLB);
    Register("mshtml", std::filesystem::path(QUIBREL_TYPELIBS_DIR) / "files" / "mshtml.tlb");
    for (int i = 1; i < argc; ++i) Register(std::filesystem::path(argv[i]).filename().string(), argv[i]);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
