// Subcommands of quibrel-tlb register themselves here, one source file each.
#pragma once

#include <string>
#include <vector>

struct CliCommand {
    const char* name;
    const char* usage;  // arguments, for the usage text
    // Returns the exit status; 2 for a usage error.
    int (*run)(const std::vector<std::string>& args);
    const char* summary = nullptr;  // one line for --help
};

struct CliRegistrar {
    explicit CliRegistrar(const CliCommand& command);
};

const std::vector<CliCommand>& CliCommands();
