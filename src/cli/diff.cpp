// quibrel-tlb diff: what changed from one version of a library to another, and whether it
// breaks callers or implementers.
#include "writers/diff.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"
#include "text/escape.h"
#include "text/typetext.h"

#include <cstdio>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: quibrel-tlb diff OLD NEW [--json] [--all]\n");
    return 2;
}

int RunDiff(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool json = false, all = false;
    for (const std::string& a : args) {
        if (a == "--json" && !json) json = true;
        else if (a == "--all" && !all) all = true;
        else if (a.size() > 1 && a[0] == '-') return Usage();
        else files.push_back(a);
    }
    if (files.size() != 2) return Usage();

    ComPtr<ITypeLib> libs[2];
    TDiffResult result;
    for (int k = 0; k < 2; ++k) {
        const HRESULT hr = LoadTypeLib(HostPathToUtf16(files[size_t(k)]).c_str(), libs[k].Put());
        if (SUCCEEDED(hr) && libs[k]) continue;
        const HRESULT status = FAILED(hr) ? hr : E_POINTER;
        result.Problems.push_back({k == 1, "library", status});
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", unsigned(status));
        std::fprintf(stderr, "cannot load %s: %s (%s)%s\n", OneLineText(files[size_t(k)]).c_str(),
                     LoadErrorText(status).toStdString().c_str(), code, OneLineText(FileProblem(files[size_t(k)])).c_str());
    }
    if (libs[0] && libs[1]) result = DiffTypeLibs(libs[0].Get(), libs[1].Get());

    std::string text;
    if (json) {
        text = DiffJson(result, files[0], files[1], all);
    } else {
        for (const TDiffChange& c : result.Changes)
            if (DiffShown(c, all)) text += DiffLine(result, c) + "\n";
        if (libs[0] && libs[1])
            for (const TDiffProblem& p : result.Problems)
                std::fprintf(stderr, "cannot compare %s\n", OneLineText(DiffProblemText(p)).c_str());
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Stream write error\n");
        return 1;
    }
    return DiffExitStatus(result, all);
}

const CliRegistrar registrar({"diff", "OLD NEW [--json] [--all]", RunDiff,
                              "what changed between two libraries, by rule; exit 0 same, 4 compatible, 12 breaking, 1 unreadable"});

}  // namespace
