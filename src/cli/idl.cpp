// quibrel-tlb idl: the library, or some of its types, as IDL.
#include "writers/events.h"
#include "writers/idl.h"
#include "cli/command.h"
#include "platform/oleauto/comptr.h"
#include "platform/oleauto/hostpath.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: quibrel-tlb idl FILE [TYPE...] [--output PATH]\n");
    return 2;
}

std::string FailureText(HRESULT hr) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "error 0x%08X", static_cast<unsigned>(hr));
    return buf;
}

int RunIdl(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::optional<std::string> output;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--output") {
            if (i + 1 >= args.size() || output) return Usage();
            output = args[++i];
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) return Usage();

    ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLib(HostPathToUtf16(positional[0]).c_str(), lib.Put());
    if (FAILED(hr) || !lib) {
        std::fprintf(stderr, "%s\n", FailureText(FAILED(hr) ? hr : E_FAIL).c_str());
        return 1;
    }
    TIdlWriter writer(lib.Get());
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
            WriteClassFile(QString::fromStdU16String(HostPathToUtf16(*output)), QByteArray(text.data(), qsizetype(text.size())));
        } catch (const EClassFileError& e) {
            std::fprintf(stderr, "%s\n", e.Detail().c_str());
            return 1;
        }
        return 0;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "Stream write error: standard output: %s\n", std::strerror(errno ? errno : EIO));
        return 1;
    }
    return 0;
}

const CliRegistrar registrar({"idl", "FILE [TYPE...] [--output PATH]", RunIdl,
                              "the library, or the named types, as IDL that widl compiles back"});

}  // namespace
