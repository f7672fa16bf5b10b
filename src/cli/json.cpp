// quibrel-tlb json: the whole library as one JSON document, for scripts and other tools.
#include "writers/libjson.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage = "FILE [--pretty]";

int Json(const std::vector<std::string>& args) {
    CliArgs parsed;
    const bool ok = ParseCliArgs("json", kUsage, args, &parsed);
    const bool pretty = parsed.Has("--pretty");
    if (!ok || parsed.operands.size() != 1) {
        std::fprintf(stderr, "usage: quibrel-tlb json FILE [--pretty]\n");
        return 2;
    }
    const std::string& file = parsed.operands[0];
    ComPtr<ITypeLib> lib;
    std::u16string path = HostPathToUtf16(file);
    HRESULT hr = LoadTypeLib(path.c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        if (SUCCEEDED(hr)) hr = E_POINTER;
        char status[16];
        std::snprintf(status, sizeof status, "0x%08X", unsigned(hr));
        QByteArray text = QJsonDocument(QJsonObject{{"error", QString::fromLatin1(status)}}).toJson(QJsonDocument::Compact);
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
        std::fputc('\n', stdout);
        PrintLoadFailure(file, hr);
        return 1;
    }
    ReportMissingImports(file, lib.Get());
    if (WriteLibraryJson(lib.Get(), pretty, stdout)) return 0;
    CliWriteFailed(errno);
    // A failed write of standard output is said by the final check.
    if (!std::ferror(stdout)) std::fprintf(stderr, "cannot write the document\n");
    return 1;
}

CliRegistrar reg({"json", kUsage, Json, "every fact of the library as one JSON document"});

}  // namespace
