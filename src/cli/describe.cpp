// quibrel-tlb describe FILE: runs quibrel-tlb-describe, which drives the real main window; the
// companion itself never loads Qt Gui or Widgets.
#include "cli/command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The folder of the running program, from /proc/self/exe.
std::string ProgramFolder() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    std::string path(buf.data(), std::size_t(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Beside the companion in a build tree, else where the package installs it.
std::string DescribeProgram() {
    const std::string folder = ProgramFolder();
    for (const char* relative : {"/quibrel-tlb-describe", "/../" QUIBREL_LIBEXEC_SUBDIR "/quibrel-tlb-describe"}) {
        const std::string candidate = folder + relative;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

int Describe(const std::vector<std::string>& all) {
    CliArgs parsed;
    if (!ParseCliArgs("describe", "FILE", all, &parsed) || parsed.operands.size() != 1) {
        std::fprintf(stderr, "usage: quibrel-tlb describe FILE\n");
        return 2;
    }
    // The window program takes the file as its one argument, whatever it looks like.
    const std::vector<std::string>& args = parsed.operands;
    const std::string program = DescribeProgram();
    if (program.empty()) {
        std::fprintf(stderr, "quibrel-tlb: quibrel-tlb-describe is not installed beside quibrel-tlb\n");
        return 1;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(program.c_str(), argv.data());
    std::fprintf(stderr, "quibrel-tlb: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    return 1;
}

const CliRegistrar registrar({"describe", "FILE", Describe, "what the main window shows, class by class and member by member"});

}  // namespace
