// quibrel-tlb json: the whole library as one JSON document, for scripts and other tools.
#include "writers/libjson.h"
#include "cli/command.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Json(const std::vector<std::string>& args) {
    std::string file;
    bool pretty = false;
    bool usage = false;
    for (const std::string& a : args) {
        if (a == "--pretty") pretty = true;
        else if (file.empty() && a.rfind("--", 0) != 0) file = a;
        else usage = true;
    }
    if (usage || file.empty()) {
        std::fprintf(stderr, "usage: quibrel-tlb json FILE [--pretty]\n");
        return 2;
    }
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
        std::fprintf(stderr, "cannot load %s: %s\n", file.c_str(), SysErrorMessage(hr).c_str());
        return 1;
    }
    errno = 0;
    if (WriteLibraryJson(lib.Get(), pretty, stdout)) return 0;
    std::fprintf(stderr, "cannot write the document: standard output: %s\n", std::strerror(errno ? errno : EIO));
    return 1;
}

CliRegistrar reg({"json", "FILE [--pretty]", Json, "every fact of the library as one JSON document"});

}  // namespace
