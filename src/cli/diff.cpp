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

constexpr const char* kUsage = "OLD NEW [--json] [--all]";

int Usage() {
    std::fprintf(stderr, "usage: quibrel-tlb diff %s\n", kUsage);
    return 2;
}

int RunDiff(const std::vector<std::string>& args) {
    CliArgs parsed;
    if (!ParseCliArgs("diff", kUsage, args, &parsed)) return Usage();
    const std::vector<std::string>& files = parsed.operands;
    const bool json = parsed.Has("--json"), all = parsed.Has("--all");
    if (files.size() != 2) return Usage();

    ComPtr<ITypeLib> libs[2];
    TDiffResult result;
    for (int k = 0; k < 2; ++k) {
        const HRESULT hr = LoadTypeLib(HostPathToUtf16(files[size_t(k)]).c_str(), libs[k].Put());
        if (SUCCEEDED(hr) && libs[k]) continue;
        const HRESULT status = FAILED(hr) ? hr : E_POINTER;
        result.Problems.push_back({k == 1, "library", status});
        PrintLoadFailure(files[size_t(k)], status);
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
    if (!CliWrite(text.data(), text.size())) return 1;  // said by the final check of standard output
    return DiffExitStatus(result, all);
}

const CliRegistrar registrar({"diff", kUsage, RunDiff,
                              "what changed between two libraries, by rule; exit 0 same, 4 compatible, 12 breaking, 1 unreadable"});

}  // namespace
