// The shape shared by the commands that write a library, or some of its types, as text:
// `COMMAND FILE [TYPE...] [--output PATH]` (idl, header).
#pragma once

#include "writers/events.h"
#include "cli/command.h"
#include "cli/fileproblem.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <string>
#include <vector>

inline constexpr const char* kTypeWriterUsage = "FILE [TYPE...] [--output PATH]";

// Writer: constructed from the library, with WriteLibrary(), FindType(name) (< 0: none),
// WriteTypes(indexes) and Text().
template <class Writer>
int RunTypeWriter(const char* command, const std::vector<std::string>& args) {
    auto usage = [command] {
        std::fprintf(stderr, "usage: quibrel-tlb %s %s\n", command, kTypeWriterUsage);
        return 2;
    };
    CliArgs parsed;
    if (!ParseCliArgs(command, kTypeWriterUsage, args, &parsed)) return usage();
    const std::vector<std::string>& positional = parsed.operands;
    const std::string* output = parsed.Value("--output");
    if (positional.empty()) return usage();

    ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(HostPathToUtf16(positional[0]).c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        PrintLoadFailure(positional[0], FAILED(hr) ? hr : E_FAIL);
        return 1;
    }
    ReportMissingImports(positional[0], lib.Get());
    Writer writer(lib.Get());
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
    // A failed write of standard output is said by the final check.
    return CliWrite(text.data(), text.size()) ? 0 : 1;
}
