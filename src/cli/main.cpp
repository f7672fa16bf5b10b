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

static int Usage() {
    std::fprintf(stderr, "usage: quibrel-tlb COMMAND ARGS...\n");
    for (const CliCommand& c : CliCommands()) std::fprintf(stderr, "  %s %s\n", c.name, c.usage);
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    for (const CliCommand& c : CliCommands()) {
        if (std::strcmp(c.name, argv[1]) == 0) return c.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    return Usage();
}
