// quibrel-tlb: the browser's machinery for scripts and tests.
#include "cli/command.h"

#include <cstdio>
#include <cstring>

static std::vector<CliCommand>& Registry() {
    static std::vector<CliCommand> commands;
    return commands;
}

CliRegistrar::CliRegistrar(const CliCommand& command) { Registry().push_back(command); }

const std::vector<CliCommand>& CliCommands() { return Registry(); }

// The command lines; with summaries, the --help text.
static void PrintUsage(std::FILE* out, bool summaries) {
    std::fprintf(out, "usage: quibrel-tlb COMMAND ARGS...\n");
    for (const CliCommand& c : CliCommands()) {
        std::fprintf(out, "  %s%s%s\n", c.name, *c.usage ? " " : "", c.usage);
        if (summaries && c.summary) std::fprintf(out, "      %s\n", c.summary);
    }
    if (!summaries) return;
    std::fprintf(out,
                 "  --help | --version\n"
                 "\n"
                 "FILE is a .tlb, or a .dll/.ocx/.exe/.olb carrying a TYPELIB resource ('file.dll\\2' picks\n"
                 "the second). The output formats are described in quibrel-tlb(1). Usage errors exit 2.\n");
}

static int Usage() {
    PrintUsage(stderr, false);
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        PrintUsage(stdout, true);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("quibrel-tlb %s\n", QUIBREL_VERSION);
        return 0;
    }
    for (const CliCommand& c : CliCommands()) {
        if (std::strcmp(c.name, first) != 0) continue;
        // "COMMAND --help" alone shows that command's line.
        if (argc == 3 && std::strcmp(argv[2], "--help") == 0) {
            std::printf("usage: quibrel-tlb %s%s%s\n", c.name, *c.usage ? " " : "", c.usage);
            if (c.summary) std::printf("  %s\n", c.summary);
            return 0;
        }
        return c.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (first[0] == '-') std::fprintf(stderr, "quibrel-tlb: unknown option '%s'\n", first);
    else std::fprintf(stderr, "quibrel-tlb: unknown command '%s'\n", first);
    return Usage();
}
