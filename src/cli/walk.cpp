// quibrel-tlb walk: loads a library and touches everything the browser reads, timing both.
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Counts {
    unsigned long types = 0, funcs = 0, vars = 0, names = 0;
};

void WalkLibrary(ITypeLib* lib, Counts* c) {
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.Put())) || !ti) continue;
        TypeAttrPtr attr;
        if (FAILED(ti->GetTypeAttr(attr.Put(ti.Get()))) || !attr) continue;
        ++c->types;
        BStr name;
        if (SUCCEEDED(ti->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr))) ++c->names;
        for (UINT j = 0; j < attr->cFuncs; ++j) {
            FuncDescPtr fd;
            if (FAILED(ti->GetFuncDesc(j, fd.Put(ti.Get()))) || !fd) continue;
            ++c->funcs;
            BSTR names[64];
            UINT got = 0;
            if (SUCCEEDED(ti->GetNames(fd->memid, names, 64, &got))) {
                for (UINT k = 0; k < got && k < 64; ++k) SysFreeString(names[k]);
                c->names += got;
            }
        }
        for (UINT j = 0; j < attr->cVars; ++j) {
            VarDescPtr vd;
            if (FAILED(ti->GetVarDesc(j, vd.Put(ti.Get()))) || !vd) continue;
            ++c->vars;
            BStr vname;
            if (SUCCEEDED(ti->GetDocumentation(vd->memid, vname.Put(), nullptr, nullptr, nullptr))) ++c->names;
        }
    }
}

int Walk(const std::vector<std::string>& args) {
    std::string file;
    long repeat = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--repeat" && i + 1 < args.size()) {
            char* end = nullptr;
            repeat = std::strtol(args[++i].c_str(), &end, 10);
            if (!end || *end || repeat < 1) {
                std::fprintf(stderr, "walk: --repeat needs a positive number\n");
                return 2;
            }
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            std::fprintf(stderr, "usage: quibrel-tlb walk FILE [--repeat N]\n");
            return 2;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: quibrel-tlb walk FILE [--repeat N]\n");
        return 2;
    }
    const std::u16string path = HostPathToUtf16(file);
    using Clock = std::chrono::steady_clock;
    for (long r = 0; r < repeat; ++r) {
        Counts c;
        auto t0 = Clock::now();
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLib(path.c_str(), lib.Put());
        auto t1 = Clock::now();
        if (FAILED(hr) || !lib) {
            PrintLoadFailure(file, hr);
            return 1;
        }
        WalkLibrary(lib.Get(), &c);
        lib.Reset();
        auto t2 = Clock::now();
        double load = std::chrono::duration<double, std::milli>(t1 - t0).count();
        double walk = std::chrono::duration<double, std::milli>(t2 - t1).count();
        std::printf("types=%lu funcs=%lu vars=%lu names=%lu load=%.3fms walk=%.3fms\n", c.types, c.funcs, c.vars, c.names,
                    load, walk);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

CliRegistrar reg({"walk", "FILE [--repeat N]", Walk, "loads the library and reads everything, timing it"});

}  // namespace
