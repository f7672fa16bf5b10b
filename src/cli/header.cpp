// quibrel-tlb header: the library, or some of its types, as a C/C++ header.
#include "writers/events.h"
#include "writers/header.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace {

constexpr const char* kUsage = "FILE [TYPE...] [--output PATH]";

int Usage() {
    std::fprintf(stderr, "usage: quibrel-tlb header %s\n", kUsage);
    return 2;
}

int RunHeader(const std::vector<std::string>& args) {
    CliArgs parsed;
    if (!ParseCliArgs("header", kUsage, args, &parsed)) return Usage();
    const std::vector<std::string>& positional = parsed.operands;
    const std::string* output = parsed.Value("--output");
    if (positional.empty()) return Usage();

    ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(HostPathToUtf16(positional[0]).c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        PrintLoadFailure(positional[0], FAILED(hr) ? hr : E_FAIL);
        return 1;
    }
    ReportMissingImports(positional[0], lib.Get());
    THeaderWriter writer(lib.Get());
    if (positional.size() == 1) {
        writer.WriteLibrary();
    } else {
        std::vector<int> indexes;
        for (size_t i = 1; i < positional.size(); ++i) {
            const int index = writer.FindType(positional[i]);
            if (index < 0) {
                std::fprintf(stderr, "no type %s in %s\n", positional[i].c_str(), positional[0].c_str());
                return 1;
            }
            indexes.push_back(index);
        }
        writer.WriteTypes(indexes);
    }
    const std::string& text = writer.Text();
    if (output) {
        try {
            WriteClassFile(QString::fromStdU16String(HostPathToUtf16(*output)),
                           QByteArray::fromRawData(text.data(), qsizetype(text.size())));
        } catch (const EClassFileError& e) {
            std::fprintf(stderr, "%s\n", e.Detail().c_str());
            return 1;
        }
        return 0;
    }
    if (!CliWrite(text.data(), text.size())) return 1;  // said by the final check of standard output
    return 0;
}

const CliRegistrar registrar({"header", kUsage, RunHeader,
                              "the library, or the named types, as a C/C++ header with vtable slots"});

}  // namespace
